#include "tray/tray_icon.h"

#include "tray/application_state.h"
#include "tray/desktop_source.h"
#include "tray/tray_icon_handler.h"

#include <QAction>
#include <QPointer>
#include <QWidget>

namespace tarnwick::tray {

using platform::Capability;
using platform::NotificationCode;

namespace {
quint32 lastIconId = 0;
// The leaving detection's poll of the cursor.
constexpr int hoverPollMs = 20;
} // namespace

TTrayIcon::TTrayIcon(const TDesktopSource& desktop, QObject* owner)
    : QObject(owner), m_desktop(desktop)
{
    m_iconId = ++lastIconId;
    TTrayIconHandler::acquire(this);
    m_cycleTicker = std::make_unique<TSimpleTimer>(1000, [this](TSimpleTimer*) { cycleTick(); });
    m_clickTicker = std::make_unique<TSimpleTimer>(1000, [this](TSimpleTimer*) { clickTick(); });
    m_hoverTicker =
        std::make_unique<TSimpleTimer>(hoverPollMs, [this](TSimpleTimer*) { hoverTick(); });

    installHooks();
    m_hoverReported = hoverReported();
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
    removeHooks();
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
        setIcon(m_iconList->icon(m_iconIndex));
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
    if (!want)
        m_hoverTicker->setTickEnabled(false);
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
    updateIconShown();
    return ok;
}

bool TTrayIcon::RemoveFromTray()
{
    m_iconVisible = false;
    platform::NotifyArea* area = notifyArea();
    const bool ok = area && area->remove(m_iconId);
    updateIconShown();
    return ok;
}

bool TTrayIcon::iconAwaited() const
{
    platform::NotifyArea* area = notifyArea();
    return m_iconVisible && !m_iconShown && area && area->iconAwaited(m_iconId);
}

void TTrayIcon::updateIconShown()
{
    platform::NotifyArea* area = notifyArea();
    const bool shown = m_iconVisible && area && area->iconShown(m_iconId);
    if (shown == m_iconShown)
        return;
    m_iconShown = shown;
    emit iconShownChanged(shown);
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

void TTrayIcon::capabilitiesChanged()
{
    const bool hover = hoverReported();
    if (hover == m_hoverReported)
        return;
    m_hoverReported = hover;
    // The tooltip route opens or closes with hover.
    RefreshTray();
    emit hoverReportedChanged(hover);
}

void TTrayIcon::areaRestarted()
{
    if (m_iconVisible)
        AddToTray();
    updateIconShown();
    // Another area may report other things.
    capabilitiesChanged();
}

platform::NotifyArea* TTrayIcon::notifyArea() const
{
    // The handler outlives every icon, except icons still alive when the
    // application object is gone; their requests then fail quietly.
    TTrayIconHandler* handler = TTrayIconHandler::instance();
    return handler ? handler->area() : nullptr;
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
    setIcon(m_iconList->icon(m_iconIndex));
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

} // namespace tarnwick::tray
