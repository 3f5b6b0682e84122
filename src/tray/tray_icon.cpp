#include "tray/tray_icon.h"

#include "platform/notifyarea/notify_area_factory.h"
#include "tray/application_state.h"
#include "tray/desktop_source.h"

#include <QAction>
#include <QCoreApplication>
#include <QEvent>
#include <QMainWindow>
#include <QMdiArea>
#include <QTimer>
#include <QWidget>
#include <QWindowStateChangeEvent>

namespace tarnwick::tray {

using platform::Capability;
using platform::NotificationCode;

namespace {
TTrayIconHandler* iconHandler = nullptr;
TTrayIconHandler::AreaFactory& areaFactory()
{
    static TTrayIconHandler::AreaFactory factory;
    return factory;
}
quint32 lastIconId = 0;

// A cursor that moved on between two notifications is seen by the poll before
// its queued move is handled; only a second mismatching poll means it left.
constexpr int hoverPollMs = 20;
constexpr int missesBeforeExit = 2;

void destroyLeftoverIconHandler()
{
    delete iconHandler;
    iconHandler = nullptr;
}
} // namespace

TTrayIconHandler* TTrayIconHandler::instance()
{
    return iconHandler;
}

void TTrayIconHandler::useAreaFactory(AreaFactory factory)
{
    areaFactory() = std::move(factory);
}

TTrayIconHandler::TTrayIconHandler()
{
    m_area = areaFactory() ? areaFactory()() : platform::createNotifyArea();
    connect(m_area.get(), &platform::NotifyArea::notification, this, &TTrayIconHandler::route);
    connect(m_area.get(), &platform::NotifyArea::areaRestarted, this,
            &TTrayIconHandler::areaRestarted);
    connect(m_area.get(), &platform::NotifyArea::availabilityChanged, this,
            &TTrayIconHandler::availabilityChanged);
}

TTrayIconHandler::~TTrayIconHandler() = default;

TTrayIconHandler* TTrayIconHandler::acquire(TTrayIcon* icon)
{
    if (!iconHandler) {
        iconHandler = new TTrayIconHandler;
        static bool routineAdded = false;
        if (!routineAdded) {
            qAddPostRoutine(destroyLeftoverIconHandler);
            routineAdded = true;
        }
    }
    iconHandler->m_icons.insert(icon->m_iconId, icon);
    ++iconHandler->m_iconCount;
    return iconHandler;
}

void TTrayIconHandler::release(TTrayIcon* icon)
{
    if (!iconHandler)
        return;
    iconHandler->m_icons.remove(icon->m_iconId);
    if (iconHandler->m_iconCount > 0)
        --iconHandler->m_iconCount;
    if (iconHandler->m_iconCount == 0) {
        // Deleting the area may emit; nobody is left to hear it.
        TTrayIconHandler* h = std::exchange(iconHandler, nullptr);
        h->m_area->disconnect(h);
        delete h;
    }
}

void TTrayIconHandler::route(const platform::Notification& n)
{
    if (TTrayIcon* target = m_icons.value(n.iconId))
        target->handleNotification(n);
}

void TTrayIconHandler::areaRestarted()
{
    const QList<quint32> ids = m_icons.keys();
    for (const quint32 id : ids) {
        if (TTrayIcon* target = m_icons.value(id))
            target->areaRestarted();
    }
}

void TTrayIconHandler::availabilityChanged(bool available)
{
    const QList<TTrayIcon*> icons = m_icons.values();
    QList<QPointer<TTrayIcon>> targets(icons.cbegin(), icons.cend());
    for (const QPointer<TTrayIcon>& target : targets) {
        if (target)
            emit target->trayAvailabilityChanged(available);
    }
}

// Sees the main window's events before anything else does, as a hook into the
// application's own messages would; never consumes one.
class TTrayIcon::AppHook : public QObject {
public:
    explicit AppHook(TTrayIcon* icon) : m_icon(icon) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        return m_icon->appWindowHook(watched, event);
    }

private:
    TTrayIcon* m_icon;
};

TTrayIcon::TTrayIcon(QObject* owner) : QObject(owner)
{
    m_iconId = ++lastIconId;
    TTrayIconHandler::acquire(this);
    m_cycleTicker = std::make_unique<TSimpleTimer>(1000, [this](TSimpleTimer*) { cycleTick(); });
    m_clickTicker = std::make_unique<TSimpleTimer>(1000, [this](TSimpleTimer*) { clickTick(); });
    m_hoverTicker =
        std::make_unique<TSimpleTimer>(hoverPollMs, [this](TSimpleTimer*) { hoverTick(); });

    m_appHook = new AppHook(this);
    if (QCoreApplication* app = QCoreApplication::instance())
        app->installEventFilter(m_appHook);
    if (QWidget* window = ownerWindow()) {
        window->installEventFilter(this);
        m_hookedOwner = window;
    }
}

