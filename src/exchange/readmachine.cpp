// The read machine: rows below parameter 300 first, then the rest; each
// request sent up to three times before the row counts as unanswered.

#include "controller.h"

#include "requests.h"

namespace parvault {

void ExchangeController::OnReadCommand() {
    beginExchange();
    Note(ExchangeEvent::Started, 0);
    ctx_.shared.readState = STATE_IDLE;
    ctx_.shared.writeState = STATE_IDLE;
    ctx_.shared.lastSocketError = 0;
    if (rowCount_ == 0)
        return;
    if (selectedTotal_ == 0) {
        // Nothing to read: end at once, as writing does, rather than address
        // a row that does not exist.
        EndExchange();
        return;
    }
    for (int r = 0; r < rowCount_; ++r)
        if (ctx_.rows.isSelected(r))
            ctx_.rows.setIcon(r, IconQueued);
    curRow_ = FindNextRow();
    if (curRow_ >= rowCount_)
        secondPass_ = 1; // every selected row is 300 or above
    curRow_ = 0;
    curRow_ = FindNextRow();
    connectSequence(Pending::Read);
}

void ExchangeController::sendReadRequest(int32_t nextState) {
    ctx_.shared.readState = STATE_STEP;
    if (nextState != STATE_SENT_1)
        Note(ExchangeEvent::Resent, curRow_, nextState == STATE_SENT_2 ? 2 : 3);
    else
        discardStale();
    BuildReadRequest(ctx_.shared, *this, ctx_.rows, curRow_, busAddressFrom(ctx_.settings));
    ctx_.shared.waitTicks = 0;
    readSentState_ = nextState;
    ctx_.shared.readState = nextState;
}

void ExchangeController::stepReadMachine() {
    ExchangeShared& sh = ctx_.shared;
    if (!keepRow(curRow_))
        return;
    const int32_t state = sh.readState.load();
    const int32_t machine = state & 0xFF; // without the busy flag of an answer being handled
    const int64_t L = readLimitTicks();
    switch (machine) {
    case STATE_START:
        if (quietAfterAnswer())
            sendReadRequest(STATE_SENT_1);
        break;
    case STATE_SENT_1:
        if (sh.waitTicks.load() > L)
            sendReadRequest(STATE_SENT_2);
        break;
    case STATE_SENT_2:
        if (sh.waitTicks.load() > L)
            sendReadRequest(STATE_SENT_3);
        break;
    case STATE_SENT_3:
        if (sh.waitTicks.load() > L) {
            sh.readState = STATE_STEP + STATE_BUSY_FLAG;
            sh.waitTicks = 0;
            ctx_.poster.post(MSG_READ_TIMEOUT);
        }
        break;
    default:
        break;
    }

    const int32_t s = sh.readState.load();
    if (answerDue(s)) {
        sh.readState = s + STATE_BUSY_FLAG;
        if (link().takeArrived(sh) != 0)
            handleReadAnswer();
        else
            waitOn(sh.readState, readSentState_); // nothing came, or an empty datagram
    }
    sh.readState = sh.readState.load() & 0xFF;
}

void ExchangeController::handleReadAnswer() {
    ExchangeShared& sh = ctx_.shared;
    sh.waitTicks = 0; // every received chunk restarts the wait
    bool crcFailed = false;
    const Verdict verdict = takeAnswer(&crcFailed);
    if (verdict == Verdict::Wait) {
        waitOn(sh.readState, readSentState_);
        return;
    }
    noteAnswerTaken();
    if (verdict == Verdict::Accepted) {
        sh.linkIdleTicks = 0;
        ctx_.rows.setIcon(curRow_, IconNeutral);
        --rowsLeft_;
    } else {
        // The row keeps its value; whoever reports the row can say why.
        if (crcFailed)
            crcFailedRows_.push_back(curRow_);
        ctx_.rows.setIcon(curRow_, IconSent);
    }
    if (advanceReadRow())
        sh.readState = STATE_START;
    else
        EndExchange();
}

void ExchangeController::OnReadTimeout() {
    if (ctx_.shared.readState.load() == STATE_IDLE)
        return; // the exchange ended before this message was handled
    if (!keepRow(curRow_))
        return;
    Note(ExchangeEvent::TimedOut, curRow_);
    ctx_.shared.readState = STATE_TIMEOUT;
    ctx_.rows.setIcon(curRow_, IconReadUnanswered);
    if (advanceReadRow()) {
        ctx_.shared.readState = STATE_START;
        --rowsLeft_;
        return;
    }
    EndExchange();
}

bool ExchangeController::advanceReadRow() {
    ++curRow_;
    for (;;) {
        curRow_ = FindNextRow();
        if (curRow_ < rowCount_)
            return true;
        if (secondPass_ != 0)
            return false;
        secondPass_ = 1;
        curRow_ = 0;
    }
}

} // namespace parvault
