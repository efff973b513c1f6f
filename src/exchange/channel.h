#pragma once

// The seam between the exchange controller and a link to the device. The
// controller lays out a frame in txFrame, hands it to the channel, and asks
// the channel for what has arrived; everything that differs between a
// polled serial line and a UDP transaction thread lives behind this
// interface, so the controller's machines read the same for both.

#include "connectionsettings.h"
#include "exchangedisplay.h"
#include "exchangeshared.h"

#include <atomic>
#include <cstdint>
#include <functional>

namespace parvault {

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
    bool linkExpired = false; // the optical sign-on is stale
    // Where this exchange's datagrams go out from; asked only by a link that
    // sends datagrams, since the answer may take a host-name lookup.
    std::function<uint32_t()> localIp;
};

class ExchangeChannel {
public:
    virtual ~ExchangeChannel() = default;

    // Prepares the link for a read or write command.
    virtual LinkStart connect(const LinkRequest& request) = 0;
    // Opens the link again at the speed the settings now name (after the
    // optical sign-on chose one); false when it cannot be opened.
    virtual bool reopen(const ConnectionSettings& settings, ExchangeDisplay& display) = 0;
    // Sends the frame laid out in shared.txFrame.
    virtual void send(ExchangeShared& shared) = 0;

    // Whether a machine standing in `state` should look for an answer now.
    virtual bool answerDue(int32_t state) const = 0;
    // Puts what has arrived into rxBuffer and rxLength; the byte count, 0
    // when nothing came.
    virtual int takeArrived(ExchangeShared& shared) = 0;
    // Before the first request for a row: takes what still waits on the link
    // from earlier requests (answers that came too late) into rxBuffer and
    // rxLength, to be thrown away; the byte count, 0 when nothing waited. A
    // link that keeps nothing between requests has nothing to give.
    virtual int discardWaiting(ExchangeShared&) { return 0; }
    // The read machine's state as its switch sees it.
    virtual int32_t machineState(int32_t state) const = 0;
    // A write answer was taken and its message is posted: keep the link from
    // handing over anything else for the write side until it is handled.
    virtual void holdWriteAnswer(std::atomic<int32_t>& writeState) = 0;
    // What arrived decided nothing: wait on, as in `sentState`, for more, a
    // resend or the time-out.
    virtual void resumeWaiting(std::atomic<int32_t>& state, int32_t sentState) = 0;

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
