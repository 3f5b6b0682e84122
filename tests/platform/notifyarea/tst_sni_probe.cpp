// Whether a StatusNotifierItem host shows items, as the probe finds out on a
// private bus: a watcher that answers what a test tells it (also that a host
// is registered when none is on the bus, as some watchers do), and hosts that
// come and go under the names hosts take.

#include "platform/notifyarea/selecting_notify_area.h"
#include "support/private_bus.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

using tarnwick::platform::StatusNotifierProbe;
using tarnwick::test::PrivateBus;

namespace {

class Watcher : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ registered)
public:
    bool registered() const { return claim; }
    bool claim = false;
signals:
    void StatusNotifierHostRegistered();
};

} // namespace

class TestSniProbe : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void hostNames();
    void presence_data();
    void presence();

private:
    std::unique_ptr<PrivateBus> m_bus;
};

void TestSniProbe::initTestCase()
{
    if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty())
        QSKIP("dbus-daemon is needed (scripts/packages.txt, test)");
    m_bus = std::make_unique<PrivateBus>();
    QVERIFY(!m_bus->address.isEmpty());
}

void TestSniProbe::hostNames()
{
    QVERIFY(StatusNotifierProbe::isHostName(QStringLiteral("org.kde.StatusNotifierHost-12")));
    QVERIFY(StatusNotifierProbe::isHostName(QStringLiteral("org.kde.StatusNotifierHost-12-1")));
    QVERIFY(
        StatusNotifierProbe::isHostName(QStringLiteral("org.freedesktop.StatusNotifierHost-3")));
    QVERIFY(StatusNotifierProbe::isHostName(QStringLiteral("org.kde.plasmashell")));
    QVERIFY(!StatusNotifierProbe::isHostName(QStringLiteral("org.kde.plasmashell.accentColor")));
    QVERIFY(!StatusNotifierProbe::isHostName(QStringLiteral("org.kde.StatusNotifierWatcher")));
    QVERIFY(!StatusNotifierProbe::isHostName(QStringLiteral("org.kde.StatusNotifierItem-1-1")));
    QVERIFY(!StatusNotifierProbe::isHostName(QStringLiteral(":1.4")));
}

// Steps: "w+"/"w-" the watcher comes (claiming nothing) or goes, "c+"/"c-"
// it claims a host or stops claiming (then it says so by its signal), "h+"
// /"h-" a host takes its name or drops it. The probe starts after the first
// step; after each step, whether it says a host shows items.
void TestSniProbe::presence_data()
{
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QString>("present");
    QTest::newRow("watcher claims a host with none on the bus") << "w+ c+"
                                                                << "0 0";
    QTest::newRow("the host comes late") << "w+ c+ h+"
                                         << "0 0 1";
    QTest::newRow("host and watcher before the probe") << "h+ w+ c+"
                                                       << "0 0 1";
    QTest::newRow("the host goes for good, the watcher stays") << "w+ h+ c+ h-"
                                                               << "0 0 1 0";
    QTest::newRow("the host restarts") << "w+ h+ c+ h- h+"
                                       << "0 0 1 0 1";
    QTest::newRow("the watcher goes") << "w+ h+ c+ w-"
                                      << "0 0 1 0";
    QTest::newRow("a host on the bus the watcher does not know") << "h+ w+"
                                                                 << "0 0";
}

void TestSniProbe::presence()
{
    QFETCH(QString, steps);
    QFETCH(QString, present);
    static int round = 0;
    ++round;
    const QString hostName = QStringLiteral("org.kde.StatusNotifierHost-%1").arg(round);
    QDBusConnection watcherBus = m_bus->connect(QStringLiteral("watcher%1").arg(round));
    QDBusConnection hostBus = m_bus->connect(QStringLiteral("host%1").arg(round));
    const QString probeName = QStringLiteral("probe%1").arg(round);
    // Whatever fails, the next row starts on an empty bus.
    const auto cleanup = qScopeGuard([&] {
        watcherBus.unregisterService(QStringLiteral("org.kde.StatusNotifierWatcher"));
        hostBus.unregisterService(hostName);
        QDBusConnection::disconnectFromBus(QStringLiteral("watcher%1").arg(round));
        QDBusConnection::disconnectFromBus(QStringLiteral("host%1").arg(round));
        QDBusConnection::disconnectFromBus(probeName);
    });
    QVERIFY(watcherBus.isConnected() && hostBus.isConnected());
    Watcher watcher;
    QVERIFY(watcherBus.registerObject(QStringLiteral("/StatusNotifierWatcher"), &watcher,
                                      QDBusConnection::ExportAllProperties |
                                          QDBusConnection::ExportAllSignals));
    StatusNotifierProbe probe;
    bool started = false;
    QStringList seen;
    const QStringList expected = present.split(QLatin1Char(' '));
    for (const QString& step : steps.split(QLatin1Char(' '))) {
        if (step == QLatin1String("w+"))
            QVERIFY(watcherBus.registerService(QStringLiteral("org.kde.StatusNotifierWatcher")));
        else if (step == QLatin1String("w-"))
            QVERIFY(watcherBus.unregisterService(QStringLiteral("org.kde.StatusNotifierWatcher")));
        else if (step == QLatin1String("h+"))
            QVERIFY(hostBus.registerService(hostName));
        else if (step == QLatin1String("h-"))
            QVERIFY(hostBus.unregisterService(hostName));
        if (step.startsWith(QLatin1Char('c'))) {
            watcher.claim = step == QLatin1String("c+");
            emit watcher.StatusNotifierHostRegistered();
        }
        if (!started) {
            probe.start(m_bus->connect(probeName));
            started = true;
        }
        // Barriers: what the watcher sent is delivered before its next call
        // is answered, and the probe's bus carries every signal of the step
        // before the answer to a call made now.
        watcherBus.interface()->isServiceRegistered(hostName);
        QDBusConnection(probeName).interface()->isServiceRegistered(hostName);
        QCoreApplication::processEvents();
        const bool want = expected.value(seen.size()) == QLatin1String("1");
        if (want) {
            QTRY_VERIFY_WITH_TIMEOUT(probe.present(), 5000);
        } else {
            // A "no" must hold once the probe has heard everything the step
            // caused: a question sent after it is answered after it.
            QTRY_VERIFY_WITH_TIMEOUT(!probe.busy(), 5000);
            QVERIFY(probe.present() == false);
        }
        seen << (probe.present() ? QStringLiteral("1") : QStringLiteral("0"));
    }
    QCOMPARE(seen.join(QLatin1Char(' ')), present);
}

QTEST_GUILESS_MAIN(TestSniProbe)
#include "tst_sni_probe.moc"
