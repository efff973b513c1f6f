#include "answer.h"

#include "codepage.h"

#include <QSaveFile>
#include <QThread>

#include <algorithm>

Q_LOGGING_CATEGORY(lcExchange, "parvault.exchange")

namespace parvault {

namespace {

// Collects a text from position p up to (not including) the first byte for
// which stop() holds, or the end. Keeps at most kAnswerTextMax bytes of it;
// returns the position of the stopping byte (frame.size() at the end).
template <typename Stop>
size_t collect(std::span<const uint8_t> frame, size_t p, Stop stop, QString& text) {
    size_t end = p;
    while (end < frame.size() && !stop(frame[end]))
        ++end;
    if (p < end) {
        const size_t n = std::min(end - p, static_cast<size_t>(kAnswerTextMax));
        // A control byte in a device's text would break the lines of the list,
        // the text table and the command line's output: it shows as a blank.
        std::vector<uint8_t> bytes(frame.begin() + static_cast<std::ptrdiff_t>(p),
                                   frame.begin() + static_cast<std::ptrdiff_t>(p + n));
        for (uint8_t& b : bytes)
            if (b < 0x20)
                b = ' ';
        text = OemToAnsi(bytes);
        // The code page's table gives some bytes as control characters too
        // (0x7F comes out as 0x1A, which ends a text file for some readers).
        for (QChar& c : text)
            if (c.unicode() < 0x20 || c.unicode() == 0x7F)
                c = u' ';
    } else {
        text.clear();
    }
    return end;
}

// The frame up to its data's end: texts never run on over DLE ETX into the
// checksum, whatever the device left out.
std::span<const uint8_t> withoutTrailer(std::span<const uint8_t> frame) {
    for (size_t k = 0; k + 1 < frame.size(); ++k)
        if (frame[k] == DLE && frame[k + 1] == ETX)
            return frame.first(k);
    return frame;
}

// The position of US in the first DLE US pair: an address byte of 0x1F is not
// the separator.
size_t functionSeparator(std::span<const uint8_t> frame) {
    for (size_t k = 0; k + 1 < frame.size(); ++k)
        if (frame[k] == DLE && frame[k + 1] == US)
            return k + 1;
    return frame.size();
}

// Exactly three digits and then DLE: anything else names no row.
int sequenceAt(std::span<const uint8_t> frame, size_t p) {
    if (p + 3 >= frame.size() || frame[p + 3] != DLE)
        return kNoSequence;
    int sequence = 0;
    for (size_t k = p; k < p + 3; ++k) {
        if (frame[k] < '0' || frame[k] > '9')
            return kNoSequence;
        sequence = sequence * 10 + (frame[k] - '0');
    }
    return sequence;
}

// The start of the fields of interest: past the first FF after the function
// code, and past the one byte after it.
size_t fieldStart(std::span<const uint8_t> frame, size_t functionPos) {
    size_t p = functionPos;
    while (p < frame.size() && frame[p] != FF)
        ++p;
    return p + 2;
}

} // namespace

ParsedAnswer ParseAnswer(std::span<const uint8_t> frame) {
    ParsedAnswer a;
    a.result = ANSWER_OK;
    const size_t i = functionSeparator(frame);
    if (i + 1 >= frame.size())
        return a; // no function code: matches nothing
    const size_t fn = i + 1;
    a.function = frame[fn];
    a.address.assign(frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(i - 1));
    switch (a.function) {
    case FN_VALUE:
    case FN_VALUE_INDEXED:
    case FN_DATA_BLOCK:
    case FN_ERROR:
        a.sequence = sequenceAt(frame, fn + 1);
        break;
    default:
        return a;
    }

    {
        // DLE STX follows the three digits; the repeated fields run to the first FF.
        const auto data = withoutTrailer(frame);
        const size_t start = fn + 6;
        if (start <= data.size()) {
            const auto ff = std::find(data.begin() + static_cast<std::ptrdiff_t>(start), data.end(), FF);
            a.echo.assign(data.begin() + static_cast<std::ptrdiff_t>(start), ff);
        }
    }

    if (a.function == FN_DATA_BLOCK) {
        a.dataBlock.assign(frame.begin(), frame.end());
        a.value = QString::fromLatin1(kDataBlockMark);
        return a;
    }
    // The data block is kept whole above; the texts come from the data only.
    frame = withoutTrailer(frame);

    const size_t start = fieldStart(frame, fn);
    if (a.function == FN_ERROR) {
        if (start < frame.size() && frame[start] == FF)
            return a; // empty error text: the device confirms
        QString text;
        collect(frame, start, [](uint8_t b) { return b == FF; }, text);
        a.value = text;
        a.result = ANSWER_REJECTED;
        return a;
    }

    QString value;
    const size_t stop = collect(frame, start, [](uint8_t b) { return b == HT || b == FF; }, value);
    a.value = value;
    if (stop < frame.size() && frame[stop] == FF)
        return a; // no units in this answer
    QString units;
    if (stop < frame.size())
        collect(frame, stop + 1, [](uint8_t b) { return b == HT || b == FF; }, units);
    a.units = units;
    return a;
}

namespace {

// The fields of a data section's first group: HT-separated, the leading HT
// opening the first field.
std::vector<std::vector<uint8_t>> echoFields(std::span<const uint8_t> head) {
    std::vector<std::vector<uint8_t>> fields;
    for (uint8_t b : head) {
        if (b == HT)
            fields.emplace_back();
        else if (!fields.empty())
            fields.back().push_back(b);
    }
    return fields;
}

std::optional<int> decimal(const std::vector<uint8_t>& field) {
    if (field.empty() || field.size() > 6)
        return std::nullopt;
    int v = 0;
    for (uint8_t c : field) {
        if (c < '0' || c > '9')
            return std::nullopt;
        v = v * 10 + (c - '0');
    }
    return v;
}

// "001" and "1" name the same channel; anything not a number must be the same bytes.
bool sameField(const std::vector<uint8_t>& sent, const std::vector<uint8_t>& repeated) {
    if (sent == repeated)
        return true;
    const auto a = decimal(sent);
    const auto b = decimal(repeated);
    return a && b && *a == *b;
}

// The answers a request's function may get: its own kind of value, or an error answer.
bool sameFamily(uint8_t request, int answer) {
    if (answer == FN_ERROR)
        return true;
    switch (request) {
    case FN_READ: return answer == FN_VALUE;
    case FN_READ_INDEXED: return answer == FN_VALUE_INDEXED;
    case FN_READ_BLOCK: return answer == FN_DATA_BLOCK;
    case FN_WRITE: return answer == FN_VALUE;
    case FN_WRITE_INDEXED: return answer == FN_VALUE_INDEXED;
    default: return false;
    }
}

// The block a device puts on its answer: our own address first (0x10
// doubled), its own with bit 7 set last, as a request goes the other way.
std::vector<uint8_t> mirroredBlock(const std::vector<uint8_t>& block) {
    if (block.size() < 2)
        return {};
    BusAddress back;
    back.useAddress = true;
    back.deviceAddress = block.back() & 0x7F;
    back.ownAddress = block.front();
    return AddressBlock(back);
}

} // namespace

std::optional<RequestEcho> echoOfRequest(std::span<const uint8_t> frame) {
    if (frame.size() < 2 || frame[0] != DLE || frame[1] != SOH)
        return std::nullopt;
    const auto body = frame.subspan(2);
    const size_t us = functionSeparator(body);
    // DLE US fn ddd DLE STX: the data starts 7 bytes after US.
    if (us + 7 > body.size() || body[us + 5] != DLE || body[us + 6] != STX)
        return std::nullopt;
    RequestEcho echo;
    echo.address.assign(body.begin(), body.begin() + static_cast<std::ptrdiff_t>(us - 1));
    echo.function = body[us + 1];
    const auto data = withoutTrailer(body.subspan(us + 7));
    const auto ff = std::find(data.begin(), data.end(), FF);
    echo.fields = echoFields(std::span<const uint8_t>(data.begin(), ff));
    // Channel, parameter, index: the constant field after the index repeats nothing of the row.
    if (echo.fields.size() > 3)
        echo.fields.resize(3);
    return echo;
}

bool answersRequest(const ParsedAnswer& answer, const RequestEcho& request) {
    if (!sameFamily(request.function, answer.function))
        return false;
    if (request.address.empty() != answer.address.empty())
        return false;
    // A device answers from its address to ours; one that repeats the
    // request's block as it came names the same device.
    if (!request.address.empty() && answer.address != mirroredBlock(request.address) &&
        answer.address != request.address)
        return false;
    const auto repeated = echoFields(answer.echo);
    if (repeated.size() < request.fields.size())
        return false;
    for (size_t k = 0; k < request.fields.size(); ++k)
        if (!sameField(request.fields[k], repeated[k]))
            return false;
    return true;
}

bool applyAnswer(RowTable& table, int row, const ParsedAnswer& answer) {
    if (row < 0 || row >= table.rowCount() || !answer.matchesRow(row))
        return false;
    if (answer.value)
        table.setText(row, ColValue, *answer.value);
    if (answer.units)
        table.setText(row, ColUnits, *answer.units);
    return true;
}

namespace {

// NoError when the block is in place.
QFileDevice::FileError writeDataBlockOnce(const ParsedAnswer& answer, const QString& path) {
    // Written beside and then renamed over the old file: whoever reads it,
    // and devices of one run saving theirs at the same moment, see one whole
    // block, never a cut or mixed one.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.error();
    const auto n = static_cast<qint64>(answer.dataBlock.size());
    if (file.write(reinterpret_cast<const char*>(answer.dataBlock.data()), n) != n)
        return file.error();
    // A write the buffer took may still fail on its way to the disk (a full
    // disk); the older block must then stay, so nothing is renamed over it.
    if (!file.flush())
        return file.error();
    return file.commit() ? QFileDevice::NoError : file.error();
}

} // namespace

bool saveDataBlock(const ParsedAnswer& answer, const QString& path) {
    if (answer.function != FN_DATA_BLOCK)
        return false;
    // Windows refuses to replace a file that another program (or another
    // device's save) has open at that moment; the block would be lost for a
    // reader's blink. Only that last step is tried again, for up to about a
    // second; a block that cannot even be written fails at once.
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QFileDevice::FileError error = writeDataBlockOnce(answer, path);
        if (error != QFileDevice::RenameError)
            return error == QFileDevice::NoError;
        QThread::msleep(10);
    }
    return false;
}

