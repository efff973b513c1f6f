#pragma once

#include <array>
#include <atomic>
#include <cstdint>

namespace parvault {

// Window messages of the exchange; the window maps each to a custom event
// type with the same number, handled before anything else.
enum ExchangeMessage : int {
    MSG_READ_TIMEOUT = 1134,
    MSG_WRITE_TIMEOUT = 1144,
    MSG_WRITE_ANSWER = 1145,
    MSG_WRITE_END = 1146,
    MSG_TICK = 1147,
};

// Thread message telling a serial writer thread to write txFrame.
inline constexpr int MSG_WRITE_FRAME = 1282;

// States shared by the read and write machines.
enum ExchangeState : int32_t {
    STATE_START = 0,
    STATE_SENT_1 = 1,
    STATE_SENT_2 = 3,
    STATE_SENT_3 = 7,
    STATE_UDP_ANSWER = 9, // the UDP thread has stored an answer in rxBuffer
    STATE_STEP = 11,
    STATE_TIMEOUT = 13,
    STATE_IDLE = 15,
    STATE_BUSY_FLAG = 0x100, // added while an answer is being processed
};

inline constexpr int kTxFrameMax = 6142;   // frame bytes txFrame can hold
inline constexpr int kRxReadMax = 6144;    // bytes one transport read may deliver
inline constexpr int kTickMs = 100;        // the periodic tick
inline constexpr int kExchangeTimerMs = 25; // the window's exchange step
inline constexpr int kLinkIdleExpired = 1200; // ticks after which the optical sign-on is stale

// Receives the window messages that other threads post (the tick thread, the
// UDP thread). The window implements it with posted events; tests record them.
class MessagePoster {
public:
    virtual ~MessagePoster() = default;
    virtual void post(int message) = 0;
};

// The exchange state the window owns and shares with the tick thread and the
// transports. Every value another thread touches is atomic; the buffers are
// handed over by state value (the writer fills them before it sets the state).
struct ExchangeShared {
    std::atomic<int32_t> readState{STATE_IDLE};
    std::atomic<int32_t> writeState{STATE_IDLE};
    std::atomic<int32_t> opticState{STATE_IDLE};
    std::atomic<int32_t> waitTicks{0};
    std::atomic<int32_t> linkIdleTicks{kLinkIdleExpired};
    std::atomic<int32_t> lastSocketError{0};

    // Length (uint16, low byte first) then the frame bytes.
    std::array<uint8_t, 2 + kTxFrameMax> txFrame{};
    // Received bytes plus a terminating zero.
    std::array<uint8_t, kRxReadMax + 1> rxBuffer{};
    std::atomic<int32_t> rxLength{0};

    // One 100 ms tick, run on the tick thread (the wait cursor keeps its own pacing).
    void TickCallback(MessagePoster& window) {
        waitTicks.fetch_add(1, std::memory_order_relaxed);
        linkIdleTicks.fetch_add(1, std::memory_order_relaxed);
        window.post(MSG_TICK);
    }

    int txLength() const { return txFrame[0] | (txFrame[1] << 8); }
};

} // namespace parvault
