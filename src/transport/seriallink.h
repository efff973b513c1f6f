#pragma once

#include "channel.h"
#include "serialchannel.h"

namespace parvault {

inline constexpr uint8_t kLinesDtrRts = kLineDtr | kLineRts; // raised on every open

// The serial port as an exchange channel: the port is opened for each
// command (at 300 baud first when the optical port needs a fresh sign-on)
// and polled for bytes while a request is out.
class SerialLink final : public ExchangeChannel {
public:
    explicit SerialLink(SerialChannel& port) : port_(port) {}

    LinkStart connect(const LinkRequest& request) override;
    bool reopen(const ConnectionSettings& settings, ExchangeDisplay& display) override;
    void send(ExchangeShared& shared) override;
    bool answerDue(int32_t state) const override;
    int takeArrived(ExchangeShared& shared) override;
    int discardWaiting(ExchangeShared& shared) override { return takeArrived(shared); }
    int32_t machineState(int32_t state) const override { return state; }
    // A serial write keeps its resend and time-out running while its answer
    // is parsed; the controller reads no more until then.
    void holdWriteAnswer(std::atomic<int32_t>&) override {}
    // The port is polled again at the next step in the same state.
    void resumeWaiting(std::atomic<int32_t>&, int32_t) override {}
    void release() override;

    SerialChannel& port() { return port_; }

private:
    SerialChannel& port_;
};

} // namespace parvault
