// The optical port's sign-on: the sign-on message at 300 baud, the
// identification line with the speed the device offers, the option select
// and its acknowledgement; then the pending read or write starts.

#include "controller.h"

#include "requests.h"

namespace parvault {

void ExchangeController::opticStep() {
    ExchangeShared& sh = ctx_.shared;
    const int64_t H = opticLimitTicks();
    switch (sh.opticState.load()) {
    case OPTIC_SIGN_ON:
        sh.opticState = OPTIC_SENDING;
        sh.waitTicks = 0;
        SendSignOn(sh, *this);
        sh.opticState = OPTIC_AWAIT_IDENT;
        break;
    case OPTIC_AWAIT_IDENT:
        if (sh.waitTicks.load() > H) {
            sh.opticState = OPTIC_SENDING;
            SendSignOn(sh, *this);
            sh.waitTicks = 0;
            sh.opticState = OPTIC_AWAIT_IDENT_AGAIN;
        }
        break;
    case OPTIC_AWAIT_IDENT_AGAIN:
        if (sh.waitTicks.load() > H) {
            // No identification: go on at the configured speed.
            sh.opticState = STATE_IDLE;
            link().reopen(ctx_.settings, ctx_.display);
            startPending();
        }
        break;
    case OPTIC_AWAIT_ACK:
        if (sh.waitTicks.load() > H) {
            sh.opticState = STATE_IDLE;
            SendOptionSelect(sh, *this, ctx_.settings.speedIndex);
            sh.waitTicks = 0;
            sh.opticState = OPTIC_AWAIT_ACK_AGAIN;
        }
        break;
    case OPTIC_AWAIT_ACK_AGAIN:
        if (sh.waitTicks.load() > H) {
            // No acknowledgement: go on at the speed the device announced.
            link().reopen(ctx_.settings, ctx_.display);
            sh.opticState = STATE_IDLE;
            startPending();
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
        ctx_.settings.speedIndex = identSpeedIndex(assembler_.asmBuffer()[kIdentSpeedPos]);
        Note(ExchangeEvent::IdentSpeed, ctx_.settings.speedIndex,
             SpeedTable[static_cast<size_t>(ctx_.settings.speedIndex)]);
        ctx_.display.setStatusText(
            texts::Baud(SpeedTable[static_cast<size_t>(ctx_.settings.speedIndex)]));
        SendOptionSelect(sh, *this, ctx_.settings.speedIndex);
        sh.waitTicks = 0;
        sh.opticState = OPTIC_AWAIT_ACK;
    } else if (first == ACK) {
        Note(ExchangeEvent::Acknowledged);
        sh.opticState = STATE_IDLE;
        link().reopen(ctx_.settings, ctx_.display);
        startPending();
    }
    // Any other complete line ends the handshake; nothing starts.
}

} // namespace parvault
