#pragma once

// The seam between the exchange controller and a link to the device. The
// controller lays out a frame in txFrame, hands it to the channel, and asks
// the channel for what has arrived; everything that differs between a
// polled serial line and a UDP transaction thread lives behind this
// interface, so the controller's machines read the same for both. The
// machines' state words are the controller's own: a link answers questions
// about itself and never writes them.

#include "connectionsettings.h"
#include "exchangedisplay.h"
#include "exchangeshared.h"

#include <atomic>
#include <cstdint>
#include <functional>

namespace parvault {

// The optical port wakes up at 300 baud, whatever speed is configured: the
// sign-on goes out at this speed index, and the identification names the next.
inline constexpr int32_t kOpticSignOnSpeedIndex = 0;

// How a command goes on once its link is prepared.
enum class LinkStart {
    Now,     // the first request may go out at the next step
    SignOn,  // the optical sign-on runs first
    Failed,  // no link: the command ends here, the port status says why
};

// What a link needs to know when a command begins.
struct LinkRequest {
    const ConnectionSettings& settings;
    ExchangeDisplay& display;
    // The optical sign-on runs first (the link carries it and it is stale):
    // the line opens at kOpticSignOnSpeedIndex.
    bool signOn = false;
    // Where this exchange's datagrams go out from; asked only by a link that
    // sends datagrams, since the answer may take a host-name lookup.
    std::function<uint32_t()> localIp;

    // The settings the line opens with for this command.
    ConnectionSettings opening() const {
        ConnectionSettings s = settings;
        if (signOn)
            s.speedIndex = kOpticSignOnSpeedIndex;
        return s;
    }
};

// Which route a link is, for those that name it (the exchange log).
enum class RouteKind { Serial, Udp, DeviceServer };

// How an answer reaches the controller.
enum class Delivery {
    // Read from the link while a request is out (STATE_SENT_1..3).
    Polled,
    // Stored in rxBuffer by a transaction thread, which then sets the
    // machine's state to STATE_UDP_ANSWER.
    HandedOver,
};

class ExchangeChannel {
public:
    virtual ~ExchangeChannel() = default;

    virtual RouteKind kind() const = 0;
    // Whether the optical sign-on runs over this link.
    virtual bool carriesSignOn() const = 0;
    // Whether the progress shows "connecting" while the link is prepared.
    virtual bool showsConnecting() const = 0;
    virtual Delivery delivery() const = 0;

    // Prepares the link for a read or write command.
    virtual LinkStart connect(const LinkRequest& request) = 0;
    // Opens the link again at the speed the settings now name (after the
    // optical sign-on chose one); false when it cannot be opened.
    virtual bool reopen(const ConnectionSettings& settings, ExchangeDisplay& display) = 0;
    // Sends the frame laid out in shared.txFrame.
    virtual void send(ExchangeShared& shared) = 0;

    // Puts what has arrived into rxBuffer and rxLength; the byte count, 0
    // when nothing came.
    virtual int takeArrived(ExchangeShared& shared) = 0;
    // Before the first request for a row: takes what still waits on the link
    // from earlier requests (answers that came too late) into rxBuffer and
    // rxLength, to be thrown away; the byte count, 0 when nothing waited. A
    // link that keeps nothing between requests has nothing to give.
    virtual int discardWaiting(ExchangeShared&) { return 0; }
    // A handed-over answer decided nothing: let go of what delivered it, so
    // that the request may wait on for more, a resend or the time-out.
    virtual void endDelivery() {}

    // The exchange is over: let go of the link.
    virtual void release() = 0;
};

// Gives the controller the channel for a command, chosen from the settings
// at the moment the command starts.
class ChannelPicker {
public:
    virtual ~ChannelPicker() = default;
    virtual ExchangeChannel& channelForCommand() = 0;
};

} // namespace parvault
