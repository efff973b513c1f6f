// The write machine: one request per selected row, driven by the 100 ms
// tick; up to three sends before the row counts as unanswered.

#include "controller.h"

#include "requests.h"

namespace parvault {

void ExchangeController::OnWriteCommand() {
    beginExchange();
    Note(ExchangeEvent::Started, 1);
    ctx_.shared.writeState = STATE_IDLE;
    ctx_.shared.readState = STATE_IDLE;
    writeTicks_ = 0;
    for (int r = 0; r < rowCount_; ++r)
        ctx_.rows.setIcon(r, IconNeutral);
    if (ctx_.reopenDatabase)
        ctx_.reopenDatabase();
    if (rowCount_ == 0)
        return;
    connectSequence(Pending::Write);
}

// `row` names the row a request was sent for, or the row whose value is too long.
ExchangeController::WriteStep ExchangeController::BuildWriteRequest(int& row) {
    const int n = ctx_.rows.rowCount();
    int r = row;
    if (rowsLeft_ < 1 || n < 1)
        return WriteStep::NoRowLeft;
    auto wrap = [&]() {
        if (r < n)
            return true;
        if (secondPass_ == 1)
            return false;
        secondPass_ = 1;
        r = 0;
        return true;
    };
    if (!wrap())
        return WriteStep::NoRowLeft;
    while (!isWanted(r)) {
        ++r;
        if (!wrap())
            return WriteStep::NoRowLeft;
    }
    const WriteRequest request =
        layoutWriteRequest(ctx_.rows.row(r), r, busAddressFrom(ctx_.settings));
    row = r;
    if (request.status != WriteRequest::Ok)
        return WriteStep::ValueTooLong;
    SendFrame(ctx_.shared, *this, request.frame);
    ctx_.rows.setIcon(r, IconSent);
    showPercent();
    return WriteStep::Sent;
}

void ExchangeController::finishWriteRow(int icon) {
    if (!keepRow(curRow_))
        return;
    ctx_.rows.setIcon(curRow_, icon);
    --rowsLeft_;
    ++curRow_;
    writeTicks_ = 0;
    if (rowsLeft_ > 0)
        ctx_.shared.writeState = STATE_START;
    else
        EndExchange();
}

void ExchangeController::OnWriteTick() { stepWriteMachine(true); }

void ExchangeController::stepWriteMachine(bool tick) {
    ExchangeShared& sh = ctx_.shared;
    const int64_t L = readLimitTicks();
    auto sendNext = [&](int32_t nextState) {
        sh.writeState = STATE_STEP;
        if (nextState != STATE_SENT_1)
            Note(ExchangeEvent::Resent, curRow_, nextState == STATE_SENT_2 ? 2 : 3);
        else if (!writeAnswerOutstanding_)
            discardStale();
        const WriteStep result = BuildWriteRequest(curRow_);
        if (result == WriteStep::NoRowLeft) {
            sh.writeState = STATE_IDLE;
            ctx_.poster.post(MSG_WRITE_END);
        } else if (result == WriteStep::ValueTooLong) {
            // The value does not fit a write frame: refuse this row, keep
            // the typed value, say why at the end, go on with the next one.
            tooLongRows_.push_back(curRow_);
            finishWriteRow(IconEdited);
        } else {
            writeTicks_ = 0;
            writeSentState_ = nextState;
            sh.writeState = nextState;
        }
    };
    if (sh.writeState.load() == STATE_IDLE)
        return;
    // Between rows curRow_ may stand one past the last row (the next search
    // starts there); anything else outside the list, or another list, ends it.
    if (ctx_.rows.rowCount() != rowCount_ || curRow_ < 0 || curRow_ > rowCount_) {
        StopExchange();
        return;
    }
    switch (sh.writeState.load()) {
    case STATE_START:
        sh.readState = STATE_IDLE;
        if (quietAfterAnswer())
            sendNext(STATE_SENT_1);
        break;
    case STATE_SENT_1:
    case STATE_SENT_2: {
        if (tick && ++writeTicks_ > L)
            sendNext(sh.writeState.load() == STATE_SENT_1 ? STATE_SENT_2 : STATE_SENT_3);
        break;
    }
    case STATE_SENT_3:
        if (tick && ++writeTicks_ > L) {
            sh.writeState = STATE_STEP;
            writeTicks_ = 0;
            ctx_.poster.post(MSG_WRITE_TIMEOUT);
        }
        break;
    default:
        break;
    }

    if (answerDue(sh.writeState.load()) && !writeAnswerOutstanding_) {
        sh.readState = STATE_IDLE;
        holdWriteAnswer();
        if (link().takeArrived(sh) != 0) {
            writeTicks_ = 0;
            writeAnswerOutstanding_ = true;
            ctx_.poster.post(MSG_WRITE_ANSWER);
        } else {
            // Nothing came, or an empty datagram: wait on for a resend or the time-out.
            waitOn(sh.writeState, writeSentState_);
        }
    }
}

void ExchangeController::OnWriteAnswer() {
    ExchangeShared& sh = ctx_.shared;
    writeAnswerOutstanding_ = false;
    const int32_t remembered = sh.writeState.load();
    if (remembered == STATE_IDLE)
        return; // the exchange ended before this message was handled
    if (!keepRow(curRow_))
        return;
    sh.writeState = STATE_STEP;
    const Verdict verdict = takeAnswer();
    if (verdict != Verdict::Wait)
        noteAnswerTaken();
    switch (verdict) {
    case Verdict::Accepted:
        finishWriteRow(IconWritten);
        return;
    case Verdict::Rejected:
        finishWriteRow(IconEdited);
        return;
    case Verdict::Wait:
        // Keep collecting for this row.
        sh.writeState = remembered;
        waitOn(sh.writeState, writeSentState_);
        return;
    }
}

void ExchangeController::OnWriteTimeout() {
    if (ctx_.shared.writeState.load() == STATE_IDLE)
        return; // the exchange ended before this message was handled
    if (!keepRow(curRow_))
        return;
    Note(ExchangeEvent::TimedOut, curRow_);
    ctx_.shared.writeState = STATE_IDLE;
    finishWriteRow(IconWriteUnanswered);
}

// No further row to write: the same closing as the end of any exchange.
void ExchangeController::OnWriteEnd() { EndExchange(); }

} // namespace parvault
