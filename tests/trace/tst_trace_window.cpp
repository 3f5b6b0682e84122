// The traceroute window without a network: its controls, the trace's text and
// rules against a scripted echo service, a new trace replacing a running one,
// exit while workers wait, and the main window's ways into it.

#include "app/trace_window_launcher.h"
#include "core/app_error.h"
#include "platform/net/resolver.h"
#include "support/form_fixture.h"
#include "support/sanitized.h"
#include "support/scripted_echo.h"
#include "trace/trace_controls.h"
#include "trace/trace_text.h"
#include "trace/trace_window.h"
#include "trace_check.h"
#include "ui/log_memo.h"
#include "ui/main_window.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QScrollBar>
#include <QTabWidget>
#include <QtTest>

#include <cerrno>
#include <chrono>
#include <ctime>
#include <thread>

using namespace tarnwick;
using namespace tarnwick::test;
using trace::TForm3;

namespace {

constexpr int kTraceTimeoutMs = 20000;

std::shared_ptr<ScriptedEchoService> silentNetwork()
{
    return std::make_shared<ScriptedEchoService>(
        [](const std::string&, int, int) { return noReply(); });
}

qint64 threadCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return qint64(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

struct Window {
    explicit Window(std::shared_ptr<ScriptedEchoService> e = silentNetwork())
        : echo(std::move(e)), form(nullptr, TForm3::Dependencies{echo})
    {
        form.show();
    }
    QString output() const { return form.memShowTracert->text(); }
    std::shared_ptr<ScriptedEchoService> echo;
    TForm3 form;
};

} // namespace

class TestTraceWindow : public QObject {
    Q_OBJECT
private slots:
    void controls_data();
    void controls();
    void maxHopsText_data();
    void maxHopsText();
    void traceText();
    void probeRequests_data();
    void probeRequests();
    void failuresBeforeTheFirstHop_data();
    void failuresBeforeTheFirstHop();
    void newTraceStopsTheRunningOne();
    void exitCutsWaitsShort_data();
    void exitCutsWaitsShort();
    void closingHidesWhileTheTraceWrites();
    void centredOverTheMainWindow();
    void slotLogDoubleClick_data();
    void slotLogDoubleClick();
    void traceRouteButtons_data();
    void traceRouteButtons();
    void launcherOutlivesItsWindow();
};

void TestTraceWindow::controls_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("parent");
    QTest::addColumn<QRect>("place");
    QTest::addColumn<QString>("text");
    auto row = [](const char* name, const char* parent, QRect place, const char* text) {
        QTest::newRow(name) << QString::fromLatin1(name) << QString::fromLatin1(parent) << place
                            << QString::fromLatin1(text);
    };
    row("GroupBox1", "Form3", {3, 0, 462, 233}, "Trace");
    row("Label2", "GroupBox1", {8, 17, 46, 13}, "Max hops");
    row("sedCount", "GroupBox1", {7, 32, 41, 22}, "32");
    row("Label1", "GroupBox1", {64, 16, 22, 13}, "Host");
    row("edAddr", "GroupBox1", {63, 32, 121, 21}, "localhost");
    row("btnStart", "GroupBox1", {195, 30, 75, 25}, "traceroute");
    row("CheckBox1", "GroupBox1", {332, 40, 124, 17}, "Get host name from IP");
    row("memShowTracert", "GroupBox1", {5, 61, 452, 165}, "");
    row("GroupBox2", "Form3", {4, 234, 461, 91},
        "Host name from IP address / IP address from host name");
    row("Label3", "GroupBox2", {10, 20, 53, 13}, "IP address:");
    row("Edit1", "GroupBox2", {8, 35, 121, 21}, "");
    row("Button1", "GroupBox2", {8, 60, 121, 25}, "Get host name from IP");
    row("Label4", "GroupBox2", {137, 20, 54, 13}, "Host name:");
    row("Edit2", "GroupBox2", {136, 35, 121, 21}, "");
    row("Button2", "GroupBox2", {137, 60, 121, 25}, "Get IP from host name");
}

