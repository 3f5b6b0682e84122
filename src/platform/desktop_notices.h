#pragma once

#include <QDBusConnection>
#include <QHash>
#include <QObject>
#include <QString>

class QDBusPendingCallWatcher;

namespace tarnwick::platform {

// Notices through the desktop's own notification service
// (org.freedesktop.Notifications on the session bus). Every call is
// asynchronous: a slow or missing service never holds up the program.
class DesktopNotices : public QObject {
    Q_OBJECT
public:
    static inline const QString kService = QStringLiteral("org.freedesktop.Notifications");
    static inline const QString kPath = QStringLiteral("/org/freedesktop/Notifications");

    // bus: the session bus (tests give a private one).
    explicit DesktopNotices(QDBusConnection bus, QObject* parent = nullptr);
    ~DesktopNotices() override;

    // A service runs on the bus, or the bus can start one. Known once the
    // bus has answered (availabilityChanged).
    bool available() const;
    // The service offers actions: a click on a notice can show something.
    bool clickable() const { return m_actions; }

    // Shows one notice; tag comes back through activated() when the user
    // clicks it.
    void show(const QString& summary, const QString& body, int tag);
    // Notices sent and answered with an id so far.
    int shownCount() const { return m_shown; }

signals:
    void activated(int tag);
    void availabilityChanged(bool available);
    // The service answered a notice (with its id) or refused it.
    void answered(bool shown);

private slots:
    void onActionInvoked(uint id, const QString& key);
    void onClosed(uint id, uint reason);

private:
    void queryCapabilities();
    void ownerChanged(const QString& newOwner);

    QDBusConnection m_bus;
    bool m_registered = false;
    bool m_activatable = false;
    bool m_actions = false;
    int m_shown = 0;
    QHash<uint, int> m_tags;
};

} // namespace tarnwick::platform
