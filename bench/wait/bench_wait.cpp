// How late timed waits end, at nice 0 and at the workers' nice 5.
//
//   bench_wait [SAMPLES [NICE [MS]]]
//
// NICE and MS pick one nice value and one wait length instead of all.
// For each wait length and nice value, SAMPLES waits of each kind, one after
// the other (never two at once: a timer firing for one would end another's
// wait early and hide its slack). Prints the overshoot past the deadline in
// microseconds: median, mean and largest.
//   poll          poll() with the remaining time as its time-out, rounded up
//                 to whole milliseconds: how the workers waited before
//   poll+slack    the same with the thread's timer slack set to 1 us
//                 (PR_SET_TIMERSLACK)
//   waitFor       Canceller::waitFor, the pacing wait (a timerfd at the deadline)
//   deadline      DeadlinePoll, the echo wait
// Run it on a quiet machine: a busy one wakes sleeping threads late anyway.

#include "platform/net/canceller.h"
#include "platform/net/deadline_poll.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <numeric>
#include <thread>
#include <vector>

#include <poll.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

using namespace tarnwick::net;
using Clock = std::chrono::steady_clock;

namespace {

using Wait = std::function<void(const Canceller&, Clock::time_point)>;

void pollWait(const Canceller& idle, Clock::time_point deadline)
{
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        const int ms = left.count() > 0 ? static_cast<int>(left.count()) : 0;
        pollfd p{idle.fd(), POLLIN, 0};
        const int r = ::poll(&p, 1, ms);
        if (r != 0 || ms == 0) {
            return;
        }
    }
}

void deadlineWait(const Canceller& idle, Clock::time_point deadline)
{
    DeadlinePoll waiter(deadline);
    pollfd p{idle.fd(), POLLIN, 0};
    while (waiter.wait(&p, 1) > 0) {
    }
}

struct Kind {
    const char* name;
    bool tightSlack;
    Wait wait;
};

// Runs on a thread of its own, so that nice and timer slack stay there.
std::vector<long long> measure(const Kind& kind, int nice, int waitMs, int samples)
{
    std::vector<long long> late;
    std::thread t([&] {
        setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), nice);
        if (kind.tightSlack) {
            prctl(PR_SET_TIMERSLACK, 1000UL, 0, 0, 0);
        }
        Canceller idle;
        for (int i = 0; i < samples; ++i) {
            const auto deadline = Clock::now() + std::chrono::milliseconds(waitMs);
            kind.wait(idle, deadline);
            late.push_back(
                std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - deadline)
                    .count());
        }
    });
    t.join();
    return late;
}

} // namespace

int main(int argc, char** argv)
{
    const int samples = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    std::vector<int> nices{0, 5};
    std::vector<int> lengths{100, 1000, 2000};
    if (argc > 2) {
        nices = {std::atoi(argv[2])};
    }
    if (argc > 3) {
        lengths = {std::max(0, std::atoi(argv[3]))};
    }
    const Kind kinds[] = {
        {"poll", false, pollWait},
        {"poll+slack", true, pollWait},
        {"waitFor", false,
         [](const Canceller& idle, Clock::time_point deadline) {
             const auto ms =
                 std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
             idle.waitFor(static_cast<int>(ms));
         }},
        {"deadline", false, deadlineWait},
    };
    std::printf("overshoot past the deadline, us (%d samples each)\n", samples);
    std::printf("%-11s %5s %7s %9s %9s %9s\n", "wait", "nice", "ms", "median", "mean", "max");
    for (const int nice : nices) {
        for (const int waitMs : lengths) {
            for (const Kind& kind : kinds) {
                std::vector<long long> late = measure(kind, nice, waitMs, samples);
                std::sort(late.begin(), late.end());
                const double mean =
                    static_cast<double>(std::accumulate(late.begin(), late.end(), 0LL)) /
                    static_cast<double>(late.size());
                std::printf("%-11s %5d %7d %9lld %9.0f %9lld\n", kind.name, nice, waitMs,
                            late[late.size() / 2], mean, late.back());
                std::fflush(stdout);
            }
        }
    }
    return 0;
}
