#pragma once

#include "platform/notifyarea/notify_area.h"
#include "tray/image_list.h"
#include "tray/pointer_tracker.h"
#include "tray/popup_menu.h"
#include "tray/simple_timer.h"
#include "tray/tray_icon_handler.h"
#include "tray/tray_types.h"

#include <QHash>
#include <QIcon>
#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>

class QWidget;

namespace tarnwick::tray {

class TDesktopSource;

class TTrayIcon;

// A non-visual component, owned by a window, that shows one icon in the
// notification area and turns the area's mouse traffic into its events. It
// keeps the icon's picture and tooltip current, opens a menu at the cursor,
// steps through an image list, can send the main window to the tray when it
// is minimised, and brings its owner window to the front whenever it is shown.
class TTrayIcon : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool DesignPreview READ designPreview WRITE setDesignPreview)
    Q_PROPERTY(tarnwick::tray::TCustomImageList* IconList READ iconList WRITE setIconList)
    Q_PROPERTY(bool CycleIcons READ cycleIcons WRITE setCycleIcons)
    Q_PROPERTY(uint CycleInterval READ cycleInterval WRITE setCycleInterval)
    Q_PROPERTY(bool Enabled READ enabled WRITE setEnabled)
    Q_PROPERTY(QString Hint READ hint WRITE setHint)
    Q_PROPERTY(bool ShowHint READ showHint WRITE setShowHint)
    Q_PROPERTY(QIcon Icon READ icon WRITE setIcon)
    Q_PROPERTY(bool IconVisible READ iconVisible WRITE setIconVisible)
    Q_PROPERTY(int IconIndex READ iconIndex WRITE setIconIndex)
    Q_PROPERTY(tarnwick::tray::TPopupMenu* PopupMenu READ popupMenu WRITE setPopupMenu)
    Q_PROPERTY(bool LeftPopup READ leftPopup WRITE setLeftPopup)
    Q_PROPERTY(bool WantEnterExitEvents READ wantEnterExitEvents WRITE setWantEnterExitEvents)
    Q_PROPERTY(bool MinimizeToTray READ minimizeToTray WRITE setMinimizeToTray)

