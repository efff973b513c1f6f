#pragma once

// The exchange controller: walks the selected rows against a device, one
// request at a time, over the serial port (directly or through the optical
// port) or over UDP, and shows what happens. It is stepped by plain calls:
// OnTimer every 25 ms, OnMessage for the posted window messages (the 100 ms
// tick among them), and the three commands. The link of each command comes
// from a ChannelPicker; the controller itself knows no transport.

#include "answer.h"
#include "channel.h"
#include "connectionsettings.h"
#include "exchangedisplay.h"
#include "exchangeevents.h"
#include "exchangeshared.h"
#include "frame.h"
#include "rowtable.h"

#include <QString>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace parvault {

inline constexpr int kFirstPassLimit = 300; // parameter numbers below it are served first

// The answer wait, in 100 ms ticks per second of the settings' waitSeconds.
inline constexpr int64_t kAnswerTicksPerWaitSecond = 10;
// The optical port's waits are twice the answer wait: ticks per waitSeconds.
inline constexpr int64_t kOpticTicksPerWaitSecond = 20;

// The controller's waits, in 100 ms ticks per second of the settings'
// waitSeconds. Each exchange may have its own; the defaults are the
// program's.
struct AnswerWaits {
    int64_t answerTicksPerWaitSecond = kAnswerTicksPerWaitSecond;
    int64_t opticTicksPerWaitSecond = kOpticTicksPerWaitSecond;
};

// The optical sign-on's states, held in ExchangeShared::opticState.
enum OpticState : int32_t {
    OPTIC_SIGN_ON = 0,            // the sign-on goes out at the next step
    OPTIC_AWAIT_IDENT = 1,        // sign-on sent, waiting for the identification line
    OPTIC_AWAIT_IDENT_AGAIN = 7,  // sign-on sent again: the last wait for it
    OPTIC_AWAIT_ACK = 9,          // option select sent, waiting for the acknowledgement
    OPTIC_AWAIT_ACK_AGAIN = 11,   // option select sent again: the last wait for it
    OPTIC_SENDING = 13,           // a sign-on is being laid out and sent
    OPTIC_IDLE = STATE_IDLE,
};

// How requests follow answers. By default at most one request goes out per
// 25 ms step and an answer is taken at a later step. Fast pacing is for an
// owner that steps the machines as often as it can (paceStep): the next
// request goes as soon as the answer is taken, after `gapMs` of quiet for
// devices that need it. Waits, resends and outcomes stay the same.
struct Pacing {
    bool fast = false;
    int gapMs = 0;
    std::function<std::chrono::steady_clock::time_point()> clock; // steady_clock when empty
};

struct ExchangeContext {
    ExchangeShared& shared;
    ConnectionSettings& settings;
    RowTable& rows;
    ExchangeDisplay& display;
    ChannelPicker& channels; // the link of each command
    MessagePoster& poster;
    uint32_t localIp = 0;
    // Reopens the list file of the current list (or the main database) before
    // a write, so that a later value save pairs rows with the right file.
    std::function<void()> reopenDatabase;
    // The local address for UDP, asked again at each UDP exchange so that a
    // network change needs no restart. Without it localIp stays as given.
    std::function<uint32_t()> localAddress;
    AnswerWaits waits = {};
    Pacing pacing = {};
    // Told of resends, time-outs, set-aside answers and the like; may be null.
    ExchangeEvents* events = nullptr;
};

class ExchangeController : public FrameSink {
public:
    explicit ExchangeController(ExchangeContext context);
    ~ExchangeController() override;

    // Commands.
    void OnReadCommand();
    void OnWriteCommand();
    void StopExchange();

    // Every 25 ms.
    void OnTimer();
    // With fast pacing, as often as the owner can: the 25 ms step, and the
    // write machine's step without counting a tick.
    void paceStep();
    bool fastPace() const { return ctx_.pacing.fast; }
    // The posted window messages: MSG_READ_TIMEOUT, MSG_WRITE_*, MSG_TICK.
    void OnMessage(int message);

    void OnReadTimeout();
    void OnWriteTick();
    void OnWriteAnswer();
    void OnWriteTimeout();
    void OnWriteEnd();
    void EndExchange();

    int FindNextRow() const;
    // The exchange's rows are still the ones it started on and `row` is one
    // of them; otherwise the exchange is ended as Stop ends it (the list was
    // replaced under it) and false comes back.
    bool keepRow(int row);

