#pragma once

#include "core/timer_backend.h"
#include "engine/tick_clock.h"

#include <QMap>

#include <limits>

namespace tarnwick::test {

// Time that moves only when a test says so. As a timer backend, advance()
// fires every timer that falls due on the way, in order, as the platform's
// timers would; as a tick clock it reads the same time.
class ManualTime final : public core::TimerBackend, public engine::TickClock {
public:
    ManualTime() { core::TimerBackend::use(this); }
    ~ManualTime() override { core::TimerBackend::use(nullptr); }
    ManualTime(const ManualTime&) = delete;
    ManualTime& operator=(const ManualTime&) = delete;

    bool startTimer(quint32 id, quint32 intervalMs, Receiver receiver) override
    {
        if (refuse)
            return false;
        m_timers[id] = Timer{intervalMs, m_now + intervalMs, std::move(receiver)};
        return true;
    }
    bool killTimer(quint32 id) override { return m_timers.remove(id) > 0; }

    std::uint32_t now() const override { return static_cast<std::uint32_t>(m_now); }

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
            Timer& timer = m_timers[next];
            // A zero interval still moves on, so one timer cannot stall time.
            timer.due += timer.interval > 0 ? timer.interval : 1;
            const Receiver receiver = timer.receiver;
            if (receiver)
                receiver();
        }
        m_now = target;
    }
    // Sets the time without firing anything (a clock read near its wrap).
    void jumpTo(qint64 ms) { m_now = ms; }
    bool running(quint32 id) const { return m_timers.contains(id); }
    qint64 elapsed() const { return m_now; }

    bool refuse = false;

private:
    struct Timer {
        quint32 interval = 0;
        qint64 due = 0;
        Receiver receiver;
    };
    QMap<quint32, Timer> m_timers;
    qint64 m_now = 0;
};

} // namespace tarnwick::test
