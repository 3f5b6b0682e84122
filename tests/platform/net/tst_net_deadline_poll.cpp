// Waits against a deadline: never early, at once when something is ready,
// and on time at a raised nice value, where poll's own time-out runs late.

#include "platform/net/canceller.h"
#include "platform/net/deadline_poll.h"

#include <QtTest>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

using namespace tarnwick::net;
using Clock = std::chrono::steady_clock;

namespace {

long long microseconds(Clock::duration d)
{
    return std::chrono::duration_cast<std::chrono::microseconds>(d).count();
}

// How long this thread has been ready to run but waiting for a CPU, in
// microseconds (the second field of its schedstat); 0 where not kept.
int openDescriptors()
{
    int n = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        (void)entry;
        ++n;
    }
    return n;
}

long long runQueueWaitUs()
{
    std::ifstream in("/proc/thread-self/schedstat");
    long long running = 0;
    long long waiting = 0;
    in >> running >> waiting;
    return in ? waiting / 1000 : 0;
}

} // namespace

class TestNetDeadlinePoll : public QObject {
    Q_OBJECT

private slots:
    void neverEndsEarly_data();
    void neverEndsEarly();
    void readyDescriptorEndsWaitAtOnce();
    void passedDeadlineStillReportsReadyDescriptor();
    void onTimeAtNiceFive_data();
    void onTimeAtNiceFive();
    void waitsOfOneThreadKeepTheirOwnDeadlines();
    void threadTimerGoesWithItsThread();
};

void TestNetDeadlinePoll::neverEndsEarly_data()
{
    QTest::addColumn<int>("ms");
    for (const int ms : {0, 1, 3, 17, 60})
        QTest::addRow("%d ms", ms) << ms;
}

void TestNetDeadlinePoll::neverEndsEarly()
{
    QFETCH(int, ms);
    Canceller idle;
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    DeadlinePoll waiter(deadline);
    pollfd p{idle.fd(), POLLIN, 0};
    QCOMPARE(waiter.wait(&p, 1), 0);
    QVERIFY(Clock::now() >= deadline);
    QVERIFY(waiter.passed());
    // Once passed, it stays passed: a second wait does not block.
    const auto again = Clock::now();
    QCOMPARE(waiter.wait(&p, 1), 0);
    QVERIFY(Clock::now() - again < std::chrono::milliseconds(50));

    const auto t0 = Clock::now();
    QVERIFY(!idle.waitFor(ms));
    QVERIFY(Clock::now() - t0 >= std::chrono::milliseconds(ms));
}

void TestNetDeadlinePoll::readyDescriptorEndsWaitAtOnce()
{
    Canceller idle;
    Canceller woken;
    woken.cancel();
    DeadlinePoll waiter(Clock::now() + std::chrono::seconds(10));
    pollfd fds[2] = {{idle.fd(), POLLIN, 0}, {woken.fd(), POLLIN, 0}};
    const auto t0 = Clock::now();
    QCOMPARE(waiter.wait(fds, 2), 1);
    QVERIFY(Clock::now() - t0 < std::chrono::seconds(1));
    QCOMPARE(fds[0].revents, short(0));
    QCOMPARE(fds[1].revents, short(POLLIN));
    QVERIFY(!waiter.passed());

    // A wake-up from another thread cuts a long wait short.
    Canceller later;
    std::thread t([&later] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        later.cancel();
    });
    const auto t1 = Clock::now();
    QVERIFY(later.waitFor(10000));
    t.join();
    QVERIFY(Clock::now() - t1 < std::chrono::seconds(5));
}

void TestNetDeadlinePoll::passedDeadlineStillReportsReadyDescriptor()
{
    // The echo loop reads the socket before it gives up: a reply that came in
    // just at the deadline is still seen.
    Canceller woken;
    woken.cancel();
    DeadlinePoll waiter(Clock::now() - std::chrono::milliseconds(5));
    pollfd p{woken.fd(), POLLIN, 0};
    QCOMPARE(waiter.wait(&p, 1), 1);
    QCOMPARE(p.revents, short(POLLIN));
    QVERIFY(waiter.passed());
}

void TestNetDeadlinePoll::onTimeAtNiceFive_data()
{
    QTest::addColumn<bool>("pacing"); // Canceller::waitFor, else DeadlinePoll itself
    QTest::newRow("pacing wait") << true;
    QTest::newRow("echo wait") << false;
}

