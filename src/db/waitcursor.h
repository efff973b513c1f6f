#pragma once

#include <atomic>

namespace parvault {

// Where the wait cursor is drawn: the window shows one of its 13 frame
// pictures (cursor resources 140 + frame) or the standard arrow.
class WaitCursorDisplay {
public:
    virtual ~WaitCursorDisplay() = default;
    virtual void showWaitFrame(int frame) = 0; // 0..12
    virtual void showArrowCursor() = 0;
};

// The animated cursor of long database commands. Commands call step() once
// per record; the frame changes only when the 100 ms tick has made a step due,
// so at most once a second however fast the steps come. tick() may run on the
// tick thread, the rest on the user-interface thread.
class WaitCursor {
public:
    static constexpr int kFrameCount = 13;
    static constexpr int kFirstCursorResource = 140;
    static constexpr int kTicksPerFrame = 10; // ticks of 100 ms between frames

    explicit WaitCursor(WaitCursorDisplay* display = nullptr) : m_display(display) {}
    void setDisplay(WaitCursorDisplay* display) { m_display = display; }

    void start();
    void step();
    void stop();
    void tick();

    int frame() const { return m_frame.load(); }
    bool stepDue() const { return m_stepDue.load(); }

private:
    WaitCursorDisplay* m_display;
    std::atomic<int> m_frame{0};
    std::atomic<bool> m_stepDue{false};
    std::atomic<int> m_ticks{0};
};

} // namespace parvault
