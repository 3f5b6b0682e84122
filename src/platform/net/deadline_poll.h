#pragma once

#include <chrono>
#include <cstdint>

#include <poll.h>

namespace tarnwick::net {

// poll() until a steady-clock deadline, on time. The kernel stretches poll's
// own time-out by a slack of 0.1% of the wait, 0.5% for a thread with a
// raised nice value (10 ms on a 2 s wait), whatever the thread's timer slack
// is set to. A timerfd armed at the absolute deadline carries no slack, so the
// wait ends within scheduling latency of it. Each thread arms one timerfd of
// its own for every deadline, so a DeadlinePoll belongs to the thread that
// made it.
class DeadlinePoll {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr int kMaxFds = 4;

    explicit DeadlinePoll(Clock::time_point deadline);
    ~DeadlinePoll() = default;
    DeadlinePoll(const DeadlinePoll&) = delete;
    DeadlinePoll& operator=(const DeadlinePoll&) = delete;

    // As poll() on up to kMaxFds entries: the number of entries with events,
    // or 0 once the deadline has passed with none, or -1 with errno set
    // (EINTR included). Never 0 before the deadline.
    int wait(pollfd* fds, int count);
    bool passed() const { return Clock::now() >= m_deadline; }

private:
    Clock::time_point m_deadline;
    std::int64_t m_when = 0; // m_deadline as the timer takes it
    int m_timer = -1;        // -1: no timerfd here, poll's own time-out instead
};

} // namespace tarnwick::net
