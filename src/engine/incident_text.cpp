#include "engine/incident_text.h"

#include "core/text_lines.h"

#include <QDateTime>

#include <algorithm>
#include <array>
#include <map>

namespace tarnwick::engine {

using core::kCrLf;

namespace {

const QByteArray kRecordTag = QByteArrayLiteral("TWL1");
constexpr int kRecordFields = 12;

QDateTime at(qint64 wallMs, const QTimeZone& zone)
{
    return QDateTime::fromMSecsSinceEpoch(wallMs, zone);
}

QString clockText(qint64 wallMs, const QTimeZone& zone)
{
    return at(wallMs, zone).toString(QStringLiteral("HH:mm:ss"));
}

QString dateTimeText(qint64 wallMs, const QTimeZone& zone)
{
    return at(wallMs, zone).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString isoText(qint64 wallMs, const QTimeZone& zone)
{
    return at(wallMs, zone).toString(Qt::ISODate);
}

QString zoneText(const QTimeZone& zone, qint64 wallMs)
{
    const QDateTime when = at(wallMs, zone);
    const QString offset = when.toString(QStringLiteral("t"));
    const int seconds = zone.offsetFromUtc(when);
    const QString utc = QStringLiteral("UTC%1%2:%3")
                            .arg(seconds < 0 ? QLatin1Char('-') : QLatin1Char('+'))
                            .arg(std::abs(seconds) / 3600, 2, 10, QLatin1Char('0'))
                            .arg(std::abs(seconds) % 3600 / 60, 2, 10, QLatin1Char('0'));
    // A name such as CEST helps the reader; "UTC+02" says nothing more.
    const bool named = !offset.isEmpty() && std::all_of(offset.begin(), offset.end(),
                                                        [](QChar c) { return c.isLetter(); });
    return named && offset != QStringLiteral("UTC") ? offset + QStringLiteral(", ") + utc : utc;
}

QString plural(int n, const char* one, const char* many)
{
    return QString::number(n) + QLatin1Char(' ') + QLatin1String(n == 1 ? one : many);
}

QByteArray escapeField(const QString& text)
{
    QByteArray out;
    for (const char c : text.toUtf8()) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            out += c;
        }
    }
    return out;
}

QString unescapeField(QByteArrayView field)
{
    QByteArray out;
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] != '\\' || i + 1 == field.size()) {
            out += field[i];
            continue;
        }
        const char n = field[++i];
        out += n == 't' ? '\t' : n == 'n' ? '\n' : n == 'r' ? '\r' : n;
    }
    return QString::fromUtf8(out);
}

const std::array<const char*, 3> kScopeNames = {"host", "network", "gap"};
const std::array<const char*, 4> kEndNames = {"ongoing", "answered", "stopped", "unknown"};

template <std::size_t N> int indexOf(const std::array<const char*, N>& names, QByteArrayView word)
{
    for (std::size_t i = 0; i < N; ++i) {
        if (word == QByteArrayView(names[i]))
            return static_cast<int>(i);
    }
    return -1;
}

std::optional<qint64> number(QByteArrayView text)
{
    bool ok = false;
    const qint64 value = text.toByteArray().toLongLong(&ok);
    return ok ? std::optional<qint64>(value) : std::nullopt;
}

QString csvField(const QString& text)
{
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) &&
        !text.contains(QLatin1Char('\r')) && !text.contains(QLatin1Char('\n')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString gapsText(const Incident& incident, const QTimeZone& zone)
{
    QStringList parts;
    for (const Gap& gap : incident.gaps)
        parts << dateTimeText(gap.fromWallMs, zone) + QStringLiteral(" to ") +
                     dateTimeText(gap.toWallMs, zone);
    return parts.join(QStringLiteral("; "));
}

} // namespace

QString durationText(qint64 ms)
{
    const qint64 total = std::max<qint64>(0, ms) / 1000;
    const qint64 days = total / 86400;
    const qint64 hours = total % 86400 / 3600;
    const qint64 minutes = total % 3600 / 60;
    const qint64 seconds = total % 60;
    if (days > 0)
        return QStringLiteral("%1 d %2 h %3 min").arg(days).arg(hours).arg(minutes);
    if (hours > 0)
        return QStringLiteral("%1 h %2 min %3 s").arg(hours).arg(minutes).arg(seconds);
    if (minutes > 0)
        return QStringLiteral("%1 min %2 s").arg(minutes).arg(seconds);
    return QStringLiteral("%1 s").arg(seconds);
}

QString lostText(int timedOut, int unreachable)
{
    if (timedOut > 0 && unreachable > 0)
        return plural(timedOut, "request", "requests") + QStringLiteral(" timed out, ") +
               QString::number(unreachable) + QStringLiteral(" unreachable");
    if (unreachable > 0)
        return plural(unreachable, "request", "requests") + QStringLiteral(" unreachable");
    return plural(timedOut, "request", "requests") + QStringLiteral(" timed out");
}