public:
    // The desktop is read while a notification is handled; it outlives the
    // icon.
    explicit TTrayIcon(const TDesktopSource& desktop, QObject* owner = nullptr);
    ~TTrayIcon() override;

    // To be called once all properties are set, as a form file's loader
    // would: raises OnStartup, brings the area up to date and starts the
    // tickers the properties ask for.
    virtual void Loaded();

    bool designPreview() const { return m_designPreview; }
    void setDesignPreview(bool preview) { m_designPreview = preview; }
    TCustomImageList* iconList() const { return m_iconList.data(); }
    void setIconList(TCustomImageList* list);
    bool cycleIcons() const { return m_cycleIcons; }
    void setCycleIcons(bool cycle);
    uint cycleInterval() const { return m_cycleInterval; }
    void setCycleInterval(uint interval);
    bool enabled() const { return m_enabled; }
    void setEnabled(bool enabled) { m_enabled = enabled; }
    QString hint() const { return m_hint; }
    void setHint(const QString& hint);
    bool showHint() const { return m_showHint; }
    void setShowHint(bool show);
    QIcon icon() const { return m_icon; }
    void setIcon(const QIcon& icon);
    bool iconVisible() const { return m_iconVisible; }
    void setIconVisible(bool visible);
    int iconIndex() const { return m_iconIndex; }
    void setIconIndex(int index);
    TPopupMenu* popupMenu() const { return m_popupMenu.data(); }
    void setPopupMenu(TPopupMenu* menu);
    bool leftPopup() const { return m_leftPopup; }
    void setLeftPopup(bool leftPopup) { m_leftPopup = leftPopup; }
    bool wantEnterExitEvents() const { return m_wantEnterExitEvents; }
    void setWantEnterExitEvents(bool want);
    bool minimizeToTray() const { return m_minimizeToTray; }
    void setMinimizeToTray(bool minimize) { m_minimizeToTray = minimize; }

    const TNotifyEvent& onClick() const { return m_onClick; }
    void setOnClick(TNotifyEvent e) { m_onClick = std::move(e); }
    const TNotifyEvent& onDblClick() const { return m_onDblClick; }
    void setOnDblClick(TNotifyEvent e) { m_onDblClick = std::move(e); }
    const TMouseEvent& onMouseDown() const { return m_onMouseDown; }
    void setOnMouseDown(TMouseEvent e) { m_onMouseDown = std::move(e); }
    const TMouseEvent& onMouseUp() const { return m_onMouseUp; }
    void setOnMouseUp(TMouseEvent e) { m_onMouseUp = std::move(e); }
    const TMouseMoveEvent& onMouseMove() const { return m_onMouseMove; }
    void setOnMouseMove(TMouseMoveEvent e) { m_onMouseMove = std::move(e); }
    const TNotifyEvent& onMouseEnter() const { return m_onMouseEnter; }
    void setOnMouseEnter(TNotifyEvent e) { m_onMouseEnter = std::move(e); }
    const TNotifyEvent& onMouseExit() const { return m_onMouseExit; }
    void setOnMouseExit(TNotifyEvent e) { m_onMouseExit = std::move(e); }
    const TCycleEvent& onCycle() const { return m_onCycle; }
    void setOnCycle(TCycleEvent e) { m_onCycle = std::move(e); }
    const TNotifyEvent& onBalloonHintShow() const { return m_onBalloonHintShow; }
    void setOnBalloonHintShow(TNotifyEvent e) { m_onBalloonHintShow = std::move(e); }
    const TNotifyEvent& onBalloonHintHide() const { return m_onBalloonHintHide; }
    void setOnBalloonHintHide(TNotifyEvent e) { m_onBalloonHintHide = std::move(e); }
    const TNotifyEvent& onBalloonHintTimeout() const { return m_onBalloonHintTimeout; }
    void setOnBalloonHintTimeout(TNotifyEvent e) { m_onBalloonHintTimeout = std::move(e); }
    const TNotifyEvent& onBalloonHintClick() const { return m_onBalloonHintClick; }
    void setOnBalloonHintClick(TNotifyEvent e) { m_onBalloonHintClick = std::move(e); }
    const TNotifyEvent& onMinimizeToTray() const { return m_onMinimizeToTray; }
    void setOnMinimizeToTray(TNotifyEvent e) { m_onMinimizeToTray = std::move(e); }
    const TStartupEvent& onStartup() const { return m_onStartup; }
    void setOnStartup(TStartupEvent e) { m_onStartup = std::move(e); }

    // Only consulted by design tools.
    virtual bool WantsDefaultIcon() const { return true; }
    // Each returns whether the notification area accepted the request.
    virtual bool AddToTray();
    virtual bool RemoveFromTray();
    // Sent on every change, also while the icon is not shown (it then fails).
    virtual bool RefreshTray();
    // Opens PopupMenu at the cursor; nothing when there is no menu or the
    // cursor cannot be read.
    void OpenMenuAt();

    quint32 iconId() const { return m_iconId; }
    // Whether the desktop has a notification area now. Without one requests
    // fail quietly, and the program should keep a window reachable.
    bool trayAvailable() const;
    // Whether the icon is known to be on screen now: shown in an area that
    // has really taken it. The only ground for hiding the owner's window.
    bool iconShown() const { return m_iconShown; }
    // Whether an area holds the icon and may still show it (it is slow to).
    bool iconAwaited() const;
    // What the area can report; without Motion there is no hover.
    platform::Capabilities trayCapabilities() const;
    // Screen rectangle of the icon, empty when the area does not say.
    QRect iconGeometry() const;

    // Whether the area reports the cursor over the icon, as found out while
    // the program runs (some areas that could never do).
    bool hoverReported() const;
    // The area's own tooltip for areas that cannot report hover: the whole
    // text, not cut, whatever Hint and ShowHint say. Ignored (no tooltip at
    // all) where hover is reported.
    void setAreaTooltip(const QString& text);
    QString areaTooltip() const { return m_areaTooltip; }