void AnswerAssembler::store(uint8_t b) {
    asmBuffer_[static_cast<size_t>(asmLength_)] = b;
    // A runaway stream without DLE SOH starts the buffer over.
    if (asmLength_ < kBufferSize - 1)
        ++asmLength_;
    else
        asmLength_ = 0;
}

std::span<const uint8_t> AnswerAssembler::capped(std::span<const uint8_t> delivery) {
    if (delivery.size() > static_cast<size_t>(kDeliveryMax))
        delivery = delivery.first(static_cast<size_t>(kDeliveryMax));
    if (delivery.empty())
        qCDebug(lcExchange, "Read 0 bytes and didn't overlap.\n\r");
    return delivery;
}

std::span<const uint8_t> AnswerAssembler::delivered(const ExchangeShared& shared) {
    // rxLength comes from another thread's count: never trust it past the buffer.
    const int n = std::clamp(shared.rxLength.load(), 0, kRxReadMax);
    return std::span<const uint8_t>(shared.rxBuffer.data(), static_cast<size_t>(n));
}

ParsedAnswer AnswerAssembler::AssembleAnswer(const ExchangeShared& shared) {
    return AssembleAnswer(delivered(shared));
}

ParsedAnswer AnswerAssembler::AssembleAnswer(std::span<const uint8_t> delivery) {
    delivery = capped(delivery);
    for (uint8_t b : delivery) {
        if (endPhase_ == 0 && b == DLE) {
            dleSeen_ = true;
            store(b);
        } else if (endPhase_ == 0 && b == SOH) {
            store(b);
            if (dleSeen_) {
                // A new frame begins: everything collected so far, this DLE SOH too, goes.
                synced_ = true;
                dleSeen_ = false;
                asmLength_ = 0;
                endPhase_ = 0;
            }
        } else if (endPhase_ == 0 && (b == US || b == STX)) {
            dleSeen_ = false;
            store(b);
        } else if (endPhase_ == 0 && b == ETX) {
            if (dleSeen_) {
                dleSeen_ = false;
                endPhase_ = 1;
            }
            store(b); // a bare ETX is ordinary data
        } else {
            dleSeen_ = false;
            store(b);
            if (endPhase_ == 2) {
                endPhase_ = 0;
                if (!synced_) {
                    asmLength_ = 0; // the tail of a frame whose head was thrown away
                    continue;
                }
                const auto frame =
                    std::span<const uint8_t>(asmBuffer_.data(), static_cast<size_t>(asmLength_));
                // CRC over the frame and its own two CRC bytes is 0 when intact.
                if (Crc16(frame) != 0) {
                    ParsedAnswer rejected;
                    rejected.result = ANSWER_REJECTED;
                    rejected.crcFailed = true;
                    return rejected;
                }
                return ParseAnswer(frame);
            }
            if (endPhase_ == 1)
                endPhase_ = 2;
        }
    }
    return ParsedAnswer{};
}