TTrayIcon::~TTrayIcon()
{
    // Whatever fails on the way out, the hooks and the handler are released.
    try {
        setIconVisible(false);
    } catch (...) {
    }
    m_cycleTicker.reset();
    m_clickTicker.reset();
    m_hoverTicker.reset();
    m_icon = QIcon();
    delete m_appHook;
    if (m_hookedOwner)
        m_hookedOwner->removeEventFilter(this);
    TTrayIconHandler::release(this);
}

QWidget* TTrayIcon::ownerWindow() const
{
    auto* widget = qobject_cast<QWidget*>(parent());
    return widget && widget->isWindow() ? widget : nullptr;
}

void TTrayIcon::Loaded()
{
    if (ownerWindow()) {
        bool show = true;
        if (m_onStartup)
            m_onStartup(this, show);
        if (!show) {
            TApplicationState::setShowMainForm(false);
            HideMainWindow();
        }
    }
    RefreshTray();
    setIconVisible(m_iconVisible);
    setCycleIcons(m_cycleIcons);
    setWantEnterExitEvents(m_wantEnterExitEvents);
    if (platform::NotifyArea* area = notifyArea())
        area->setVersion(m_iconId, 0);
}

void TTrayIcon::setIconList(TCustomImageList* list)
{
    if (m_iconList)
        m_iconList->disconnect(this);
    m_iconList = list;
    if (list) {
        connect(list, &QObject::destroyed, this, [this] {
            m_iconList = nullptr;
            setIconIndex(0);
        });
    }
    setIconIndex(0);
}

void TTrayIcon::setCycleIcons(bool cycle)
{
    m_cycleIcons = cycle;
    if (cycle) {
        setIconIndex(0);
        m_cycleTicker->setTickInterval(m_cycleInterval);
        m_cycleTicker->setTickEnabled(true);
    } else {
        m_cycleTicker->setTickEnabled(false);
    }
}

void TTrayIcon::setCycleInterval(uint interval)
{
    if (interval == m_cycleInterval)
        return;
    m_cycleInterval = interval;
    setCycleIcons(m_cycleIcons);
}

void TTrayIcon::setHint(const QString& hint)
{
    m_hint = hint;
    RefreshTray();
}

void TTrayIcon::setShowHint(bool show)
{
    m_showHint = show;
    RefreshTray();
}

void TTrayIcon::setIcon(const QIcon& icon)
{
    m_icon = icon;
    RefreshTray();
}

void TTrayIcon::changeIcon(const QIcon& icon)
{
    // The icon object's own change notification.
    m_icon = icon;
    RefreshTray();
}

void TTrayIcon::setIconVisible(bool visible)
{
    if (visible)
        AddToTray();
    else
        RemoveFromTray();
}

void TTrayIcon::setIconIndex(int index)
{
    if (m_iconList) {
        const int count = m_iconList->count();
        m_iconIndex = qMax(0, index >= count ? count - 1 : index);
        changeIcon(m_iconList->icon(m_iconIndex));
    } else {
        m_iconIndex = 0;
    }
    RefreshTray();
}

void TTrayIcon::setPopupMenu(TPopupMenu* menu)
{
    if (m_popupMenu)
        m_popupMenu->disconnect(this);
    m_popupMenu = menu;
    if (menu)
        connect(menu, &QObject::destroyed, this, [this] { m_popupMenu = nullptr; });
    passMenuToHost();
}

void TTrayIcon::setWantEnterExitEvents(bool want)
{
    m_wantEnterExitEvents = want;
    m_hoverTicker->setTickEnabled(want);
}

platform::IconState TTrayIcon::FillIconRecord() const
{
    platform::IconState record;
    record.image = m_icon;
    if (!hoverReported() && !m_areaTooltip.isEmpty())
        record.tooltip = m_areaTooltip;
    else if (!m_hint.isEmpty() && m_showHint)
        record.tooltip = platform::clampTooltip(m_hint);
    return record;
}

bool TTrayIcon::AddToTray()
{
    m_iconVisible = true;
    platform::NotifyArea* area = notifyArea();
    const bool ok = area && area->add(m_iconId, FillIconRecord());
    if (ok)
        passMenuToHost();
    return ok;
}

bool TTrayIcon::RemoveFromTray()
{
    m_iconVisible = false;
    platform::NotifyArea* area = notifyArea();
    return area && area->remove(m_iconId);
}

