#include "controller.h"

#include "requests.h"

#include <cmath>

namespace parvault {

int LeadingInt(const QString& text) {
    int i = 0;
    const int n = static_cast<int>(text.size());
    while (i < n && (text[i] == QLatin1Char(' ') || (text[i] >= QChar(9) && text[i] <= QChar(13))))
        ++i;
    bool negative = false;
    if (i < n && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-')))
        negative = text[i++] == QLatin1Char('-');
    long long value = 0;
    while (i < n && text[i] >= QLatin1Char('0') && text[i] <= QLatin1Char('9')) {
        value = value * 10 + (text[i].unicode() - '0');
        if (value > 0x7FFFFFFF)
            value = 0x7FFFFFFF; // saturate rather than wrap a silly column text
        ++i;
    }
    return static_cast<int>(negative ? -value : value);
}

namespace {

int percentOf(int rowsLeft, int selectedTotal) {
    if (selectedTotal <= 0)
        return 100;
    return 100 - static_cast<int>(std::trunc(static_cast<double>(rowsLeft) / selectedTotal * 100.0));
}

} // namespace

ExchangeController::ExchangeController(ExchangeContext context) : ctx_(std::move(context)) {}

ExchangeController::~ExchangeController() = default;

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

void ExchangeController::PickChannel() {
    ExchangeChannel& next = ctx_.channels.channelForCommand();
    if (channel_ && channel_ != &next)
        channel_->release();
    channel_ = &next;
}

void ExchangeController::send(ExchangeShared& shared) { link().send(shared); }

void ExchangeController::ReleaseChannel() { link().release(); }

// ---------------------------------------------------------------- shared steps

void ExchangeController::ConnectSequence(Pending next) {
    opticNext_ = static_cast<int>(next);
    PickChannel();
    switch (link().connect(LinkRequest{ctx_.settings, ctx_.display, linkExpired(), ctx_.localIp})) {
    case LinkStart::Now:
        StartPending();
        break;
    case LinkStart::SignOn:
        ctx_.shared.opticState = 0;
        ctx_.shared.linkIdleTicks = 0;
        break;
    case LinkStart::Failed:
        break;
    }
}

void ExchangeController::StartPending() {
    if (opticNext_ == static_cast<int>(Pending::Read))
        ctx_.shared.readState = STATE_START;
    else
        ctx_.shared.writeState = STATE_START;
}

int ExchangeController::FindNextRow() const {
    const int count = std::min(rowCount_, ctx_.rows.rowCount());
    for (int r = std::max(curRow_, 0); r < count; ++r) {
        if (IsWanted(r))
            return r;
    }
    return rowCount_;
}

bool ExchangeController::IsWanted(int row) const {
    if (!ctx_.rows.isSelected(row))
        return false;
    const bool low = LeadingInt(ctx_.rows.text(row, ColParam)) < kFirstPassLimit;
    return secondPass_ == 0 ? low : !low;
}

bool ExchangeController::AdvanceReadRow() {
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

void ExchangeController::ShowPercent() {
    percentDone_ = percentOf(rowsLeft_, selectedTotal_);
    ctx_.display.setProgressText(texts::Done(percentDone_));
    ctx_.display.setProgressPos(percentDone_);
}

void ExchangeController::EndExchange() {
    ctx_.shared.readState = STATE_IDLE;
    ctx_.shared.writeState = STATE_IDLE;
    ShowFinalStatus();
    ctx_.display.setProgressText(texts::Done(100));
    ctx_.display.setProgressPos(100);
    ReleaseChannel();
}

void ExchangeController::StopExchange() {
    ctx_.shared.readState = STATE_IDLE;
    ctx_.shared.writeState = STATE_IDLE;
    ctx_.shared.opticState = STATE_IDLE;
    writeAnswerOutstanding_ = false;
    ReleaseChannel();
    ShowFinalStatus();
}

// A blank status, unless rows were refused as too long: that reason must
// outlast the exchange, or the user sees a red mark with no word.
void ExchangeController::ShowFinalStatus() {
    if (tooLongRows_.empty()) {
        ctx_.display.setStatusText(texts::Blank);
        ctx_.display.setStatusToolTip(QString());
    } else {
        ctx_.display.setStatusText(texts::ValueTooLong);
        ctx_.display.setStatusToolTip(texts::ValueTooLongDetail(tooLongRows_));
    }
}

// What every read and write starts from: no partial frame of an earlier
// exchange, no outstanding answer, no old note, the current local address.
void ExchangeController::BeginExchange() {
    assembler_.Reset();
    writeAnswerOutstanding_ = false;
    tooLongRows_.clear();
    ctx_.display.setStatusToolTip(QString());
    if (ctx_.localAddress)
        ctx_.localIp = ctx_.localAddress();
}

bool ExchangeController::KeepRow(int row) {
    const int n = ctx_.rows.rowCount();
    if (n == rowCount_ && row >= 0 && row < n)
        return true;
    StopExchange();
    return false;
}

// ---------------------------------------------------------------- reading

void ExchangeController::OnReadCommand() {
    BeginExchange();
    secondPass_ = 0;
    ctx_.shared.readState = STATE_IDLE;
    ctx_.shared.writeState = STATE_IDLE;
    ctx_.shared.lastSocketError = 0;
    curRow_ = 0;
    rowCount_ = ctx_.rows.rowCount();
    rowsLeft_ = 0;
    for (int r = 0; r < rowCount_; ++r)
        rowsLeft_ += ctx_.rows.isSelected(r) ? 1 : 0;
    selectedTotal_ = rowsLeft_;
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
    ConnectSequence(Pending::Read);
}

void ExchangeController::SendReadRequest(int32_t nextState) {
    ctx_.shared.readState = STATE_STEP;
    BuildReadRequest(ctx_.shared, *this, ctx_.rows, curRow_, BusAddressFrom(ctx_.settings));
    ctx_.shared.waitTicks = 0;
    readSentState_ = nextState;
    ctx_.shared.readState = nextState;
}

void ExchangeController::StepReadMachine() {
    ExchangeShared& sh = ctx_.shared;
    if (!KeepRow(curRow_))
        return;
    const int32_t state = sh.readState.load();
    const int32_t machine = link().machineState(state);
    const int64_t L = readLimitTicks();
    switch (machine) {
    case STATE_START:
        SendReadRequest(STATE_SENT_1);
        break;
    case STATE_SENT_1:
        if (sh.waitTicks.load() > L)
            SendReadRequest(STATE_SENT_2);
        break;
    case STATE_SENT_2:
        if (sh.waitTicks.load() > L)
            SendReadRequest(STATE_SENT_3);
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
    if (link().answerDue(s)) {
        sh.readState = s + STATE_BUSY_FLAG;
        if (link().takeArrived(sh) != 0)
            HandleReadAnswer();
        else
            link().resumeWaiting(sh.readState, readSentState_); // nothing came, or an empty datagram
    }
    sh.readState = sh.readState.load() & 0xFF;
}

ExchangeController::Verdict ExchangeController::TakeAnswer() {
    const ParsedAnswer a = assembler_.AssembleAnswer(ctx_.shared);
    ctx_.shared.waitTicks = 0;
    if (a.function == FN_DATA_BLOCK && a.result == ANSWER_OK)
        SaveDataBlock(a);
    const bool forThisRow = a.matchesRow(curRow_);
    if (a.result == ANSWER_OK && forThisRow) {
        ApplyAnswer(ctx_.rows, curRow_, a);
        return Verdict::Accepted;
    }
    // A frame whose checksum failed belongs to nobody we can tell, so it
    // counts against this row; an error answer counts only when it is this
    // row's, never a late one for an earlier row.
    if (a.result == ANSWER_REJECTED && (a.crcFailed || forThisRow)) {
        ApplyAnswer(ctx_.rows, curRow_, a);
        return Verdict::Rejected;
    }
    return Verdict::Wait; // pending, or another row's answer
}

void ExchangeController::HandleReadAnswer() {
    ExchangeShared& sh = ctx_.shared;
    sh.waitTicks = 0; // every received chunk restarts the wait
    const Verdict verdict = TakeAnswer();
    if (verdict == Verdict::Wait) {
        link().resumeWaiting(sh.readState, readSentState_);
        return;
    }
    if (verdict == Verdict::Accepted) {
        sh.linkIdleTicks = 0;
        ctx_.rows.setIcon(curRow_, IconNeutral);
        --rowsLeft_;
    } else {
        ctx_.rows.setIcon(curRow_, IconSent);
    }
    if (AdvanceReadRow())
        sh.readState = STATE_START;
    else
        EndExchange();
}

void ExchangeController::OnReadTimeout() {
    if (ctx_.shared.readState.load() == STATE_IDLE)
        return; // the exchange ended before this message was handled
    if (!KeepRow(curRow_))
        return;
    ctx_.shared.readState = STATE_TIMEOUT;
    ctx_.rows.setIcon(curRow_, IconReadUnanswered);
    if (AdvanceReadRow()) {
        ctx_.shared.readState = STATE_START;
        --rowsLeft_;
        return;
    }
    EndExchange();
}

// ---------------------------------------------------------------- the 25 ms step

void ExchangeController::OnTimer() {
    ExchangeShared& sh = ctx_.shared;
    ctx_.display.setOpticMark(linkExpired() && useOptoport() ? texts::OpticBullet : QString());
    if (sh.readState.load() != STATE_IDLE) {
        ctx_.display.setStatusText(texts::Reading);
        ShowPercent();
    }
    if (sh.writeState.load() != STATE_IDLE)
        ctx_.display.setStatusText(texts::Writing);
    if (sh.readState.load() != STATE_IDLE)
        StepReadMachine();
    if (sh.opticState.load() != STATE_IDLE)
        OpticStep();
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

// ---------------------------------------------------------------- optical port

void ExchangeController::OpticStep() {
    ExchangeShared& sh = ctx_.shared;
    const int64_t H = opticLimitTicks();
    switch (sh.opticState.load()) {
    case 0:
        sh.opticState = 13;
        sh.waitTicks = 0;
        SendSignOn(sh, *this);
        sh.opticState = 1;
        break;
    case 1:
        if (sh.waitTicks.load() > H) {
            sh.opticState = 13;
            SendSignOn(sh, *this);
            sh.waitTicks = 0;
            sh.opticState = 7;
        }
        break;
    case 7:
        if (sh.waitTicks.load() > H) {
            // No identification: go on at the configured speed.
            sh.opticState = STATE_IDLE;
            link().reopen(ctx_.settings, ctx_.display);
            StartPending();
        }
        break;
    case 9:
        if (sh.waitTicks.load() > H) {
            sh.opticState = STATE_IDLE;
            SendOptionSelect(sh, *this, ctx_.settings.speedIndex);
            sh.waitTicks = 0;
            sh.opticState = 11;
        }
        break;
    case 11:
        if (sh.waitTicks.load() > H) {
            // No acknowledgement: go on at the speed the device announced.
            link().reopen(ctx_.settings, ctx_.display);
            sh.opticState = STATE_IDLE;
            StartPending();
        }
        break;
    default:
        sh.opticState = STATE_IDLE;
        break;
    }

    if (link().takeArrived(sh) == 0)
        return;
    const int32_t opticBefore = sh.opticState.load();
    const int r = assembler_.ReadIdentLine(sh);
    sh.waitTicks = 0;
    if (r != ANSWER_OK)
        return;
    sh.opticState = STATE_IDLE;
    const uint8_t first = assembler_.asmBuffer()[0] & 0x7F;
    if (first == '/' && assembler_.identLineLength() <= kIdentSpeedPos) {
        // Too short to carry the speed: no identification, so the sign-on is
        // repeated and the exchange falls back to the configured speed.
        sh.opticState = opticBefore;
        return;
    }
    if (first == '/') {
        ctx_.settings.speedIndex = IdentSpeedIndex(assembler_.asmBuffer()[kIdentSpeedPos]);
        ctx_.display.setStatusText(
            texts::Baud(SpeedTable[static_cast<size_t>(ctx_.settings.speedIndex)]));
        SendOptionSelect(sh, *this, ctx_.settings.speedIndex);
        sh.waitTicks = 0;
        sh.opticState = 9;
    } else if (first == ACK) {
        sh.opticState = STATE_IDLE;
        link().reopen(ctx_.settings, ctx_.display);
        StartPending();
    }
    // Any other complete line ends the handshake; nothing starts.
}

// ---------------------------------------------------------------- writing

void ExchangeController::OnWriteCommand() {
    BeginExchange();
    ctx_.shared.writeState = STATE_IDLE;
    ctx_.shared.readState = STATE_IDLE;
    secondPass_ = 0;
    curRow_ = 0;
    writeTicks_ = 0;
    rowCount_ = ctx_.rows.rowCount();
    rowsLeft_ = 0;
    for (int r = 0; r < rowCount_; ++r)
        rowsLeft_ += ctx_.rows.isSelected(r) ? 1 : 0;
    selectedTotal_ = rowsLeft_;
    for (int r = 0; r < rowCount_; ++r)
        ctx_.rows.setIcon(r, IconNeutral);
    if (ctx_.reopenDatabase)
        ctx_.reopenDatabase();
    if (rowCount_ == 0)
        return;
    ConnectSequence(Pending::Write);
}

// 0: a request was sent for `row`; 1: no row left to write; 2: the row's value
// cannot be sent (too long for a write frame), `row` names it.
int ExchangeController::BuildWriteRequest(int& row) {
    const int n = ctx_.rows.rowCount();
    int r = row;
    if (rowsLeft_ < 1 || n < 1)
        return 1;
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
        return 1;
    while (!IsWanted(r)) {
        ++r;
        if (!wrap())
            return 1;
    }
    const WriteRequest request =
        LayoutWriteRequest(ctx_.rows.row(r), r, BusAddressFrom(ctx_.settings));
    row = r;
    if (request.status != WriteRequest::Ok)
        return 2;
    SendFrame(ctx_.shared, *this, request.frame);
    ctx_.rows.setIcon(r, IconSent);
    ShowPercent();
    return 0;
}

void ExchangeController::FinishWriteRow(int icon) {
    if (!KeepRow(curRow_))
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

void ExchangeController::OnWriteTick() {
    ExchangeShared& sh = ctx_.shared;
    const int64_t L = readLimitTicks();
    auto sendNext = [&](int32_t nextState) {
        sh.writeState = STATE_STEP;
        const int result = BuildWriteRequest(curRow_);
        if (result == 1) {
            sh.writeState = STATE_IDLE;
            ctx_.poster.post(MSG_WRITE_END);
        } else if (result == 2) {
            // The value does not fit a write frame: refuse this row, keep
            // the typed value, say why at the end, go on with the next one.
            tooLongRows_.push_back(curRow_);
            FinishWriteRow(IconEdited);
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
        sendNext(STATE_SENT_1);
        break;
    case STATE_SENT_1:
    case STATE_SENT_2: {
        if (++writeTicks_ > L)
            sendNext(sh.writeState.load() == STATE_SENT_1 ? STATE_SENT_2 : STATE_SENT_3);
        break;
    }
    case STATE_SENT_3:
        if (++writeTicks_ > L) {
            sh.writeState = STATE_STEP;
            writeTicks_ = 0;
            ctx_.poster.post(MSG_WRITE_TIMEOUT);
        }
        break;
    default:
        break;
    }

    if (link().answerDue(sh.writeState.load()) && !writeAnswerOutstanding_) {
        sh.readState = STATE_IDLE;
        link().holdWriteAnswer(sh.writeState);
        if (link().takeArrived(sh) != 0) {
            writeTicks_ = 0;
            writeAnswerOutstanding_ = true;
            ctx_.poster.post(MSG_WRITE_ANSWER);
        } else {
            // Nothing came, or an empty datagram: wait on for a resend or the time-out.
            link().resumeWaiting(sh.writeState, writeSentState_);
        }
    }
}

void ExchangeController::OnWriteAnswer() {
    ExchangeShared& sh = ctx_.shared;
    writeAnswerOutstanding_ = false;
    const int32_t remembered = sh.writeState.load();
    if (remembered == STATE_IDLE)
        return; // the exchange ended before this message was handled
    if (!KeepRow(curRow_))
        return;
    sh.writeState = STATE_STEP;
    switch (TakeAnswer()) {
    case Verdict::Accepted:
        FinishWriteRow(IconWritten);
        return;
    case Verdict::Rejected:
        FinishWriteRow(IconEdited);
        return;
    case Verdict::Wait:
        // Keep collecting for this row.
        sh.writeState = remembered;
        link().resumeWaiting(sh.writeState, writeSentState_);
        return;
    }
}

void ExchangeController::OnWriteTimeout() {
    if (ctx_.shared.writeState.load() == STATE_IDLE)
        return; // the exchange ended before this message was handled
    if (!KeepRow(curRow_))
        return;
    ctx_.shared.writeState = STATE_IDLE;
    FinishWriteRow(IconWriteUnanswered);
}

// No further row to write: the same closing as the end of any exchange.
void ExchangeController::OnWriteEnd() { EndExchange(); }

} // namespace parvault
