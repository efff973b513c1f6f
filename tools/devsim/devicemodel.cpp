#include "devicemodel.h"

#include <QFile>
#include <QStringDecoder>
#include <QStringEncoder>

#include <algorithm>
#include <cstdio>

namespace parvault::devsim {

namespace {

constexpr uint8_t kDle = 0x10, kSoh = 0x01, kStx = 0x02, kEtx = 0x03, kAck = 0x06, kHt = 0x09, kLf = 0x0A,
                  kFf = 0x0C, kCr = 0x0D, kUs = 0x1F;

// Table-driven, unlike the program's bitwise one.
const std::array<uint16_t, 256>& crcTable() {
    static const std::array<uint16_t, 256> table = [] {
        std::array<uint16_t, 256> t{};
        for (int i = 0; i < 256; ++i) {
            uint16_t c = static_cast<uint16_t>(i << 8);
            for (int k = 0; k < 8; ++k)
                c = static_cast<uint16_t>((c & 0x8000) ? (c << 1) ^ 0x1021 : c << 1);
            t[static_cast<size_t>(i)] = c;
        }
        return t;
    }();
    return table;
}

uint8_t evenParity(uint8_t c) {
    c &= 0x7F;
    return (__builtin_popcount(c) & 1) ? static_cast<uint8_t>(c | 0x80) : c;
}

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

QString unescape(const QString& s) {
    QString out;
    for (qsizetype i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 1 < s.size()) {
            const QChar n = s[++i];
            out += n == 't' ? QChar('\t') : n == 'n' ? QChar('\n') : n == 'r' ? QChar('\r') : n;
        } else {
            out += s[i];
        }
    }
    return out;
}

// Splits at '|' not preceded by a backslash.
QStringList splitBars(const QString& line) {
    QStringList parts;
    QString cur;
    for (qsizetype i = 0; i < line.size(); ++i) {
        if (line[i] == '\\' && i + 1 < line.size()) {
            cur += line[i];
            cur += line[++i];
        } else if (line[i] == '|') {
            parts << cur;
            cur.clear();
        } else {
            cur += line[i];
        }
    }
    parts << cur;
    return parts;
}

// Option words, separated by blanks; "..." groups blanks into one word.
QStringList optionWords(const QString& s) {
    QStringList words;
    QString cur;
    bool quoted = false;
    for (QChar c : s) {
        if (c == '"') {
            quoted = !quoted;
        } else if (c.isSpace() && !quoted) {
            if (!cur.isEmpty())
                words << cur;
            cur.clear();
        } else {
            cur += c;
        }
    }
    if (!cur.isEmpty())
        words << cur;
    return words;
}

} // namespace

uint16_t DeviceCrc(std::span<const uint8_t> bytes) {
    uint16_t crc = 0;
    for (uint8_t b : bytes)
        crc = static_cast<uint16_t>((crc << 8) ^ crcTable()[((crc >> 8) ^ b) & 0xFF]);
    return crc;
}

std::string Hex(std::span<const uint8_t> bytes) {
    std::string s;
    char buf[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", bytes[i]);
        s += buf;
    }
    return s;
}

Bytes ToOem(const QString& text) {
    QStringEncoder enc("IBM866");
    const QByteArray b = enc.encode(text);
    return {b.begin(), b.end()};
}

QString FromOem(std::span<const uint8_t> bytes) {
    QStringDecoder dec("IBM866");
    return dec.decode(QByteArrayView(reinterpret_cast<const char*>(bytes.data()),
                                     static_cast<qsizetype>(bytes.size())));
}

Failure Failure::over(const Failure& base) const {
    Failure f = base;
    if (silent) f.silent = silent;
    if (silentFirst) f.silentFirst = silentFirst;
    if (errorText) f.errorText = errorText;
    if (badCrc) f.badCrc = badCrc;
    if (wrongSequence) f.wrongSequence = wrongSequence;
    if (pieces) f.pieces = pieces;
    if (delayMs) f.delayMs = delayMs;
    return f;
}

bool Failure::any() const {
    return silent || silentFirst || errorText || badCrc || wrongSequence || pieces || delayMs;
}

