#pragma once

#include "engine/incident.h"
#include "engine/outage_watch.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QTimeZone>

#include <optional>

namespace tarnwick::engine {

// "12 s", "4 min 10 s", "2 h 5 min 0 s", "3 d 4 h 12 min".
QString durationText(qint64 ms);

// "3 requests timed out", "1 request unreachable", "2 requests timed out,
// 1 unreachable".
QString lostText(int timedOut, int unreachable);

// The text of a desktop notice, times in zone.
QString noticeText(const Notice& notice, const QTimeZone& zone);

// What the ledger window shows in its columns.
QString scopeText(const Incident& incident);
QString endText(const Incident& incident, const QTimeZone& zone);
QString notesText(const Incident& incident, const QTimeZone& zone);

// Plain text for a support ticket: a heading with the time zone, then one
// block per incident, lines ended by CR LF.
QString ticketText(const QList<Incident>& incidents, const QTimeZone& zone);

// RFC 4180: a header, CR LF after every record, fields quoted where needed;
// times in ISO 8601 with the zone's offset.
QByteArray csvText(const QList<Incident>& incidents, const QTimeZone& zone);

// One ledger record: a line (without its line feed) that carries a checksum,
// so that a record cut short by a crash or a full disk is known as such.
QByteArray ledgerRecord(const Incident& incident);
std::optional<Incident> parseLedgerRecord(QByteArrayView line);

// The last record of each incident, in the order of their first records.
std::vector<Incident> incidentsFromRecords(const QList<QByteArray>& lines);

std::uint32_t crc32(QByteArrayView bytes);

} // namespace tarnwick::engine
