#pragma once

#include <QWidget>

class QLabel;
class QListWidget;
class QPushButton;

namespace tarnwick::ui {

class TCheckBox;
class TEdit;
class TUpDown;

// The settings column's controls, named as the rest of the program refers to
// them. Their one home is the main window, which is made of them; the column
// fills them in as it builds itself.
struct SettingsControls {
    QPushButton* BitBtn27 = nullptr;
    QLabel* Label7 = nullptr;
    TEdit* Edit5 = nullptr;
    TUpDown* UpDown3 = nullptr;
    QLabel* Label6 = nullptr;
    TEdit* Edit4 = nullptr;
    TUpDown* UpDown2 = nullptr;
    QLabel* Label17 = nullptr;
    TEdit* Edit1 = nullptr;
    TUpDown* UpDown1 = nullptr;
    TCheckBox* CheckBox1 = nullptr;
    QListWidget* ListBox1 = nullptr;
    QPushButton* BitBtn5 = nullptr;
    QPushButton* BitBtn1 = nullptr;
    QPushButton* BitBtn4 = nullptr;
    QPushButton* BitBtn22 = nullptr;
    QPushButton* BitBtn2 = nullptr;
    QPushButton* BitBtn3 = nullptr;
    QPushButton* Button1 = nullptr;
};

// The main window's fixed-width settings column, top to bottom: the link to
// the bigger edition, the hidden packet size, Timeout, Delay, Auto start, the
// host list with its editing buttons, and Start/Stop. It only builds the
// controls; the main window connects them.
class TSettingsColumn : public QWidget {
    Q_OBJECT
public:
    TSettingsColumn(SettingsControls& controls, QWidget* parent);

    static constexpr int kWidth = 185;
};

} // namespace tarnwick::ui
