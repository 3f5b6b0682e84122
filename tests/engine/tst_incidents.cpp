// Incidents: their ledger records, texts for notices, tickets and CSV, the
// worst round trip around them, and the monitor that makes them from results
// on manual time.

#include "engine/incident.h"
#include "engine/incident_monitor.h"
#include "engine/incident_text.h"
#include "support/manual_time.h"

#include <QtTest>

using namespace tarnwick;
using namespace tarnwick::engine;

namespace {

constexpr qint64 kBase = 1'714'744'992'000; // 2024-05-03 14:03:12 UTC

// Wall and steady time that move with the manual timers; the wall clock can
// also jump alone (a sleep that nobody announced).
class ManualMoments final : public MomentClock {
public:
    explicit ManualMoments(const test::ManualTime& time) : m_time(time) {}
    Moment now() const override { return {kBase + m_time.elapsed() + wallAhead, m_time.elapsed()}; }
    qint64 wallAhead = 0;

private:
    const test::ManualTime& m_time;
};

Incident sample()
{
    Incident i;
    i.id = 7;
    i.scope = Incident::Scope::Host;
    i.host = QStringLiteral("router");
    i.startWallMs = kBase;
    i.endWallMs = kBase + 250000;
    i.measuredMs = 250000;
    i.end = Incident::End::Answered;
    i.timedOut = 3;
    i.unreachable = 1;
    i.worstRttMs = 48;
    return i;
}

const QString kReply = QStringLiteral("Reply from a bytes=32 time=%1 ms");
const QString kTimedOut = QStringLiteral("Requested Timed out.");

} // namespace

Q_DECLARE_METATYPE(tarnwick::engine::Incident)

class TestIncidents : public QObject {
    Q_OBJECT
private slots:
    void recordsComeBackWhole_data();
    void recordsComeBackWhole();
    void damagedRecordsAreLeftOut_data();
    void damagedRecordsAreLeftOut();
    void theLastRecordOfAnIncidentHolds();
    void texts_data();
    void texts();
    void ticketAndCsv();
    void worstRoundTripAround();
    void monitorWritesWhatHappens();
    void monitorKeepsTheLedgerWithinItsCap();
    void monitorDoesNotRewriteWhatMustStay_data();
    void monitorDoesNotRewriteWhatMustStay();
    void monitorClosesWhatACrashLeftOpen();
    void monitorTakesAClockJumpForSleep();
};

void TestIncidents::recordsComeBackWhole_data()
{
    QTest::addColumn<Incident>("incident");
    QTest::newRow("host") << sample();
    Incident odd = sample();
    odd.host = QStringLiteral("tab\there\\ new\nline \xe4");
    odd.route = QStringLiteral("Tracing route to x\r\n  1:    *  \t\r\nTrace complete.\r\n");
    odd.gaps << Gap{kBase + 10, kBase + 20} << Gap{kBase + 30, kBase + 40};
    odd.worstRttMs.reset();
    QTest::newRow("escapes, gaps, no round trip") << odd;
    Incident open = sample();
    open.end = Incident::End::Ongoing;
    open.scope = Incident::Scope::Network;
    open.host = QStringLiteral("a, b");
    QTest::newRow("network, ongoing") << open;
    Incident blank;
    blank.id = 1ull << 40;
    blank.scope = Incident::Scope::NotMeasured;
    blank.end = Incident::End::Unknown;
    QTest::newRow("not measured") << blank;
}

void TestIncidents::recordsComeBackWhole()
{
    QFETCH(Incident, incident);
    const QByteArray record = ledgerRecord(incident);
    QVERIFY(!record.contains('\n'));
    const std::optional<Incident> back = parseLedgerRecord(record);
    QVERIFY(back);
    QCOMPARE(*back == incident, true);
}

