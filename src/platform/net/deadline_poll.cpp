#include "platform/net/deadline_poll.h"

#include <cerrno>
#include <cstdint>

#include <sys/timerfd.h>
#include <unistd.h>

namespace tarnwick::net {

DeadlinePoll::DeadlinePoll(Clock::time_point deadline) : m_deadline(deadline)
{
    // steady_clock is CLOCK_MONOTONIC, so its time points arm the timer as they are.
    static_assert(Clock::is_steady);
    m_timer = ::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
    if (m_timer < 0) {
        return;
    }
    const auto ns =
        std::chrono::duration_cast<std::chrono::nanoseconds>(deadline.time_since_epoch()).count();
    itimerspec at{};
    // A zero value would disarm the timer instead of firing it at once.
    const std::int64_t when = ns > 0 ? ns : 1;
    at.it_value.tv_sec = static_cast<time_t>(when / 1000000000);
    at.it_value.tv_nsec = static_cast<long>(when % 1000000000);
    if (::timerfd_settime(m_timer, TFD_TIMER_ABSTIME, &at, nullptr) != 0) {
        ::close(m_timer);
        m_timer = -1;
    }
}

DeadlinePoll::~DeadlinePoll()
{
    if (m_timer >= 0) {
        ::close(m_timer);
    }
}

int DeadlinePoll::wait(pollfd* fds, int count)
{
    if (count < 0 || count > kMaxFds) {
        errno = EINVAL;
        return -1;
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
    // later wait returns at once too.
    all[count] = {m_timer, POLLIN, 0};
    const int ready = ::poll(all, static_cast<nfds_t>(count + 1), -1);
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