void TestTraceWindow::controls()
{
    QFETCH(QString, name);
    QFETCH(QString, parent);
    QFETCH(QRect, place);
    QFETCH(QString, text);
    TForm3 form(nullptr, TForm3::Dependencies{silentNetwork()});
    QCOMPARE(form.windowTitle(), QStringLiteral("TraceRoute"));
    QCOMPARE(form.size(), QSize(468, 325));
    QCOMPARE(form.minimumSize(), form.maximumSize());
    QVERIFY(form.windowFlags() & Qt::WindowMinimizeButtonHint);
    QVERIFY(!(form.windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(!form.isVisible());
    QVERIFY(!form.CheckBox1->isChecked());

    auto* w = form.findChild<QWidget*>(name);
    QVERIFY(w);
    QCOMPARE(w->parentWidget()->objectName(), parent);
    // Labels size themselves to their caption; every other control keeps its
    // place, and its caption fits in it.
    if (qobject_cast<QLabel*>(w)) {
        QCOMPARE(w->pos(), place.topLeft());
        QCOMPARE(w->size(), w->sizeHint());
    } else {
        QCOMPARE(w->geometry(), place);
    }
    QString shown;
    if (auto* box = qobject_cast<QGroupBox*>(w))
        shown = box->title();
    else if (auto* label = qobject_cast<QLabel*>(w))
        shown = label->text();
    else if (auto* button = qobject_cast<QAbstractButton*>(w))
        shown = button->text();
    if (qobject_cast<QAbstractButton*>(w))
        QVERIFY(w->fontMetrics().horizontalAdvance(shown) < w->width() - 8);
    else if (auto* edit = qobject_cast<QLineEdit*>(w))
        shown = edit->text();
    else if (auto* spin = qobject_cast<QAbstractSpinBox*>(w))
        shown = spin->text();
    else if (auto* memo = qobject_cast<trace::TTraceMemo*>(w))
        shown = memo->text();
    QCOMPARE(shown, text);
}

void TestTraceWindow::maxHopsText_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("hops");
    QTest::newRow("0") << "0" << 0;
    QTest::newRow("7") << "7" << 7;
    QTest::newRow("255") << "255" << 255;
    QTest::newRow("256 holds at 255") << "256" << 255;
    QTest::newRow("300 holds at 255") << "300" << 255;
    QTest::newRow("-1 holds at 0") << "-1" << 0;
    QTest::newRow("not a number") << "abc" << 0;
    QTest::newRow("number then letters") << "12x" << 0;
    QTest::newRow("beyond any integer") << "99999999999999999999999" << 255;
}

// A target that never answers: exactly "Max hops" hop lines, each timed out,
// then "Trace complete.".
void TestTraceWindow::maxHopsText()
{
    QFETCH(QString, typed);
    QFETCH(int, hops);
    Window w;
    startTrace(w.form, QStringLiteral("10.9.9.9"), typed);
    QVERIFY(waitForTraceEnd(w.form, kTraceTimeoutMs));
    QStringList expected{exactly(QStringLiteral("Tracing route to 10.9.9.9 [10.9.9.9]")),
                         exactly(QStringLiteral("over of maximum %1 hops:").arg(hops))};
    for (int hop = 1; hop <= hops; ++hop)
        expected << hopLine(hop, "***", QStringLiteral("Requested Timed out."));
    expected << exactly(QStringLiteral("Trace complete."));
    QString why;
    QVERIFY2(linesMatch(w.output(), expected, &why), qPrintable(why));
    QCOMPARE(static_cast<int>(w.echo->requests().size()), 3 * hops);
}

// Only the third probe of hop 2 answers; hop 3's last answer comes from
// another node than the target, so the trace goes on to hop 4.
void TestTraceWindow::traceText()
{
    const std::string target = "10.9.9.9";
    Window w(std::make_shared<ScriptedEchoService>([target](const std::string&, int ttl,
                                                            int nth) -> EchoAnswer {
        switch (ttl) {
        case 1:
            return replyFrom("10.9.1.1", nth == 1 ? 40 : 0);
        case 2:
            return nth == 2 ? replyFrom("10.9.2.2") : noReply();
        case 3:
            return nth == 0 ? replyFrom("10.9.9.9") : nth == 1 ? noReply() : replyFrom("10.9.3.3");
        default:
            return replyFrom("10.9.9.9");
        }
    }));
    startTrace(w.form, QStringLiteral("10.9.9.9"), QStringLiteral("30"));
    QVERIFY(!w.form.btnStart->isEnabled());
    QVERIFY(waitForTraceEnd(w.form, kTraceTimeoutMs));
    QString why;
    QVERIFY2(linesMatch(w.output(),
                        {exactly(QStringLiteral("Tracing route to 10.9.9.9 [10.9.9.9]")),
                         exactly(QStringLiteral("over of maximum 30 hops:")),
                         hopLine(1, "rrr", QStringLiteral("10.9.1.1")),
                         hopLine(2, "**r", QStringLiteral("10.9.2.2")),
                         hopLine(3, "r*r", QStringLiteral("10.9.3.3")),
                         hopLine(4, "rrr", QStringLiteral("10.9.9.9")),
                         exactly(QStringLiteral("Trace complete."))},
                        &why),
             qPrintable(why));
    // The time shown is taken around the whole probe.
    const QString hop1 = w.output().split(QStringLiteral("\r\n")).at(2);
    const int second = hop1.mid(5 + 9, 6).trimmed().toInt();
    QVERIFY2(second >= 40 && second < 2000, qPrintable(hop1));
    // The last line is in view.
    QScrollBar* bar = w.form.memShowTracert->verticalScrollBar();
    QCOMPARE(bar->value(), bar->maximum());
}

void TestTraceWindow::probeRequests_data()
{
    QTest::addColumn<int>("maxHops");
    QTest::newRow("3 hops") << 3;
    QTest::newRow("255 hops") << 255;
}

// No data, the hop's time-to-live, a 2000 ms time-out, three per hop.
void TestTraceWindow::probeRequests()
{
    QFETCH(int, maxHops);
    Window w;
    startTrace(w.form, QStringLiteral("10.9.9.9"), QString::number(maxHops));
    QVERIFY(waitForTraceEnd(w.form, kTraceTimeoutMs));
    const auto requests = w.echo->requests();
    QCOMPARE(static_cast<int>(requests.size()), 3 * maxHops);
    for (int i = 0; i < static_cast<int>(requests.size()); ++i) {
        QCOMPARE(requests[i].ttl, i / 3 + 1);
        QCOMPARE(int(requests[i].dataSize), 0);
        QCOMPARE(requests[i].timeoutMs, 2000);
        QCOMPARE(net::formatIPv4(requests[i].destination), std::string("10.9.9.9"));
    }
}

void TestTraceWindow::failuresBeforeTheFirstHop_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<bool>("echoUnavailable");
    QTest::addColumn<QString>("expected");
    const auto lookupText = [](const std::string& host) {
        return QString::fromStdString(net::resolveIPv4(host).errorText);
    };
    QTest::newRow("empty host") << "" << false << lookupText("");
    const std::string longName(256, 'a');
    QTest::newRow("name over 255 characters")
        << QString::fromStdString(longName) << false << lookupText(longName);
    QTest::newRow("loose numeric form") << "10.1" << false << lookupText("10.1");
    QTest::newRow("no echo possible")
        << "10.9.9.9" << true << QString::fromStdString(net::errnoText(EPERM));
    // Resolves to 0.0.0.0: the loop's stop test is met before the first hop.
    QTest::newRow("0.0.0.0") << "0.0.0.0" << false
                             << "Tracing route to 0.0.0.0 [0.0.0.0]\r\nover of maximum 32 "
                                "hops:\r\nTrace complete.\r\n";
}

