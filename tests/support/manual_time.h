#pragma once

#include "core/timer_backend.h"
#include "engine/pacing_wait.h"
#include "engine/tick_clock.h"
#include "platform/net/canceller.h"

#include <QMap>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <limits>
#include <map>
#include <mutex>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace tarnwick::test {

// Time that moves only when a test says so. As a timer backend, advance()
// fires every timer that falls due on the way, in order, as the platform's
// timers would; as a tick clock it reads the same time; as the workers' clock
// it holds their waits until advance() takes the time past them. Timers run
// on the test's thread; waits and reads may come from any thread.
class ManualTime final : public core::TimerBackend, public engine::WorkerClock {
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

    std::uint32_t now() const override { return static_cast<std::uint32_t>(m_now.load()); }

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
        wakeWaiters();
    }
    // Sets the time without firing anything (a clock read near its wrap).
    void jumpTo(qint64 ms)
    {
        m_now = ms;
        wakeWaiters();
    }
    bool running(quint32 id) const { return m_timers.contains(id); }
    qint64 elapsed() const { return m_now; }

    // Threads held in a wait on this clock now. A test advances once the
    // threads it drives are waiting, so that no wait starts after the step.
    int waiting() const
    {
        std::lock_guard lock(m_mutex);
        return static_cast<int>(m_waiters.size());
    }
    // Exactly `threads` threads wait on this clock and none of them is due:
    // everything the last step released has run up to its next wait.
    bool settled(int threads) const
    {
        std::lock_guard lock(m_mutex);
        if (static_cast<int>(m_waiters.size()) != threads)
            return false;
        for (const auto& [fd, deadline] : m_waiters)
            if (deadline <= m_now)
                return false;
        return true;
    }

    std::unique_ptr<engine::Waiter> waiterFor(const net::Canceller& cancel) const override
    {
        return std::make_unique<ManualWaiter>(const_cast<ManualTime&>(*this), cancel);
    }

    bool refuse = false;

private:
    class ManualWaiter final : public engine::Waiter {
    public:
        ManualWaiter(ManualTime& time, const net::Canceller& cancel)
            : m_time(time), m_cancel(cancel), m_wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
        {
        }
        ~ManualWaiter() override { ::close(m_wake); }
        ManualWaiter(const ManualWaiter&) = delete;
        ManualWaiter& operator=(const ManualWaiter&) = delete;

        bool wait(int ms) override
        {
            if (ms <= 0)
                return false;
            const qint64 deadline = m_time.enter(m_wake, ms);
            bool woken = false;
            while (m_time.elapsed() < deadline) {
                pollfd fds[2] = {{m_cancel.fd(), POLLIN, 0}, {m_wake, POLLIN, 0}};
                if (::poll(fds, 2, -1) < 0 && errno != EINTR)
                    break;
                if (fds[0].revents != 0) {
                    woken = true;
                    break;
                }
                std::uint64_t count = 0;
                [[maybe_unused]] const auto n = ::read(m_wake, &count, sizeof count);
            }
            m_time.leave(m_wake);
            return woken;
        }

    private:
        ManualTime& m_time;
        const net::Canceller& m_cancel;
        const int m_wake;
    };

    // The deadline is read under the lock that waiting() takes, so a wait
    // counted there cannot end later than a step taken after it.
    qint64 enter(int wakeFd, int ms)
    {
        std::lock_guard lock(m_mutex);
        const qint64 deadline = m_now + ms;
        m_waiters[wakeFd] = deadline;
        return deadline;
    }
    void leave(int wakeFd)
    {
        std::lock_guard lock(m_mutex);
        m_waiters.erase(wakeFd);
    }
    void wakeWaiters()
    {
        std::lock_guard lock(m_mutex);
        const std::uint64_t one = 1;
        for (const auto& [fd, deadline] : m_waiters)
            [[maybe_unused]] const auto n = ::write(fd, &one, sizeof one);
    }

    struct Timer {
        quint32 interval = 0;
        qint64 due = 0;
        Receiver receiver;
    };
    QMap<quint32, Timer> m_timers;
    std::atomic<qint64> m_now{0};
    mutable std::mutex m_mutex;
    std::map<int, qint64> m_waiters; // wake-up descriptor: deadline
};

} // namespace tarnwick::test
