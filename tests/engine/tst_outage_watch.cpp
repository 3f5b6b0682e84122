// The debounced host states and the whole-network rule, as tables of results
// on manual time. A script is a list of words:
//   0R 1T 2U   a result for slot 0, 1, 2: reply, time-out, unreachable (each
//              one 1 s after the word before it)
//   +N         N ms pass;  zzzN  N ms pass on the wall clock only (sleep)
//   sleep wake stop hosts:a,b,c
// and the notices it gives read "down a @6000 3/0" (since the attempt at
// 6000 ms, 3 timed out, 0 unreachable), "up a 5000" (down for 5000 ms),
// "net-down @7000", "net-up 9000".

#include "engine/outage_watch.h"

#include <QtTest>

using namespace tarnwick::engine;

namespace {

constexpr qint64 kWallBase = 1'700'000'000'000;

QString describe(const Notice& n)
{
    switch (n.kind) {
    case Notice::HostDown:
        return QStringLiteral("down %1 @%2 %3/%4")
            .arg(n.host)
            .arg(n.since.steadyMs)
            .arg(n.timedOut)
            .arg(n.unreachable);
    case Notice::HostUp:
        return QStringLiteral("up %1 %2").arg(n.host).arg(n.durationMs);
    case Notice::NetworkDown:
        return QStringLiteral("net-down @%1").arg(n.since.steadyMs);
    case Notice::NetworkUp:
        return QStringLiteral("net-up %1").arg(n.durationMs);
    }
    return {};
}

SlotHosts hostsFrom(const QString& list)
{
    SlotHosts hosts;
    const QStringList names = list.split(QLatin1Char(','));
    for (int k = 0; k < kHostSlots && k < names.size(); ++k)
        hosts[k] = names[k];
    return hosts;
}

struct Run {
    QStringList notices;
    std::vector<Transition> transitions;
};

Run play(OutageWatch& watch, const QString& hosts, const QString& script, int timeoutMs)
{
    Run run;
    Moment now{kWallBase, 0};
    auto take = [&run](const WatchOutput& out) {
        for (const Notice& n : out.notices)
            run.notices << describe(n);
        run.transitions.insert(run.transitions.end(), out.transitions.begin(),
                               out.transitions.end());
    };
    take(watch.setHosts(hostsFrom(hosts), now));
    for (const QString& word : script.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (word.startsWith(QLatin1Char('+'))) {
            now.wallMs += word.mid(1).toLongLong();
            now.steadyMs += word.mid(1).toLongLong();
        } else if (word.startsWith(QStringLiteral("zzz"))) {
            now.wallMs += word.mid(3).toLongLong();
        } else if (word == QStringLiteral("sleep")) {
            take(watch.sleepStarted(now));
        } else if (word == QStringLiteral("wake")) {
            take(watch.resumed(now));
        } else if (word == QStringLiteral("stop")) {
            take(watch.stop(now));
        } else if (word.startsWith(QStringLiteral("hosts:"))) {
            take(watch.setHosts(hostsFrom(word.mid(6)), now));
        } else {
            now.wallMs += 1000;
            now.steadyMs += 1000;
            const int slot = word.left(1).toInt();
            const QChar kind = word.at(1);
            const QString line =
                kind == QLatin1Char('R')   ? QStringLiteral("Reply from x bytes=32 time=10 ms")
                : kind == QLatin1Char('U') ? QStringLiteral("Destination host unreachable.")
                                           : QStringLiteral("Requested Timed out.");
            take(watch.record(slot, line, now, timeoutMs));
        }
    }
    return run;
}

} // namespace

class TestOutageWatch : public QObject {
    Q_OBJECT
private slots:
    void classifiesAsTheStatisticsDo_data();
    void classifiesAsTheStatisticsDo();
    void notices_data();
    void notices();
    void ledgerSeesEveryHostSpan();
    void thresholdsAreHeldInRange();
};