    // FrameSink: a finished txFrame goes to the command's channel.
    void send(ExchangeShared& shared) override;

    // State, for the window and for tests.
    int curRow() const { return curRow_; }
    int rowsLeft() const { return rowsLeft_; }
    int selectedTotal() const { return selectedTotal_; }
    int percentDone() const { return percentDone_; }
    int secondPass() const { return secondPass_; }
    int opticNext() const { return opticNext_; }
    int writeTicks() const { return writeTicks_; }
    bool busy() const;
    // The row's read answer failed its checksum in the last exchange.
    bool crcFailed(int row) const;
    const AnswerAssembler& assembler() const { return assembler_; }

private:
    enum class Pending { Read = 1, Write = 3 };
    enum class Verdict { Accepted, Rejected, Wait };
    // What one write step did.
    enum class WriteStep {
        Sent,         // a request went out for the row
        NoRowLeft,    // every selected row is done
        ValueTooLong, // the row's value does not fit a write request; nothing sent
    };

    bool useOptoport() const { return ctx_.settings.useOptoport == 1; }
    bool linkExpired() const { return ctx_.shared.linkIdleTicks.load() > kLinkIdleExpired; }
    // In 64 bits: a foreign settings file may hold any wait, and the product
    // must not overflow.
    int64_t readLimitTicks() const { return ctx_.settings.waitSeconds * ctx_.waits.answerTicksPerWaitSecond; }
    int64_t opticLimitTicks() const { return ctx_.settings.waitSeconds * ctx_.waits.opticTicksPerWaitSecond; }

    void connectSequence(Pending next);
    // Whether the link has an answer for a machine standing in `state`.
    bool answerDue(int32_t state);
    // A handed-over write answer is marked busy, so that the next step does
    // not take it again while its message waits to be handled.
    void holdWriteAnswer();
    // What arrived decided nothing: wait on, as in `sentState`, for more, a
    // resend or the time-out.
    void waitOn(std::atomic<int32_t>& state, int32_t sentState);
    void startPending();
    bool advanceReadRow();
    void stepReadMachine();
    void sendReadRequest(int32_t nextState);
    void handleReadAnswer();
    // Assembles what arrived and judges it for the current row, putting the
    // answer's texts into the row when they are its own.
    Verdict takeAnswer(bool* crcFailed = nullptr);
    WriteStep BuildWriteRequest(int& row);
    bool isWanted(int row) const;
    void showPercent();
    void beginExchange();
    void showFinalStatus();
    void opticStep();
    void releaseChannel();
    // Takes the channel for a new command, letting go of another one the
    // previous command used.
    void pickChannel();
    ExchangeChannel& link();
    void finishWriteRow(int icon);
    // One step of the write machine; the 100 ms tick counts towards its waits.
    void stepWriteMachine(bool tick);
    // Fast pacing: whether the quiet time after the last answer has passed.
    bool quietAfterAnswer() const;
    void noteAnswerTaken();
    // Before a row's first request: bytes still waiting from earlier ones go.
    void discardStale();
    void Note(ExchangeEvent kind, int64_t a = 0, int64_t b = 0) {
        if (ctx_.events)
            ctx_.events->event(kind, a, b);
    }

    ExchangeContext ctx_;
    ExchangeChannel* channel_ = nullptr; // the current command's link
    AnswerAssembler assembler_;
    int curRow_ = 0;
    int rowCount_ = 0;
    int rowsLeft_ = 0;
    int selectedTotal_ = 0;
    int percentDone_ = 0;
    int secondPass_ = 0;
    int writeTicks_ = 0;
    std::chrono::steady_clock::time_point lastAnswerAt_{};
    int opticNext_ = 1;
    // What the last request sent asks, which its answer must repeat.
    std::optional<RequestEcho> lastRequest_;
    int32_t readSentState_ = STATE_SENT_1;  // state of the last read request sent
    int32_t writeSentState_ = STATE_SENT_1; // likewise for writes
    // A write answer message is posted and not yet handled: no new port read
    // may overwrite rxBuffer before it is parsed.
    bool writeAnswerOutstanding_ = false;
    std::vector<int> tooLongRows_; // rows refused before sending, this exchange
    std::vector<int> crcFailedRows_; // rows read whose answer failed its checksum, this exchange
};

} // namespace parvault
