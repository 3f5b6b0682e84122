#pragma once

#include "ui/alert_choices.h"

#include <QDialog>
#include <QMenu>

#include <functional>

class QAction;
class QSpinBox;

namespace tarnwick::ui {

// "Down after" and "Up again after", in attempts in a row.
class TThresholdsDialog : public QDialog {
    Q_OBJECT
public:
    explicit TThresholdsDialog(QWidget* parent = nullptr);

    void setThresholds(engine::Thresholds thresholds);
    engine::Thresholds thresholds() const;

    QSpinBox* DownAfter = nullptr;
    QSpinBox* UpAfter = nullptr;
};

// The main window's "Alerts" menu: the incident ledger, the switch for
// desktop notices and their thresholds.
class TAlertsMenu : public QMenu {
    Q_OBJECT
public:
    struct Dependencies {
        AlertChoices initial;
        // Whether the desktop has a notification service now.
        std::function<bool()> serviceAvailable;
        std::function<void()> openLedger;
        // Every change the user makes, already in force here.
        std::function<void(const AlertChoices&)> changed;
        // Asks for thresholds (a modal dialog; tests answer it themselves).
        std::function<std::optional<engine::Thresholds>(engine::Thresholds current)> askThresholds;
    };

    explicit TAlertsMenu(Dependencies deps, QWidget* parent = nullptr);

    const AlertChoices& choices() const { return m_choices; }
    // The switch's text follows whether a service is there.
    void refresh();

    QAction* Ledger1 = nullptr;
    QAction* Notices1 = nullptr;
    QAction* Thresholds1 = nullptr;

    static inline const QString kNoticesText = QStringLiteral("Desktop notifications");
    static inline const QString kNoServiceText =
        QStringLiteral("Desktop notifications (this desktop has no notification service)");

private:
    void noticesToggled(bool on);
    void editThresholds();

    Dependencies m_deps;
    AlertChoices m_choices;
};

} // namespace tarnwick::ui