void AnswerAssembler::reset() {
    asmLength_ = 0;
    dleSeen_ = false;
    endPhase_ = 0;
    identStarted_ = false;
    synced_ = true;
}

void AnswerAssembler::resync() {
    reset();
    synced_ = false;
}

int AnswerAssembler::identLineLength() const {
    for (int k = 0; k < asmLength_; ++k)
        if (asmBuffer_[static_cast<size_t>(k)] == CR || asmBuffer_[static_cast<size_t>(k)] == LF)
            return k;
    return asmLength_;
}

int AnswerAssembler::ReadIdentLine(const ExchangeShared& shared) {
    return ReadIdentLine(delivered(shared));
}

int AnswerAssembler::ReadIdentLine(std::span<const uint8_t> delivery) {
    delivery = capped(delivery);
    for (uint8_t raw : delivery) {
        const uint8_t c = raw & 0x7F; // the parity bit is not part of the character
        switch (c) {
        case ACK:
            asmBuffer_[0] = ACK;
            asmLength_ = 1;
            return ANSWER_OK;
        case '/':
            asmBuffer_[0] = '/';
            asmLength_ = 1;
            identStarted_ = true;
            break;
        case CR:
            store(c);
            identStarted_ = false;
            break;
        case LF:
            dleSeen_ = false;
            store(c);
            // A '/' line must end with CR LF; LF alone spoils it.
            return identStarted_ ? ANSWER_REJECTED : ANSWER_OK;
        default:
            dleSeen_ = false;
            store(c);
            break;
        }
    }
    return ANSWER_PENDING;
}

} // namespace parvault
