#pragma once

#include "engine/ping_worker.h"
#include "engine/slot_stats.h"
#include "engine/status.h"
#include "ui/settings_column.h"

#include <QIcon>
#include <QMainWindow>

#include <array>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <vector>

class QAction;
class QCheckBox;
class QFileDialog;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;

namespace tarnwick::net {
class EchoService;
}
namespace tarnwick::engine {
class MonitorEngine;
}
namespace tarnwick::platform {
class PageOpener;
}
namespace tarnwick::core {
class Timer;
}
namespace tarnwick::tray {
class TDesktopSource;
class TTrayIcon;
} // namespace tarnwick::tray

namespace tarnwick::settings {
class SettingsStore;
struct HostEntry;
struct Settings;
} // namespace tarnwick::settings

namespace tarnwick::ui {

class SmallWindows;
class TCheckBox;
class TEdit;
class TLogMemo;
class TSlotPage;
class TStatLabel;
class TUpDown;
class TraceLauncher;

// The main window: five tab pages (one per host slot) and the settings column.
class TForm1 : public QMainWindow, public SettingsControls {
    Q_OBJECT
public:
    // What writes a saved log's file (on a thread of its own).
    using LogWriter = std::function<void(const QString& path, const QByteArray& bytes)>;

    // What the composition root hands the window; none may be missing. The
    // objects pointed to outlive the window.
    struct Dependencies {
        // The workers; their results come to recordResult().
        engine::MonitorEngine* engine = nullptr;
        platform::PageOpener* pages = nullptr;
        // config.cfg, domains.cfg, the start-with-the-system entry.
        settings::SettingsStore* store = nullptr;
        // The traceroute window, created after this one: the slot logs'
        // double clicks and the Trace Route buttons open it.
        TraceLauncher* traceLauncher = nullptr;
        // The About box and the host-limit window.
        SmallWindows* smallWindows = nullptr;
        // Whether the program's icon is shown in a notification area now:
        // only then does the close box hide the window, so it is never
        // unreachable.
        std::function<bool()> trayIconShown;
        // Where user notices go (the echo permission notice).
        std::function<void(const QString&)> presentNotice;
        LogWriter writeLog;
        // What to tell the user when no echo request can be sent at all.
        std::function<QString()> echoNotice;
        // What the window's own tray icon reads from the desktop.
        const tray::TDesktopSource* desktop = nullptr;
    };

    explicit TForm1(Dependencies deps, QWidget* parent = nullptr);
    ~TForm1() override;

    engine::MonitorEngine& engine() { return *m_engine; }
    const engine::SlotStats& slotStats(int slotIndex) const { return m_stats.at(slotIndex); }
    TLogMemo* slotLog(int slotIndex) const;
    TSlotPage* slotPage(int slotIndex) const;
    TStatLabel* packetLabel(int slotIndex) const;
    TStatLabel* timingLabel(int slotIndex) const;
    QStringList hostList() const;

    QString settingsFilePath() const;
    QString hostListFilePath() const;
    // The host list with the bytes each entry was read as.
    QList<settings::HostEntry> hostEntries() const;
    // The settings file's values as the controls hold them.
    settings::Settings currentSettings() const;

    // The status picture chosen at the last refresh tick.
    engine::StatusPicture statusPicture() const { return m_statusPicture; }
    // The results summary: fourteen lines, and as one text with CR LF after
    // every line (as the tray's hint shows it).
    QStringList resultsSummaryLines() const { return m_summary; }
    QString resultsSummaryText() const;

    // Stops the workers and joins them; called before the windows go.
    void shutdownEngine();

    // Blocks until every save under way has written its file.
    void waitForSaves();

    // The window's ordinary close, which ends the program (File > Exit, the
    // tray's Exit, the end of the session).
    void closeMainWindow();
    // Components, named as the rest of the program refers to them.
    QTabWidget* PageControl1 = nullptr;
    TSlotPage* TabSheet1 = nullptr;
    TSlotPage* TabSheet2 = nullptr;
    TSlotPage* TabSheet3 = nullptr;
    TSlotPage* TabSheet4 = nullptr;
    TSlotPage* TabSheet5 = nullptr;
    TLogMemo* Memo1 = nullptr;
    TLogMemo* Memo2 = nullptr;
    TLogMemo* Memo3 = nullptr;
    TLogMemo* Memo4 = nullptr;
    TLogMemo* Memo5 = nullptr;

    QWidget* Panel1 = nullptr;

    QPlainTextEdit* Memo_2 = nullptr;
    QPlainTextEdit* buffer_memo = nullptr;
    QPlainTextEdit* Memo6 = nullptr;
    QLabel* Image1 = nullptr;
    QLabel* Image2 = nullptr;
    QLabel* Image4 = nullptr;
    QLabel* Image5 = nullptr;
    QLabel* Im1 = nullptr;
    QLabel* Im2 = nullptr;
    QFileDialog* SaveDialog1 = nullptr;