void TestOutageWatch::classifiesAsTheStatisticsDo_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("attempt");
    QTest::newRow("reply") << "Reply from a bytes=32 time=0 ms" << int(Attempt::Answered);
    QTest::newRow("time-out") << "Requested Timed out." << int(Attempt::TimedOut);
    QTest::newRow("unreachable") << "Destination host unreachable." << int(Attempt::Unreachable);
    // The log's own rule: "Reply" anywhere answers, anything else is lost.
    QTest::newRow("reply inside") << "xReplyx" << int(Attempt::Answered);
    QTest::newRow("other text") << "garbage" << int(Attempt::TimedOut);
}

void TestOutageWatch::classifiesAsTheStatisticsDo()
{
    QFETCH(QString, line);
    QFETCH(int, attempt);
    QCOMPARE(int(classifyResult(line)), attempt);
}

void TestOutageWatch::notices_data()
{
    QTest::addColumn<QString>("hosts");
    QTest::addColumn<int>("downAfter");
    QTest::addColumn<int>("upAfter");
    QTest::addColumn<int>("timeoutMs");
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("expected");

    QTest::newRow("one lost echo is no outage")
        << "a" << 3 << 2 << 0 << "0R 0R 0T 0R 0T 0T 0R 0T 0T 0R"
        << "";
    QTest::newRow("down after three, up after two")
        << "a" << 3 << 2 << 0 << "0R 0R 0T 0T 0R 0T 0T 0T 0R 0T 0R 0R"
        << "down a @6000 3/0 | up a 5000";
    QTest::newRow("time-outs and unreachable told apart") << "a" << 3 << 2 << 0 << "0U 0T 0U"
                                                          << "down a @1000 1/2";
    QTest::newRow("first answers after start say nothing") << "a" << 3 << 2 << 0 << "0R 0R 0R"
                                                           << "";
    QTest::newRow("a host that never answered is down") << "a" << 3 << 2 << 0 << "0T 0T 0T"
                                                        << "down a @1000 3/0";
    QTest::newRow("thresholds of one") << "a" << 1 << 1 << 0 << "0R 0T 0R"
                                       << "down a @2000 1/0 | up a 1000";
    QTest::newRow("a time-out counts from its request") << "a" << 3 << 2 << 800 << "0R 0T 0T 0T"
                                                        << "down a @1200 3/0";
    QTest::newRow("but never before the answer in front of it")
        << "a" << 3 << 2 << 1500 << "0R 0T 0T 0T"
        << "down a @1000 3/0";

    QTest::newRow("one host down while the others answer")
        << "a,b" << 3 << 2 << 0 << "0R 1R 0T 1R 0T 1R 0T 1R"
        << "down a @3000 3/0";
    QTest::newRow("the whole network: one notice, and one back")
        << "a,b,c" << 3 << 2 << 0
        << "0R 1R 2R 0R 1R 2R 0T 1T 2T 0T 1T 2T 0T 1T 2T 0R 1R 2R 0R 1R 2R"
        << "net-down @7000 | net-up 9000";
    QTest::newRow("held until another host answers")
        << "a,b" << 3 << 2 << 0 << "0R 1R 0T 1T 0T 1T 0T 1R"
        << "down a @3000 3/0";
    QTest::newRow("held for a few attempts, no longer")
        << "a,b" << 3 << 2 << 0 << "0R 1R 1T 0T 0T 0T 0T 0T 0T"
        << "down a @4000 6/0";
    QTest::newRow("a host not heard from yet may be failing too")
        << "a,b" << 3 << 2 << 0 << "0T 0T 0T 0T 0T 0T"
        << "down a @1000 6/0";
    QTest::newRow("a short outage while held is still told")
        << "a,b" << 3 << 2 << 0 << "0R 1R 1T 0T 0T 0T 0R 0R"
        << "down a @4000 3/0 | up a 3000";
    QTest::newRow("network back, one host still down on its own")
        << "a,b" << 3 << 2 << 0 << "0R 1R 0T 1T 0T 1T 0T 1T 0R 0R 1T 1T 1T 1T 1T"
        << "net-down @3000 | net-up 6000 | down b @4000 8/0";
    QTest::newRow("a host down long before, the last one goes")
        << "a,b" << 3 << 2 << 0 << "0T 0T 0T 1R 1R 1T 1T 1T 0R 0R"
        << "down a @1000 3/0 | net-down @6000 | net-up 3000";

    QTest::newRow("waking up is no outage")
        << "a" << 3 << 2 << 0 << "0R 0R sleep zzz3600000 wake 0T 0T 0T 0T 0R 0R"
        << "";
    QTest::newRow("failures count again once settled")
        << "a" << 3 << 2 << 0 << "0R 0R sleep zzz3600000 wake +20000 0T 0T 0T"
        << "down a @23000 3/0";
    QTest::newRow("down across a sleep: the sleep is not counted")
        << "a" << 3 << 2 << 0 << "0T 0T 0T sleep zzz3600000 wake 0R 0R"
        << "down a @1000 3/0 | up a 3000";
    QTest::newRow("results while asleep do not count")
        << "a" << 3 << 2 << 0 << "0R sleep 0T 0T 0T wake"
        << "";
    QTest::newRow("stop ends an outage without a word")
        << "a" << 3 << 2 << 0 << "0T 0T 0T stop 0R 0R"
        << "down a @1000 3/0";
    QTest::newRow("another host in the slot starts afresh")
        << "a" << 3 << 2 << 0 << "0T 0T 0T hosts:x 0T 0T 0T 0R 0R"
        << "down a @1000 3/0 | down x @4000 3/0 | up x 3000";
    QTest::newRow("a slot without a host is never monitored") << "a" << 3 << 2 << 0 << "1T 1T 1T 1T"
                                                              << "";
}

