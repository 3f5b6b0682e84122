#include "ui/incident_window.h"

#include "core/app_error.h"
#include "engine/incident_monitor.h"
#include "engine/incident_text.h"
#include "platform/clipboard.h"
#include "platform/files.h"
#include "ui/incident_model.h"
#include "ui/pictures.h"

#include <QComboBox>
#include <QFileDialog>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QSplitter>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>

namespace tarnwick::ui {

namespace {
const QString kAllHosts = QStringLiteral("All hosts");
} // namespace

TIncidentWindow::TIncidentWindow(Dependencies deps, QWidget* parent)
    : QWidget(parent, Qt::Window), m_deps(std::move(deps))
{
    Q_ASSERT(m_deps.monitor);
    setObjectName(QStringLiteral("IncidentWindow"));
    setWindowTitle(tr("Incidents"));
    setWindowIcon(programIcon());
    resize(980, 480);

    m_model = new IncidentTableModel(*m_deps.monitor, m_deps.zone, this);
    m_filter = new IncidentFilter(this);
    m_filter->setSourceModel(m_model);
    m_filter->setSortRole(IncidentTableModel::kSortRole);

    HostFilter = new QComboBox(this);
    HostFilter->setObjectName(QStringLiteral("HostFilter"));
    HostFilter->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    StatusLabel = new QLabel(this);
    StatusLabel->setObjectName(QStringLiteral("StatusLabel"));
    auto* top = new QHBoxLayout;
    top->addWidget(new QLabel(tr("Host:"), this));
    top->addWidget(HostFilter);
    top->addStretch(1);
    top->addWidget(StatusLabel);

    IncidentTable = new QTableView(this);
    IncidentTable->setObjectName(QStringLiteral("IncidentTable"));
    IncidentTable->setModel(m_filter);
    IncidentTable->setSortingEnabled(true);
    IncidentTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    IncidentTable->setSelectionMode(QAbstractItemView::ExtendedSelection);
    IncidentTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    IncidentTable->verticalHeader()->hide();
    IncidentTable->horizontalHeader()->setStretchLastSection(true);
    IncidentTable->sortByColumn(IncidentTableModel::Start, Qt::DescendingOrder);
    m_filter->setDynamicSortFilter(true);

    RouteView = new QPlainTextEdit(this);
    RouteView->setObjectName(QStringLiteral("RouteView"));
    RouteView->setReadOnly(true);
    RouteView->setLineWrapMode(QPlainTextEdit::NoWrap);
    RouteView->setPlaceholderText(tr("Route when it went down: select an incident"));
    RouteView->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));

    auto* splitter = new QSplitter(Qt::Vertical, this);
    splitter->addWidget(IncidentTable);
    splitter->addWidget(RouteView);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 1);

    CopyButton = new QPushButton(tr("&Copy"), this);
    CopyButton->setObjectName(QStringLiteral("CopyButton"));
    ExportButton = new QPushButton(tr("&Export..."), this);
    ExportButton->setObjectName(QStringLiteral("ExportButton"));
    CloseButton = new QPushButton(tr("Close"), this);
    CloseButton->setObjectName(QStringLiteral("CloseButton"));
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(CopyButton);
    bottom->addWidget(ExportButton);
    bottom->addStretch(1);
    bottom->addWidget(CloseButton);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(splitter, 1);
    layout->addLayout(bottom);

    connect(CopyButton, &QPushButton::clicked, this,
            [this] { reportingErrors([this] { CopyClick(); }); });
    connect(ExportButton, &QPushButton::clicked, this,
            [this] { reportingErrors([this] { ExportClick(); }); });
    connect(CloseButton, &QPushButton::clicked, this, &QWidget::hide);
    connect(HostFilter, &QComboBox::currentIndexChanged, this, [this] {
        m_filter->setKey(HostFilter->currentIndex() <= 0 ? QString() : HostFilter->currentText());
    });
    connect(IncidentTable->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            &TIncidentWindow::showCurrentRoute);
    connect(m_model, &QAbstractItemModel::rowsInserted, this,
            &TIncidentWindow::refreshFilterChoices);
    connect(m_model, &QAbstractItemModel::modelReset, this, &TIncidentWindow::refreshFilterChoices);
    connect(m_model, &QAbstractItemModel::dataChanged, this, &TIncidentWindow::showCurrentRoute);
    connect(m_deps.monitor, &engine::IncidentMonitor::incidentsTicked, this,
            &TIncidentWindow::refreshStatus);
    refreshFilterChoices();
}

