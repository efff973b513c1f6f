#include "controller.h"

#include "requests.h"

#include <algorithm>
#include <cmath>

namespace parvault {

namespace {

int percentOf(int rowsLeft, int selectedTotal) {
    if (selectedTotal <= 0)
        return 100;
    return 100 - static_cast<int>(std::trunc(static_cast<double>(rowsLeft) / selectedTotal * 100.0));
}

} // namespace

ExchangeController::ExchangeController(ExchangeContext context) : ctx_(std::move(context)) {}

ExchangeController::~ExchangeController() = default;

bool ExchangeController::crcFailed(int row) const {
    return std::find(crcFailedRows_.begin(), crcFailedRows_.end(), row) != crcFailedRows_.end();
}

bool ExchangeController::busy() const {
    return ctx_.shared.readState.load() != STATE_IDLE ||
           ctx_.shared.writeState.load() != STATE_IDLE ||
           ctx_.shared.opticState.load() != STATE_IDLE;
}

// ---------------------------------------------------------------- channels

ExchangeChannel& ExchangeController::link() {
    if (!channel_)
        channel_ = &ctx_.channels.channelForCommand();
    return *channel_;
}

void ExchangeController::pickChannel() {
    ExchangeChannel& next = ctx_.channels.channelForCommand();
    if (channel_ && channel_ != &next)
        channel_->release();
    channel_ = &next;
}

void ExchangeController::send(ExchangeShared& shared) {
    const int length = std::min(shared.txLength(), kTxFrameMax);
    lastRequest_ = echoOfRequest(std::span<const uint8_t>(shared.txFrame.data() + 2, static_cast<size_t>(length)));
    link().send(shared);
}

void ExchangeController::discardStale() {
    // Bounded: a line that never stops sending must not hold the request back.
    constexpr int kMaxDiscardReads = 8;
    int total = 0;
    for (int k = 0; k < kMaxDiscardReads; ++k) {
        const int n = link().discardWaiting(ctx_.shared);
        if (n <= 0)
            break;
        total += n;
    }
    if (total > 0) {
        Note(ExchangeEvent::Discarded, total);
        assembler_.resync();
    }
}

void ExchangeController::releaseChannel() { link().release(); }

bool ExchangeController::answerDue(int32_t state) {
    if (link().delivery() == Delivery::HandedOver)
        return state == STATE_UDP_ANSWER;
    // Bytes are looked for while any of the three requests is out.
    return state == STATE_SENT_1 || state == STATE_SENT_2 || state == STATE_SENT_3;
}

void ExchangeController::holdWriteAnswer() {
    // A polled write keeps its resend and time-out running while its answer
    // is parsed; writeAnswerOutstanding_ keeps the port from being read.
    if (link().delivery() == Delivery::HandedOver)
        ctx_.shared.writeState = ctx_.shared.writeState.load() + STATE_BUSY_FLAG;
}

void ExchangeController::waitOn(std::atomic<int32_t>& state, int32_t sentState) {
    // A polled link is looked at again at the next step in the same state.
    if (link().delivery() != Delivery::HandedOver)
        return;
    // The transaction that delivered is done with; a new one starts from
    // the state the request was sent in.
    link().endDelivery();
    state = sentState;
}

// ---------------------------------------------------------------- shared steps

void ExchangeController::connectSequence(Pending next) {
    opticNext_ = static_cast<int>(next);
    pickChannel();
    const auto localIp = [this] {
        if (ctx_.localAddress)
            ctx_.localIp = ctx_.localAddress();
        return ctx_.localIp;
    };
    const bool signOn = useOptoport() && linkExpired() && link().carriesSignOn();
    const LinkStart start = link().connect(LinkRequest{ctx_.settings, ctx_.display, signOn, localIp});
    if (link().showsConnecting()) {
        ctx_.display.setProgressPos(0);
        ctx_.display.setProgressText(texts::Connecting);
    }
    switch (start) {
    case LinkStart::Now:
        startPending();
        break;
    case LinkStart::SignOn:
        ctx_.shared.opticState = OPTIC_SIGN_ON;
        ctx_.shared.linkIdleTicks = 0;
        break;
    case LinkStart::Failed:
        break;
    }
}

void ExchangeController::startPending() {
    if (opticNext_ == static_cast<int>(Pending::Read))
        ctx_.shared.readState = STATE_START;
    else
        ctx_.shared.writeState = STATE_START;
}

int ExchangeController::FindNextRow() const {
    const int count = std::min(rowCount_, ctx_.rows.rowCount());
    for (int r = std::max(curRow_, 0); r < count; ++r) {
        if (isWanted(r))
            return r;
    }
    return rowCount_;
}

bool ExchangeController::isWanted(int row) const {
    if (!ctx_.rows.isSelected(row))
        return false;
    const bool low = leadingInt(ctx_.rows.text(row, ColParam)) < kFirstPassLimit;
    return secondPass_ == 0 ? low : !low;
}

void ExchangeController::showPercent() {
    percentDone_ = percentOf(rowsLeft_, selectedTotal_);
    ctx_.display.setProgressText(texts::Done(percentDone_));
    ctx_.display.setProgressPos(percentDone_);
}

void ExchangeController::EndExchange() {
    Note(ExchangeEvent::Ended);
    ctx_.shared.readState = STATE_IDLE;
    ctx_.shared.writeState = STATE_IDLE;
    showFinalStatus();
    ctx_.display.setProgressText(texts::Done(100));
    ctx_.display.setProgressPos(100);
    releaseChannel();
}

void ExchangeController::StopExchange() {
    if (busy())
        Note(ExchangeEvent::Stopped);
    ctx_.shared.readState = STATE_IDLE;
    ctx_.shared.writeState = STATE_IDLE;
    ctx_.shared.opticState = STATE_IDLE;
    writeAnswerOutstanding_ = false;
    releaseChannel();
    showFinalStatus();
}

// A blank status, unless rows were refused as too long: that reason must
// outlast the exchange, or the user sees a red mark with no word.
void ExchangeController::showFinalStatus() {
    if (tooLongRows_.empty()) {
        ctx_.display.setStatusText(texts::Blank);
        ctx_.display.setStatusToolTip(QString());
    } else {
        ctx_.display.setStatusText(texts::ValueTooLong);
        ctx_.display.setStatusToolTip(texts::ValueTooLongDetail(tooLongRows_));
    }
}

// What every read and write starts from: the selected rows counted from the
// first, no partial frame of an earlier exchange, no outstanding answer, no
// old note.
void ExchangeController::beginExchange() {
    secondPass_ = 0;
    curRow_ = 0;
    rowCount_ = ctx_.rows.rowCount();
    rowsLeft_ = 0;
    for (int r = 0; r < rowCount_; ++r)
        rowsLeft_ += ctx_.rows.isSelected(r) ? 1 : 0;
    selectedTotal_ = rowsLeft_;
    assembler_.reset();
    lastRequest_.reset();
    writeAnswerOutstanding_ = false;
    tooLongRows_.clear();
    crcFailedRows_.clear();
    ctx_.display.setStatusToolTip(QString());
}

bool ExchangeController::keepRow(int row) {
    const int n = ctx_.rows.rowCount();
    if (n == rowCount_ && row >= 0 && row < n)
        return true;
    StopExchange();
    return false;
}

ExchangeController::Verdict ExchangeController::takeAnswer(bool* crcFailed) {
    const ParsedAnswer a = assembler_.AssembleAnswer(ctx_.shared);
    if (crcFailed)
        *crcFailed = a.crcFailed;
    ctx_.shared.waitTicks = 0;
    // The row still reads as answered; the log tells that its block is not
    // in the file.
    if (a.function == FN_DATA_BLOCK && a.result == ANSWER_OK && !saveDataBlock(a))
        Note(ExchangeEvent::DataBlockNotSaved, static_cast<int64_t>(a.dataBlock.size()));
    const bool sameNumber = a.matchesRow(curRow_);
    const bool forThisRow = sameNumber && lastRequest_ && answersRequest(a, *lastRequest_);
    if (a.crcFailed)
        Note(ExchangeEvent::CrcFailed, curRow_);
    else if (a.result != ANSWER_PENDING && !sameNumber)
        Note(ExchangeEvent::OtherSequence, a.sequence, sequenceOf(curRow_));
    else if (a.result != ANSWER_PENDING && !forThisRow)
        Note(ExchangeEvent::OtherRequest, a.sequence, curRow_);
    if (a.result == ANSWER_OK && forThisRow) {
        applyAnswer(ctx_.rows, curRow_, a);
        return Verdict::Accepted;
    }
    // A frame whose checksum failed belongs to nobody we can tell, so it
    // counts against this row; an error answer counts only when it is this
    // row's, never a late one for an earlier row.
    if (a.result == ANSWER_REJECTED && (a.crcFailed || forThisRow)) {
        applyAnswer(ctx_.rows, curRow_, a);
        return Verdict::Rejected;
    }
    return Verdict::Wait; // pending, or another row's answer
}

// ---------------------------------------------------------------- the 25 ms step

void ExchangeController::OnTimer() {
    ExchangeShared& sh = ctx_.shared;
    ctx_.display.setOpticMark(linkExpired() && useOptoport() ? texts::OpticBullet : QString());
    if (sh.readState.load() != STATE_IDLE) {
        ctx_.display.setStatusText(texts::Reading);
        showPercent();
    }
    if (sh.writeState.load() != STATE_IDLE)
        ctx_.display.setStatusText(texts::Writing);
    if (sh.readState.load() != STATE_IDLE)
        stepReadMachine();
    if (sh.opticState.load() != STATE_IDLE)
        opticStep();
}

void ExchangeController::paceStep() {
    OnTimer();
    if (ctx_.shared.writeState.load() != STATE_IDLE)
        stepWriteMachine(false);
}

bool ExchangeController::quietAfterAnswer() const {
    if (!ctx_.pacing.fast || ctx_.pacing.gapMs <= 0)
        return true;
    const auto now = ctx_.pacing.clock ? ctx_.pacing.clock() : std::chrono::steady_clock::now();
    return now - lastAnswerAt_ >= std::chrono::milliseconds(ctx_.pacing.gapMs);
}

void ExchangeController::noteAnswerTaken() {
    if (ctx_.pacing.fast && ctx_.pacing.gapMs > 0)
        lastAnswerAt_ = ctx_.pacing.clock ? ctx_.pacing.clock() : std::chrono::steady_clock::now();
}

void ExchangeController::OnMessage(int message) {
    switch (message) {
    case MSG_READ_TIMEOUT:
        OnReadTimeout();
        break;
    case MSG_WRITE_TIMEOUT:
        OnWriteTimeout();
        break;
    case MSG_WRITE_ANSWER:
        OnWriteAnswer();
        break;
    case MSG_WRITE_END:
        OnWriteEnd();
        break;
    case MSG_TICK:
        OnWriteTick();
        break;
    default:
        break;
    }
}

} // namespace parvault