void TestOutageWatch::notices()
{
    QFETCH(QString, hosts);
    QFETCH(int, downAfter);
    QFETCH(int, upAfter);
    QFETCH(int, timeoutMs);
    QFETCH(QString, script);
    QFETCH(QString, expected);
    OutageWatch watch(Thresholds{downAfter, upAfter});
    const Run run = play(watch, hosts, script, timeoutMs);
    QCOMPARE(run.notices.join(QStringLiteral(" | ")), expected);
}

void TestOutageWatch::ledgerSeesEveryHostSpan()
{
    // The notices of a network outage are one; the ledger still gets each
    // host's span, and the network's, with the requests each lost.
    OutageWatch watch;
    const Run run = play(watch, QStringLiteral("a,b"),
                         QStringLiteral("0R 1R 0T 1U 0T 1U 0T 1U 0T 0R 0R 1R 1R stop"), 0);
    QStringList kinds;
    for (const Transition& t : run.transitions) {
        switch (t.kind) {
        case Transition::HostDown:
            kinds << QStringLiteral("down %1 %2/%3").arg(t.host).arg(t.timedOut).arg(t.unreachable);
            break;
        case Transition::HostUp:
            kinds << QStringLiteral("up %1 %2..%3")
                         .arg(t.host)
                         .arg(t.since.steadyMs)
                         .arg(t.at.steadyMs);
            break;
        case Transition::NetworkDown:
            kinds << QStringLiteral("net-down %1").arg(t.since.steadyMs);
            break;
        case Transition::NetworkUp:
            kinds << QStringLiteral("net-up %1..%2 %3/%4")
                         .arg(t.since.steadyMs)
                         .arg(t.at.steadyMs)
                         .arg(t.timedOut)
                         .arg(t.unreachable);
            break;
        default:
            kinds << QStringLiteral("other %1").arg(int(t.kind));
        }
    }
    QCOMPARE(kinds.join(QStringLiteral(" | ")),
             QStringLiteral("down a 3/0 | down b 0/3 | net-down 3000 | net-up 3000..10000 4/3 | "
                            "up a 3000..10000 | up b 4000..12000"));
}

void TestOutageWatch::thresholdsAreHeldInRange()
{
    OutageWatch watch(Thresholds{0, 500});
    QCOMPARE(watch.thresholds(), (Thresholds{Thresholds::kMin, Thresholds::kMax}));
}

QTEST_GUILESS_MAIN(TestOutageWatch)
#include "tst_outage_watch.moc"