TIncidentWindow::~TIncidentWindow() = default;

void TIncidentWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    refreshStatus();
    IncidentTable->resizeColumnsToContents();
}

void TIncidentWindow::refreshFilterChoices()
{
    const QString current = HostFilter->currentIndex() > 0 ? HostFilter->currentText() : QString();
    QStringList keys = m_model->filterKeys();
    std::sort(keys.begin(), keys.end());
    QStringList items = {kAllHosts};
    items << keys;
    QStringList now;
    for (int i = 0; i < HostFilter->count(); ++i)
        now << HostFilter->itemText(i);
    if (now == items)
        return;
    const QSignalBlocker block(HostFilter);
    HostFilter->clear();
    HostFilter->addItems(items);
    const int keep = current.isEmpty() ? 0 : static_cast<int>(items.indexOf(current));
    HostFilter->setCurrentIndex(std::max(0, keep));
    m_filter->setKey(HostFilter->currentIndex() <= 0 ? QString() : HostFilter->currentText());
}

void TIncidentWindow::showCurrentRoute()
{
    const QModelIndex current = IncidentTable->currentIndex();
    const QModelIndex source = m_filter->mapToSource(current);
    const engine::Incident* incident =
        source.isValid() ? m_model->incidentAt(source.row()) : nullptr;
    QString text = incident ? incident->route : QString();
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    if (RouteView->toPlainText() != text)
        RouteView->setPlainText(text);
}

void TIncidentWindow::refreshStatus()
{
    const QString problem = m_deps.ledgerProblem ? m_deps.ledgerProblem() : QString();
    const QString text =
        problem.isEmpty() ? QString() : tr("The ledger cannot be written: ") + problem;
    if (StatusLabel->text() != text)
        StatusLabel->setText(text);
}

QList<engine::Incident> TIncidentWindow::incidentsOf(const QList<int>& proxyRows) const
{
    QList<engine::Incident> incidents;
    for (const int row : proxyRows) {
        const QModelIndex source = m_filter->mapToSource(m_filter->index(row, 0));
        if (const engine::Incident* incident = m_model->incidentAt(source.row()))
            incidents << *incident;
    }
    return incidents;
}

QString TIncidentWindow::ticketOfSelection() const
{
    QList<int> rows;
    for (const QModelIndex& index : IncidentTable->selectionModel()->selectedRows())
        rows << index.row();
    std::sort(rows.begin(), rows.end());
    if (rows.isEmpty())
        return {};
    return engine::ticketText(incidentsOf(rows), m_deps.zone);
}

QByteArray TIncidentWindow::csvOfShown() const
{
    QList<int> rows;
    for (int row = 0; row < m_filter->rowCount(); ++row)
        rows << row;
    return engine::csvText(incidentsOf(rows), m_deps.zone);
}

void TIncidentWindow::CopyClick()
{
    const QString text = ticketOfSelection();
    if (!text.isEmpty())
        platform::CopyTextToClipboard(this, text);
}

void TIncidentWindow::ExportClick()
{
    QString path;
    if (m_deps.chooseExportFile) {
        path = m_deps.chooseExportFile(this);
    } else {
        // Not the static helper: its dialog is application modal and would
        // block the tray icon's window.
        QFileDialog dialog(this, tr("Export incidents"), QStringLiteral("incidents.csv"),
                           tr("CSV files (*.csv)"));
        dialog.setObjectName(QStringLiteral("ExportDialog"));
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setWindowModality(Qt::WindowModal);
        if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
            path = dialog.selectedFiles().constFirst();
    }
    if (path.isEmpty())
        return;
    // A failure shows as "Cannot create file ..." through the top-level reporter.
    platform::writeFileAtomically(path, csvOfShown());
}

} // namespace tarnwick::ui
