// The ping workers against the rig's hosts on the helper path, run as an
// ordinary user the way a stock system leaves them: one helper process per
// worker for the worker's whole life, a killed helper replaced at the next
// attempt, and a prompt exit with an echo wait in flight that leaves no
// helper behind.

#include "engine/monitor_engine.h"
#include "platform/net/echo.h"
#include "platform/net/echo_backends.h"
#include "platform/net/resolver.h"
#include "rig/rig_processes.h"
#include "rig/rig_support.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QtTest>

#include <csignal>
#include <memory>

using namespace tarnwick;
using namespace tarnwick::engine;

namespace {

struct Engine {
    explicit Engine(const std::string& helper)
        : engine([this](int slot, const QString& line) { lines[slot] << line; },
                 std::make_shared<net::SystemEchoService>(helper),
                 [](const std::string& host, const net::Canceller* cancel) {
                     return net::resolveIPv4(host, cancel);
                 })
    {
    }
    int count(int slot) const { return static_cast<int>(lines[slot].size()); }

    QStringList lines[5];
    MonitorEngine engine;
};

QString replyPattern(const char* host)
{
    return QStringLiteral("Reply from %1 bytes=32 time=\\d+ ms")
        .arg(QRegularExpression::escape(QString::fromLatin1(host)));
}

} // namespace

class TestWorkerRig : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void oneHelperPerWorker();
    void exitWithAnEchoInFlight();

private:
    std::string m_helper;
};

void TestWorkerRig::initTestCase()
{
    QVERIFY2(rig::insideRig(), "run through tests/rig/rig.sh: these tests send packets");
    m_helper = rig::grantedCopy(TARNWICK_ICMP_HELPER_PATH, "tarnwick-icmp-helper");
    QVERIFY2(!m_helper.empty(), "cannot grant the helper its capability");
}

// Many attempts, one helper each for the two busy workers (the idle three
// start none); a helper killed between attempts is replaced by the next one,
// which still gets its reply; and nothing is left once the workers end.
void TestWorkerRig::oneHelperPerWorker()
{
    rig::PingGroupRange range("1 0");
    QVERIFY(range.ok());
    rig::AsUser nobody;
    QVERIFY(nobody.ok());
    const std::uint64_t started = net::helperProcessesStarted();
    Engine e(m_helper);
    e.engine.settings().setHosts(
        {QString::fromLatin1(rig::kTarget), QString::fromLatin1(rig::kRouter1)});
    e.engine.settings().setDelayText(QStringLiteral("20"));
    e.engine.toggleRun();
    e.engine.startWorkers();
    QTRY_VERIFY_WITH_TIMEOUT(e.count(0) >= 10 && e.count(1) >= 10, 10000);
    QCOMPARE(net::helperProcessesStarted() - started, 2u);
    const std::vector<pid_t> helpers = rig::childProcesses(m_helper);
    QCOMPARE(helpers.size(), std::size_t{2});

    QCOMPARE(::kill(helpers[0], SIGKILL), 0);
    const int seen[2] = {e.count(0), e.count(1)};
    QTRY_VERIFY_WITH_TIMEOUT(e.count(0) >= seen[0] + 3 && e.count(1) >= seen[1] + 3, 10000);
    QCOMPARE(net::helperProcessesStarted() - started, 3u);
    const std::vector<pid_t> now = rig::childProcesses(m_helper);
    QCOMPARE(now.size(), std::size_t{2});
    QVERIFY(std::find(now.begin(), now.end(), helpers[0]) == now.end());

    const QRegularExpression reply[2] = {
        QRegularExpression(QRegularExpression::anchoredPattern(replyPattern(rig::kTarget))),
        QRegularExpression(QRegularExpression::anchoredPattern(replyPattern(rig::kRouter1)))};
    // Every line is a reply, but for the one attempt the kill may have hit
    // while its echo was under way.
    int cutShort = 0;
    for (int slot = 0; slot < 2; ++slot) {
        for (int i = 0; i < e.count(slot); ++i) {
            const QString& line = e.lines[slot][i];
            if (reply[slot].match(line).hasMatch())
                continue;
            QVERIFY2(i >= seen[slot] - 1 && i <= seen[slot], qPrintable(line));
            QCOMPARE(line, QStringLiteral("Requested Timed out."));
            ++cutShort;
        }
    }
    QVERIFY(cutShort <= 1);
    for (int slot = 2; slot < 5; ++slot)
        QCOMPARE(e.count(slot), 0);

    QElapsedTimer clock;
    clock.start();
    e.engine.shutdown();
    QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(rig::childProcesses(m_helper).empty());
}

// Exit while the helper waits out a long time-out: the wait is cut short,
// the helper leaves with its worker, and no result line is written.
void TestWorkerRig::exitWithAnEchoInFlight()
{
    rig::PingGroupRange range("1 0");
    rig::AsUser nobody;
    QVERIFY(nobody.ok());
    Engine e(m_helper);
    e.engine.settings().setHosts({QString::fromLatin1(rig::kSilent)});
    e.engine.settings().setTimeout(10000);
    const std::uint64_t sent = rig::icmpEchoRequestsSent();
    e.engine.toggleRun();
    e.engine.startWorkers();
    QTRY_VERIFY_WITH_TIMEOUT(rig::icmpEchoRequestsSent() > sent, 5000);
    QCOMPARE(rig::childProcesses(m_helper).size(), std::size_t{1});
    QElapsedTimer clock;
    clock.start();
    e.engine.shutdown();
    QVERIFY2(clock.elapsed() < 300, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(rig::childProcesses(m_helper).empty());
    QCOMPARE(e.count(0), 0);
}

QTEST_GUILESS_MAIN(TestWorkerRig)
#include "tst_worker_rig.moc"
