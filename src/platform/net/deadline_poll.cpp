#include "platform/net/deadline_poll.h"

#include <cerrno>
#include <cstdint>

#include <sys/timerfd.h>
#include <unistd.h>

namespace tarnwick::net {

namespace {

// One timerfd per thread, made at its first wait and closed with the thread.
// A timer of its own for every wait cost a create and a close besides the arming.
struct ThreadTimer {
    int fd = -1;
    bool tried = false;
    // The deadline it is armed for (steady-clock nanoseconds), 0 for none.
    std::int64_t armedFor = 0;

    ThreadTimer() = default;
    ThreadTimer(const ThreadTimer&) = delete;
    ThreadTimer& operator=(const ThreadTimer&) = delete;
    ~ThreadTimer()
    {
        if (fd >= 0) {
            ::close(fd);
        }
    }

    int get()
    {
        if (!tried) {
            tried = true;
            fd = ::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
        }
        return fd;
    }

    // Arming also clears an expiry that was never read.
    bool arm(std::int64_t when)
    {
        itimerspec at{};
        at.it_value.tv_sec = static_cast<time_t>(when / 1000000000);
        at.it_value.tv_nsec = static_cast<long>(when % 1000000000);
        if (::timerfd_settime(fd, TFD_TIMER_ABSTIME, &at, nullptr) != 0) {
            armedFor = 0;
            return false;
        }
        armedFor = when;
        return true;
    }
};

thread_local ThreadTimer t_timer;

} // namespace

DeadlinePoll::DeadlinePoll(Clock::time_point deadline) : m_deadline(deadline)
{
    // steady_clock is CLOCK_MONOTONIC, so its time points arm the timer as they are.
    static_assert(Clock::is_steady);
    const auto ns =
        std::chrono::duration_cast<std::chrono::nanoseconds>(deadline.time_since_epoch()).count();
    // A zero value would disarm the timer instead of firing it at once.
    m_when = ns > 0 ? ns : 1;
    if (t_timer.get() >= 0 && t_timer.arm(m_when)) {
        m_timer = t_timer.fd;
    }
}

int DeadlinePoll::wait(pollfd* fds, int count)
{
    if (count < 0 || count > kMaxFds) {
        errno = EINVAL;
        return -1;
    }
    // Another wait of this thread armed the shared timer for its own deadline
    // meanwhile (one nested in this one, or one made after it).
    if (m_timer >= 0 && t_timer.armedFor != m_when && !t_timer.arm(m_when)) {
        m_timer = -1;
    }
    if (m_timer < 0) {
        for (;;) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(m_deadline - Clock::now()).count();
            const int ms = left > 0 ? static_cast<int>(left) : 0;
            const int ready = ::poll(fds, static_cast<nfds_t>(count), ms);
            if (ready != 0 || passed()) {
                return ready;
            }
        }
    }
    pollfd all[kMaxFds + 1];
    for (int i = 0; i < count; ++i) {
        all[i] = fds[i];
    }
    // Once expired the timer stays readable (it is never read), so every
    // later wait returns at once too, until the next deadline arms it.
    all[count] = {m_timer, POLLIN, 0};
    const int ready = ::poll(all, static_cast<nfds_t>(count) + 1, -1);
    if (ready < 0) {
        return -1;
    }
    int events = 0;
    for (int i = 0; i < count; ++i) {
        fds[i].revents = all[i].revents;
        events += all[i].revents != 0 ? 1 : 0;
    }
    return events;
}

} // namespace tarnwick::net
