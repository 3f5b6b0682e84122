// The monitoring engine driven through the real main window (offscreen), with
// the echo service and resolver replaced by test doubles, and the window's
// timers and the workers' waits on one manual clock.

#include "engine/monitor_engine.h"
#include "support/form_fixture.h"
#include "support/manual_time.h"
#include "ui/controls.h"
#include "ui/log_memo.h"
#include "ui/main_window.h"
#include "ui/stat_label.h"
#include "ui/up_down.h"

#include <QElapsedTimer>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <QtTest>

using namespace tarnwick;
using tarnwick::test::EchoAnswer;
using tarnwick::test::ScriptedEchoService;
using tarnwick::ui::TForm1;

namespace {

struct Window {
    explicit Window(const QStringList& hosts = {QStringLiteral("localhost")})
        : fixture(&time), echo(fixture.echo), form(*fixture.form)
    {
        echo->useClock(&time);
        form.ListBox1->clear();
        form.ListBox1->addItems(hosts);
    }
    int lines(int slot) const { return form.slotLog(slot)->lineCount(); }
    // Past the start-up timers (the run flag at 1 s, the workers at 2 s), and
    // the five workers in their first poll.
    bool started()
    {
        time.advance(2000);
        return step(0);
    }
    // Moves time on and lets the workers run up to their next waits.
    bool step(qint64 ms)
    {
        time.advance(ms);
        return QTest::qWaitFor([&] { return time.settled(5); }, 5000);
    }

    tarnwick::test::ManualTime time;
    tarnwick::test::FormFixture fixture;
    std::shared_ptr<ScriptedEchoService> echo;
    TForm1& form;
};

} // namespace

class TestMonitoring : public QObject {
    Q_OBJECT
private slots:
    void startsByItself();
    void clickInTheFirstSecondEndsStopped();
    void startStopButton();
    void sevenEntriesFiveMonitored();
    void editingAndDeletingWhileRunning();
    void delayTypedAsZero();
    void recordingRewritesEveryLabel();
    void exitDuringAnEcho();
    void noEchoPermissionIsToldOnce();
};

void TestMonitoring::startsByItself()
{
    Window w;
    w.echo->addHost("localhost", {EchoAnswer::Reply, 0, 0, 0});
    QVERIFY(!w.form.engine().isRunning());
    QCOMPARE(w.form.engine().workerCount(), 0);
    w.time.advance(999);
    QVERIFY(!w.form.engine().isRunning());
    w.time.advance(1);
    QVERIFY(w.form.engine().isRunning());
    w.time.advance(999);
    QCOMPARE(w.form.engine().workerCount(), 0);
    w.time.advance(1);
    QCOMPARE(w.form.engine().workerCount(), 5);
    // The first line comes after the workers' first 200 ms poll.
    QVERIFY(w.step(0));
    QVERIFY(w.step(199));
    QCOMPARE(w.lines(0), 0);
    QVERIFY(w.step(1));
    QCOMPARE(w.lines(0), 1);
    QCOMPARE(w.form.Memo1->lineFromEnd(0),
             QStringLiteral("Reply from localhost bytes=32 time=0 ms"));
    QCOMPARE(w.form.PageControl1->tabText(0), QStringLiteral("Ping localhost"));
    for (int slot = 1; slot < 5; ++slot)
        QCOMPARE(w.lines(slot), 0);
}

void TestMonitoring::clickInTheFirstSecondEndsStopped()
{
    Window w;
    w.echo->addHost("localhost", {EchoAnswer::Reply, 0, 0, 0});
    QTest::mouseClick(w.form.Button1, Qt::LeftButton);
    QVERIFY(w.form.engine().isRunning());
    w.time.advance(1000);
    QVERIFY(!w.form.Timer6->isActive());
    QVERIFY(!w.form.engine().isRunning());
    QVERIFY(w.step(1000));
    QCOMPARE(w.form.engine().workerCount(), 5);
    for (int i = 0; i < 3; ++i)
        QVERIFY(w.step(200));
    QCOMPARE(w.lines(0), 0);
    QCOMPARE(w.echo->totalEchoes(), 0);
}