void TestIncidents::damagedRecordsAreLeftOut_data()
{
    QTest::addColumn<QByteArray>("line");
    const QByteArray good = ledgerRecord(sample());
    for (const qsizetype at : {qsizetype(0), qsizetype(6), qsizetype(20), good.size() - 1}) {
        QByteArray flipped = good;
        flipped[at] = flipped[at] ^ 0x04;
        QTest::addRow("byte %d changed", int(at)) << flipped;
    }
    for (const qsizetype size : {qsizetype(3), qsizetype(14), good.size() / 2, good.size() - 1})
        QTest::addRow("cut at %d", int(size)) << good.left(size);
    QTest::newRow("empty") << QByteArray();
}

void TestIncidents::damagedRecordsAreLeftOut()
{
    QFETCH(QByteArray, line);
    QVERIFY(!parseLedgerRecord(line));
}

void TestIncidents::theLastRecordOfAnIncidentHolds()
{
    Incident a = sample();
    a.end = Incident::End::Ongoing;
    Incident b = sample();
    b.id = 8;
    Incident a2 = a;
    a2.end = Incident::End::Answered;
    a2.route = QStringLiteral("route");
    const QList<QByteArray> lines = {ledgerRecord(a), ledgerRecord(b), "garbage", ledgerRecord(a2)};
    const std::vector<Incident> incidents = incidentsFromRecords(lines);
    QCOMPARE(incidents.size(), std::size_t(2));
    QCOMPARE(incidents[0] == a2, true);
    QCOMPARE(incidents[1] == b, true);
}

void TestIncidents::texts_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("under a second") << durationText(999) << "0 s";
    QTest::newRow("seconds") << durationText(12000) << "12 s";
    QTest::newRow("minutes") << durationText(250000) << "4 min 10 s";
    QTest::newRow("an hour") << durationText(3600000) << "1 h 0 min 0 s";
    QTest::newRow("days") << durationText(90061000) << "1 d 1 h 1 min";
    QTest::newRow("one lost") << lostText(1, 0) << "1 request timed out";
    QTest::newRow("unreachable") << lostText(0, 3) << "3 requests unreachable";
    QTest::newRow("both") << lostText(2, 1) << "2 requests timed out, 1 unreachable";
    const QTimeZone utc = QTimeZone::utc();
    Moment since{kBase, 0};
    QTest::newRow("down") << noticeText({Notice::HostDown, 0, "gw", since, 0, 3, 0}, utc)
                          << "host gw is down since 14:03:12 (3 requests timed out)";
    QTest::newRow("up") << noticeText({Notice::HostUp, 0, "gw", since, 250000}, utc)
                        << "host gw is up again after 4 min 10 s";
    QTest::newRow("network") << noticeText({Notice::NetworkDown, -1, {}, since}, utc)
                             << "no host answers: the local network may be down";
    QTest::newRow("network back")
        << noticeText({Notice::NetworkUp, -1, {}, since, 61000}, utc)
        << "hosts answer again: the local network is back after 1 min 1 s";
    QTest::newRow("in the user's zone")
        << noticeText({Notice::HostDown, 0, "gw", since, 0, 0, 3}, QTimeZone(7200))
        << "host gw is down since 16:03:12 (3 requests unreachable)";
}

void TestIncidents::texts()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(text, expected);
}