QString noticeText(const Notice& notice, const QTimeZone& zone)
{
    switch (notice.kind) {
    case Notice::HostDown:
        return QStringLiteral("host %1 is down since %2 (%3)")
            .arg(notice.host, clockText(notice.since.wallMs, zone),
                 lostText(notice.timedOut, notice.unreachable));
    case Notice::HostUp:
        return QStringLiteral("host %1 is up again after %2")
            .arg(notice.host, durationText(notice.durationMs));
    case Notice::NetworkDown:
        return QStringLiteral("no host answers: the local network may be down");
    case Notice::NetworkUp:
        return QStringLiteral("hosts answer again: the local network is back after %1")
            .arg(durationText(notice.durationMs));
    }
    return {};
}

QString scopeText(const Incident& incident)
{
    switch (incident.scope) {
    case Incident::Scope::Host:
        return incident.host;
    case Incident::Scope::Network:
        return QStringLiteral("whole network");
    case Incident::Scope::NotMeasured:
        return QStringLiteral("(not measured)");
    }
    return {};
}

QString endText(const Incident& incident, const QTimeZone& zone)
{
    switch (incident.end) {
    case Incident::End::Ongoing:
        return QStringLiteral("ongoing");
    case Incident::End::Unknown:
        return QStringLiteral("not measured (program ended)");
    case Incident::End::Answered:
    case Incident::End::Stopped:
        break;
    }
    return dateTimeText(incident.endWallMs, zone);
}

QString notesText(const Incident& incident, const QTimeZone& zone)
{
    QStringList notes;
    if (incident.scope == Incident::Scope::NotMeasured)
        notes << QStringLiteral("not measured: the computer slept or its clock jumped");
    else if (!incident.gaps.isEmpty())
        notes << QStringLiteral("not measured ") + gapsText(incident, zone);
    if (incident.scope == Incident::Scope::Network)
        notes << QStringLiteral("no host answered: ") + incident.host;
    if (incident.end == Incident::End::Stopped)
        notes << QStringLiteral("monitoring stopped before it answered");
    if (incident.end == Incident::End::Unknown)
        notes << QStringLiteral("last seen down at ") + dateTimeText(incident.endWallMs, zone);
    if (!incident.route.isEmpty())
        notes << QStringLiteral("route snapshot taken");
    return notes.join(QStringLiteral("; "));
}

