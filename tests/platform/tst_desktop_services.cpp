// Desktop notices against a real notification daemon (dunst) on a private
// session bus, read back from what the bus carried (dbus-monitor) and from
// the daemon itself (dunstctl); a click on a notice comes back with its tag;
// a bus without a service breaks nothing. And the session manager's sleep
// signal, sent by a stand-in on a private bus.

#include "platform/desktop_notices.h"
#include "platform/sleep_watch.h"
#include "support/private_bus.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDir>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

using tarnwick::platform::DesktopNotices;
using tarnwick::platform::SleepWatch;
using tarnwick::test::PrivateBus;

namespace {

QString run(const PrivateBus& bus, const QString& program, const QStringList& args)
{
    QProcess p;
    p.setProcessEnvironment(bus.environment());
    p.start(program, args);
    p.waitForFinished(10000);
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

} // namespace

class TestDesktopServices : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void withoutAServiceNothingBreaks();
    void noticesReachTheDaemonAndClicksComeBack();
    void theSessionSaysWhenItSleeps();

private:
    bool m_haveTools = false;
};

void TestDesktopServices::initTestCase()
{
    for (const char* tool : {"dbus-daemon", "dbus-monitor", "dunst", "dunstctl"}) {
        if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty()) {
            if (qEnvironmentVariable("CI") == QStringLiteral("true"))
                QFAIL(qPrintable(QStringLiteral("%1 is missing").arg(QLatin1String(tool))));
            QSKIP("dbus-daemon, dbus-monitor and dunst are needed (scripts/packages.txt, test)");
        }
    }
    m_haveTools = true;
}

void TestDesktopServices::withoutAServiceNothingBreaks()
{
    PrivateBus bus;
    QVERIFY(!bus.address.isEmpty());
    DesktopNotices notices(bus.connect(QStringLiteral("no-service")));
    QVERIFY(!notices.available());
    QSignalSpy answered(&notices, &DesktopNotices::answered);
    notices.show(QStringLiteral("host a is down"), QString(), 0);
    QTest::qWait(200);
    QCOMPARE(answered.count(), 0);
    QCOMPARE(notices.shownCount(), 0);

    // No bus at all.
    DesktopNotices nowhere(QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent"),
                                                         QStringLiteral("nowhere")));
    QVERIFY(!nowhere.available());
    nowhere.show(QStringLiteral("x"), QString(), 0);
}