void TestIncidents::ticketAndCsv()
{
    const QTimeZone zone(7200);
    Incident host = sample();
    host.host = QStringLiteral("gw,\"main\"");
    host.route = QStringLiteral("Tracing route to gw\r\n  1:     1 ms  198.18.1.1\r\n");
    Incident network = sample();
    network.id = 8;
    network.scope = Incident::Scope::Network;
    network.host = QStringLiteral("a, b");
    network.end = Incident::End::Ongoing;
    network.worstRttMs.reset();
    network.gaps << Gap{kBase + 60000, kBase + 120000};

    const QString csv = QString::fromUtf8(csvText({host, network}, zone));
    const QString expectedCsv = QStringLiteral(
        "scope,host,start,end,duration_s,requests_timed_out,requests_unreachable,worst_rtt_ms,"
        "ended,not_measured,route\r\n"
        "host,\"gw,\"\"main\"\"\",2024-05-03T16:03:12+02:00,2024-05-03T16:07:22+02:00,250,3,1,48,"
        "answered,,\"Tracing route to gw\r\n  1:     1 ms  198.18.1.1\"\r\n"
        "network,\"a, b\",2024-05-03T16:03:12+02:00,,250,3,1,,ongoing,"
        "2024-05-03T16:04:12+02:00/2024-05-03T16:05:12+02:00,\r\n");
    QCOMPARE(csv, expectedCsv);

    const QString ticket = ticketText({host, network}, zone);
    QVERIFY2(
        ticket.startsWith(QStringLiteral("Outages measured by Tarnwick (times in UTC+02:00)\r\n")),
        qPrintable(ticket));
    QVERIFY(ticket.contains(QStringLiteral("Host:       gw,\"main\"\r\n"
                                           "Down from:  2024-05-03 16:03:12\r\n"
                                           "Up again:   2024-05-03 16:07:22\r\n"
                                           "Duration:   4 min 10 s\r\n"
                                           "Lost:       3 requests timed out, 1 unreachable\r\n"
                                           "Worst round trip within 5 min: 48 ms\r\n"
                                           "Route when it went down:\r\n"
                                           "    Tracing route to gw\r\n"
                                           "      1:     1 ms  198.18.1.1\r\n")));
    QVERIFY(ticket.contains(QStringLiteral("Host:       all monitored hosts (a, b)\r\n")));
    QVERIFY(
        ticket.contains(QStringLiteral("Up again:   ongoing\r\nDuration:   4 min 10 s so far")));
    QVERIFY(ticket.contains(
        QStringLiteral("Not measured: 2024-05-03 16:04:12 to 2024-05-03 16:05:12")));
    QVERIFY(!ticket.contains(QRegularExpression(QStringLiteral("[^\r]\n"))));
}

void TestIncidents::worstRoundTripAround()
{
    IncidentBook book;
    const qint64 min = 60000;
    auto at = [](qint64 steady) { return Moment{kBase + steady, steady}; };
    const qint64 start = 20 * min;
    book.answered(0, 500, at(start - 6 * min)); // too early
    book.answered(1, 400, at(start - 1 * min)); // another host
    book.answered(0, 30, at(start - 4 * min));
    book.apply({Transition::HostDown, 0, "a", at(start), at(start + 3000), 3, 0});
    const Incident* incident = book.find(book.openIncident(0));
    QVERIFY(incident);
    QCOMPARE(incident->worstRttMs, std::optional<int>(30));
    const std::uint64_t id = incident->id;
    QCOMPARE(book.answered(0, 80, at(start + 1 * min)), std::vector<std::uint64_t>{id});
    book.apply({Transition::HostUp, 0, "a", at(start), at(start + 2 * min), 5, 0});
    QCOMPARE(book.find(id)->measuredMs, 2 * min);
    // After the end it still collects, for five minutes, and is written once.
    QVERIFY(book.answered(0, 90, at(start + 6 * min)).empty());
    QCOMPARE(book.find(id)->worstRttMs, std::optional<int>(90));
    QVERIFY(book.tick(at(start + 6 * min)).empty());
    QCOMPARE(book.tick(at(start + 7 * min)), std::vector<std::uint64_t>{id});
    book.answered(0, 900, at(start + 8 * min));
    QCOMPARE(book.find(id)->worstRttMs, std::optional<int>(90));
}

