#include "ui/incident_model.h"

#include "engine/incident_monitor.h"
#include "engine/incident_text.h"

#include <QDateTime>

namespace tarnwick::ui {

IncidentTableModel::IncidentTableModel(const engine::IncidentMonitor& monitor,
                                       const QTimeZone& zone, QObject* parent)
    : QAbstractTableModel(parent), m_monitor(monitor), m_zone(zone),
      m_rows(static_cast<int>(monitor.book().incidents().size()))
{
    connect(&monitor, &engine::IncidentMonitor::incidentChanged, this,
            &IncidentTableModel::changed);
    connect(&monitor, &engine::IncidentMonitor::incidentsTicked, this, &IncidentTableModel::ticked);
    connect(&monitor, &engine::IncidentMonitor::incidentsReplaced, this, [this] {
        beginResetModel();
        m_rows = static_cast<int>(m_monitor.book().incidents().size());
        endResetModel();
    });
}

int IncidentTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_rows;
}

int IncidentTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

const engine::Incident* IncidentTableModel::incidentAt(int row) const
{
    const auto& all = m_monitor.book().incidents();
    return row >= 0 && row < m_rows && row < static_cast<int>(all.size()) ? &all[row] : nullptr;
}

QStringList IncidentTableModel::filterKeys() const
{
    QStringList keys;
    for (const engine::Incident& incident : m_monitor.book().incidents()) {
        const QString key = engine::scopeText(incident);
        if (!keys.contains(key))
            keys << key;
    }
    return keys;
}

QVariant IncidentTableModel::data(const QModelIndex& index, int role) const
{
    const engine::Incident* incident = incidentAt(index.row());
    if (!incident)
        return {};
    using engine::Incident;
    if (role == kFilterRole)
        return engine::scopeText(*incident);
    if (role == kIdRole)
        return QVariant::fromValue<quint64>(incident->id);
    const bool blank = incident->scope == Incident::Scope::NotMeasured;
    if (role == kSortRole) {
        switch (index.column()) {
        case Host:
            return engine::scopeText(*incident);
        case Start:
            return incident->startWallMs;
        case End:
            return incident->ongoing() ? std::numeric_limits<qint64>::max() : incident->endWallMs;
        case Duration:
            return incident->measuredMs;
        case Lost:
            return incident->lost();
        case WorstRtt:
            return incident->worstRttMs.value_or(-1);
        case Notes:
            return engine::notesText(*incident, m_zone);
        }
        return {};
    }
    if (role == Qt::TextAlignmentRole && index.column() >= Duration && index.column() <= WorstRtt)
        return QVariant(Qt::AlignRight | Qt::AlignVCenter);
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
        return {};
    const auto when = [this](qint64 ms) {
        return QDateTime::fromMSecsSinceEpoch(ms, m_zone)
            .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    };
    switch (index.column()) {
    case Host:
        return engine::scopeText(*incident);
    case Start:
        return when(incident->startWallMs);
    case End:
        return blank ? when(incident->endWallMs) : engine::endText(*incident, m_zone);
    case Duration:
        if (blank)
            return engine::durationText(incident->endWallMs - incident->startWallMs);
        return engine::durationText(incident->measuredMs) +
               (incident->ongoing() ? tr(" so far") : QString());
    case Lost:
        return blank ? QString() : engine::lostText(incident->timedOut, incident->unreachable);
    case WorstRtt:
        return incident->worstRttMs ? QString::number(*incident->worstRttMs) + QStringLiteral(" ms")
                                    : QString();
    case Notes:
        return engine::notesText(*incident, m_zone);
    }
    return {};
}

QVariant IncidentTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case Host:
        return tr("Host");
    case Start:
        return tr("Down from");
    case End:
        return tr("Up again");
    case Duration:
        return tr("Duration");
    case Lost:
        return tr("Requests lost");
    case WorstRtt:
        return tr("Worst round trip");
    case Notes:
        return tr("Notes");
    }
    return {};
}

void IncidentTableModel::changed(quint64 id)
{
    const auto& all = m_monitor.book().incidents();
    const int count = static_cast<int>(all.size());
    if (count > m_rows) {
        beginInsertRows({}, m_rows, count - 1);
        m_rows = count;
        endInsertRows();
        return;
    }
    for (int row = 0; row < m_rows && row < count; ++row) {
        if (all[row].id == id) {
            emit dataChanged(index(row, 0), index(row, ColumnCount - 1));
            return;
        }
    }
}

void IncidentTableModel::ticked()
{
    // Open incidents run on: their end and duration change every second.
    const auto& all = m_monitor.book().incidents();
    for (int row = 0; row < m_rows && row < static_cast<int>(all.size()); ++row) {
        if (all[row].ongoing())
            emit dataChanged(index(row, End), index(row, Duration));
    }
}

void IncidentFilter::setKey(const QString& key)
{
    if (key == m_key)
        return;
    m_key = key;
    invalidateFilter();
}

bool IncidentFilter::filterAcceptsRow(int row, const QModelIndex& parent) const
{
    if (m_key.isEmpty())
        return true;
    return sourceModel()->index(row, 0, parent).data(IncidentTableModel::kFilterRole).toString() ==
           m_key;
}

} // namespace tarnwick::ui