bool TTrayIcon::RefreshTray()
{
    platform::NotifyArea* area = notifyArea();
    const bool ok = area && area->modify(m_iconId, FillIconRecord());
    if (ok)
        passMenuToHost();
    return ok;
}

void TTrayIcon::passMenuToHost()
{
    // Where the area shows the menu itself (bus-based trays), it must have
    // it beforehand; popping one up ourselves would fight the host's.
    platform::NotifyArea* area = notifyArea();
    if (!area || !area->capabilities().testFlag(Capability::HostMenu) || !m_iconVisible)
        return;
    TPopupMenu* menu = m_popupMenu && m_popupMenu->autoPopup() ? m_popupMenu.data() : nullptr;
    area->setMenu(m_iconId, menu);
}

void TTrayIcon::areaRestarted()
{
    if (m_iconVisible)
        AddToTray();
}

platform::NotifyArea* TTrayIcon::notifyArea() const
{
    // The handler outlives every icon, except icons still alive when the
    // application object is gone; their requests then fail quietly.
    return iconHandler ? iconHandler->area() : nullptr;
}

bool TTrayIcon::trayAvailable() const
{
    platform::NotifyArea* area = notifyArea();
    return area && area->isAvailable();
}

platform::Capabilities TTrayIcon::trayCapabilities() const
{
    platform::NotifyArea* area = notifyArea();
    return area ? area->capabilities() : platform::Capabilities();
}

QRect TTrayIcon::iconGeometry() const
{
    platform::NotifyArea* area = notifyArea();
    return area ? area->iconGeometry(m_iconId) : QRect();
}

bool TTrayIcon::hoverReported() const
{
    return trayCapabilities().testFlag(Capability::Motion);
}

void TTrayIcon::setAreaTooltip(const QString& text)
{
    if (text == m_areaTooltip)
        return;
    m_areaTooltip = text;
    if (!hoverReported())
        RefreshTray();
}

TShiftState TTrayIcon::ModifierState() const
{
    const Qt::KeyboardModifiers keys = TDesktopSource::current().keyboardModifiers();
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
        if (m_wantEnterExitEvents && m_pointerAway) {
            DoMouseEnter();
            if (!alive)
                return;
            m_pointerAway = false;
        }
        DoMouseMove(mods, x, y);
        if (!alive)
            return;
        m_hoverPos = n.pos;
        m_hoverMisses = 0;
        break;
    case NotificationCode::LeftDown:
        if (m_onDblClick) {
            m_clickTicker->setTickInterval(
                static_cast<quint32>(TDesktopSource::current().doubleClickTime()));
            m_clickTicker->setTickEnabled(true);
        }
        DoMouseDown(mbLeft, mods | ssLeft, x, y);
        if (!alive)
            return;
        m_leftDownSeen = true;
        if (m_leftPopup && autoMenu)
            OpenMenuAt();
        break;
    case NotificationCode::LeftUp:
        if (m_leftDownSeen)
            m_clickPending = true;
        if (m_leftDownSeen && !m_clickTicker->tickEnabled()) {
            m_leftDownSeen = false;
            m_clickPending = false;
            DoClick();
            if (!alive)
                return;
        }
        m_leftDownSeen = false;
        DoMouseUp(mbLeft, mods | ssLeft, x, y);
        break;
    case NotificationCode::LeftDoubleClick:
        m_clickPending = false;
        m_doubleClickSeen = true;
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
    const std::optional<QPoint> pos = TDesktopSource::current().cursorPos();
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
    const QPointer<TTrayIcon> alive(this);
    if (!m_doubleClickSeen && m_clickPending) {
        m_clickPending = false;
        DoClick();
        if (!alive)
            return;
    }
    m_doubleClickSeen = false;
}

void TTrayIcon::hoverTick()
{
    if (m_pointerAway)
        return;
    const std::optional<QPoint> pos = TDesktopSource::current().cursorPos();
    if (!pos)
        return;
    if (*pos == m_hoverPos) {
        m_hoverMisses = 0;
        return;
    }
    if (++m_hoverMisses < missesBeforeExit)
        return;
    m_hoverMisses = 0;
    m_pointerAway = true;
    DoMouseExit();
}

int TTrayIcon::nextCycleIndex() const
{
    if (!m_iconList || m_iconIndex >= m_iconList->count() - 1)
        return 0;
    return m_iconIndex + 1;
}

void TTrayIcon::cycleTick()
{
    if (!m_iconList)
        return;
    changeIcon(m_iconList->icon(m_iconIndex));
    const QPointer<TTrayIcon> alive(this);
    DoCycle();
    if (!alive || !m_iconList)
        return;
    setIconIndex(nextCycleIndex());
}

void TTrayIcon::DoClick()
{
    if (m_onClick)
        m_onClick(this);
}

