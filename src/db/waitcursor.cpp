#include "waitcursor.h"

namespace parvault {

void WaitCursor::start() {
    m_frame = 0;
    m_stepDue = true; // the first step shows a frame at once
}

void WaitCursor::step() {
    if (!m_stepDue.exchange(false))
        return;
    const int shown = m_frame.load();
    m_frame = (shown + 1) % kFrameCount;
    if (m_display)
        m_display->showWaitFrame(shown);
}

void WaitCursor::stop() {
    m_stepDue = false;
    if (m_display)
        m_display->showArrowCursor();
}

void WaitCursor::tick() {
    if (m_stepDue.load())
        return;
    if (m_ticks.fetch_add(1) + 1 >= kTicksPerFrame) {
        m_ticks = 0;
        m_stepDue = true;
    }
}

} // namespace parvault
