#pragma once

#include "tray/desktop_source.h"
#include "tray/simple_timer.h"

#include <QMap>

#include <limits>

// A clock that moves only when told: advance() fires every timer that falls
// due on the way, in order, as the platform's timers would.
class ManualTicks : public tarnwick::tray::TTickSource {
public:
    bool startTimer(quint32 id, quint32 intervalMs) override
    {
        if (refuse)
            return false;
        m_timers[id] = Timer{intervalMs, m_now + intervalMs};
        return true;
    }
    bool killTimer(quint32 id) override { return m_timers.remove(id) > 0; }

    void advance(qint64 ms)
    {
        const qint64 target = m_now + ms;
        for (;;) {
            quint32 next = 0;
            qint64 due = std::numeric_limits<qint64>::max();
            for (auto it = m_timers.cbegin(); it != m_timers.cend(); ++it) {
                if (it->due < due) {
                    due = it->due;
                    next = it.key();
                }
            }
            if (due > target)
                break;
            m_now = due;
            m_timers[next].due += m_timers[next].interval;
            deliverTick(next);
        }
        m_now = target;
    }
    bool running(quint32 id) const { return m_timers.contains(id); }
    qint64 now() const { return m_now; }

    bool refuse = false;

private:
    struct Timer {
        quint32 interval;
        qint64 due;
    };
    QMap<quint32, Timer> m_timers;
    qint64 m_now = 0;
};

class ManualDesktop : public tarnwick::tray::TDesktopSource {
public:
    std::optional<QPoint> cursorPos() const override { return cursor; }
    Qt::KeyboardModifiers keyboardModifiers() const override { return keys; }
    int doubleClickTime() const override { return doubleClick; }

    std::optional<QPoint> cursor = QPoint(10, 20);
    Qt::KeyboardModifiers keys;
    int doubleClick = 400;
};
