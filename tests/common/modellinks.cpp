#include "modellinks.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace parvault::testing {

namespace {

devsim::Bytes laidOutFrame(const ExchangeShared& shared) {
    const int length = std::min(shared.txLength(), kTxFrameMax);
    return devsim::Bytes(shared.txFrame.begin() + 2, shared.txFrame.begin() + 2 + length);
}

bool isPending(int32_t state) {
    return state == STATE_SENT_1 || state == STATE_SENT_2 || state == STATE_SENT_3;
}

SimTime millis(int ms) { return SimTime{ms} * 1000; }

} // namespace

// ---------------------------------------------------------------- serial

ModelSerialLink::ModelSerialLink(devsim::DeviceModel& model, devsim::StreamDevice::Optical optical,
                                 const SimTime& now, int pieceGapMs)
    : model_(model), device_(model, optical), now_(now), pieceGapMs_(pieceGapMs) {}

LinkStart ModelSerialLink::connect(const LinkRequest& request) {
    if (!reopen(request.opening(), request.display))
        return LinkStart::Failed;
    return request.signOn ? LinkStart::SignOn : LinkStart::Now;
}

bool ModelSerialLink::reopen(const ConnectionSettings& settings, ExchangeDisplay& display) {
    const auto port = settings.chosenPortNumber();
    const auto baud = settings.baudRate();
    // Opening discards what had arrived on the line.
    while (!due_.empty() && due_.front().at <= now_)
        due_.pop_front();
    if (!port || !baud) {
        baud_ = 0;
        display.setPortStatusText(texts::NoPort);
        display.setPortStatusToolTip(texts::NoPortChosen);
        return false;
    }
    port_ = *port;
    baud_ = *baud;
    lastBaud_ = *baud;
    ++opens_;
    display.setPortStatusText(texts::Blank);
    display.setPortStatusToolTip(QString());
    return true;
}

void ModelSerialLink::send(ExchangeShared& shared) {
    if (baud_ == 0)
        return;
    const devsim::Bytes frame = laidOutFrame(shared);
    sendTimes_.push_back(now_);
    for (const auto& reply : device_.feed(frame, baud_))
        schedule(reply, frame.size());
}

// Ten bit times a byte at the line's speed.
SimTime ModelSerialLink::lineTime(size_t bytes) const {
    return static_cast<SimTime>(bytes) * 10 * 1000000 / std::max(baud_, 1);
}

void ModelSerialLink::schedule(const devsim::Reply& reply, size_t requestBytes) {
    model_.logOutgoing("pty", reply.bytes);
    const size_t size = reply.bytes.size();
    const size_t pieces = std::clamp<size_t>(static_cast<size_t>(std::max(reply.pieces, 1)), 1,
                                             std::max<size_t>(size, 1));
    for (size_t k = 0; k < pieces; ++k) {
        // A piece is readable once the request and the answer up to its end have crossed the line.
        const size_t through = requestBytes + size * (k + 1) / pieces;
        Due d{now_ + lineTime(through) + millis(reply.delayMs) + millis(pieceGapMs_) * static_cast<SimTime>(k),
              devsim::Bytes(reply.bytes.begin() + static_cast<std::ptrdiff_t>(size * k / pieces),
                            reply.bytes.begin() + static_cast<std::ptrdiff_t>(size * (k + 1) / pieces))};
        const auto at = std::upper_bound(due_.begin(), due_.end(), d.at,
                                         [](SimTime t, const Due& q) { return t < q.at; });
        due_.insert(at, std::move(d));
    }
}

int ModelSerialLink::takeArrived(ExchangeShared& shared) {
    size_t n = 0;
    while (baud_ != 0 && !due_.empty() && due_.front().at <= now_ && n < size_t{kRxReadMax}) {
        auto& bytes = due_.front().bytes;
        const size_t take = std::min(bytes.size(), size_t{kRxReadMax} - n);
        std::copy_n(bytes.begin(), take, shared.rxBuffer.begin() + static_cast<std::ptrdiff_t>(n));
        n += take;
        bytes.erase(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(take));
        if (bytes.empty())
            due_.pop_front();
    }
    shared.rxBuffer[n] = 0;
    shared.rxLength = static_cast<int>(n);
    return static_cast<int>(n);
}

