#pragma once

// Records what crosses the channel seam into an exchange log: each frame
// sent, each delivery taken, and the link's own steps. It wraps whatever
// channel the controller was given, so one recorder serves every route.

#include "channel.h"
#include "exchangelog.h"

#include <map>
#include <memory>

namespace parvault {

class RecordingChannel final : public ExchangeChannel {
public:
    RecordingChannel(ExchangeChannel& inner, ExchangeLog& log) : inner_(inner), log_(log) {}

    RouteKind kind() const override { return inner_.kind(); }
    bool carriesSignOn() const override { return inner_.carriesSignOn(); }
    bool showsConnecting() const override { return inner_.showsConnecting(); }
    Delivery delivery() const override { return inner_.delivery(); }
    LinkStart connect(const LinkRequest& request) override;
    bool reopen(const ConnectionSettings& settings, ExchangeDisplay& display) override;
    void send(ExchangeShared& shared) override;
    int takeArrived(ExchangeShared& shared) override;
    int discardWaiting(ExchangeShared& shared) override;
    void endDelivery() override { inner_.endDelivery(); }
    void release() override;

    const QString& route() const { return route_; }

private:
    ExchangeChannel& inner_;
    ExchangeLog& log_;
    QString port_;  // "COM7", or the UDP peer
    QString route_; // the port with its speed, as frames are shown
    bool open_ = false;
};

// Hands the controller a recording wrapper around each channel the wrapped
// picker chooses; the same wrapper every time for the same channel.
class RecordingPicker final : public ChannelPicker {
public:
    RecordingPicker(ChannelPicker& inner, ExchangeLog& log) : inner_(inner), log_(log) {}
    ExchangeChannel& channelForCommand() override;

private:
    ChannelPicker& inner_;
    ExchangeLog& log_;
    std::map<ExchangeChannel*, std::unique_ptr<RecordingChannel>> wrappers_;
};

} // namespace parvault
