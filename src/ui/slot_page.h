#pragma once

#include <QWidget>

class QPushButton;

namespace tarnwick::ui {

class TLogMemo;
class TStatLabel;

// One tab page of the main window: the slot log above a 74-pixel panel with
// the two statistics labels and the Copy / Save to file / Clear / Trace Route
// buttons in a two-by-two block.
class TSlotPage : public QWidget {
    Q_OBJECT
public:
    struct Names {
        const char* page;
        const char* memo;
        const char* packetLabel;
        const char* timingLabel;
        const char* copy;
        const char* save;
        const char* clear;
        const char* trace;
    };

    TSlotPage(int slotIndex, const Names& names, QWidget* parent = nullptr);

    int slotIndex() const { return m_slotIndex; }
    TLogMemo* memo() const { return m_memo; }
    TStatLabel* packetLabel() const { return m_packetLabel; }
    TStatLabel* timingLabel() const { return m_timingLabel; }
    QPushButton* copyButton() const { return m_copy; }
    QPushButton* saveButton() const { return m_save; }
    QPushButton* clearButton() const { return m_clear; }
    QPushButton* traceButton() const { return m_trace; }

    static constexpr int kBottomPanelHeight = 74;

protected:
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void takePaneColour();

    const int m_slotIndex;
    TLogMemo* m_memo;
    TStatLabel* m_packetLabel;
    TStatLabel* m_timingLabel;
    QPushButton* m_copy;
    QPushButton* m_save;
    QPushButton* m_clear;
    QPushButton* m_trace;
};

} // namespace tarnwick::ui
