#include "requests.h"

#include "codepage.h"

#include <cstdio>

namespace parvault {

namespace {

constexpr std::array<uint8_t, 3> kZeroField = {'0', '0', '0'};
constexpr std::array<uint8_t, 3> kDefaultParam = {'0', '0', '3'};

uint8_t P(char c) { return static_cast<uint8_t>(PadDigit(c)); }
uint8_t U(char c) { return static_cast<uint8_t>(c); }

// Channel and index: right-aligned in three characters; the last one is copied as it is.
std::optional<std::array<uint8_t, 3>> threeWide(const QByteArray& t) {
    switch (t.size()) {
    case 1: return std::array<uint8_t, 3>{'0', '0', U(t[0])};
    case 2: return std::array<uint8_t, 3>{'0', P(t[0]), U(t[1])};
    case 3: return std::array<uint8_t, 3>{P(t[0]), P(t[1]), U(t[2])};
    default: return std::nullopt;
    }
}

void putField(std::vector<uint8_t>& f, size_t at, const std::array<uint8_t, 3>& field) {
    std::copy(field.begin(), field.end(), f.begin() + static_cast<std::ptrdiff_t>(at));
}

void putSequence(std::vector<uint8_t>& f, int rowIndex) {
    char digits[8];
    std::snprintf(digits, sizeof digits, "%03d", sequenceOf(rowIndex));
    f[5] = U(digits[0]);
    f[6] = U(digits[1]);
    f[7] = U(digits[2]);
}

// The common head: DLE SOH DLE US fn ddd DLE STX HT CCC HT PPP, then room to 23 bytes.
std::vector<uint8_t> head(uint8_t function, const ParamRow& row, int rowIndex) {
    std::vector<uint8_t> f = {DLE, SOH, DLE, US, function, '0', '0', '0', DLE, STX, HT, '0', '0', '0',
                              HT,  '0', '0', '3', FF, HT, 0, 0, 0};
    putSequence(f, rowIndex);
    putField(f, 15, parameterField(row.texts[ColParam]));
    putField(f, 11, channelField(row.texts[ColCanal]));
    return f;
}

} // namespace

BusAddress busAddressFrom(const ConnectionSettings& settings) {
    return {settings.useAddress == 1, settings.deviceAddress, settings.ownAddress};
}

char PadDigit(char c) { return c == ' ' ? '0' : c; }

std::array<uint8_t, 3> channelField(const QString& text) {
    return threeWide(toAnsiBytes(text)).value_or(kZeroField);
}

std::array<uint8_t, 3> parameterField(const QString& text) {
    // Printed "%4d": the first character is the blank in front of a number
    // below 1000, so it is dropped and the last three are kept.
    const QByteArray t = toAnsiBytes(text);
    switch (t.size()) {
    case 2: return {'0', '0', U(t[1])};
    case 3: return {'0', P(t[1]), U(t[2])};
    case 4: return {P(t[1]), P(t[2]), U(t[3])};
    default: return kDefaultParam;
    }
}

std::array<uint8_t, 3> indexField(const QString& text) {
    return threeWide(toAnsiBytes(text)).value_or(std::array<uint8_t, 3>{HT, 0, 0});
}

std::vector<uint8_t> layoutReadRequest(const ParamRow& row, int rowIndex, const BusAddress& address) {
    std::vector<uint8_t> f = head(FN_READ, row, rowIndex);
    size_t length = 16;
    switch (row.kind) {
    case KindPlain:
        length = 19;
        break;
    case KindIndexed:
        f[4] = FN_READ_INDEXED;
        f[18] = HT;
        putField(f, 19, indexField(row.texts[ColIndex]));
        f[22] = HT;
        f.resize(25);
        f[23] = '1';
        f[24] = FF;
        length = 25;
        break;
    case KindDataBlock:
        f[4] = FN_READ_BLOCK;
        for (int k = 0; k < 5; ++k)
            f[static_cast<size_t>(15 + k)] = U(kDataBlockParam[k]);
        f[20] = FF;
        length = 21;
        break;
    default:
        break; // cut after the first parameter digit
    }
    f.resize(length);
    f.push_back(DLE);
    f.push_back(ETX);
    insertAddressBlock(f, address);
    return f;
}

void BuildReadRequest(ExchangeShared& shared, FrameSink& sink, const RowTable& table, int rowIndex,
                      const BusAddress& address) {
    if (rowIndex < 0 || rowIndex >= table.rowCount())
        return;
    const auto frame = layoutReadRequest(table.row(rowIndex), rowIndex, address);
    SendFrame(shared, sink, frame);
}

WriteRequest layoutWriteRequest(const ParamRow& row, int rowIndex, const BusAddress& address) {
    std::vector<uint8_t> f = head(FN_WRITE, row, rowIndex);
    size_t length = 16;
    switch (row.kind) {
    case KindPlain:
        length = 20; // ... PPP FF HT
        break;
    case KindIndexed:
        f[4] = FN_WRITE_INDEXED;
        f[18] = HT;
        putField(f, 19, indexField(row.texts[ColIndex]));
        f.resize(26);
        f[22] = HT;
        f[23] = '1';
        f[24] = FF;
        f[25] = HT;
        length = 26;
        break;
    default:
        break; // cut after the first parameter digit
    }
    f.resize(length);
    const std::vector<uint8_t> value = AnsiToOem(row.texts[ColValue]);
    const size_t total = length + value.size() + 3 + AddressBlock(address).size();
    if (total + 1 > static_cast<size_t>(kWriteBufferSize))
        return {WriteRequest::ValueTooLong, {}};
    f.insert(f.end(), value.begin(), value.end());
    f.push_back(FF);
    f.push_back(DLE);
    f.push_back(ETX);
    insertAddressBlock(f, address);
    return {WriteRequest::Ok, std::move(f)};
}

} // namespace parvault
