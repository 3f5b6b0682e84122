// How the tray icon answers the area's mouse traffic: click arbitration,
// hover and leaving, the menu.

#include "tray/desktop_source.h"
#include "tray/tray_icon.h"

#include <QAction>
#include <QPointer>

namespace tarnwick::tray {

using platform::Capability;
using platform::NotificationCode;

TShiftState TTrayIcon::ModifierState() const
{
    const Qt::KeyboardModifiers keys = m_desktop.keyboardModifiers();
    TShiftState shift;
    if (keys & Qt::ShiftModifier)
        shift |= ssShift;
    if (keys & Qt::ControlModifier)
        shift |= ssCtrl;
    if (keys & Qt::AltModifier)
        shift |= ssAlt;
    return shift;
}

void TTrayIcon::handleNotification(const platform::Notification& n)
{
    const auto raise = [this](const TNotifyEvent& e) {
        if (e)
            e(this);
    };
    switch (n.code) {
    case NotificationCode::BalloonShow:
        return raise(m_onBalloonHintShow);
    case NotificationCode::BalloonHide:
        return raise(m_onBalloonHintHide);
    case NotificationCode::BalloonTimeout:
        return raise(m_onBalloonHintTimeout);
    case NotificationCode::BalloonClick:
        return raise(m_onBalloonHintClick);
    default:
        break;
    }
    if (!m_enabled)
        return;

    // Handlers may destroy the icon; nothing of it is touched after that.
    const QPointer<TTrayIcon> alive(this);
    const TShiftState mods = ModifierState();
    const int x = n.pos.x();
    const int y = n.pos.y();
    const bool autoMenu = m_popupMenu && m_popupMenu->autoPopup();
    const bool hostMenu = trayCapabilities().testFlag(Capability::HostMenu);

    switch (n.code) {
    case NotificationCode::Move:
        if (m_pointer.moved(n.pos, m_wantEnterExitEvents)) {
            // The leaving poll runs only while the cursor is on the icon, so
            // an idle program is not woken fifty times a second.
            m_hoverTicker->setTickEnabled(true);
            DoMouseEnter();
            if (!alive)
                return;
        }
        DoMouseMove(mods, x, y);
        break;
    case NotificationCode::LeftDown:
        if (m_onDblClick) {
            m_clickTicker->setTickInterval(static_cast<quint32>(m_desktop.doubleClickTime()));
            m_clickTicker->setTickEnabled(true);
        }
        DoMouseDown(mbLeft, mods | ssLeft, x, y);
        if (!alive)
            return;
        m_pointer.leftDown();
        if (m_leftPopup && autoMenu)
            OpenMenuAt();
        break;
    case NotificationCode::LeftUp:
        if (m_pointer.leftUp(m_clickTicker->tickEnabled())) {
            DoClick();
            if (!alive)
                return;
        }
        DoMouseUp(mbLeft, mods | ssLeft, x, y);
        break;
    case NotificationCode::LeftDoubleClick:
        m_pointer.doubleClick();
        DoDblClick();
        if (!alive)
            return;
        if (m_popupMenu && m_popupMenu->autoPopup() && !m_leftPopup)
            clickDefaultItem();
        break;
    case NotificationCode::RightDown:
        DoMouseDown(mbRight, mods | ssRight, x, y);
        if (!alive)
            return;
        if (autoMenu && !hostMenu)
            OpenMenuAt();
        break;
    case NotificationCode::RightUp:
        DoMouseUp(mbRight, mods | ssRight, x, y);
        break;
    case NotificationCode::MiddleDown:
        DoMouseDown(mbMiddle, mods | ssMiddle, x, y);
        break;
    case NotificationCode::MiddleUp:
        DoMouseUp(mbMiddle, mods | ssMiddle, x, y);
        break;
    default:
        break;
    }
}

void TTrayIcon::clickDefaultItem()
{
    if (QAction* item = m_popupMenu->defaultItem())
        item->trigger();
}

void TTrayIcon::OpenMenuAt()
{
    const std::optional<QPoint> pos = m_desktop.cursorPos();
    if (!pos || !m_popupMenu)
        return;
    // Qt's popup takes the pointer grab and closes on a click elsewhere by
    // itself, so no foreground dance is needed before it opens.
    m_popupMenu->setPopupComponent(this);
    m_popupMenu->popup(*pos);
}

void TTrayIcon::clickTick()
{
    m_clickTicker->setTickEnabled(false);
    if (m_pointer.clickTick())
        DoClick();
}

void TTrayIcon::hoverTick()
{
    if (m_pointer.pointerAway()) {
        m_hoverTicker->setTickEnabled(false);
        return;
    }
    if (m_pointer.polled(m_desktop.cursorPos())) {
        m_hoverTicker->setTickEnabled(false);
        DoMouseExit();
    }
}

} // namespace tarnwick::tray