void TestIncidents::monitorWritesWhatHappens()
{
    test::ManualTime time;
    ManualMoments clock(time);
    QList<QByteArray> written;
    QStringList notices;
    QStringList snapshots;
    bool running = true;
    IncidentMonitor::Dependencies deps;
    deps.clock = &clock;
    deps.hosts = [] { return SlotHosts{QStringLiteral("gw")}; };
    deps.running = [&running] { return running; };
    deps.timeoutMs = [] { return 200; };
    deps.notify = [&notices](const Notice& n) { notices << noticeText(n, QTimeZone::utc()); };
    deps.append = [&written](const QByteArray& r) { written << r; };
    deps.snapshotRoute = [&snapshots](std::uint64_t id, const QString& host) {
        snapshots << QStringLiteral("%1 %2").arg(id).arg(host);
    };
    IncidentMonitor monitor(std::move(deps));

    auto result = [&](const QString& line) {
        time.advance(1000);
        monitor.resultRecorded(0, line);
    };
    result(kReply.arg(20));
    result(kReply.arg(35));
    for (int k = 0; k < 3; ++k)
        result(kTimedOut);
    // Off by default: the ledger knows, the desktop is not told.
    QVERIFY(notices.isEmpty());
    QCOMPARE(snapshots, QStringList{QStringLiteral("1 gw")});
    QCOMPARE(written.size(), 1);
    std::optional<Incident> record = parseLedgerRecord(written.last());
    QVERIFY(record && record->ongoing());
    QCOMPARE(record->startWallMs, kBase + 3000 - 200);
    QCOMPARE(record->worstRttMs, std::optional<int>(35));

    monitor.routeTaken(1, QStringLiteral("Trace complete.\r\n"));
    QCOMPARE(parseLedgerRecord(written.last())->route, QStringLiteral("Trace complete.\r\n"));

    monitor.setNoticesOn(true);
    result(kReply.arg(60));
    result(kReply.arg(10));
    QCOMPARE(notices, QStringList{QStringLiteral("host gw is up again after 3 s")});
    record = parseLedgerRecord(written.last());
    QCOMPARE(record->end, Incident::End::Answered);
    QCOMPARE(record->measuredMs, 6000 - 2800);
    QCOMPARE(record->timedOut, 3);
    QCOMPARE(record->worstRttMs, std::optional<int>(60));

    // Stopped while down: it ends, marked so, without a notice.
    for (int k = 0; k < 3; ++k)
        result(kTimedOut);
    running = false;
    time.advance(1000);
    QCOMPARE(parseLedgerRecord(written.last())->end, Incident::End::Stopped);
    QCOMPARE(notices.size(), 2);
    QCOMPARE(monitor.book().incidents().size(), std::size_t(2));
}

void TestIncidents::monitorKeepsTheLedgerWithinItsCap()
{
    test::ManualTime time;
    ManualMoments clock(time);
    qint64 fileBytes = 0;
    QList<QByteArray> file;
    int replaced = 0;
    IncidentMonitor::Dependencies deps;
    deps.clock = &clock;
    deps.hosts = [] { return SlotHosts{QStringLiteral("gw")}; };
    deps.append = [&](const QByteArray& r) {
        file << r;
        fileBytes += r.size() + 1;
    };
    deps.replace = [&](const QList<QByteArray>& records) {
        ++replaced;
        file = records;
        fileBytes = 0;
        for (const QByteArray& r : records)
            fileBytes += r.size() + 1;
    };
    deps.capBytes = 4000;
    deps.thresholds = {1, 1};
    IncidentMonitor monitor(std::move(deps));
    for (int k = 0; k < 100; ++k) {
        time.advance(1000);
        monitor.resultRecorded(0, kTimedOut);
        time.advance(1000);
        monitor.resultRecorded(0, kReply.arg(k));
        QVERIFY2(fileBytes <= 4000, qPrintable(QString::number(fileBytes)));
    }
    QVERIFY(replaced > 0);
    const std::vector<Incident> kept = incidentsFromRecords(file);
    QVERIFY(kept.size() > 5 && kept.size() < 100);
    // The oldest went; the newest stayed, and the book shows what the file holds.
    QCOMPARE(kept.back().startWallMs, kBase + 199000);
    QCOMPARE(monitor.book().incidents().size(), kept.size());
}

void TestIncidents::monitorDoesNotRewriteWhatMustStay_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<qint64>("cap");
    QTest::newRow("a host entry of a million characters") << QString(1000000, u'a') << qint64(4000);
    QTest::newRow("the open incident alone over the cap") << QStringLiteral("gw") << qint64(40);
}

