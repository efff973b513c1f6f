#include "devicemodel.h"

#include <algorithm>
#include <utility>

namespace parvault::devsim {

using namespace wire;

namespace {

std::optional<int> digits(const Bytes& field) {
    if (field.empty() || field.size() > 5)
        return std::nullopt;
    int v = 0;
    for (uint8_t c : field) {
        if (c < '0' || c > '9')
            return std::nullopt;
        v = v * 10 + (c - '0');
    }
    return v;
}

void appendAddress(Bytes& f, int first, int last) {
    const auto a = static_cast<uint8_t>(first & 0xFF);
    f.push_back(a);
    if (a == kDle)
        f.push_back(kDle);
    f.push_back(static_cast<uint8_t>((last | 0x80) & 0xFF));
}

} // namespace

struct DeviceModel::Request {
    enum Kind { Read, Write, Block, Other };
    struct Address {
        int device = 0;
        int program = 0;
    };
    std::optional<Address> address; // the request's address block, when it had one
    Kind what = Other;
    bool indexed = false;
    int sequence = 0;
    Bytes head;                     // the data before the first FF, echoed in the answer
    bool hasValue = false;
    Bytes written;                  // a write's value, in code page 866
    std::optional<ParamKey> key;    // unset: fields the device does not understand
};

DeviceModel::DeviceModel(ParamTable table, DeviceConfig config)
    : table_(std::move(table)), config_(std::move(config)) {}

void DeviceModel::record(LoggedFrame frame) {
    if (sink_)
        sink_(frame);
    log_.push_back(std::move(frame));
}

void DeviceModel::logOutgoing(const std::string& channel, std::span<const uint8_t> bytes) {
    std::lock_guard lock(mutex_);
    record({channel, false, Bytes(bytes.begin(), bytes.end()), {}});
}

void DeviceModel::logIncoming(const std::string& channel, std::span<const uint8_t> bytes, const std::string& note) {
    std::lock_guard lock(mutex_);
    record({channel, true, Bytes(bytes.begin(), bytes.end()), note});
}

std::optional<Reply> DeviceModel::handleFrame(std::span<const uint8_t> frame, const std::string& channel) {
    std::lock_guard lock(mutex_);
    ++framesReceived_;
    std::string note;
    auto reply = answer(frame, note);
    record({channel, true, Bytes(frame.begin(), frame.end()), note});
    return reply;
}

std::optional<Reply> DeviceModel::answer(std::span<const uint8_t> frame, std::string& note) {
    const auto request = parseRequest(frame, note);
    if (!request)
        return std::nullopt;
    const Target target = pickFailure(*request);
    if (target.failure.silent.value_or(false)) {
        note = "silent";
        return std::nullopt;
    }
    if (target.attempt <= target.failure.silentFirst.value_or(0)) {
        note = "silent, attempt " + std::to_string(target.attempt);
        return std::nullopt;
    }
    return buildAnswer(*request, target);
}

// Nothing, with the reason in note, for a request this device does not take up.
std::optional<DeviceModel::Request> DeviceModel::parseRequest(std::span<const uint8_t> f,
                                                              std::string& note) const {
    // DLE SOH [address] DLE US fn d d d DLE STX data DLE ETX crc crc
    if (f.size() < 14 || f[0] != kDle || f[1] != kSoh) {
        note = "not a frame";
        return std::nullopt;
    }
    if (DeviceCrc(f.subspan(2)) != 0) {
        note = "bad CRC";
        return std::nullopt;
    }
    Request r;
    size_t p = 2;
    if (!(f[2] == kDle && f[3] == kUs)) {
        if (f[2] == kDle && f[3] == kDle) {
            r.address = Request::Address{16, f[4] & 0x7F};
            p = 5;
        } else {
            r.address = Request::Address{int(f[2]), f[3] & 0x7F};
            p = 4;
        }
        if (r.address->device != config_.deviceAddress) {
            note = "for device " + std::to_string(r.address->device);
            return std::nullopt;
        }
    }
    const size_t dataEnd = f.size() - 4; // DLE ETX crc crc
    if (p + 8 > dataEnd || f[p] != kDle || f[p + 1] != kUs || f[p + 6] != kDle || f[p + 7] != kStx ||
        f[dataEnd] != kDle || f[dataEnd + 1] != kEtx) {
        note = "malformed";
        return std::nullopt;
    }
    const uint8_t fn = f[p + 2];
    for (size_t k = 0; k < 3; ++k)
        r.sequence = r.sequence * 10 + (f[p + 3 + k] & 0x0F);
    const auto data = f.subspan(p + 8, dataEnd - (p + 8));

    // The fields before the first FF (the head, echoed in the answer), then
    // after FF and one more byte, a written value up to the next FF.
    const auto ff = std::find(data.begin(), data.end(), kFf);
    r.head.assign(data.begin(), ff);
    std::vector<Bytes> fields(1);
    for (uint8_t b : r.head) {
        if (b == kHt)
            fields.emplace_back();
        else
            fields.back().push_back(b);
    }
    r.hasValue = ff != data.end() && (ff + 1) != data.end();
    if (r.hasValue)
        r.written.assign(ff + 2, std::find(ff + 2, data.end(), kFf));

    switch (fn) {
    case 0x1D: r.what = Request::Read; break;
    case 0x0C: r.what = Request::Read; r.indexed = true; break;
    case 0x19: r.what = Request::Block; break;
    case 0x03: r.what = Request::Write; break;
    case 0x14: r.what = Request::Write; r.indexed = true; break;
    default: break;
    }

    if (r.what != Request::Other && fields.size() >= 3 && fields[0].empty()) {
        const auto c = digits(fields[1]);
        const auto prm = digits(fields[2]);
        int index = 0;
        bool indexOk = true;
        if (r.indexed) {
            const auto idx = fields.size() >= 4 ? digits(fields[3]) : std::nullopt;
            indexOk = idx.has_value();
            index = idx.value_or(0);
        }
        if (c && prm && indexOk && (r.what != Request::Block || *prm == kBlockParam))
            r.key = ParamKey{*c, *prm, index};
    }
    return r;
}

DeviceModel::Target DeviceModel::pickFailure(const Request& request) {
    Target t;
    t.failure = config_.runFailure;
    if (request.key) {
        auto it = table_.entries().find(*request.key);
        if (it == table_.entries().end() && config_.answerAny && request.what != Request::Block)
            it = table_.entries().emplace(*request.key, ParamEntry{"0", {}, false, {}}).first;
        if (it != table_.entries().end()) {
            t.entry = &it->second;
            t.failure = t.entry->failure.over(config_.runFailure);
        }
        t.attempt = ++attempts_[*request.key];
    }
    return t;
}

Reply DeviceModel::buildAnswer(const Request& request, const Target& target) {
    const Failure& failure = target.failure;
    ParamEntry* const entry = target.entry;
    // The answer's data: the request's head, FF, HT, then the answer's group.
    Bytes body = request.head;
    body.push_back(kFf);
    body.push_back(kHt);
    uint8_t answerFn = 0x7F;
    const auto errorGroup = [&](const QString& text) {
        answerFn = 0x7F;
        const Bytes t = ToOem(text);
        body.insert(body.end(), t.begin(), t.end());
        body.push_back(kFf);
    };
    if (failure.errorText) {
        errorGroup(*failure.errorText);
    } else if (request.what == Request::Other) {
        errorGroup(QString::fromUtf8(kTextUnknownFunction));
    } else if (!request.key) {
        errorGroup(QString::fromUtf8(kTextBadRequest));
    } else if (!entry) {
        errorGroup(QString::fromUtf8(kTextUnknownParam));
    } else if (request.what == Request::Write) {
        if (entry->readOnly || !request.hasValue) {
            errorGroup(QString::fromUtf8(entry->readOnly ? kTextReadOnly : kTextBadRequest));
        } else {
            entry->value = failure.keeps ? *failure.keeps : FromOem(request.written);
            body.push_back(kFf); // empty error text: the write is confirmed
        }
    } else if (request.what == Request::Block) {
        answerFn = 0x21;
        const Bytes v = ToOem(entry->value);
        body.insert(body.end(), v.begin(), v.end());
        body.push_back(kFf);
    } else {
        answerFn = request.indexed ? 0x14 : 0x03;
        const Bytes v = ToOem(entry->value);
        body.insert(body.end(), v.begin(), v.end());
        if (!entry->units.isEmpty()) {
            const Bytes u = ToOem(entry->units);
            body.push_back(kHt);
            body.insert(body.end(), u.begin(), u.end());
        }
        body.push_back(kFf);
    }

    const int outSeq = (request.sequence + failure.wrongSequence.value_or(0)) % 1000;
    Bytes out = {kDle, kSoh};
    if (failure.otherDevice) // as another device on the line would answer
        appendAddress(out, request.address ? request.address->program : 0,
                      config_.deviceAddress + *failure.otherDevice);
    else if (request.address) // to the program, from this device
        appendAddress(out, request.address->program, request.address->device);
    out.insert(out.end(), {kDle, kUs, answerFn, static_cast<uint8_t>('0' + outSeq / 100),
                           static_cast<uint8_t>('0' + outSeq / 10 % 10), static_cast<uint8_t>('0' + outSeq % 10),
                           kDle, kStx});
    out.insert(out.end(), body.begin(), body.end());
    out.push_back(kDle);
    out.push_back(kEtx);
    uint16_t crc = DeviceCrc(std::span<const uint8_t>(out).subspan(2));
    if (failure.badCrc.value_or(false))
        crc ^= 0x00FF;
    out.push_back(static_cast<uint8_t>(crc >> 8));
    out.push_back(static_cast<uint8_t>(crc & 0xFF));
    return Reply{std::move(out), failure.delayMs.value_or(0), failure.pieces.value_or(1)};
}

namespace {

// A copy that shares no text with the original: the table's texts are
// replaced by the server's thread while a caller on another thread holds its
// copy, and the two must not meet in one shared buffer's reference count.
QString unshared(const QString& text) { return text.isNull() ? QString() : QString(text.constData(), text.size()); }

ParamEntry unshared(const ParamEntry& e) {
    ParamEntry copy = e;
    copy.value = unshared(e.value);
    copy.units = unshared(e.units);
    if (e.failure.errorText)
        copy.failure.errorText = unshared(*e.failure.errorText);
    if (e.failure.keeps)
        copy.failure.keeps = unshared(*e.failure.keeps);
    return copy;
}

} // namespace

std::optional<ParamEntry> DeviceModel::entry(const ParamKey& key) const {
    std::lock_guard lock(mutex_);
    const auto it = table_.entries().find(key);
    if (it == table_.entries().end())
        return std::nullopt;
    return unshared(it->second);
}

void DeviceModel::setEntry(const ParamKey& key, const ParamEntry& entry) {
    std::lock_guard lock(mutex_);
    table_.entries()[key] = unshared(entry);
}

void DeviceModel::setRowFailure(const ParamKey& key, const Failure& failure) {
    std::lock_guard lock(mutex_);
    table_.entries()[key].failure = failure;
}

void DeviceModel::setRunFailure(const Failure& failure) {
    std::lock_guard lock(mutex_);
    config_.runFailure = failure;
}

int DeviceModel::requestCount(const ParamKey& key) const {
    std::lock_guard lock(mutex_);
    const auto it = attempts_.find(key);
    return it == attempts_.end() ? 0 : it->second;
}

std::vector<LoggedFrame> DeviceModel::log() const {
    std::lock_guard lock(mutex_);
    return log_;
}

int DeviceModel::framesReceived() const {
    std::lock_guard lock(mutex_);
    return framesReceived_;
}

void DeviceModel::setLogSink(std::function<void(const LoggedFrame&)> sink) {
    std::lock_guard lock(mutex_);
    sink_ = std::move(sink);
}

std::optional<Reply> answerOnLine(const std::vector<DeviceModel*>& devices, std::span<const uint8_t> frame,
                                  const std::string& channel) {
    std::optional<Reply> first;
    for (DeviceModel* device : devices) {
        auto reply = device->handleFrame(frame, channel);
        if (reply && !first) {
            reply->device = device;
            first = std::move(reply);
        }
    }
    return first;
}

} // namespace parvault::devsim
