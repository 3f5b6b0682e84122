// The tray icon's companions: the lightweight timer with its shared handler,
// and the bitmap-to-icon conversion.
#include "support/tray_doubles.h"
#include "tray/image_list.h"
#include "tray/pointer_tracker.h"
#include "tray/simple_timer.h"

#include <QPainter>
#include <QtTest>

#include <memory>

using namespace tarnwick::tray;

class TestTrayParts : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {}
    void cleanup() { QVERIFY(!TSimpleTimerHandler::instance()); }

    void timerScenarios_data();
    void timerScenarios();
    void handlerCounts();
    void qtTimersTick();
    void leavingDetection_data();
    void leavingDetection();
    void makeIconFromBitmap_data();
    void makeIconFromBitmap();

private:
    tarnwick::test::ManualTime m_ticks;
};

void TestTrayParts::timerScenarios_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("expected");

    // on / off write TickEnabled, iv=N TickInterval, notick clears OnTick,
    // stop sets StopOnTick, start calls StartTicking, refuse makes the
    // platform refuse timers, +N lets time pass, ? reports
    // enabled|disabled, ticks since the last report, running|halted.
    QTest::newRow("interval 0 while enabled halts, stays enabled, resumes")
        << "iv=100 on +250 ? iv=0 +500 ? iv=50 +100 ?"
        << "enabled,2,running enabled,0,halted enabled,2,running";
    QTest::newRow("StartTicking with interval 0 does nothing") << "iv=0 start ?"
                                                               << "start:false disabled,0,halted";
    QTest::newRow("enabling again restarts the period") << "iv=100 on +60 on +60 ? +40 ?"
                                                        << "enabled,0,running enabled,1,running";
    QTest::newRow("the same interval again does not restart") << "iv=100 on +60 iv=100 +40 ?"
                                                              << "enabled,1,running";
    QTest::newRow("a new interval restarts with the new period")
        << "iv=100 on +60 iv=30 +29 ? +1 ?"
        << "enabled,0,running enabled,1,running";
    QTest::newRow("clearing OnTick halts a running timer that stays enabled")
        << "iv=10 on +25 ? notick +100 ?"
        << "enabled,2,running enabled,0,halted";
    QTest::newRow("StopOnTick: one tick, then disabled") << "iv=10 stop on +100 ?"
                                                         << "disabled,1,halted";
    QTest::newRow("disabling stops the ticks") << "iv=10 on +15 off +100 ?"
                                               << "disabled,1,halted";
    QTest::newRow("a refused timer stays disabled") << "refuse iv=10 on +100 ?"
                                                    << "disabled,0,halted";
    QTest::newRow("a new interval on a disabled timer starts nothing") << "iv=10 +100 ?"
                                                                       << "disabled,0,halted";
}

void TestTrayParts::timerScenarios()
{
    QFETCH(QString, script);
    QFETCH(QString, expected);

    int ticks = 0;
    const TTickEvent count = [&ticks](TSimpleTimer*) { ++ticks; };
    TSimpleTimer timer(1000, count);
    m_ticks.refuse = false;
    QStringList log;
    for (const QString& token : script.split(QLatin1Char(' '))) {
        if (token == QLatin1String("on"))
            timer.setTickEnabled(true);
        else if (token == QLatin1String("off"))
            timer.setTickEnabled(false);
        else if (token.startsWith(QLatin1String("iv=")))
            timer.setTickInterval(token.mid(3).toUInt());
        else if (token == QLatin1String("notick"))
            timer.setOnTick({});
        else if (token == QLatin1String("stop"))
            timer.setStopOnTick(true);
        else if (token == QLatin1String("refuse"))
            m_ticks.refuse = true;
        else if (token == QLatin1String("start"))
            log << QStringLiteral("start:%1").arg(timer.StartTicking() ? "true" : "false");
        else if (token.startsWith(QLatin1Char('+')))
            m_ticks.advance(token.mid(1).toInt());
        else if (token == QLatin1String("?")) {
            log << QStringLiteral("%1,%2,%3")
                       .arg(timer.tickEnabled() ? "enabled" : "disabled")
                       .arg(ticks)
                       .arg(m_ticks.running(timer.timerId()) ? "running" : "halted");
            ticks = 0;
        } else
            QFAIL(qPrintable(token));
    }
    QCOMPARE(log.join(QLatin1Char(' ')), expected);
}