signals:
    void trayAvailabilityChanged(bool available);
    void hoverReportedChanged(bool reported);
    void iconShownChanged(bool shown);

protected:
    virtual void DoClick();
    virtual void DoDblClick();
    virtual void DoCycle();
    virtual void DoMouseDown(TMouseButton button, TShiftState shift, int x, int y);
    virtual void DoMouseUp(TMouseButton button, TShiftState shift, int x, int y);
    virtual void DoMouseMove(TShiftState shift, int x, int y);
    virtual void DoMouseEnter();
    virtual void DoMouseExit();
    virtual void DoSendToTray();

    // The picture and tooltip every request carries.
    platform::IconState FillIconRecord() const;

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    const TDesktopSource& m_desktop;
    friend class TTrayIconHandler;
    class AppHook;

    platform::NotifyArea* notifyArea() const;
    void handleNotification(const platform::Notification& n);
    void areaRestarted();
    void capabilitiesChanged();
    void updateIconShown();
    void clickTick();
    void hoverTick();
    void cycleTick();
    int nextCycleIndex() const;
    void clickDefaultItem();
    void passMenuToHost();
    TShiftState ModifierState() const;

    void installHooks();
    void removeHooks();
    bool appWindowHook(QObject* watched, QEvent* event);
    bool ownerWindowHook(QEvent* event);
    void sendMinimizedToTray(QWidget* window, bool raiseEvent);
    void restoreMainWindow(QWidget* main);
    // OnMinimizeToTray, then to the tray, when both are set; true if sent.
    bool trySendToTray();
    void HideMainWindow();
    void HideAppButton();
    QWidget* ownerWindow() const;

    quint32 m_iconId = 0;

    bool m_designPreview = false;
    QPointer<TCustomImageList> m_iconList;
    bool m_cycleIcons = false;
    uint m_cycleInterval = 0;
    bool m_enabled = true;
    QString m_hint;
    bool m_showHint = true;
    QIcon m_icon;
    bool m_iconVisible = false;
    int m_iconIndex = 0;
    QPointer<TPopupMenu> m_popupMenu;
    bool m_leftPopup = false;
    bool m_wantEnterExitEvents = false;
    bool m_minimizeToTray = false;

    TNotifyEvent m_onClick;
    TNotifyEvent m_onDblClick;
    TMouseEvent m_onMouseDown;
    TMouseEvent m_onMouseUp;
    TMouseMoveEvent m_onMouseMove;
    TNotifyEvent m_onMouseEnter;
    TNotifyEvent m_onMouseExit;
    TCycleEvent m_onCycle;
    TNotifyEvent m_onBalloonHintShow;
    TNotifyEvent m_onBalloonHintHide;
    TNotifyEvent m_onBalloonHintTimeout;
    TNotifyEvent m_onBalloonHintClick;
    TNotifyEvent m_onMinimizeToTray;
    bool m_tookBackMinimise = false;
    TStartupEvent m_onStartup;

    std::unique_ptr<TSimpleTimer> m_cycleTicker;
    std::unique_ptr<TSimpleTimer> m_clickTicker;
    std::unique_ptr<TSimpleTimer> m_hoverTicker;

    QString m_areaTooltip;
    bool m_hoverReported = false;
    bool m_iconShown = false;
    PointerTracker m_pointer;
    bool m_startupCheckPending = true;

    AppHook* m_appHook = nullptr;
    QPointer<QWidget> m_hookedOwner;
};

} // namespace tarnwick::tray
