#include "platform/notifyarea/notify_area.h"

namespace tarnwick::platform {

Q_LOGGING_CATEGORY(lcNotifyArea, "tarnwick.notifyarea", QtWarningMsg)

QString clampTooltip(const QString& text)
{
    if (text.size() <= maxTooltipLength)
        return text;
    int n = maxTooltipLength;
    if (text.at(n - 1).isHighSurrogate())
        --n;
    return text.left(n);
}

const char* notificationCodeName(NotificationCode code)
{
    switch (code) {
    case NotificationCode::LeftDown:
        return "LeftDown";
    case NotificationCode::LeftUp:
        return "LeftUp";
    case NotificationCode::LeftDoubleClick:
        return "LeftDoubleClick";
    case NotificationCode::RightDown:
        return "RightDown";
    case NotificationCode::RightUp:
        return "RightUp";
    case NotificationCode::MiddleDown:
        return "MiddleDown";
    case NotificationCode::MiddleUp:
        return "MiddleUp";
    case NotificationCode::Move:
        return "Move";
    case NotificationCode::BalloonShow:
        return "BalloonShow";
    case NotificationCode::BalloonHide:
        return "BalloonHide";
    case NotificationCode::BalloonTimeout:
        return "BalloonTimeout";
    case NotificationCode::BalloonClick:
        return "BalloonClick";
    }
    return "?";
}

NotifyArea::NotifyArea(QObject* parent) : QObject(parent)
{
    qRegisterMetaType<Notification>();
}

NotifyArea::~NotifyArea() = default;

bool NotifyArea::setVersion(quint32 id, int)
{
    return hasIcon(id);
}

bool NotifyArea::setMenu(quint32, QMenu*)
{
    return false;
}

QRect NotifyArea::iconGeometry(quint32) const
{
    return {};
}

bool NotifyArea::iconShown(quint32 id) const
{
    return isAvailable() && hasIcon(id);
}

bool NotifyArea::iconAwaited(quint32) const
{
    return false;
}

void NotifyArea::updateAvailability(bool available)
{
    if (available == m_lastAvailable)
        return;
    m_lastAvailable = available;
    emit availabilityChanged(available);
}

} // namespace tarnwick::platform