void TestTraceWindow::failuresBeforeTheFirstHop()
{
    QFETCH(QString, host);
    QFETCH(bool, echoUnavailable);
    QFETCH(QString, expected);
    QVERIFY(!expected.isEmpty());
    Window w(std::make_shared<ScriptedEchoService>(
        [](const std::string&, int, int) { return replyFrom("10.9.9.9"); }, echoUnavailable));
    startTrace(w.form, host, QStringLiteral("32"));
    QVERIFY(waitForTraceEnd(w.form, kTraceTimeoutMs));
    // The failure's text alone, without a line break.
    QCOMPARE(w.output(), expected);
    QVERIFY(w.echo->requests().empty());
}

// Enter during a trace: the earlier trace stops writing, its probe in flight is
// cut short, only the new trace's output remains and the button comes back
// when the new trace ends.
void TestTraceWindow::newTraceStopsTheRunningOne()
{
    Window w(std::make_shared<ScriptedEchoService>(
        [](const std::string& destination, int, int) -> EchoAnswer {
            if (destination == "10.9.9.1")
                return blockUntilCancelled();
            return replyFrom("10.9.9.2", 100);
        }));
    startTrace(w.form, QStringLiteral("10.9.9.1"), QStringLiteral("32"));
    QTRY_COMPARE(w.echo->echoesInFlight(), 1);
    QVERIFY(w.output().startsWith(QStringLiteral("Tracing route to 10.9.9.1")));

    w.form.edAddr->setText(QStringLiteral("10.9.9.2"));
    w.form.edAddr->setFocus();
    QTest::keyClick(w.form.edAddr, Qt::Key_Return);
    QVERIFY(!w.form.btnStart->isEnabled());
    QTRY_COMPARE(w.echo->cancelledEchoes(), 1);
    QVERIFY(waitForTraceEnd(w.form, kTraceTimeoutMs));
    QString why;
    QVERIFY2(linesMatch(w.output(),
                        {exactly(QStringLiteral("Tracing route to 10.9.9.2 [10.9.9.2]")),
                         exactly(QStringLiteral("over of maximum 32 hops:")),
                         hopLine(1, "rrr", QStringLiteral("10.9.9.2")),
                         exactly(QStringLiteral("Trace complete."))},
                        &why),
             qPrintable(why));
    // The first trace sent its one probe and no other.
    int toFirst = 0;
    for (const auto& r : w.echo->requests())
        toFirst += net::formatIPv4(r.destination) == "10.9.9.1";
    QCOMPARE(toFirst, 1);
}

