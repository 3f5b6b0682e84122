#pragma once

#include <QPoint>

#include <optional>

namespace tarnwick::tray {

// The tray icon's reading of the pointer, without any timer or window: which
// left click counts as a click once a double click is possible, and when the
// cursor has arrived on the icon and left it again. The component feeds it
// the area's notifications and its tickers' ticks, and raises the events the
// answers call for.
class PointerTracker {
public:
    // Click arbitration: a left button-down, then its button-up; the answer
    // is true when that is a click at once (the click ticker is not waiting
    // for a possible double click).
    void leftDown() { m_leftDownSeen = true; }
    bool leftUp(bool tickerRunning);
    void doubleClick();
    // The click ticker's tick; true when the pending click counts after all.
    bool clickTick();

    // Hover. A move over the icon at pos; true when the cursor just arrived
    // (only while arrivals are tracked).
    bool moved(QPoint pos, bool track);
    // A poll of the cursor; true when the cursor has left. A cursor that moved
    // on between two notifications is seen by the poll before its queued
    // move arrives, so only a second mismatching poll in a row counts.
    bool polled(std::optional<QPoint> cursor);
    bool pointerAway() const { return m_pointerAway; }
    QPoint lastMove() const { return m_hoverPos; }

    static constexpr int kMissesBeforeExit = 2;

private:
    QPoint m_hoverPos;
    int m_hoverMisses = 0;
    bool m_pointerAway = true;
    bool m_leftDownSeen = false;
    bool m_clickPending = false;
    bool m_doubleClickSeen = false;
};

} // namespace tarnwick::tray
