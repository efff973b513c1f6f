#include "frame.h"

#include <algorithm>

namespace parvault {

int sequenceOf(int row) {
    if (row < 0)
        return 0;
    return row % 1000;
}

uint16_t Crc16(std::span<const uint8_t> bytes) {
    uint16_t crc = 0;
    for (uint8_t b : bytes) {
        crc ^= static_cast<uint16_t>(b << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ 0x1021)
                                 : static_cast<uint16_t>(crc << 1);
    }
    return crc;
}

uint16_t Crc16(const uint8_t* bytes, int count) {
    const auto n = static_cast<size_t>(static_cast<uint32_t>(count) & 0xFFFFu);
    if (!bytes)
        return 0;
    return Crc16(std::span<const uint8_t>(bytes, n));
}

std::vector<uint8_t> AddressBlock(const BusAddress& address) {
    if (!address.useAddress)
        return {};
    const auto device = static_cast<uint8_t>(address.deviceAddress & 0xFF);
    const auto own = static_cast<uint8_t>((address.ownAddress | 0x80) & 0xFF);
    // Address 16 would read as DLE, so it is the one byte of a frame sent twice.
    if (device == DLE)
        return {DLE, DLE, own};
    return {device, own};
}

void insertAddressBlock(std::vector<uint8_t>& frame, const BusAddress& address) {
    if (frame.size() < 2)
        return;
    const auto block = AddressBlock(address);
    frame.insert(frame.begin() + 2, block.begin(), block.end());
}

bool layoutTxFrame(ExchangeShared& shared, std::span<const uint8_t> frame) {
    if (frame.size() < 2 || frame.size() + 2 > static_cast<size_t>(kTxFrameMax))
        return false;
    const uint16_t crc = Crc16(frame.subspan(2));
    const auto total = static_cast<uint16_t>(frame.size() + 2);
    auto& tx = shared.txFrame;
    tx[0] = static_cast<uint8_t>(total & 0xFF); // length, low byte first
    tx[1] = static_cast<uint8_t>(total >> 8);
    std::copy(frame.begin(), frame.end(), tx.begin() + 2);
    tx[2 + frame.size()] = static_cast<uint8_t>(crc >> 8); // CRC, high byte first
    tx[3 + frame.size()] = static_cast<uint8_t>(crc & 0xFF);
    return true;
}

int SendFrame(ExchangeShared& shared, FrameSink& sink, std::span<const uint8_t> frame) {
    if (!layoutTxFrame(shared, frame))
        return -1;
    sink.send(shared);
    return 0;
}

uint8_t withEvenParity(uint8_t c) {
    c &= 0x7F;
    int ones = 0;
    for (int bit = 0; bit < 7; ++bit)
        ones += (c >> bit) & 1;
    return (ones & 1) ? static_cast<uint8_t>(c | 0x80) : c;
}

uint8_t ParityDigit(int speedIndex) {
    if (speedIndex < 0 || speedIndex > 9)
        return '0';
    return withEvenParity(static_cast<uint8_t>('0' + speedIndex));
}

std::vector<uint8_t> signOnMessage() {
    std::vector<uint8_t> m;
    for (uint8_t c : {uint8_t('/'), uint8_t('?'), uint8_t('!'), CR, LF})
        m.push_back(withEvenParity(c));
    return m;
}

std::vector<uint8_t> optionSelectMessage(int speedIndex) {
    return {withEvenParity(ACK), withEvenParity('0'), ParityDigit(speedIndex), withEvenParity('3'),
            withEvenParity(CR), withEvenParity(LF)};
}

namespace {
// The optical messages go out as they are: length, then the bytes, no CRC.
void sendRaw(ExchangeShared& shared, FrameSink& sink, const std::vector<uint8_t>& bytes) {
    auto& tx = shared.txFrame;
    tx[0] = static_cast<uint8_t>(bytes.size() & 0xFF);
    tx[1] = static_cast<uint8_t>(bytes.size() >> 8);
    std::copy(bytes.begin(), bytes.end(), tx.begin() + 2);
    sink.send(shared);
}
} // namespace

void SendSignOn(ExchangeShared& shared, FrameSink& sink) {
    sendRaw(shared, sink, signOnMessage());
}

void SendOptionSelect(ExchangeShared& shared, FrameSink& sink, int speedIndex) {
    sendRaw(shared, sink, optionSelectMessage(speedIndex));
}

int identSpeedIndex(uint8_t char12) {
    return std::min(char12 & 0x0F, 9);
}

} // namespace parvault