void TestTraceWindow::exitCutsWaitsShort_data()
{
    QTest::addColumn<bool>("echoBlocks");
    QTest::addColumn<bool>("byDestructor");
    // The GUI thread takes the header, then stops taking output: the worker,
    // its first probe answered, waits for the GUI thread to take the column.
    QTest::newRow("echo in flight, shutdown") << true << false;
    QTest::newRow("echo in flight, destructor") << true << true;
    QTest::newRow("output hand-off, shutdown") << false << false;
    QTest::newRow("output hand-off, destructor") << false << true;
}

void TestTraceWindow::exitCutsWaitsShort()
{
    QFETCH(bool, echoBlocks);
    QFETCH(bool, byDestructor);
    auto echo = std::make_shared<ScriptedEchoService>([echoBlocks](const std::string&, int, int) {
        return echoBlocks ? blockUntilCancelled() : replyFrom("10.9.1.1");
    });
    auto form = std::make_unique<TForm3>(nullptr, TForm3::Dependencies{echo});
    form->show();
    form->edAddr->setText(QStringLiteral("10.9.9.9"));
    form->btnStartClick();
    QCOMPARE(form->traceThreadCount(), 1);
    if (echoBlocks) {
        QVERIFY(waitUntil([&] { return echo->echoesInFlight() == 1; }, 5000));
    } else {
        QVERIFY(waitUntil([&] { return !echo->requests().empty(); }, 5000));
        // Nothing tells from outside that the worker has posted the column and
        // is waiting; a short pause makes that all but certain, and a worker
        // not yet there could only make the test pass when it should not.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }

    QElapsedTimer clock;
    clock.start();
    if (byDestructor) {
        form.reset();
    } else {
        form->shutdownTraces();
        QCOMPARE(form->traceThreadCount(), 0);
    }
    QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(echo->echoesInFlight(), 0);
    if (echoBlocks)
        QCOMPARE(echo->cancelledEchoes(), 1);
    if (form) {
        // Nothing more is written, and nothing new starts.
        const QString before = form->memShowTracert->text();
        QCoreApplication::processEvents();
        QCOMPARE(form->memShowTracert->text(), before);
        form->btnStartClick();
        QCOMPARE(form->traceThreadCount(), 0);
    }
}

void TestTraceWindow::closingHidesWhileTheTraceWrites()
{
    Window w(std::make_shared<ScriptedEchoService>([](const std::string&, int ttl, int) {
        return replyFrom(ttl < 3 ? "10.9.1.1" : "10.9.9.9", 30);
    }));
    startTrace(w.form, QStringLiteral("10.9.9.9"), QStringLiteral("32"));
    QVERIFY(w.form.close());
    QVERIFY(w.form.isHidden());
    QVERIFY(waitForTraceEnd(w.form, kTraceTimeoutMs));
    QVERIFY(w.output().endsWith(QStringLiteral("  10.9.9.9\r\nTrace complete.\r\n")));
    w.form.show();
    QVERIFY(w.form.isVisible());
    w.form.showMinimized();
    w.form.show();
    QVERIFY(!w.form.isMinimized());
}

void TestTraceWindow::centredOverTheMainWindow()
{
    QWidget main;
    main.setGeometry(60, 50, 500, 400);
    main.show();
    QVERIFY(QTest::qWaitForWindowExposed(&main));
    TForm3 form(&main, TForm3::Dependencies{silentNetwork()});
    for (const QPoint& topLeft : {QPoint(60, 50), QPoint(250, 150)}) {
        main.move(topLeft);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        const QPointF offset =
            QRectF(form.frameGeometry()).center() - QRectF(main.frameGeometry()).center();
        // Before the first show the desktop has not told the frame's size yet.
        const QSize margins = form.frameGeometry().size() - form.size();
        QVERIFY2(qAbs(offset.x()) <= 1 + margins.width() / 2.0 &&
                     qAbs(offset.y()) <= 1 + margins.height() / 2.0,
                 qPrintable(QStringLiteral("%1,%2 %3 %4")
                                .arg(offset.x())
                                .arg(offset.y())
                                .arg(QDebug::toString(form.frameGeometry()),
                                     QDebug::toString(main.frameGeometry()))));
        form.hide();
    }
}

void TestTraceWindow::slotLogDoubleClick_data()
{
    QTest::addColumn<int>("slot");
    for (int k = 0; k < 5; ++k)
        QTest::newRow(qPrintable(QStringLiteral("Memo%1").arg(k + 1))) << k;
}

// The host list holds three entries: the first three logs start a trace on
// their host after a pause; the other two report the list's range error.
void TestTraceWindow::slotLogDoubleClick()
{
    QFETCH(int, slot);
    FormFixture fixture;
    ui::TForm1& main = *fixture.form;
    const QStringList hosts{QStringLiteral("10.9.9.1"), QStringLiteral("10.9.9.2"),
                            QStringLiteral("10.9.9.3")};
    main.ListBox1->clear();
    main.ListBox1->addItems(hosts);
    main.show();
    auto echo = std::make_shared<ScriptedEchoService>(
        // A plain reply comes from the destination itself.
        [](const std::string&, int, int) { return EchoAnswer{}; });
    TForm3 form(&main, TForm3::Dependencies{echo});
    fixture.trace().attach(form);
    form.edAddr->setText(QStringLiteral("before"));
    QStringList reported;
    setTopLevelErrorReporter([&](const QString& m) { reported << m; });

    QElapsedTimer clock;
    clock.start();
    const qint64 cpuBefore = threadCpuMs();
    QTest::mouseDClick(main.slotLog(slot)->viewport(), Qt::LeftButton);
    const qint64 cpu = threadCpuMs() - cpuBefore;
    setTopLevelErrorReporter(nullptr);
    QVERIFY(form.isVisible());
    if (slot < hosts.size()) {
        QVERIFY(reported.isEmpty());
        QVERIFY(clock.elapsed() >= 250);
        // The pause sleeps between events rather than spinning.
        if (!kSanitized)
            QVERIFY2(cpu < 125, qPrintable(QStringLiteral("%1 ms of processor time").arg(cpu)));
        QCOMPARE(form.edAddr->text(), hosts[slot]);
        QVERIFY(waitForTraceEnd(form, kTraceTimeoutMs));
        QVERIFY(form.memShowTracert->text().startsWith(
            QStringLiteral("Tracing route to %1 [%1]\r\n").arg(hosts[slot])));
    } else {
        QCOMPARE(reported, QStringList{QStringLiteral("List index out of bounds (%1)").arg(slot)});
        QCOMPARE(form.edAddr->text(), QStringLiteral("before"));
        QCOMPARE(form.traceThreadCount(), 0);
        QVERIFY(form.btnStart->isEnabled());
        QVERIFY(form.memShowTracert->text().isEmpty());
        QVERIFY(echo->requests().empty());
    }
}

void TestTraceWindow::traceRouteButtons_data()
{
    QTest::addColumn<int>("tab");
    QTest::addColumn<QString>("button");
    const char* buttons[] = {"BitBtn6", "BitBtn23", "BitBtn24", "BitBtn25", "BitBtn26"};
    for (int k = 0; k < 5; ++k)
        QTest::newRow(buttons[k]) << k << QString::fromLatin1(buttons[k]);
}

// The active tab's host fills the host box and nothing starts; with no host at
// that index the box keeps its text.
void TestTraceWindow::traceRouteButtons()
{
    QFETCH(int, tab);
    QFETCH(QString, button);
    FormFixture fixture;
    ui::TForm1& main = *fixture.form;
    const QStringList hosts{QStringLiteral("10.9.9.1"), QStringLiteral("10.9.9.2"),
                            QStringLiteral("10.9.9.3")};
    main.ListBox1->clear();
    main.ListBox1->addItems(hosts);
    main.show();
    auto echo = silentNetwork();
    TForm3 form(&main, TForm3::Dependencies{echo});
    fixture.trace().attach(form);
    form.edAddr->setText(QStringLiteral("before"));

    main.PageControl1->setCurrentIndex(tab);
    auto* b = main.findChild<QAbstractButton*>(button);
    QVERIFY(b);
    QVERIFY(b->isVisible());
    QTest::mouseClick(b, Qt::LeftButton);
    QVERIFY(form.isVisible());
    QCOMPARE(form.edAddr->text(), tab < hosts.size() ? hosts[tab] : QStringLiteral("before"));
    QCOMPARE(form.traceThreadCount(), 0);
    QVERIFY(form.btnStart->isEnabled());
    QVERIFY(form.memShowTracert->text().isEmpty());
    QVERIFY(echo->requests().empty());
}

// The main window keeps its launcher for its whole life; the traceroute
// window may go first, and what is asked after that reaches nothing.
void TestTraceWindow::launcherOutlivesItsWindow()
{
    app::TraceWindowLauncher launcher;
    launcher.setHost(QStringLiteral("10.9.9.1"));
    launcher.show();
    auto echo = silentNetwork();
    {
        TForm3 form(nullptr, TForm3::Dependencies{echo});
        launcher.attach(form);
        launcher.setHost(QStringLiteral("10.9.9.2"));
        launcher.show();
        QVERIFY(form.isVisible());
        QCOMPARE(form.edAddr->text(), QStringLiteral("10.9.9.2"));
    }
    launcher.show();
    launcher.setHost(QStringLiteral("10.9.9.3"));
    launcher.start();
    QVERIFY(echo->requests().empty());
}

QTEST_MAIN(TestTraceWindow)
#include "tst_trace_window.moc"