void ModelSerialLink::release() { baud_ = 0; }

// ---------------------------------------------------------------- datagrams

ModelDatagramLink::ModelDatagramLink(devsim::DeviceModel& model, const ConnectionSettings& settings,
                                     const SimTime& now, UdpPauses pauses)
    : model_(model), settings_(settings), now_(now), pauses_(pauses) {}

void ModelDatagramLink::attach(ExchangeShared& shared, MessagePoster& poster) {
    shared_ = &shared;
    poster_ = &poster;
}

LinkStart ModelDatagramLink::connect(const LinkRequest& request) {
    request.display.setPortStatusText(texts::Blank);
    request.display.setPortStatusToolTip(QString());
    return LinkStart::Now;
}

void ModelDatagramLink::send(ExchangeShared& shared) {
    // Each request is a transaction of its own, as each starts a new thread.
    run_.emplace();
    run_->frame = laidOutFrame(shared);
    run_->waitSeconds = settings_.waitSeconds;
    advance();
}

void ModelDatagramLink::advance() {
    // Bounded: with no pause and no wait a transaction would go round at once.
    for (int moves = 0; run_ && moves < 64 && move(*run_); ++moves) {
    }
}

void ModelDatagramLink::serve(Run& run, int32_t served) {
    run.served = served;
    sendTimes_.push_back(now_);
    run.answerAt.reset();
    run.answer.clear();
    if (auto reply = model_.handleFrame(run.frame, "udp")) {
        model_.logOutgoing("udp", reply->bytes);
        // The first piece is the datagram the receive takes.
        const size_t pieces = std::clamp<size_t>(static_cast<size_t>(std::max(reply->pieces, 1)), 1,
                                                 std::max<size_t>(reply->bytes.size(), 1));
        run.answer.assign(reply->bytes.begin(),
                          reply->bytes.begin() + static_cast<std::ptrdiff_t>(reply->bytes.size() / pieces));
        run.answerAt = now_ + millis(reply->delayMs);
    }
    run.phase = Phase::Pause;
    run.until = now_ + millis(run.writeSide ? pauses_.writePauseMs : pauses_.readPauseMs);
}

bool ModelDatagramLink::move(Run& run) {
    switch (run.phase) {
    case Phase::Look: {
        if (!run.writeSide) {
            const int32_t state = shared_->readState.load();
            if (state == STATE_IDLE) {
                run.writeSide = true;
                return true;
            }
            if (!isPending(state))
                return false;
            serve(run, state);
            return true;
        }
        const int32_t state = shared_->writeState.load();
        if (state == STATE_IDLE) {
            run_.reset(); // the thread has finished
            return false;
        }
        if (!isPending(state))
            return false;
        shared_->writeState = state + STATE_BUSY_FLAG;
        serve(run, state + STATE_BUSY_FLAG);
        return true;
    }
    case Phase::Pause:
        if (now_ < run.until)
            return false;
        shared_->rxBuffer[0] = 0;
        shared_->rxBuffer[1] = 0;
        shared_->waitTicks = 0;
        run.phase = Phase::Receive;
        return true;
    case Phase::Receive: {
        std::atomic<int32_t>& state = run.writeSide ? shared_->writeState : shared_->readState;
        if (run.answerAt && *run.answerAt <= now_ && run.answer.size() <= size_t{kRxReadMax}) {
            std::memcpy(shared_->rxBuffer.data(), run.answer.data(), run.answer.size());
            shared_->rxBuffer[run.answer.size()] = 0;
            shared_->rxLength = static_cast<int>(run.answer.size());
            int32_t expected = run.served;
            state.compare_exchange_strong(expected, STATE_UDP_ANSWER);
            run.phase = Phase::Look;
            return true;
        }
        if (shared_->waitTicks.load() >= int64_t{run.waitSeconds} * kUdpTicksPerWaitSecond) {
            shared_->lastSocketError = ETIMEDOUT;
            poster_->post(run.writeSide ? MSG_WRITE_TIMEOUT : MSG_READ_TIMEOUT);
            run.phase = Phase::Look;
            return true;
        }
        return false;
    }
    }
    return false;
}

} // namespace parvault::testing
