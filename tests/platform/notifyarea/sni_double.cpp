// Stand-ins on the session bus for the desktop tests.
//   sni_double watcher  a status notifier watcher that keeps a list of items
//                       and always claims a registered host, whether or not
//                       one is there (as some desktops' watchers do);
//   sni_double host     a host: takes a host name and registers with the
//                       watcher, nothing more.
// Each runs until it is killed.

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QStringList>

#include <cstdio>

namespace {

const QString watcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString watcherPath = QStringLiteral("/StatusNotifierWatcher");

class Watcher : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ items)
    Q_PROPERTY(int ProtocolVersion READ version)
public:
    bool hostRegistered() const { return true; }
    QStringList items() const { return m_items; }
    int version() const { return 0; }

public slots:
    Q_SCRIPTABLE void RegisterStatusNotifierItem(const QString& service, const QDBusMessage& m)
    {
        // Items name a path on their own connection or a service.
        const QString item = service.startsWith(QLatin1Char('/')) ? m.service() + service : service;
        if (!m_items.contains(item))
            m_items << item;
        emit StatusNotifierItemRegistered(item);
    }
    Q_SCRIPTABLE void RegisterStatusNotifierHost(const QString&)
    {
        emit StatusNotifierHostRegistered();
    }

signals:
    Q_SCRIPTABLE void StatusNotifierItemRegistered(const QString& item);
    Q_SCRIPTABLE void StatusNotifierItemUnregistered(const QString& item);
    Q_SCRIPTABLE void StatusNotifierHostRegistered();

private:
    QStringList m_items;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QString role = app.arguments().value(1);
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        std::fprintf(stderr, "sni_double: no session bus\n");
        return 2;
    }
    Watcher watcher;
    if (role == QLatin1String("watcher")) {
        if (!bus.registerObject(watcherPath, &watcher,
                                QDBusConnection::ExportAllProperties |
                                    QDBusConnection::ExportScriptableSlots |
                                    QDBusConnection::ExportScriptableSignals) ||
            !bus.registerService(watcherService)) {
            std::fprintf(stderr, "sni_double: cannot be the watcher\n");
            return 1;
        }
    } else if (role == QLatin1String("host")) {
        const QString name =
            QStringLiteral("org.kde.StatusNotifierHost-%1").arg(QCoreApplication::applicationPid());
        if (!bus.registerService(name)) {
            std::fprintf(stderr, "sni_double: cannot take %s\n", qPrintable(name));
            return 1;
        }
        QDBusMessage call =
            QDBusMessage::createMethodCall(watcherService, watcherPath, watcherService,
                                           QStringLiteral("RegisterStatusNotifierHost"));
        call << name;
        bus.call(call, QDBus::NoBlock);
    } else {
        std::fprintf(stderr, "usage: sni_double watcher|host\n");
        return 2;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    return app.exec();
}

#include "sni_double.moc"
