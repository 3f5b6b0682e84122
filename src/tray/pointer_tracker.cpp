#include "tray/pointer_tracker.h"

namespace tarnwick::tray {

bool PointerTracker::leftUp(bool tickerRunning)
{
    bool clickNow = false;
    if (m_leftDownSeen)
        m_clickPending = true;
    if (m_leftDownSeen && !tickerRunning) {
        m_clickPending = false;
        clickNow = true;
    }
    m_leftDownSeen = false;
    return clickNow;
}

void PointerTracker::doubleClick()
{
    m_clickPending = false;
    m_doubleClickSeen = true;
}

bool PointerTracker::clickTick()
{
    const bool click = !m_doubleClickSeen && m_clickPending;
    if (click)
        m_clickPending = false;
    m_doubleClickSeen = false;
    return click;
}

bool PointerTracker::moved(QPoint pos, bool track)
{
    const bool arrived = track && m_pointerAway;
    if (arrived)
        m_pointerAway = false;
    m_hoverPos = pos;
    m_hoverMisses = 0;
    return arrived;
}

bool PointerTracker::polled(std::optional<QPoint> cursor)
{
    if (m_pointerAway || !cursor)
        return false;
    if (*cursor == m_hoverPos) {
        m_hoverMisses = 0;
        return false;
    }
    if (++m_hoverMisses < kMissesBeforeExit)
        return false;
    m_hoverMisses = 0;
    m_pointerAway = true;
    return true;
}

} // namespace tarnwick::tray
