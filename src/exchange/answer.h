#pragma once

// Taking an answer frame apart, and the assembler that cuts answer frames (and
// the optical identification line) out of the received byte stream.

#include "exchangeshared.h"
#include "frame.h"
#include "rowtable.h"

#include <QLoggingCategory>
#include <QString>

#include <array>
#include <optional>
#include <span>
#include <vector>

Q_DECLARE_LOGGING_CATEGORY(lcExchange)

namespace parvault {

// A text taken from an answer keeps at most this many bytes; longer ones are cut.
inline constexpr int kAnswerTextMax = 127;
// The text a data-block answer leaves in the value column.
inline constexpr const char* kDataBlockMark = "-OK-";
// Where a data-block answer is kept, relative to the current directory.
inline constexpr const char* kDataBlockFile = "__data.hh";

// What an answer says. The parse never touches the list: the texts reach a row
// only through applyAnswer, and only when the sequence number is that row's,
// so a late answer for an earlier row cannot overwrite the current one.
struct ParsedAnswer {
    int result = ANSWER_PENDING; // ANSWER_OK, ANSWER_REJECTED or ANSWER_PENDING
    int sequence = kNoSequence;  // 0..999, or kNoSequence
    int function = -1;           // the answer's function code, -1 when none
    bool crcFailed = false;      // a complete frame whose checksum did not hold
    std::optional<QString> value; // for column 3: value, error text or "-OK-"
    std::optional<QString> units; // for column 4
    std::vector<uint8_t> dataBlock; // function 0x21: the whole assembled frame
    std::vector<uint8_t> address;   // the bytes before DLE US: the address block, if any
    std::vector<uint8_t> echo;      // the data before its first FF: the request's fields repeated

    bool matchesRow(int row) const { return sequence != kNoSequence && sequence == sequenceOf(row); }
};

// What an answer must repeat of the request it answers. Sequence numbers
// start at 000 in every exchange and on every device, so the number alone
// cannot tell a late answer for another device or another parameter from
// the one awaited.
struct RequestEcho {
    std::vector<uint8_t> address; // the request's address block; empty without one
    uint8_t function = 0;
    // Channel, parameter and, for an indexed request, index, as sent.
    std::vector<std::vector<uint8_t>> fields;
};

// The echo of a request frame, DLE SOH through DLE ETX (a CRC after it is
// ignored); nothing for what is no bus request (the optical messages).
std::optional<RequestEcho> echoOfRequest(std::span<const uint8_t> frame);

// Whether the answer is one to this request: sent from the addressed device
// to us, of the request's function family, repeating its fields.
bool answersRequest(const ParsedAnswer& answer, const RequestEcho& request);

// Parses an assembled frame: every byte after DLE SOH through the second CRC
// byte. Returns ANSWER_OK or ANSWER_REJECTED in result.
ParsedAnswer ParseAnswer(std::span<const uint8_t> frame);

// Puts the answer's texts into the row when the answer's sequence number is
// the row's. Returns whether it did; a mismatch or a bad row index changes nothing.
bool applyAnswer(RowTable& table, int row, const ParsedAnswer& answer);

// Writes a data-block answer's frame to the file (created or emptied).
// Returns false when the answer has no data block or the file cannot be written.
bool saveDataBlock(const ParsedAnswer& answer, const QString& path = QString::fromLatin1(kDataBlockFile));

// Cuts answers out of the received bytes. The controller owns one for the whole
// run; its state carries over between deliveries, so a frame may arrive in any
// number of pieces, and is cleared when an exchange starts, so that half a frame
// left by a stopped exchange cannot complete a bogus one in the next.
class AnswerAssembler {
public:
    static constexpr int kBufferSize = 6143;  // asmBuffer, indexes 0..6142
    static constexpr int kDeliveryMax = 6140; // bytes taken from one delivery

    // Consumes one delivery (rxBuffer, rxLength). PENDING until a frame ends;
    // REJECTED (crcFailed) for a frame whose checksum fails; otherwise what
    // ParseAnswer says. Bytes after the completing byte are dropped.
    ParsedAnswer AssembleAnswer(std::span<const uint8_t> delivery);
    ParsedAnswer AssembleAnswer(const ExchangeShared& shared);

    // Reads the optical reply (identification line or ACK) as 7-bit characters.
    int ReadIdentLine(std::span<const uint8_t> delivery);
    int ReadIdentLine(const ExchangeShared& shared);
    // The content of a complete identification line before its CR, so a caller
    // can tell whether it is long enough to carry the speed character.
    int identLineLength() const;

    // Forgets any partial frame or line.
    void reset();
    // Forgets any partial frame after the line's waiting bytes were thrown
    // away: until the next DLE SOH, nothing can complete a frame, so the
    // tail of a cut one is not taken for a damaged answer.
    void resync();

    const std::array<uint8_t, kBufferSize>& asmBuffer() const { return asmBuffer_; }
    int asmLength() const { return asmLength_; }
    int endPhase() const { return endPhase_; }
    bool dleSeen() const { return dleSeen_; }
    bool identStarted() const { return identStarted_; }

private:
    void store(uint8_t b);
    static std::span<const uint8_t> delivered(const ExchangeShared& shared);
    static std::span<const uint8_t> capped(std::span<const uint8_t> delivery);

    std::array<uint8_t, kBufferSize> asmBuffer_{};
    int asmLength_ = 0;
    bool dleSeen_ = false;
    int endPhase_ = 0; // 0 inside a frame, 1 after DLE ETX, 2 after the first CRC byte
    bool identStarted_ = false;
    bool synced_ = true; // false from resync() to the next DLE SOH
};

} // namespace parvault
