#pragma once

#include "exchangeshared.h"
#include "portnaming.h"

#include <QString>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace parvault {

// Operation codes of ComPortRequest.
enum ComOperation : unsigned {
    COM_OPEN = 0,
    COM_WRITE = 1,
    COM_READ = 2,
    COM_SET_LINES = 5,
    COM_CLOSE = 6,
    COM_WRITER_BUSY = 7,
    COM_MODEM_STATUS = 8,
    COM_STATUS_TEXT = 9, // and every code above
};

// Results of ComOpen.
enum ComOpenResult : int {
    COM_OPEN_OK = 0,        // opened, or the port asked for is the one open (0 while closed)
    COM_OPEN_BUSY = 1,      // another port is open
    COM_OPEN_FAILED = 3,    // the device cannot be opened
    COM_OPEN_NO_STOP = 4,   // the writer's stop signal cannot be made
};

// Why the device of a port could not be opened (COM_OPEN_FAILED), in the
// terms a user can act on. Mapped from the system's error code in one place
// (openFailureFromSystemError).
enum class ComOpenFailure {
    None,         // the last open worked, or none has been tried
    NoPortNumber, // the number names no device: no link, outside the built-in families
    NoDevice,     // the device (or the link's target) is not there: adapter unplugged
    NoPermission, // the user may not open the device (not in its group, usually dialout)
    Busy,         // another program holds the port
    NotTerminal,  // the path is no serial device
    Other,        // anything else; the system's own text says what
};

// The last failed open: what went wrong, with what it needs to be explained.
struct ComOpenError {
    ComOpenFailure failure = ComOpenFailure::None;
    int error = 0;        // the failing call's errno (GetLastError() on Windows), 0 when none
    uint16_t port = 0;    // the N of COMN asked for
    std::string device;   // the path that was opened (a link or /dev/...)
    std::string group;    // the group owning the device, when permission was refused
};

ComOpenFailure openFailureFromSystemError(int error);
// The system's own text for an error code of ComOpenError::error.
QString systemErrorText(int error);

// A short Russian reason for an open failure, e.g. "нет прав на устройство
// /dev/ttyUSB0: пользователь не входит в группу dialout"; empty for None.
QString comOpenFailureText(const ComOpenError& error);

inline constexpr uint8_t kLineDtr = 0x01;
inline constexpr uint8_t kLineRts = 0x02;

inline constexpr int kWriterStopWaitMs = 5000; // how long ComClose waits for a writer

// The buffers the channel reads from and writes into: the same shapes as
// ExchangeShared::txFrame and rxBuffer.
using TxFrameBlock = std::array<uint8_t, 2 + kTxFrameMax>;
using RxBufferBlock = std::array<uint8_t, kRxReadMax + 1>;

// Parameter block of COM_OPEN.
struct ComOpenBlock {
    uint16_t port = 0;  // the N of COMN
    uint32_t speed = 0; // baud
};

// The serial port channel: one per process, used from the user-interface
// thread only. Writes run on a short-lived writer thread (MyTrend) so a slow
// line never blocks the caller; reads return at once with what is queued.
// Results are the small integer codes the exchange controller expects.
class SerialChannel {
public:
    explicit SerialChannel(PortNaming naming = defaultPortNaming());
    ~SerialChannel(); // closes the port
    SerialChannel(const SerialChannel&) = delete;
    SerialChannel& operator=(const SerialChannel&) = delete;

    // The entry point: dispatches op to the operations below and stores the
    // outcome in result. Always returns 1. Blocks by op: COM_OPEN ComOpenBlock*,
    // COM_WRITE TxFrameBlock*, COM_READ RxBufferBlock*, COM_SET_LINES uint8_t*,
    // COM_MODEM_STATUS uint32_t*, COM_STATUS_TEXT std::string*. Codes 3 and 4
    // leave result unchanged.
    int request(unsigned op, int& result, void* block);

    int open(uint16_t port, uint32_t speed);
    // Starts a writer for the frame (length low byte first, then the bytes).
    // The bytes are copied, so the caller may reuse the block at once.
    int write(const TxFrameBlock& txFrame);
    // Bytes read (0..kRxReadMax), followed by a zero byte in the buffer.
    int read(RxBufferBlock& rxBuffer);
    int setLines(uint8_t lineFlags);
    // Puts back the line settings found at the open and gives up exclusive use.
    int close();
    int writerBusy();
    int modemStatus(uint32_t& status);
    int statusText(std::string& text);

    // Why the last open() that reported COM_OPEN_FAILED failed; failure None
    // after an open that worked. A close leaves it as it is.
    const ComOpenError& lastOpenError() const { return lastOpenError_; }
    uint16_t openPort() const { return openPort_; }
    uint32_t openSpeed() const { return openSpeed_; }
    const PortNaming& naming() const { return naming_; }

private:
    // The system's handles and saved line settings: one definition per system.
    struct Private;
    bool isOpen() const;

    PortNaming naming_;
    uint16_t openPort_ = 0;
    uint32_t openSpeed_ = 0;
    ComOpenError lastOpenError_;
    std::unique_ptr<Private> d_;
};

// The operations under the names the exchange uses; each delegates to the channel.
int ComPortRequest(SerialChannel& channel, unsigned op, int& result, void* block);
int ComOpen(SerialChannel& channel, uint16_t port, uint32_t speed);
int ComWrite(SerialChannel& channel, const TxFrameBlock& txFrame);
int ComRead(SerialChannel& channel, RxBufferBlock& rxBuffer);
int ComSetLines(SerialChannel& channel, uint8_t lineFlags);
int ComClose(SerialChannel& channel);
int ComWriterBusy(SerialChannel& channel);
int ComModemStatus(SerialChannel& channel, uint32_t& status);
int ComStatusText(SerialChannel& channel, std::string& text);

// The port numbers this process holds open, in any channel.
std::vector<int> portsHeldOpen();
// Kept by the channels as they open and close ports.
void notePortHeld(int port, bool held);

// The reason the channel's last open failed, for the port status tooltip and
// the command line's message; empty when the last open did not fail.
QString comOpenFailureText(const SerialChannel& channel);

} // namespace parvault
