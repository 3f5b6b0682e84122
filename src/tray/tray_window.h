#pragma once

#include "core/timer_backend.h"
#include "tray/tray_types.h"

#include <QIcon>
#include <QList>
#include <QObject>
#include <QPoint>
#include <QString>
#include <QWidget>

#include <functional>

class QAction;
class QPushButton;

namespace tarnwick::tray {

class TDesktopSource;

class THintWindow;
class TPopupMenu;
class TTextTrayIcon;
class TTiledHintWindow;

// Everything the tray window needs of the main window, and nothing more.
struct MainWindowLink {
    // The results summary: each of its lines followed by CR LF.
    std::function<QString()> resultsSummaryText;
    // The status picture for "no host failing".
    std::function<QIcon()> statusIconImage1;
    std::function<bool()> mainWindowVisible;
    std::function<void()> showMainWindow;
    // The main window's own About item.
    std::function<void()> about;
    // The main window's close operation, which ends the program.
    std::function<void()> closeMainWindow;
    std::function<void()> openHelp;
};

// A window timer component. Enabling it starts a fresh period, also when it
// was already running; an interval of 0 keeps it from ticking.
class TTimer : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool Enabled READ enabled WRITE setEnabled)
    Q_PROPERTY(int Interval READ interval WRITE setInterval)
public:
    explicit TTimer(QObject* owner = nullptr);

    bool enabled() const { return m_enabled; }
    void setEnabled(bool enabled);
    int interval() const { return m_timer.interval(); }
    void setInterval(int ms);
    void setOnTimer(TNotifyEvent onTimer) { m_onTimer = std::move(onTimer); }
    // Whether a period is running (enabled with a non-zero interval).
    bool running() const { return m_timer.isActive(); }

private:
    void apply();

    core::Timer m_timer;
    bool m_enabled = false;
    TNotifyEvent m_onTimer;
};

// The window behind the program's visible tray icon. It is never shown: it
// owns the icon with its menu, and the hover hint that shows the results
// summary half a second after the cursor comes to rest on the icon.
class TForm2 : public QWidget {
    Q_OBJECT
public:
    static constexpr int hintPauseMs = 500;
    static constexpr int hintHidePauseMs = 2500;
    // Once the cursor has left the icon, later hints stay longer.
    static constexpr int laterHintHidePauseMs = 5000;

    // desktop is read by the icon and outlives the window.
    TForm2(MainWindowLink link, const TDesktopSource& desktop, QWidget* parent = nullptr);
    ~TForm2() override;

    // To be called each time the main window has rebuilt the results summary.
    // Where the notification area cannot report the cursor over the icon, the
    // hint can never show, so the summary becomes the icon's tooltip.
    void resultsSummaryChanged();
    // The summary lines heading the menu; none where hover is reported.
    QStringList menuSummaryLines() const;

    TTextTrayIcon* TextTrayIcon1 = nullptr;
    TPopupMenu* PopupMenu1 = nullptr;
    QAction* Showmainwindow1 = nullptr;
    QAction* Help1 = nullptr;
    QAction* About1 = nullptr;
    QAction* N1 = nullptr;
    QAction* Exit1 = nullptr;
    QPushButton* Button1 = nullptr;
    TTimer* Timer1 = nullptr; // hint pause
    TTimer* Timer2 = nullptr; // hint lifetime

    THintWindow* PlainHint = nullptr;
    TTiledHintWindow* TiledHint = nullptr;
    THintWindow* ActiveHint = nullptr;
    QString HintText;
    QPoint CursorPos;
    QPoint ShownPos;

    // The picture the icon shows before the text painting replaces it.
    static QIcon formIcon();

private:
    void createComponents();
    void loadTextTrayIcon(const TDesktopSource& desktop);
    void FormCreate();
    void FormDestroy();

    void TextTrayIcon1Click(QObject* sender);
    void TextTrayIcon1MouseMove(QObject* sender, TShiftState shift, int x, int y);
    void TextTrayIcon1MouseEnter(QObject* sender);
    void TextTrayIcon1MouseExit(QObject* sender);
    void TextTrayIcon1MouseDown(QObject* sender, TMouseButton button, TShiftState shift, int x,
                                int y);
    // No hint until the cursor comes back.
    void endHover();
    void updateMenuSummary();
    void Timer1Timer(QObject* sender);
    void Timer2Timer(QObject* sender);
    void Showmainwindow1Click();
    void Help1Click();
    void About1Click();
    void Exit1Click();
    void Button1Click();

    MainWindowLink m_link;
    QList<QAction*> m_summaryItems;
    QAction* m_summarySeparator = nullptr;
};

} // namespace tarnwick::tray