// An open incident cannot be dropped. Where it alone fills the cap, the
// ledger used to be rewritten whole every second, for as long as it lasted.
void TestIncidents::monitorDoesNotRewriteWhatMustStay()
{
    QFETCH(QString, host);
    QFETCH(qint64, cap);
    test::ManualTime time;
    ManualMoments clock(time);
    qint64 longest = 0;
    int replaced = 0;
    IncidentMonitor::Dependencies deps;
    deps.clock = &clock;
    deps.hosts = [host] { return SlotHosts{host}; };
    deps.append = [&](const QByteArray& r) { longest = std::max<qint64>(longest, r.size()); };
    deps.replace = [&](const QList<QByteArray>&) { ++replaced; };
    deps.capBytes = cap;
    deps.thresholds = {1, 1};
    IncidentMonitor monitor(std::move(deps));
    for (int k = 0; k < 60; ++k) {
        time.advance(1000);
        monitor.resultRecorded(0, kTimedOut);
    }
    QVERIFY2(replaced <= 2, qPrintable(QString::number(replaced)));
    QVERIFY2(longest < 1000, qPrintable(QString::number(longest)));
    const std::vector<Incident>& incidents = monitor.book().incidents();
    QVERIFY(!incidents.empty());
    QCOMPARE(incidents.front().host, host.left(IncidentMonitor::kMaxHostChars));
}

void TestIncidents::monitorClosesWhatACrashLeftOpen()
{
    test::ManualTime time;
    ManualMoments clock(time);
    Incident open = sample();
    open.end = Incident::End::Ongoing;
    Incident closed = sample();
    closed.id = 8;
    QList<QByteArray> written;
    IncidentMonitor::Dependencies deps;
    deps.clock = &clock;
    deps.loaded = {open, closed};
    deps.append = [&written](const QByteArray& r) { written << r; };
    IncidentMonitor monitor(std::move(deps));
    QCOMPARE(written.size(), 1);
    QCOMPARE(parseLedgerRecord(written[0])->end, Incident::End::Unknown);
    // New incidents get ids of their own.
    QCOMPARE(monitor.book().incidents().size(), std::size_t(2));
}

void TestIncidents::monitorTakesAClockJumpForSleep()
{
    test::ManualTime time;
    ManualMoments clock(time);
    QStringList notices;
    QList<QByteArray> written;
    IncidentMonitor::Dependencies deps;
    deps.clock = &clock;
    deps.hosts = [] { return SlotHosts{QStringLiteral("gw")}; };
    deps.notify = [&notices](const Notice& n) { notices << noticeText(n, QTimeZone::utc()); };
    deps.append = [&written](const QByteArray& r) { written << r; };
    deps.noticesOn = true;
    IncidentMonitor monitor(std::move(deps));
    for (int k = 0; k < 3; ++k) {
        time.advance(1000);
        monitor.resultRecorded(0, kReply.arg(5));
    }
    // An hour passes on the wall clock only; the first attempts after it fail.
    clock.wallAhead = 3600000;
    time.advance(1000);
    for (int k = 0; k < 5; ++k) {
        time.advance(1000);
        monitor.resultRecorded(0, kTimedOut);
    }
    QVERIFY2(notices.isEmpty(), qPrintable(notices.join(QLatin1Char('|'))));
    QCOMPARE(written.size(), 1);
    const std::optional<Incident> gap = parseLedgerRecord(written[0]);
    QCOMPARE(gap->scope, Incident::Scope::NotMeasured);
    QCOMPARE(gap->endWallMs - gap->startWallMs, 3600000 + 1000);
    // Announced by the session instead, the jump is not counted twice.
    monitor.sleepStarted();
    clock.wallAhead += 600000;
    monitor.resumed();
    time.advance(1000);
    QCOMPARE(written.size(), 2);
}

QTEST_GUILESS_MAIN(TestIncidents)
#include "tst_incidents.moc"