void TestNetDeadlinePoll::onTimeAtNiceFive()
{
    QFETCH(bool, pacing);
    // Workers run at nice 5, where the kernel gives poll's time-out a slack
    // of 0.5%: 5 ms on this 1 s wait. On a busy machine the woken thread may
    // then wait for a CPU as well; that time is not the wait's fault and is
    // taken off. The best of a few must be within 2 ms.
    constexpr int kWaitMs = 1000;
    constexpr int kTries = 5;
    long long best = -1;
    long long earliest = 0;
    std::thread worker([&] {
        setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), 5);
        Canceller idle;
        for (int i = 0; i < kTries && (best < 0 || best > 2000); ++i) {
            const long long queuedBefore = runQueueWaitUs();
            const auto t0 = Clock::now();
            const auto deadline = t0 + std::chrono::milliseconds(kWaitMs);
            if (pacing) {
                idle.waitFor(kWaitMs);
            } else {
                DeadlinePoll waiter(deadline);
                pollfd p{idle.fd(), POLLIN, 0};
                while (waiter.wait(&p, 1) != 0) {
                }
            }
            const long long overshoot = microseconds(Clock::now() - deadline);
            const long long late = overshoot - (runQueueWaitUs() - queuedBefore);
            earliest = std::min(earliest, overshoot);
            if (best < 0 || late < best)
                best = late;
        }
    });
    worker.join();
    QVERIFY2(earliest >= 0, qPrintable(QStringLiteral("ended %1 us early").arg(-earliest)));
    QVERIFY2(best <= 2000,
             qPrintable(QStringLiteral("best of %1: %2 us late").arg(kTries).arg(best)));
}

// The waits of one thread share its timer: each must still end at its own
// deadline when another was armed after it, inside it or in between.
void TestNetDeadlinePoll::waitsOfOneThreadKeepTheirOwnDeadlines()
{
    Canceller idle;
    pollfd p{idle.fd(), POLLIN, 0};

    const auto outerDeadline = Clock::now() + std::chrono::milliseconds(80);
    DeadlinePoll outer(outerDeadline);
    {
        DeadlinePoll inner(Clock::now() + std::chrono::milliseconds(5));
        QCOMPARE(inner.wait(&p, 1), 0);
    }
    // The timer fired for the inner wait; the outer one must not end with it.
    QCOMPARE(outer.wait(&p, 1), 0);
    QVERIFY(Clock::now() >= outerDeadline);

    // Made later with a far deadline, it does not hold up an earlier near one.
    const auto nearDeadline = Clock::now() + std::chrono::milliseconds(20);
    DeadlinePoll nearWait(nearDeadline);
    DeadlinePoll farWait(Clock::now() + std::chrono::seconds(30));
    const auto t0 = Clock::now();
    QCOMPARE(nearWait.wait(&p, 1), 0);
    QVERIFY(Clock::now() >= nearDeadline);
    QVERIFY(Clock::now() - t0 < std::chrono::seconds(10));
    QVERIFY(!farWait.passed());

    // A canceller's pacing wait in between leaves an echo wait's deadline alone.
    const auto echoDeadline = Clock::now() + std::chrono::milliseconds(60);
    DeadlinePoll echoWait(echoDeadline);
    QVERIFY(!idle.waitFor(5));
    QCOMPARE(echoWait.wait(&p, 1), 0);
    QVERIFY(Clock::now() >= echoDeadline);
}

// Every trace and every worker is a thread: the timer each made for its waits
// is closed when it ends, not kept for the life of the process.
void TestNetDeadlinePoll::threadTimerGoesWithItsThread()
{
    const int before = openDescriptors();
    for (int i = 0; i < 20; ++i) {
        int during = 0;
        std::thread t([&during] {
            Canceller idle;
            for (int k = 0; k < 3; ++k)
                idle.waitFor(1);
            during = openDescriptors();
        });
        t.join();
        // Its canceller and one timer, however many waits it made.
        QCOMPARE(during, before + 2);
    }
    QCOMPARE(openDescriptors(), before);
}

QTEST_GUILESS_MAIN(TestNetDeadlinePoll)
#include "tst_net_deadline_poll.moc"