void TestMonitoring::startStopButton()
{
    Window w;
    w.echo->addHost("localhost", {EchoAnswer::Reply, 2, 0, 0});
    w.form.Edit1->setText(QStringLiteral("200"));
    QVERIFY(w.started());
    QVERIFY(w.step(200));
    QVERIFY(w.step(200));
    QCOMPARE(w.lines(0), 2);
    QTest::mouseClick(w.form.Button1, Qt::LeftButton);
    QVERIFY(!w.form.engine().isRunning());
    for (int i = 0; i < 4; ++i)
        QVERIFY(w.step(200));
    QCOMPARE(w.lines(0), 2);
    // Started again, the worker's next poll pings.
    QTest::mouseClick(w.form.Button1, Qt::LeftButton);
    QVERIFY(w.step(200));
    QCOMPARE(w.lines(0), 3);
}

void TestMonitoring::sevenEntriesFiveMonitored()
{
    const QStringList hosts{"h1", "h2", "h3", "h4", "h5", "h6", "h7"};
    Window w(hosts);
    for (const QString& h : hosts)
        w.echo->addHost(h.toStdString(), {EchoAnswer::Reply, 1, 0, 0});
    w.form.Edit1->setText(QStringLiteral("200"));
    QVERIFY(w.started());
    QVERIFY(w.step(200));
    QCOMPARE(w.form.PageControl1->count(), 5);
    for (int slot = 0; slot < 5; ++slot) {
        QCOMPARE(w.lines(slot), 1);
        QCOMPARE(w.form.PageControl1->tabText(slot), QStringLiteral("Ping ") + hosts[slot]);
        QCOMPARE(w.form.slotLog(slot)->lineFromEnd(0),
                 QStringLiteral("Reply from %1 bytes=32 time=1 ms").arg(hosts[slot]));
    }
    QCOMPARE(w.echo->echoCount("h6"), 0);
    QCOMPARE(w.echo->echoCount("h7"), 0);
}

