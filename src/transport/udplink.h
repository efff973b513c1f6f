#pragma once

#include "channel.h"
#include "ipthread.h"

namespace parvault {

// UDP as an exchange channel: each frame goes out on a transaction thread
// of its own, which hands the answer over by setting the machine's state to
// STATE_UDP_ANSWER.
class UdpLink final : public ExchangeChannel {
public:
    UdpLink(UdpChannel& udp, const ConnectionSettings& settings) : udp_(udp), settings_(settings) {}

    // Nothing to open: the port status is cleared and the command starts.
    LinkStart connect(const LinkRequest& request) override;
    bool reopen(const ConnectionSettings&, ExchangeDisplay&) override { return true; }
    void send(ExchangeShared& shared) override;
    bool answerDue(int32_t state) const override { return state == STATE_UDP_ANSWER; }
    // The thread has already stored the datagram; an empty one is no answer.
    int takeArrived(ExchangeShared& shared) override { return shared.rxLength.load(); }
    int32_t machineState(int32_t state) const override { return state & 0xFF; }
    // The taken state is marked busy so the next step does not hand it over again.
    void holdWriteAnswer(std::atomic<int32_t>& writeState) override;
    // The thread that delivered it is done with: drop it and wait in the
    // state the request was sent in.
    void resumeWaiting(std::atomic<int32_t>& state, int32_t sentState) override;
    void release() override { udp_.endUdpExchange(); }

    UdpChannel& channel() { return udp_; }

private:
    UdpChannel& udp_;
    const ConnectionSettings& settings_; // read at each send: the target as it is then
    uint32_t localIp_ = 0;
};

} // namespace parvault
