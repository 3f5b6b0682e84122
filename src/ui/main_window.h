#pragma once

#include "engine/slot_stats.h"

#include <QMainWindow>

#include <array>
#include <functional>
#include <memory>

class QAction;
class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;
class QTimer;

namespace tarnwick::net {
class EchoService;
}
namespace tarnwick::engine {
class MonitorEngine;
}

namespace tarnwick::ui {

class TLogMemo;
class TSlotPage;
class TStatLabel;
class TUpDown;

// The main window: five tab pages (one per host slot) and the settings column.
class TForm1 : public QMainWindow {
    Q_OBJECT
public:
    struct Dependencies {
        // Null: the system's echo service with the helper beside the executable.
        std::shared_ptr<net::EchoService> echo;
    };

    explicit TForm1(Dependencies deps = {}, QWidget* parent = nullptr);
    ~TForm1() override;

    engine::MonitorEngine& engine() { return *m_engine; }
    const engine::SlotStats& slotStats(int slotIndex) const { return m_stats.at(slotIndex); }
    TLogMemo* slotLog(int slotIndex) const;
    TSlotPage* slotPage(int slotIndex) const;
    TStatLabel* packetLabel(int slotIndex) const;
    TStatLabel* timingLabel(int slotIndex) const;
    QStringList hostList() const;

    // Stops the workers and joins them; called before the windows go.
    void shutdownEngine();

    // Where user notices go (the echo permission notice); tests replace it.
    void setNoticePresenter(std::function<void(const QString&)> presenter);

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
    QPushButton* BitBtn27 = nullptr;
    QLabel* Label7 = nullptr;
    QLineEdit* Edit5 = nullptr;
    TUpDown* UpDown3 = nullptr;
    QLabel* Label6 = nullptr;
    QLineEdit* Edit4 = nullptr;
    TUpDown* UpDown2 = nullptr;
    QLabel* Label17 = nullptr;
    QLineEdit* Edit1 = nullptr;
    TUpDown* UpDown1 = nullptr;
    QCheckBox* CheckBox1 = nullptr;
    QListWidget* ListBox1 = nullptr;
    QPushButton* BitBtn5 = nullptr;
    QPushButton* BitBtn1 = nullptr;
    QPushButton* BitBtn4 = nullptr;
    QPushButton* BitBtn22 = nullptr;
    QPushButton* BitBtn2 = nullptr;
    QPushButton* BitBtn3 = nullptr;
    QPushButton* Button1 = nullptr;

    QPlainTextEdit* Memo_2 = nullptr;
    QPlainTextEdit* buffer_memo = nullptr;
    QPlainTextEdit* Memo6 = nullptr;

    QMenu* File1 = nullptr;
    QAction* Exit2 = nullptr;
    QMenu* Help2 = nullptr;
    QAction* About1 = nullptr;

    QTimer* Timer6 = nullptr;
    QTimer* Timer7 = nullptr;
    QTimer* Timer_1 = nullptr;
    QTimer* Timer5 = nullptr;

public slots:
    void Button1Click();
    void Timer6Timer();
    void Timer7Timer();
    void Exit2Click();

    // Appends a result line to slot k's log and updates the statistics, the
    // tab captions and all ten statistics labels.
    void recordResult(int slotIndex, const QString& line);
    // The statistics reset Clear uses; the labels change at the next result.
    void resetSlotStatistics(int slotIndex);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildMenus();
    QWidget* buildSettingsColumn();
    void buildPages();
    void buildHiddenControls();
    void buildTimers();
    void connectEngineSettings();
    void refreshTabCaptions();
    void rewriteStatisticsLabels();
    void showEchoNotice();

    std::unique_ptr<engine::MonitorEngine> m_engine;
    std::array<engine::SlotStats, engine::kSlotCount> m_stats{};
    std::array<TSlotPage*, engine::kSlotCount> m_pages{};
    std::function<void(const QString&)> m_noticePresenter;
    bool m_exiting = false;
};

} // namespace tarnwick::ui
