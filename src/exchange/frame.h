#pragma once

// Bus frames: control bytes, the checksum, the address block, the hand-over of
// a finished frame to a transport, and the three optical-port messages.
// Everything here is pure apart from SendFrame and the optical senders, which
// only fill txFrame and call the FrameSink they are given.

#include "exchangeshared.h"

#include <cstdint>
#include <span>
#include <vector>

namespace parvault {

inline constexpr uint8_t DLE = 0x10;
inline constexpr uint8_t SOH = 0x01;
inline constexpr uint8_t STX = 0x02;
inline constexpr uint8_t ETX = 0x03;
inline constexpr uint8_t ACK = 0x06;
inline constexpr uint8_t HT = 0x09;
inline constexpr uint8_t LF = 0x0A;
inline constexpr uint8_t FF = 0x0C;
inline constexpr uint8_t CR = 0x0D;
inline constexpr uint8_t US = 0x1F;

// Function codes.
inline constexpr uint8_t FN_READ = 0x1D;         // request, kind 0
inline constexpr uint8_t FN_READ_INDEXED = 0x0C; // request, kind 1
inline constexpr uint8_t FN_READ_BLOCK = 0x19;   // request, kind 25
inline constexpr uint8_t FN_WRITE = 0x03;        // request, kind 0
inline constexpr uint8_t FN_WRITE_INDEXED = 0x14;// request, kind 1
inline constexpr uint8_t FN_VALUE = 0x03;        // answer: value and units
inline constexpr uint8_t FN_VALUE_INDEXED = 0x14;// answer: indexed value and units
inline constexpr uint8_t FN_DATA_BLOCK = 0x21;   // answer: data block
inline constexpr uint8_t FN_ERROR = 0x7F;        // answer: error text, empty = success

// Results of AssembleAnswer, ReadIdentLine and ParseAnswer.
inline constexpr int ANSWER_OK = 0;
inline constexpr int ANSWER_REJECTED = 7;
inline constexpr int ANSWER_PENDING = 15;

// Sequence number of an answer that matches no row.
inline constexpr int kNoSequence = -1;

// The sequence number of a row: its index reduced below 1000. A negative index
// cannot come from a list; it is taken as row 0 rather than printed as "-01".
int sequenceOf(int row);

// CRC-16/XMODEM: polynomial 0x1021, initial 0, no reflection, no final XOR.
uint16_t Crc16(std::span<const uint8_t> bytes);
// The byte count is a 16-bit quantity on the wire; larger counts wrap.
uint16_t Crc16(const uint8_t* bytes, int count);

// Bus addresses of a request. With useAddress set, the block goes right after
// DLE SOH: device address (0x10 doubled), then own address with bit 7 set.
struct BusAddress {
    bool useAddress = false;
    int deviceAddress = 0;
    int ownAddress = 0;
};

// The 0, 2 or 3 bytes of the address block.
std::vector<uint8_t> AddressBlock(const BusAddress& address);
// Inserts the address block after byte 1 (DLE SOH) of a frame laid out
// without one. A frame shorter than two bytes is left alone.
void insertAddressBlock(std::vector<uint8_t>& frame, const BusAddress& address);

// Where SendFrame and the optical messages deliver the finished txFrame: the
// serial channel's write, or the start of a UDP transaction. The transport
// reads the block from shared.txFrame (length low byte first, then the bytes)
// and must not expect it to stay unchanged after the next send.
class FrameSink {
public:
    virtual ~FrameSink() = default;
    virtual void send(ExchangeShared& shared) = 0;
};

// Lays out txFrame from a frame that runs from DLE SOH through DLE ETX:
// length + 2 (low byte first), the frame, CRC high, CRC low. The CRC covers
// everything after DLE SOH. Returns false, leaving txFrame alone, for a frame
// shorter than DLE SOH or one txFrame cannot hold with its CRC.
bool layoutTxFrame(ExchangeShared& shared, std::span<const uint8_t> frame);
// layoutTxFrame, then hands txFrame to the sink. Returns 0 when it was sent,
// -1 when the frame was refused and nothing was sent.
int SendFrame(ExchangeShared& shared, FrameSink& sink, std::span<const uint8_t> frame);

// A character with even parity in bit 7, as the optical port expects.
uint8_t withEvenParity(uint8_t c);
// The speed digit of the option select: '0' + speedIndex with even parity;
// 0x30 for an index outside 0..9.
uint8_t ParityDigit(int speedIndex);

// The optical messages (no CRC): sign-on "/?!" CR LF and option select
// ACK '0' Z '3' CR LF, each character with even parity.
std::vector<uint8_t> signOnMessage();
std::vector<uint8_t> optionSelectMessage(int speedIndex);
void SendSignOn(ExchangeShared& shared, FrameSink& sink);
void SendOptionSelect(ExchangeShared& shared, FrameSink& sink, int speedIndex);

// Where the identification line carries the speed character.
inline constexpr int kIdentSpeedPos = 12;
// The speed index an identification line announces in its character 12
// (low four bits; anything above 9 means the fastest speed).
int identSpeedIndex(uint8_t char12);

} // namespace parvault