void TTrayIcon::DoDblClick()
{
    if (m_onDblClick)
        m_onDblClick(this);
}

void TTrayIcon::DoCycle()
{
    const int next = nextCycleIndex();
    if (m_onCycle)
        m_onCycle(this, next);
}

void TTrayIcon::DoMouseDown(TMouseButton button, TShiftState shift, int x, int y)
{
    if (m_onMouseDown)
        m_onMouseDown(this, button, shift, x, y);
}

void TTrayIcon::DoMouseUp(TMouseButton button, TShiftState shift, int x, int y)
{
    if (m_onMouseUp)
        m_onMouseUp(this, button, shift, x, y);
}

void TTrayIcon::DoMouseMove(TShiftState shift, int x, int y)
{
    if (m_onMouseMove)
        m_onMouseMove(this, shift, x, y);
}

void TTrayIcon::DoMouseEnter()
{
    if (m_onMouseEnter)
        m_onMouseEnter(this);
}

void TTrayIcon::DoMouseExit()
{
    if (m_onMouseExit)
        m_onMouseExit(this);
}

void TTrayIcon::DoSendToTray()
{
    HideMainWindow();
    setIconVisible(true);
}

void TTrayIcon::HideMainWindow()
{
    if (!ownerWindow())
        return;
    if (QWidget* main = TApplicationState::mainForm()) {
        main->hide();
        HideAppButton();
    }
}

void TTrayIcon::HideAppButton()
{
    // Under Qt the main window is its own taskbar entry; it goes when the
    // window is hidden.
    QWidget* main = TApplicationState::mainForm();
    if (main && main->isVisible())
        main->hide();
}

void TTrayIcon::sendMinimizedToTray(QWidget* window, bool raiseEvent)
{
    // Qt reports a minimise only after it happened, so the send-to-tray runs
    // once that event is over, and only if the minimise still stands (the
    // window system may echo state changes late).
    QPointer<QWidget> target(window);
    QTimer::singleShot(0, this, [this, target, raiseEvent] {
        if (!target || !target->isVisible() || !target->isMinimized())
            return;
        if (raiseEvent && m_onMinimizeToTray)
            m_onMinimizeToTray(this);
        DoSendToTray();
        // Taken back while hidden, so nothing flashes; shown again later,
        // the window comes back whole.
        if (target)
            target->setWindowState(target->windowState() & ~Qt::WindowMinimized);
    });
}

bool TTrayIcon::appWindowHook(QObject* watched, QEvent* event)
{
    QWidget* main = TApplicationState::mainForm();
    if (!main || watched != main)
        return false;
    switch (event->type()) {
    case QEvent::WindowStateChange: {
        const auto* e = static_cast<QWindowStateChangeEvent*>(event);
        const bool wasMinimized = e->oldState().testFlag(Qt::WindowMinimized);
        const bool minimized = main->isMinimized();
        if (minimized && !wasMinimized && m_minimizeToTray) {
            // The owner hook claims this minimise when it sends to the tray
            // itself; the window is then never minimised at all.
            const bool ownerTakesIt = m_hookedOwner == main && m_onMinimizeToTray;
            if (!ownerTakesIt && main->isVisible())
                sendMinimizedToTray(main, false);
        }
        break;
    }
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::Show:
        if (m_startupCheckPending) {
            auto* mainWindow = qobject_cast<QMainWindow*>(main);
            if (mainWindow && qobject_cast<QMdiArea*>(mainWindow->centralWidget())) {
                bool show = true;
                if (m_onStartup)
                    m_onStartup(this, show);
                if (!show)
                    HideAppButton();
            }
            m_startupCheckPending = false;
        }
        break;
    default:
        break;
    }
    return false;
}

bool TTrayIcon::ownerWindowHook(QEvent* event)
{
    QWidget* owner = m_hookedOwner.data();
    if (!owner)
        return false;
    switch (event->type()) {
    case QEvent::Show:
        // Shown on request (not by the window system): to the front.
        if (!event->spontaneous()) {
            owner->raise();
            owner->activateWindow();
        }
        break;
    case QEvent::WindowStateChange: {
        const auto* e = static_cast<QWindowStateChangeEvent*>(event);
        if (owner->isVisible() && owner->isMinimized() &&
            !e->oldState().testFlag(Qt::WindowMinimized) && m_minimizeToTray && m_onMinimizeToTray)
            sendMinimizedToTray(owner, true);
        break;
    }
    default:
        break;
    }
    return false;
}

bool TTrayIcon::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_hookedOwner.data())
        return ownerWindowHook(event);
    return QObject::eventFilter(watched, event);
}

} // namespace tarnwick::tray