bool Failure::parseOption(const QString& word, QString* why) {
    const qsizetype eq = word.indexOf('=');
    const QString name = eq < 0 ? word : word.left(eq);
    const QString arg = eq < 0 ? QString() : word.mid(eq + 1);
    bool ok = true;
    const auto number = [&](int min) {
        const int v = arg.toInt(&ok);
        ok = ok && v >= min;
        return v;
    };
    if (name == "silent") {
        if (eq < 0)
            silent = true;
        else
            silentFirst = number(0);
    } else if (name == "error") {
        errorText = unescape(arg);
    } else if (name == "badcrc" && eq < 0) {
        badCrc = true;
    } else if (name == "wrongseq") {
        wrongSequence = eq < 0 ? 1 : number(1);
    } else if (name == "pieces") {
        pieces = number(1);
    } else if (name == "delay") {
        delayMs = number(0);
    } else {
        if (why)
            *why = QStringLiteral("unknown option \"%1\"").arg(word);
        return false;
    }
    if (!ok && why)
        *why = QStringLiteral("bad number in \"%1\"").arg(word);
    return ok;
}

bool ParamTable::parse(const QString& text, std::optional<int> type, QString* error) {
    bool inSelected = true;
    const QStringList lines = text.split('\n');
    for (qsizetype n = 0; n < lines.size(); ++n) {
        const QString line = lines[n].trimmed();
        const auto fail = [&](const QString& why) {
            if (error)
                *error = QStringLiteral("line %1: %2").arg(n + 1).arg(why);
            return false;
        };
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        if (line.startsWith('[')) {
            const QStringList words = line.mid(1, line.indexOf(']') - 1).simplified().split(' ');
            bool ok = false;
            const int t = words.size() == 2 && words[0].toLower() == "type" ? words[1].toInt(&ok) : 0;
            if (!ok || !line.endsWith(']'))
                return fail(QStringLiteral("a section reads [type N]"));
            inSelected = !type || *type == t;
            continue;
        }
        const QStringList parts = splitBars(line);
        const QStringList numbers = parts[0].simplified().split(' ', Qt::SkipEmptyParts);
        if (numbers.size() != 3 || parts.size() < 2 || parts.size() > 4)
            return fail(QStringLiteral("expected: channel param index | value | units | options"));
        ParamKey key;
        bool ok1 = false, ok2 = false, ok3 = false;
        key.channel = numbers[0].toInt(&ok1);
        key.param = numbers[1].toInt(&ok2);
        key.index = numbers[2].toInt(&ok3);
        if (!ok1 || !ok2 || !ok3 || key.channel < 0 || key.channel > 999 || key.param < 0 || key.param > 99999 ||
            key.index < 0 || key.index > 999)
            return fail(QStringLiteral("channel 0..999, param 0..99999, index 0..999"));
        ParamEntry e;
        e.value = unescape(parts[1].trimmed());
        if (parts.size() > 2)
            e.units = unescape(parts[2].trimmed());
        if (parts.size() > 3) {
            for (const QString& w : optionWords(parts[3])) {
                QString why;
                if (w == "ro")
                    e.readOnly = true;
                else if (!e.failure.parseOption(w, &why))
                    return fail(why);
            }
        }
        if (inSelected)
            entries_[key] = e;
    }
    return true;
}

bool ParamTable::load(const QString& path, std::optional<int> type, QString* error) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("cannot open %1").arg(path);
        return false;
    }
    return parse(QString::fromUtf8(f.readAll()), type, error);
}

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