    QMenu* File1 = nullptr;
    QAction* Exit2 = nullptr;
    QMenu* Help2 = nullptr;
    QAction* About1 = nullptr;

    // Never shown in the notification area: its hooks bring the window to
    // the front whenever it is shown.
    tray::TTrayIcon* TrayIcon1 = nullptr;

    // Window timers on the program's timer backend (a manual clock in tests).
    core::Timer* Timer6 = nullptr;
    core::Timer* Timer7 = nullptr;
    core::Timer* Timer_1 = nullptr;
    core::Timer* Timer5 = nullptr;

public slots:
    void FormCreate();
    void SaveSettings();
    void Timer_1Timer();
    void Timer5Timer();
    void Edit1Change();
    void Edit1KeyUp();
    void Edit4KeyUp();
    void UpDown1MouseUp();
    void UpDown2MouseUp();
    void CheckBox1MouseUp();
    void Button1Click();
    void Timer6Timer();
    void Timer7Timer();
    void Exit2Click();

    // Traceroute from a slot log (double click) or from a tab's button.
    void Memo1DblClick();
    void Memo2DblClick();
    void Memo3DblClick();
    void Memo4DblClick();
    void Memo5DblClick();
    void BitBtn6Click();

    // Host list editing.
    void BitBtn1Click();  // Add host
    void BitBtn22Click(); // Edit host
    void BitBtn2Click();  // Delete host
    void BitBtn3Click();  // Delete All
    void BitBtn4Click();  // move up
    void BitBtn5Click();  // move down
    void ListBox1DblClick();

    void About1Click();
    void BitBtn27Click();

    // Log actions per slot: Clear, Save to file, Copy.
    void clearLog(int slotIndex);
    void saveLog(int slotIndex);
    void copyLog(int slotIndex);

    // Appends a result line to slot k's log and updates the statistics, the
    // tab captions and all ten statistics labels.
    void recordResult(int slotIndex, const QString& line);
    // The statistics reset Clear uses; the labels change at the next result.
    void resetSlotStatistics(int slotIndex);

signals:
    // The status icon chosen at every refresh tick, changed or not.
    void statusIconChosen(const QIcon& icon);
    // The results summary changed (looked at every tick of its timer).
    void resultsSummaryRebuilt();
    // A result line was recorded in a slot log (after its statistics).
    void resultRecorded(int slotIndex, const QString& line);

protected:
    void closeEvent(QCloseEvent* event) override;
    // A window shown again comes back where it was, and not minimised.
    void setVisible(bool visible) override;
    // Made active while one of its dialogs waits for an answer, the window
    // hands the activation to that dialog.
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildMenus();
    void buildPages();
    void buildHiddenControls();
    void buildTimers();
    void connectEngineSettings();
    void refreshTabCaptions();
    void rewriteStatisticsLabels();
    void showEchoNotice();
    void saveFromHandler();
    void loadSettingsFile();
    void loadHostListFile();
    void firstRunCheck();
    std::array<engine::NewestLines, engine::kSlotCount> newestLines() const;

    engine::MonitorEngine* const m_engine;
    std::array<std::unique_ptr<core::Timer>, 4> m_timers;
    std::array<engine::SlotStats, engine::kSlotCount> m_stats{};
    // The figures each slot's labels show; none before the first result.
    std::array<std::optional<engine::SlotStats>, engine::kSlotCount> m_shownStats{};
    // Saves still writing their files; finished before the window goes.
    std::vector<std::future<void>> m_saves;
    const LogWriter m_writeLog;
    std::array<TSlotPage*, engine::kSlotCount> m_pages{};
    const std::function<void(const QString&)> m_presentNotice;
    TraceLauncher& m_traceLauncher;
    platform::PageOpener& m_pageOpener;
    SmallWindows& m_smallWindows;
    QString m_lastSaveName;
    void connectEditingAndLogActions();
    bool confirmReplace(const QString& path);
    void moveSelectedHost(int step);
    void openTraceFromLog(int slotIndex);
    bool m_exiting = false;
    const std::function<bool()> m_trayIconShown;
    bool m_loading = false;
    settings::SettingsStore& m_store;
    const std::function<QString()> m_echoNoticeText;
    engine::StatusPicture m_statusPicture = engine::StatusPicture::Image2;
    QStringList m_summary;
    // Where the window was when it was last hidden (its inside, not its frame).
    std::optional<QPoint> m_hiddenAt;
    bool m_hiddenMinimized = false;
};

// The program's way of telling the user something: a warning box over the
// window that waits for nobody.
void presentNoticeBox(QWidget* window, const QString& text);

} // namespace tarnwick::ui