void TestDesktopServices::noticesReachTheDaemonAndClicksComeBack()
{
    PrivateBus bus;
    QVERIFY(!bus.address.isEmpty());
    QDBusConnection connection = bus.connect(QStringLiteral("notices"));
    DesktopNotices notices(connection);
    QVERIFY(!notices.available());
    QSignalSpy availability(&notices, &DesktopNotices::availabilityChanged);

    QProcess monitor;
    monitor.setProcessEnvironment(bus.environment());
    monitor.start(QStringLiteral("dbus-monitor"),
                  {QStringLiteral("--address"), bus.address,
                   QStringLiteral("interface='org.freedesktop.Notifications',member='Notify'")});
    QVERIFY(monitor.waitForStarted(5000));

    QTemporaryDir dir;
    const QString config = dir.filePath(QStringLiteral("dunstrc"));
    {
        QFile f(config);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("[global]\nfont = DejaVu Sans 11\nwidth = 420\norigin = top-right\n"
                "offset = 10x10\nshow_indicators = no\n");
    }
    QProcess dunst;
    dunst.setProcessEnvironment(bus.environment());
    dunst.setProcessChannelMode(QProcess::ForwardedChannels);
    dunst.start(QStringLiteral("dunst"), {QStringLiteral("-config"), config});
    QVERIFY(dunst.waitForStarted(5000));
    QTRY_VERIFY_WITH_TIMEOUT(notices.available(), 10000);
    QCOMPARE(availability.count(), 1);
    // Asked once the service came: dunst offers actions.
    QTRY_VERIFY_WITH_TIMEOUT(notices.clickable(), 5000);
    // Started while the service runs: the bus's answer says so.
    DesktopNotices later(bus.connect(QStringLiteral("later")));
    QTRY_VERIFY_WITH_TIMEOUT(later.available() && later.clickable(), 5000);

    QSignalSpy answered(&notices, &DesktopNotices::answered);
    const QString text =
        QStringLiteral("host 198.18.3.2 is down since 14:03:12 (3 requests timed out)");
    notices.show(text, QString(), 3);
    QTRY_COMPARE_WITH_TIMEOUT(answered.count(), 1, 10000);
    QCOMPARE(answered.at(0).at(0).toBool(), true);
    QCOMPARE(notices.shownCount(), 1);

    // What the bus carried to the daemon.
    QByteArray seen;
    QTRY_VERIFY_WITH_TIMEOUT((seen += monitor.readAllStandardOutput()).contains(text.toUtf8()),
                             5000);
    QVERIFY2(seen.contains("string \"Tarnwick\""), seen.constData());
    QVERIFY(seen.contains("string \"default\""));
    // And what the daemon shows.
    QTRY_COMPARE_WITH_TIMEOUT(run(bus, QStringLiteral("dunstctl"),
                                  {QStringLiteral("count"), QStringLiteral("displayed")}),
                              QStringLiteral("1"), 5000);
    const QString shots =
        qEnvironmentVariable("TARNWICK_BUILD_DIR") + QStringLiteral("/screenshots");
    QDir().mkpath(shots);
    QProcess::execute(QStringLiteral("import"), {QStringLiteral("-window"), QStringLiteral("root"),
                                                 shots + QStringLiteral("/notice_dunst.png")});

    // A click on it (the daemon's default action) names the notice's tag.
    QSignalSpy activated(&notices, &DesktopNotices::activated);
    run(bus, QStringLiteral("dunstctl"), {QStringLiteral("action"), QStringLiteral("0")});
    QTRY_COMPARE_WITH_TIMEOUT(activated.count(), 1, 5000);
    QCOMPARE(activated.at(0).at(0).toInt(), 3);

    // The daemon goes: no service any more, and nothing breaks.
    dunst.kill();
    dunst.waitForFinished(5000);
    QTRY_VERIFY_WITH_TIMEOUT(!notices.available(), 5000);
    notices.show(text, QString(), 3);
    QTest::qWait(100);
    QCOMPARE(answered.count(), 1);
    monitor.kill();
    monitor.waitForFinished(5000);
}

void TestDesktopServices::theSessionSaysWhenItSleeps()
{
    PrivateBus bus;
    QVERIFY(!bus.address.isEmpty());
    SleepWatch watch(bus.connect(QStringLiteral("sleeper")));
    QVERIFY(watch.listening());
    QSignalSpy sleeping(&watch, &SleepWatch::sleeping);
    QSignalSpy woke(&watch, &SleepWatch::woke);

    QDBusConnection manager = bus.connect(QStringLiteral("login1"));
    QVERIFY(manager.registerService(QStringLiteral("org.freedesktop.login1")));
    auto say = [&manager](bool start) {
        QDBusMessage signal = QDBusMessage::createSignal(
            QStringLiteral("/org/freedesktop/login1"),
            QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForSleep"));
        signal << start;
        QVERIFY(manager.send(signal));
    };
    say(true);
    QTRY_COMPARE_WITH_TIMEOUT(sleeping.count(), 1, 5000);
    QCOMPARE(woke.count(), 0);
    say(false);
    QTRY_COMPARE_WITH_TIMEOUT(woke.count(), 1, 5000);

    // Someone else saying so is not the session manager.
    QDBusConnection other = bus.connect(QStringLiteral("other"));
    QDBusMessage fake = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/login1"),
                                                   QStringLiteral("org.freedesktop.login1.Manager"),
                                                   QStringLiteral("PrepareForSleep"));
    fake << true;
    other.send(fake);
    say(false);
    QTRY_COMPARE_WITH_TIMEOUT(woke.count(), 2, 5000);
    QCOMPARE(sleeping.count(), 1);
}

QTEST_GUILESS_MAIN(TestDesktopServices)
#include "tst_desktop_services.moc"