QString ticketText(const QList<Incident>& incidents, const QTimeZone& zone)
{
    const qint64 first = incidents.isEmpty() ? 0 : incidents.front().startWallMs;
    QString text =
        QStringLiteral("Outages measured by Tarnwick (times in %1)").arg(zoneText(zone, first)) +
        kCrLf;
    for (const Incident& incident : incidents) {
        text += kCrLf;
        auto line = [&text](const char* label, const QString& value) {
            text += QLatin1String(label) + value + kCrLf;
        };
        if (incident.scope == Incident::Scope::NotMeasured) {
            line("Not measured: ", dateTimeText(incident.startWallMs, zone) +
                                       QStringLiteral(" to ") +
                                       dateTimeText(incident.endWallMs, zone));
            continue;
        }
        line("Host:       ",
             incident.scope == Incident::Scope::Network
                 ? QStringLiteral("all monitored hosts (") + incident.host + QLatin1Char(')')
                 : incident.host);
        line("Down from:  ", dateTimeText(incident.startWallMs, zone));
        line("Up again:   ", incident.end == Incident::End::Answered
                                 ? dateTimeText(incident.endWallMs, zone)
                                 : endText(incident, zone));
        line("Duration:   ", durationText(incident.measuredMs) +
                                 (incident.ongoing() ? QStringLiteral(" so far") : QString()));
        line("Lost:       ", lostText(incident.timedOut, incident.unreachable));
        if (incident.worstRttMs)
            line("Worst round trip within 5 min: ",
                 QString::number(*incident.worstRttMs) + QStringLiteral(" ms"));
        if (!incident.gaps.isEmpty())
            line("Not measured: ", gapsText(incident, zone));
        if (!incident.route.isEmpty()) {
            text += QStringLiteral("Route when it went down:") + kCrLf;
            QString route = incident.route;
            route.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
            for (const QString& hop : route.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
                text += QStringLiteral("    ") + hop + kCrLf;
        }
    }
    return text;
}

QByteArray csvText(const QList<Incident>& incidents, const QTimeZone& zone)
{
    QString text = QStringLiteral("scope,host,start,end,duration_s,requests_timed_out,"
                                  "requests_unreachable,worst_rtt_ms,ended,not_measured,route") +
                   kCrLf;
    for (const Incident& incident : incidents) {
        const char* scope = kScopeNames[static_cast<std::size_t>(incident.scope)];
        QStringList row;
        row << QLatin1String(scope) << incident.host << isoText(incident.startWallMs, zone)
            << (incident.ongoing() ? QString() : isoText(incident.endWallMs, zone))
            << QString::number(incident.measuredMs / 1000) << QString::number(incident.timedOut)
            << QString::number(incident.unreachable)
            << (incident.worstRttMs ? QString::number(*incident.worstRttMs) : QString())
            << QLatin1String(kEndNames[static_cast<std::size_t>(incident.end)]);
        QStringList gaps;
        for (const Gap& gap : incident.gaps)
            gaps << isoText(gap.fromWallMs, zone) + QLatin1Char('/') + isoText(gap.toWallMs, zone);
        row << gaps.join(QLatin1Char(' '));
        QString route = incident.route;
        route.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        route.replace(QLatin1Char('\n'), kCrLf);
        row << route.trimmed();
        for (QString& field : row)
            field = csvField(field);
        text += row.join(QLatin1Char(',')) + kCrLf;
    }
    return text.toUtf8();
}

std::uint32_t crc32(QByteArrayView bytes)
{
    static const std::array<std::uint32_t, 256> table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    std::uint32_t crc = 0xFFFFFFFFu;
    for (const char c : bytes)
        crc = table[(crc ^ static_cast<std::uint8_t>(c)) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

QByteArray ledgerRecord(const Incident& incident)
{
    QByteArrayList gaps;
    for (const Gap& gap : incident.gaps)
        gaps << QByteArray::number(gap.fromWallMs) + '-' + QByteArray::number(gap.toWallMs);
    const QByteArrayList fields = {
        QByteArray::number(incident.id),
        kScopeNames[static_cast<std::size_t>(incident.scope)],
        escapeField(incident.host),
        QByteArray::number(incident.startWallMs),
        QByteArray::number(incident.endWallMs),
        QByteArray::number(incident.measuredMs),
        kEndNames[static_cast<std::size_t>(incident.end)],
        QByteArray::number(incident.timedOut),
        QByteArray::number(incident.unreachable),
        incident.worstRttMs ? QByteArray::number(*incident.worstRttMs) : QByteArray(),
        gaps.join(';'),
        escapeField(incident.route),
    };
    const QByteArray payload = fields.join('\t');
    return kRecordTag + '\t' + QByteArray::number(crc32(payload), 16).rightJustified(8, '0') +
           '\t' + payload;
}

std::optional<Incident> parseLedgerRecord(QByteArrayView line)
{
    if (!line.startsWith(kRecordTag + '\t') || line.size() < kRecordTag.size() + 10)
        return std::nullopt;
    const QByteArrayView sum = line.sliced(kRecordTag.size() + 1, 8);
    const QByteArrayView payload = line.sliced(kRecordTag.size() + 10);
    bool ok = false;
    if (line[kRecordTag.size() + 9] != '\t' ||
        sum.toByteArray().toUInt(&ok, 16) != crc32(payload) || !ok)
        return std::nullopt;
    const QList<QByteArray> f = payload.toByteArray().split('\t');
    if (f.size() < kRecordFields)
        return std::nullopt;
    Incident incident;
    const auto id = number(f[0]);
    const int scope = indexOf(kScopeNames, f[1]);
    const auto start = number(f[3]);
    const auto end = number(f[4]);
    const auto measured = number(f[5]);
    const int ended = indexOf(kEndNames, f[6]);
    const auto timedOut = number(f[7]);
    const auto unreachable = number(f[8]);
    if (!id || scope < 0 || !start || !end || !measured || ended < 0 || !timedOut || !unreachable)
        return std::nullopt;
    incident.id = static_cast<std::uint64_t>(*id);
    incident.scope = static_cast<Incident::Scope>(scope);
    incident.host = unescapeField(f[2]);
    incident.startWallMs = *start;
    incident.endWallMs = *end;
    incident.measuredMs = *measured;
    incident.end = static_cast<Incident::End>(ended);
    incident.timedOut = static_cast<int>(*timedOut);
    incident.unreachable = static_cast<int>(*unreachable);
    if (const auto worst = number(f[9]))
        incident.worstRttMs = static_cast<int>(*worst);
    for (const QByteArray& gap : f[10].split(';')) {
        const qsizetype dash = gap.indexOf('-', 1);
        const auto from = number(gap.left(dash));
        const auto to = number(gap.mid(dash + 1));
        if (dash > 0 && from && to)
            incident.gaps << Gap{*from, *to};
    }
    incident.route = unescapeField(f[11]);
    return incident;
}

std::vector<Incident> incidentsFromRecords(const QList<QByteArray>& lines)
{
    std::vector<Incident> incidents;
    std::map<std::uint64_t, std::size_t> where;
    for (const QByteArray& line : lines) {
        const std::optional<Incident> incident = parseLedgerRecord(line);
        if (!incident)
            continue;
        const auto it = where.find(incident->id);
        if (it == where.end()) {
            where[incident->id] = incidents.size();
            incidents.push_back(*incident);
        } else {
            incidents[it->second] = *incident;
        }
    }
    return incidents;
}

} // namespace tarnwick::engine