void TestTrayParts::handlerCounts()
{
    auto first = std::make_unique<TSimpleTimer>(10, [](TSimpleTimer*) {});
    auto second = std::make_unique<TSimpleTimer>();
    TSimpleTimerHandler* handler = TSimpleTimerHandler::instance();
    QVERIFY(handler);
    QCOMPARE(handler->timerCount(), 2);
    QCOMPARE(handler->runningCount(), 0);
    first->setTickEnabled(true);
    second->setTickEnabled(true);
    QCOMPARE(handler->runningCount(), 2);
    // Restarting keeps the count; halting lowers it once, never below 0.
    first->setTickEnabled(true);
    QCOMPARE(handler->runningCount(), 2);
    second->setTickInterval(0);
    QCOMPARE(handler->runningCount(), 1);
    second->StopTicking(true);
    second->StopTicking(true);
    QCOMPARE(handler->runningCount(), 1);
    first->setTickEnabled(false);
    QCOMPARE(handler->runningCount(), 0);
    first->StopTicking(false);
    QCOMPARE(handler->runningCount(), 0);
    // One handler serves them all, and goes with the last timer.
    first.reset();
    QCOMPARE(TSimpleTimerHandler::instance(), handler);
    QCOMPARE(handler->timerCount(), 1);
    second.reset();
    QVERIFY(!TSimpleTimerHandler::instance());
}

void TestTrayParts::qtTimersTick()
{
    tarnwick::core::TimerBackend::use(nullptr);
    int ticks = 0;
    {
        TSimpleTimer timer(10, [&ticks](TSimpleTimer*) { ++ticks; });
        timer.setTickEnabled(true);
        QTRY_VERIFY_WITH_TIMEOUT(ticks >= 3, 2000);
        timer.setTickInterval(0);
        const int halted = ticks;
        QTest::qWait(60);
        QCOMPARE(ticks, halted);
    }
}

// Script: "m x" a move to (x,0), "p x" a poll seeing (x,0), "p -" a poll that
// cannot read the cursor; the answers are logged: E (arrived), X (left).
void TestTrayParts::leavingDetection_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("log");
    QTest::newRow("resting cursor") << "m 1,p 1,p 1,p 1"
                                    << "E";
    QTest::newRow("one mismatch is a queued move") << "m 1,p 2,m 2,p 2"
                                                   << "E";
    QTest::newRow("two mismatches leave") << "m 1,p 2,p 3"
                                          << "E X";
    QTest::newRow("a match in between resets") << "m 1,p 2,p 1,p 2"
                                               << "E";
    QTest::newRow("unreadable cursor changes nothing") << "m 1,p -,p -,p 1"
                                                       << "E";
    QTest::newRow("back after leaving") << "m 1,p 5,p 5,m 1,p 1"
                                        << "E X E";
    QTest::newRow("polls while away do nothing") << "p 3,p 4,m 4"
                                                 << "E";
}

void TestTrayParts::leavingDetection()
{
    QFETCH(QString, script);
    PointerTracker tracker;
    QStringList log;
    for (const QString& step : script.split(QLatin1Char(','))) {
        const QString arg = step.mid(2);
        if (step.startsWith(QLatin1Char('m'))) {
            if (tracker.moved(QPoint(arg.toInt(), 0), true))
                log << QStringLiteral("E");
        } else {
            const std::optional<QPoint> at =
                arg == QLatin1String("-") ? std::nullopt : std::optional(QPoint(arg.toInt(), 0));
            if (tracker.polled(at))
                log << QStringLiteral("X");
        }
    }
    QTEST(log.join(QLatin1Char(' ')), "log");
}

void TestTrayParts::makeIconFromBitmap_data()
{
    QTest::addColumn<QImage>("bitmap");
    QTest::addColumn<QColor>("mask");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QColor>("corner");
    QTest::addColumn<QColor>("centre");

    QImage framed(16, 16, QImage::Format_RGB32);
    framed.fill(Qt::white);
    QPainter(&framed).fillRect(6, 6, 4, 4, QColor(Qt::darkBlue));
    QImage strip(32, 16, QImage::Format_RGB32);
    strip.fill(Qt::blue);
    QPainter(&strip).fillRect(0, 0, 16, 16, QColor(Qt::red));

    QTest::newRow("the mask colour becomes transparent")
        << framed << QColor(Qt::white) << true << QColor(0, 0, 0, 0) << QColor(Qt::darkBlue);
    QTest::newRow("no mask colour keeps the square opaque")
        << framed << QColor() << true << QColor(Qt::white) << QColor(Qt::darkBlue);
    QTest::newRow("a colour not in the bitmap changes nothing")
        << framed << QColor(Qt::green) << true << QColor(Qt::white) << QColor(Qt::darkBlue);
    QTest::newRow("a wider bitmap gives its first cell")
        << strip << QColor() << true << QColor(Qt::red) << QColor(Qt::red);
    QTest::newRow("an empty bitmap gives nothing")
        << QImage() << QColor() << false << QColor() << QColor();
}

void TestTrayParts::makeIconFromBitmap()
{
    QFETCH(QImage, bitmap);
    QFETCH(QColor, mask);
    QFETCH(bool, ok);
    QFETCH(QColor, corner);
    QFETCH(QColor, centre);

    QIcon icon;
    QCOMPARE(MakeIconFromBitmap(bitmap, icon, mask), ok);
    if (!ok)
        return;
    const QImage image = icon.pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(image.size(), QSize(16, 16));
    QCOMPARE(image.pixelColor(0, 0), corner);
    QCOMPARE(image.pixelColor(7, 7), centre);
}

QTEST_MAIN(TestTrayParts)
#include "tst_tray_parts.moc"
