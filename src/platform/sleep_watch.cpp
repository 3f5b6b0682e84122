#include "platform/sleep_watch.h"

namespace tarnwick::platform {

SleepWatch::SleepWatch(QDBusConnection bus, QObject* parent)
    : QObject(parent), m_bus(std::move(bus))
{
    if (!m_bus.isConnected())
        return;
    m_listening = m_bus.connect(
        QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForSleep"), this,
        SLOT(onPrepareForSleep(bool)));
}

void SleepWatch::onPrepareForSleep(bool start)
{
    if (start)
        emit sleeping();
    else
        emit woke();
}

} // namespace tarnwick::platform