std::optional<Reply> DeviceModel::answer(std::span<const uint8_t> f, std::string& note) {
    // DLE SOH [address] DLE US fn d d d DLE STX data DLE ETX crc crc
    if (f.size() < 14 || f[0] != kDle || f[1] != kSoh) {
        note = "not a frame";
        return std::nullopt;
    }
    if (DeviceCrc(f.subspan(2)) != 0) {
        note = "bad CRC";
        return std::nullopt;
    }
    size_t p = 2;
    std::optional<std::pair<int, int>> address; // (device, program)
    if (!(f[2] == kDle && f[3] == kUs)) {
        if (f[2] == kDle && f[3] == kDle) {
            address = std::pair{16, f[4] & 0x7F};
            p = 5;
        } else {
            address = std::pair{int(f[2]), f[3] & 0x7F};
            p = 4;
        }
        if (address->first != config_.deviceAddress) {
            note = "for device " + std::to_string(address->first);
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
    int seq = 0;
    for (int k = 0; k < 3; ++k)
        seq = seq * 10 + (f[p + 3 + static_cast<size_t>(k)] & 0x0F);
    const auto data = f.subspan(p + 8, dataEnd - (p + 8));

    // The fields before the first FF (the head, echoed in the answer), then
    // after FF and one more byte, a written value up to the next FF.
    const auto ff = std::find(data.begin(), data.end(), kFf);
    const Bytes headBytes(data.begin(), ff);
    std::vector<Bytes> fields(1);
    for (uint8_t b : headBytes) {
        if (b == kHt)
            fields.emplace_back();
        else
            fields.back().push_back(b);
    }
    Bytes written;
    const bool hasValue = ff != data.end() && (ff + 1) != data.end();
    if (hasValue) {
        const auto vEnd = std::find(ff + 2, data.end(), kFf);
        written.assign(ff + 2, vEnd);
    }

    enum { Read, Write, Block, Other } what = Other;
    bool indexed = false;
    switch (fn) {
    case 0x1D: what = Read; break;
    case 0x0C: what = Read; indexed = true; break;
    case 0x19: what = Block; break;
    case 0x03: what = Write; break;
    case 0x14: what = Write; indexed = true; break;
    default: break;
    }

    std::optional<ParamKey> key;
    if (what != Other && fields.size() >= 3 && fields[0].empty()) {
        const auto c = digits(fields[1]);
        const auto prm = digits(fields[2]);
        int index = 0;
        bool indexOk = true;
        if (indexed) {
            const auto idx = fields.size() >= 4 ? digits(fields[3]) : std::nullopt;
            indexOk = idx.has_value();
            index = idx.value_or(0);
        }
        if (c && prm && indexOk && (what != Block || *prm == kBlockParam))
            key = ParamKey{*c, *prm, index};
    }

    Failure failure = config_.runFailure;
    ParamEntry* entry = nullptr;
    if (key) {
        auto it = table_.entries().find(*key);
        if (it == table_.entries().end() && config_.answerAny && what != Block)
            it = table_.entries().emplace(*key, ParamEntry{"0", {}, false, {}}).first;
        if (it != table_.entries().end()) {
            entry = &it->second;
            failure = entry->failure.over(config_.runFailure);
        }
    }
    const int attempt = key ? ++attempts_[*key] : 1;
    if (failure.silent.value_or(false)) {
        note = "silent";
        return std::nullopt;
    }
    if (attempt <= failure.silentFirst.value_or(0)) {
        note = "silent, attempt " + std::to_string(attempt);
        return std::nullopt;
    }

    // The answer's data: the request's head, FF, HT, then the answer's group.
    Bytes body = headBytes;
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
    } else if (what == Other) {
        errorGroup(QString::fromUtf8(kTextUnknownFunction));
    } else if (!key) {
        errorGroup(QString::fromUtf8(kTextBadRequest));
    } else if (!entry) {
        errorGroup(QString::fromUtf8(kTextUnknownParam));
    } else if (what == Write) {
        if (entry->readOnly || !hasValue) {
            errorGroup(QString::fromUtf8(entry->readOnly ? kTextReadOnly : kTextBadRequest));
        } else {
            entry->value = FromOem(written);
            body.push_back(kFf); // empty error text: the write is confirmed
        }
    } else if (what == Block) {
        answerFn = 0x21;
        const Bytes v = ToOem(entry->value);
        body.insert(body.end(), v.begin(), v.end());
        body.push_back(kFf);
    } else {
        answerFn = indexed ? 0x14 : 0x03;
        const Bytes v = ToOem(entry->value);
        body.insert(body.end(), v.begin(), v.end());
        if (!entry->units.isEmpty()) {
            const Bytes u = ToOem(entry->units);
            body.push_back(kHt);
            body.insert(body.end(), u.begin(), u.end());
        }
        body.push_back(kFf);
    }

    const int outSeq = (seq + failure.wrongSequence.value_or(0)) % 1000;
    Bytes out = {kDle, kSoh};
    if (address)
        appendAddress(out, address->second, address->first); // to the program, from this device
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

std::optional<ParamEntry> DeviceModel::entry(const ParamKey& key) const {
    std::lock_guard lock(mutex_);
    const auto it = table_.entries().find(key);
    if (it == table_.entries().end())
        return std::nullopt;
    return it->second;
}

void DeviceModel::setEntry(const ParamKey& key, const ParamEntry& entry) {
    std::lock_guard lock(mutex_);
    table_.entries()[key] = entry;
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

StreamDevice::StreamDevice(DeviceModel& model, Optical optical, std::vector<DeviceModel*> neighbours)
    : model_(model), optical_(optical), dataBaud_(optical.enabled ? -1 : 0) {
    lineDevices_.push_back(&model_);
    lineDevices_.insert(lineDevices_.end(), neighbours.begin(), neighbours.end());
}

int StreamDevice::dataBaud() const { return dataBaud_; }

Bytes StreamDevice::identLine() const {
    const std::string text = std::string("/PV2-DEVSIM-") + optical_.speedChar + "\r\n";
    Bytes b;
    for (char c : text)
        b.push_back(evenParity(static_cast<uint8_t>(c)));
    return b;
}

std::vector<Reply> StreamDevice::feed(std::span<const uint8_t> bytes, int lineBaud) {
    std::vector<Reply> out;
    for (uint8_t b : bytes) {
        if (optical_.enabled)
            lineByte(b, lineBaud, out);
        frameByte(b, lineBaud, out);
    }
    return out;
}

void StreamDevice::lineByte(uint8_t raw, int lineBaud, std::vector<Reply>& out) {
    const char c = static_cast<char>(raw & 0x7F);
    if (c != '\n') {
        if (line_.size() < 64)
            line_ += c;
        return;
    }
    const std::string line = line_ + c;
    line_.clear();
    // Sign-on and option select are only understood at the opening 300 baud.
    if (lineBaud != 300)
        return;
    const auto ends = [&](const std::string& tail) {
        return line.size() >= tail.size() && line.compare(line.size() - tail.size(), tail.size(), tail) == 0;
    };
    if (ends("/?!\r\n")) {
        model_.logIncoming("pty", Bytes(line.begin(), line.end()), "sign-on");
        dataBaud_ = -1;
        out.push_back(Reply{identLine(), 0, 1});
    } else if (line.size() >= 6 && line[line.size() - 6] == '\x06' && line[line.size() - 5] == '0' &&
               ends("3\r\n")) {
        model_.logIncoming("pty", Bytes(line.begin(), line.end()), "option select");
        static const int speeds[10] = {300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
        const int z = std::min(line[line.size() - 4] & 0x0F, 9);
        dataBaud_ = speeds[z];
        out.push_back(Reply{{evenParity(kAck)}, 0, 1});
    }
}

void StreamDevice::frameByte(uint8_t b, int lineBaud, std::vector<Reply>& out) {
    if (!inFrame_) {
        if (dle_ && b == kSoh) {
            frame_ = {kDle, kSoh};
            inFrame_ = true;
            endBytes_ = -1;
            dle_ = false;
            return;
        }
        dle_ = b == kDle;
        return;
    }
    frame_.push_back(b);
    if (endBytes_ < 0) {
        if (dle_ && b == kEtx) {
            endBytes_ = 2;
            dle_ = false;
        } else if (dle_ && b == kSoh) {
            frame_ = {kDle, kSoh}; // a new frame starts over
            dle_ = false;
        } else {
            dle_ = b == kDle;
        }
        if (frame_.size() > 4096)
            inFrame_ = false; // runaway: no request is that long
        return;
    }
    if (--endBytes_ == 0) {
        inFrame_ = false;
        dle_ = false;
        // Before the ACK, or at another speed than agreed, a frame is noise to the device.
        if (dataBaud_ < 0) {
            model_.logIncoming("pty", frame_, "before the optical sign-on");
            return;
        }
        if (dataBaud_ > 0 && dataBaud_ != lineBaud) {
            model_.logIncoming("pty", frame_,
                               "at " + std::to_string(lineBaud) + " baud, agreed " + std::to_string(dataBaud_));
            return;
        }
        if (auto r = answerOnLine(lineDevices_, frame_, "pty"))
            out.push_back(std::move(*r));
    }
}

LinePacer::Clock::duration LinePacer::byteTime(int baud) {
    // Ten bit times: start, eight data bits, stop.
    return std::chrono::nanoseconds(10'000'000'000LL / std::max(baud, 50));
}

size_t LinePacer::allowance(Clock::time_point now, int baud, size_t pending) {
    if (pending == 0)
        return 0;
    const auto bt = byteTime(baud);
    if (!active_) {
        active_ = true;
        due_ = now + bt;
    }
    if (now < due_)
        return 0;
    const size_t n = std::min(pending, static_cast<size_t>((now - due_) / bt) + 1);
    due_ += bt * static_cast<long>(n);
    return n;
}

} // namespace parvault::devsim
