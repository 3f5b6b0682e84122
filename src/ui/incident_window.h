#pragma once

#include <QTimeZone>
#include <QWidget>

#include <functional>

class QComboBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTableView;

namespace tarnwick::engine {
class IncidentMonitor;
struct Incident;
} // namespace tarnwick::engine

namespace tarnwick::ui {

class IncidentFilter;
class IncidentTableModel;

// The incident ledger: every outage, newest first, sortable and filtered by
// host, kept up to date while it is open. "Copy" puts the selected incidents
// on the clipboard as text for a support ticket, "Export..." writes the shown
// ones as CSV. Created once, hidden; closing it hides it.
class TIncidentWindow : public QWidget {
    Q_OBJECT
public:
    struct Dependencies {
        const engine::IncidentMonitor* monitor = nullptr;
        QTimeZone zone = QTimeZone::systemTimeZone();
        // The file to export to; empty: cancelled. A save dialog unless a
        // test answers itself.
        std::function<QString(QWidget* parent)> chooseExportFile;
        // Why the ledger file cannot be written now (empty: it can).
        std::function<QString()> ledgerProblem;
    };

    explicit TIncidentWindow(Dependencies deps, QWidget* parent = nullptr);
    ~TIncidentWindow() override;

    // The texts Copy and Export make, from the selected and the shown rows.
    QString ticketOfSelection() const;
    QByteArray csvOfShown() const;

    void CopyClick();
    void ExportClick();

    QComboBox* HostFilter = nullptr;
    QTableView* IncidentTable = nullptr;
    QPlainTextEdit* RouteView = nullptr;
    QLabel* StatusLabel = nullptr;
    QPushButton* CopyButton = nullptr;
    QPushButton* ExportButton = nullptr;
    QPushButton* CloseButton = nullptr;

    IncidentTableModel* model() const { return m_model; }
    IncidentFilter* filter() const { return m_filter; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void refreshFilterChoices();
    void showCurrentRoute();
    void refreshStatus();
    QList<engine::Incident> incidentsOf(const QList<int>& proxyRows) const;

    Dependencies m_deps;
    IncidentTableModel* m_model = nullptr;
    IncidentFilter* m_filter = nullptr;
};

} // namespace tarnwick::ui