void TestMonitoring::editingAndDeletingWhileRunning()
{
    Window w({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")});
    for (const char* h : {"a", "b", "c", "b2"})
        w.echo->addHost(h, {EchoAnswer::Reply, 1, 0, 0});
    w.form.Edit1->setText(QStringLiteral("200"));
    QVERIFY(w.started());
    QVERIFY(w.step(200));
    QCOMPARE(w.lines(1), 1);
    QCOMPARE(w.lines(2), 1);

    // Editing the second host: from its next attempt on, slot 1 names the new one.
    w.form.ListBox1->item(1)->setText(QStringLiteral("b2"));
    QVERIFY(w.step(200));
    QCOMPARE(w.lines(1), 2);
    QCOMPARE(w.form.Memo2->lineFromEnd(0), QStringLiteral("Reply from b2 bytes=32 time=1 ms"));
    QCOMPARE(w.form.PageControl1->tabText(1), QStringLiteral("Ping b2"));

    // Deleting the third host: slot 2 stops, its tab and log stay as they were.
    delete w.form.ListBox1->takeItem(2);
    const QString lastLine = w.form.Memo3->lineFromEnd(0);
    for (int i = 0; i < 5; ++i)
        QVERIFY(w.step(200));
    QCOMPARE(w.lines(2), 2);
    QCOMPARE(w.form.Memo3->lineFromEnd(0), lastLine);
    QCOMPARE(w.form.PageControl1->tabText(2), QStringLiteral("Ping c"));
    QCOMPARE(w.lines(0), 7);
}

void TestMonitoring::delayTypedAsZero()
{
    Window w;
    w.echo->addHost("localhost", {EchoAnswer::Reply, 0, 0, 0});
    w.form.Edit1->clear();
    QTest::keyClicks(w.form.Edit1, QStringLiteral("0"));
    QCOMPARE(w.form.Edit1->text(), QStringLiteral("0"));
    QCOMPARE(w.form.UpDown1->position(), 1000); // out of range: the up-down keeps its value
    QVERIFY(w.started());
    // Back to back: the lines come while the clock stands still.
    w.time.advance(200);
    QTRY_VERIFY_WITH_TIMEOUT(w.lines(0) >= 30, 5000);
}

void TestMonitoring::recordingRewritesEveryLabel()
{
    Window w;
    // Recorded straight through the window's recording routine.
    w.form.recordResult(2, QStringLiteral("Reply from x bytes=32 time=10 ms"));
    w.form.recordResult(2, QStringLiteral("Requested Timed out."));
    w.form.recordResult(2, QStringLiteral("Reply from x bytes=32 time=30 ms"));
    QCOMPARE(
        w.form.packetLabel(2)->caption(),
        QStringLiteral("Packets send = 3\rPackets recived = 2\rPackets lost = 1\rLoss = 33.33 %"));
    QCOMPARE(w.form.timingLabel(2)->caption(),
             QStringLiteral("Minimum = 10 ms\rMaximum = 30 ms\rAverage = 20 ms"));
    // The other slots were rewritten from their own (unchanged) figures.
    QCOMPARE(w.form.timingLabel(0)->caption(),
             QStringLiteral("Minimum = -1 ms\rMaximum = 0 ms\rAverage = 0 ms"));
    QCOMPARE(w.form.packetLabel(4)->caption(),
             QStringLiteral("Packets send = 0\rPackets recived = 0\rPackets lost = 0\rLoss = 0 %"));
    QCOMPARE(w.form.Memo3->lineCount(), 3);

    // After a reset the labels keep their figures until the next result.
    w.form.UpDown2->setPosition(1500);
    w.form.resetSlotStatistics(2);
    QCOMPARE(w.form.timingLabel(2)->caption(),
             QStringLiteral("Minimum = 10 ms\rMaximum = 30 ms\rAverage = 20 ms"));
    w.form.recordResult(0, QStringLiteral("Requested Timed out."));
    QCOMPARE(w.form.timingLabel(2)->caption(),
             QStringLiteral("Minimum = 1500 ms\rMaximum = 0 ms\rAverage = 0 ms"));
}

void TestMonitoring::exitDuringAnEcho()
{
    auto w = std::make_unique<Window>();
    w->echo->addHost("localhost", {EchoAnswer::TimeOut, 0, 0, 0});
    w->form.UpDown2->setPosition(10000);
    QVERIFY(w->started());
    QVERIFY(w->step(200));
    QCOMPARE(w->echo->echoesInFlight(), 1);
    std::shared_ptr<ScriptedEchoService> echo = w->echo;
    QElapsedTimer t;
    t.start();
    w.reset();
    QVERIFY2(t.elapsed() < 500, qPrintable(QString::number(t.elapsed())));
    QCOMPARE(echo->cancelledEchoes(), 1);
    QCOMPARE(echo->echoesInFlight(), 0);
}

void TestMonitoring::noEchoPermissionIsToldOnce()
{
    Window w({QStringLiteral("a"), QStringLiteral("b")});
    for (const char* h : {"a", "b"})
        w.echo->addHost(h, {EchoAnswer::NotPermitted, 0, 0, 0});
    QStringList notices;
    w.fixture.notices = [&](const QString& text) { notices << text; };
    w.form.Edit1->setText(QStringLiteral("200"));
    QVERIFY(w.started());
    for (int i = 0; i < 4; ++i)
        QVERIFY(w.step(200));
    QCOMPARE(w.lines(0), 4);
    QCOMPARE(w.lines(1), 4);
    QTRY_COMPARE(notices.size(), 1);
    QVERIFY(notices[0].contains(QLatin1String("setcap cap_net_raw+ep")));
    QVERIFY(notices[0].contains(QLatin1String("ping_group_range")));
    // The result lines stay what a failed echo gives.
    QCOMPARE(w.form.Memo1->lineFromEnd(0), QStringLiteral("Requested Timed out."));
    QCOMPARE(w.form.Memo2->lineFromEnd(1), QStringLiteral("Requested Timed out."));
}

QTEST_MAIN(TestMonitoring)
#include "tst_monitoring.moc"
