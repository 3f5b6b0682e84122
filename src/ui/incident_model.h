#pragma once

#include "engine/incident.h"

#include <QAbstractTableModel>
#include <QSortFilterProxyModel>
#include <QTimeZone>

namespace tarnwick::engine {
class IncidentMonitor;
}

namespace tarnwick::ui {

// The incidents as a table, in the book's order; it follows the monitor's
// changes while it lives.
class IncidentTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { Host, Start, End, Duration, Lost, WorstRtt, Notes, ColumnCount };
    // What sorting and filtering read: the raw value, and the filter key
    // (the host, "whole network", "(not measured)").
    static constexpr int kSortRole = Qt::UserRole;
    static constexpr int kFilterRole = Qt::UserRole + 1;
    static constexpr int kIdRole = Qt::UserRole + 2;

    IncidentTableModel(const engine::IncidentMonitor& monitor, const QTimeZone& zone,
                       QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    const engine::Incident* incidentAt(int row) const;
    const QTimeZone& zone() const { return m_zone; }
    // Filter keys of every incident, in the order first seen.
    QStringList filterKeys() const;

private:
    void changed(quint64 id);
    void ticked();

    const engine::IncidentMonitor& m_monitor;
    QTimeZone m_zone;
    int m_rows = 0;
};

// Sorting on raw values, and one filter key (empty: everything).
class IncidentFilter : public QSortFilterProxyModel {
    Q_OBJECT
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;
    void setKey(const QString& key);
    const QString& key() const { return m_key; }

protected:
    bool filterAcceptsRow(int row, const QModelIndex& parent) const override;

private:
    QString m_key;
};

} // namespace tarnwick::ui
