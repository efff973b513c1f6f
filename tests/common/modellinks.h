#pragma once

// The device simulator's model behind the controller's channel seam, on a
// clock the test moves by hand. Requests reach the model the moment they are
// sent; its answers arrive after their own delay (and the pieces' gaps), and
// on UDP a transaction runs the way the UDP thread runs it, with its pauses
// and its wait bound counted in the same manual time. No real I/O: a test's
// tick counts are exact.

#include "channel.h"
#include "devicemodel.h"
#include "ipthread.h"

#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

namespace parvault::testing {

// Microseconds of manual time.
using SimTime = int64_t;

// The pty's far end as the simulator's stream device: a request reaches the
// device when it is written; its answer becomes readable once it has crossed
// the line at the open speed, after the device's own delay.
class ModelSerialLink final : public ExchangeChannel {
public:
    ModelSerialLink(devsim::DeviceModel& model, devsim::StreamDevice::Optical optical, const SimTime& now,
                    int pieceGapMs);

    RouteKind kind() const override { return RouteKind::Serial; }
    bool carriesSignOn() const override { return true; }
    bool showsConnecting() const override { return true; }
    Delivery delivery() const override { return Delivery::Polled; }
    LinkStart connect(const LinkRequest& request) override;
    bool reopen(const ConnectionSettings& settings, ExchangeDisplay& display) override;
    void send(ExchangeShared& shared) override;
    int takeArrived(ExchangeShared& shared) override;
    void release() override;

    // The port and speed the line is open at; 0 while closed.
    int openPort() const { return baud_ != 0 ? port_ : 0; }
    int openBaud() const { return baud_; }
    int lastBaud() const { return lastBaud_; }
    int opens() const { return opens_; }
    // When each frame or line went out.
    const std::vector<SimTime>& sendTimes() const { return sendTimes_; }

private:
    struct Due {
        SimTime at;
        devsim::Bytes bytes;
    };
    void schedule(const devsim::Reply& reply, size_t requestBytes);
    SimTime lineTime(size_t bytes) const;

    devsim::DeviceModel& model_;
    devsim::StreamDevice device_;
    const SimTime& now_;
    int pieceGapMs_;
    int port_ = 0;
    int baud_ = 0;
    int lastBaud_ = 0;
    int opens_ = 0;
    std::deque<Due> due_; // in time order
    std::vector<SimTime> sendTimes_;
};

// UDP as the transaction thread runs it: one transaction per pending state,
// the pause after sending, the answer handed over by setting the state, and
// the time-out posted once the tick count reaches the wait bound.
class ModelDatagramLink final : public ExchangeChannel {
public:
    ModelDatagramLink(devsim::DeviceModel& model, const ConnectionSettings& settings, const SimTime& now,
                      UdpPauses pauses = {});
    // The exchange state the transactions hand over through and where their
    // time-outs go; set before the first send.
    void attach(ExchangeShared& shared, MessagePoster& poster);

    RouteKind kind() const override { return RouteKind::Udp; }
    bool carriesSignOn() const override { return false; }
    bool showsConnecting() const override { return false; }
    Delivery delivery() const override { return Delivery::HandedOver; }
    LinkStart connect(const LinkRequest& request) override;
    bool reopen(const ConnectionSettings&, ExchangeDisplay&) override { return true; }
    void send(ExchangeShared& shared) override;
    int takeArrived(ExchangeShared& shared) override { return shared.rxLength.load(); }
    void endDelivery() override { run_.reset(); }
    void release() override { run_.reset(); }

    // Moves the transaction on to the present moment.
    void advance();
    bool transactionRunning() const { return run_.has_value(); }
    const std::vector<SimTime>& sendTimes() const { return sendTimes_; }

private:
    enum class Phase { Look, Pause, Receive };
    struct Run {
        devsim::Bytes frame;
        int waitSeconds = 0;
        bool writeSide = false; // the read side is served until it is idle
        Phase phase = Phase::Look;
        int32_t served = 0;
        SimTime until = 0;                // the pause's end
        std::optional<SimTime> answerAt;  // the first datagram's arrival
        devsim::Bytes answer;
    };
    // One step of the transaction; false when it has to wait for time to pass.
    bool move(Run& run);
    void serve(Run& run, int32_t served);

    devsim::DeviceModel& model_;
    ExchangeShared* shared_ = nullptr;
    MessagePoster* poster_ = nullptr;
    const ConnectionSettings& settings_;
    const SimTime& now_;
    UdpPauses pauses_;
    std::optional<Run> run_;
    std::vector<SimTime> sendTimes_;
};

// Both links, picked from the settings as the real route is.
class ModelLinks final : public ChannelPicker {
public:
    ModelLinks(devsim::DeviceModel& model, const ConnectionSettings& settings,
               devsim::StreamDevice::Optical optical = {}, int pieceGapMs = 20, UdpPauses pauses = {})
        : serial(model, optical, now, pieceGapMs), datagram(model, settings, now, pauses), settings_(settings) {}

    ExchangeChannel& channelForCommand() override {
        if (settings_.useIp == 1)
            return datagram;
        return serial;
    }
    void attach(ExchangeShared& shared, MessagePoster& poster) { datagram.attach(shared, poster); }
    // Lets `ms` of manual time pass.
    void advance(int ms) { advanceMicros(SimTime{ms} * 1000); }
    void advanceMicros(SimTime us) {
        now += us;
        datagram.advance();
    }

    SimTime now = 0;
    ModelSerialLink serial;
    ModelDatagramLink datagram;

private:
    const ConnectionSettings& settings_;
};

} // namespace parvault::testing
