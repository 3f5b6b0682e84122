// Which of the packets one pass over a socket's queues read ends the attempt.

#include "platform/net/echo_backends.h"

#include <QtTest>

#include <chrono>

using namespace tarnwick::net;

class TestNetPendingOutcome : public QObject {
    Q_OBJECT

private slots:
    void onePassOutcome_data();
    void onePassOutcome();
};

void TestNetPendingOutcome::onePassOutcome_data()
{
    // What one pass over the queues read, in order: R reply, E ICMP error,
    // L local error, A advisory, U unrelated. The winner is its index, -1 none.
    QTest::addColumn<QString>("reads");
    QTest::addColumn<int>("winner");
    QTest::newRow("nothing") << "" << -1;
    QTest::newRow("only ignored packets") << "UAU" << -1;
    QTest::newRow("a reply") << "UR" << 1;
    QTest::newRow("an error") << "AE" << 1;
    QTest::newRow("error read before the reply") << "ER" << 1;
    QTest::newRow("reply read before the error") << "RE" << 0;
    QTest::newRow("local error, then the reply") << "LUR" << 2;
    QTest::newRow("the first of two errors") << "EL" << 0;
    QTest::newRow("the first of two replies") << "RR" << 0;
}

void TestNetPendingOutcome::onePassOutcome()
{
    QFETCH(QString, reads);
    QFETCH(int, winner);
    const auto start = EchoClock::now();
    PendingOutcome outcome;
    for (int i = 0; i < reads.size(); ++i) {
        Match m;
        switch (reads[i].toLatin1()) {
        case 'R':
            m.kind = MatchKind::Reply;
            break;
        case 'E':
            m.kind = MatchKind::IcmpError;
            break;
        case 'L':
            m.kind = MatchKind::LocalError;
            break;
        case 'A':
            m.kind = MatchKind::Advisory;
            break;
        default:
            m.kind = MatchKind::Unrelated;
        }
        m.address = static_cast<std::uint32_t>(i);
        outcome.offer(m, start + std::chrono::milliseconds(i));
    }
    EchoClock::time_point t1 = start - std::chrono::hours(1);
    const auto m = outcome.take(t1);
    QCOMPARE(m.has_value(), winner >= 0);
    if (m) {
        QCOMPARE(int(m->address), winner);
        // The time of the read that brought the winner.
        QCOMPARE(t1, start + std::chrono::milliseconds(winner));
    }
}

QTEST_GUILESS_MAIN(TestNetPendingOutcome)
#include "tst_net_pending_outcome.moc"
