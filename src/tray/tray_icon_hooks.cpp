// The tray icon's hooks into the windows: the application hook on the main
// window (minimise to the tray, a restore request, the start-up check) and the
// owner hook (shown windows come to the front, minimise to the tray, also when
// the owner's parent window is minimised).

#include "tray/application_state.h"
#include "tray/tray_icon.h"

#include <QCoreApplication>
#include <QEvent>
#include <QMainWindow>
#include <QMdiArea>
#include <QTimer>
#include <QWidget>
#include <QWindowStateChangeEvent>

namespace tarnwick::tray {

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

void TTrayIcon::installHooks()
{
    m_appHook = new AppHook(this);
    if (QCoreApplication* app = QCoreApplication::instance())
        app->installEventFilter(m_appHook);
    if (QWidget* window = ownerWindow()) {
        window->installEventFilter(this);
        m_hookedOwner = window;
    }
}

void TTrayIcon::removeHooks()
{
    delete m_appHook;
    m_appHook = nullptr;
    if (m_hookedOwner)
        m_hookedOwner->removeEventFilter(this);
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
        if (target) {
            m_tookBackMinimise = true;
            target->setWindowState(target->windowState() & ~Qt::WindowMinimized);
        }
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
        // Only the window system's restore counts. It also echoes our own
        // changes late, so none counts between taking back a minimise for the
        // tray and the window's next showing.
        if (wasMinimized && !minimized && event->spontaneous() && !m_tookBackMinimise)
            restoreMainWindow(main);
        break;
    }
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::Show:
        if (event->type() == QEvent::Show && !event->spontaneous())
            m_tookBackMinimise = false;
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

void TTrayIcon::restoreMainWindow(QWidget* main)
{
    // Qt reports the restore once the state is already back to normal; what
    // is left is to make the window visible again if it was hidden.
    main->show();
}

bool TTrayIcon::trySendToTray()
{
    if (!m_minimizeToTray || !m_onMinimizeToTray)
        return false;
    m_onMinimizeToTray(this);
    DoSendToTray();
    return true;
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
    case QEvent::Hide: {
        // The window system hides an owned window when its parent window is
        // minimised; that counts as a minimise of the owner.
        QWidget* parent = owner->parentWidget() ? owner->parentWidget()->window() : nullptr;
        if (event->spontaneous() && !QCoreApplication::closingDown() && parent && parent != owner &&
            parent->isMinimized())
            return trySendToTray();
        break;
    }
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
