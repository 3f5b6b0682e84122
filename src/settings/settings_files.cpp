#include "settings/settings_files.h"

#include "core/numbers.h"
#include "core/text_lines.h"

#include <QLocale>

namespace tarnwick::settings {

int applySettingsLines(const QStringList& lines, Settings& into)
{
    if (lines.size() < 1)
        return 0;
    const std::optional<int> delay = core::parseWholeNumber(lines[0]);
    if (!delay)
        return 0;
    into.delay = *delay;
    if (lines.size() < 2)
        return 1;
    const std::optional<bool> autoStart = parseBoolean(lines[1]);
    if (!autoStart)
        return 1;
    into.autoStart = *autoStart;
    if (lines.size() < 3)
        return 2;
    const std::optional<int> timeout = core::parseWholeNumber(lines[2]);
    if (!timeout)
        return 2;
    into.timeout = *timeout;
    if (lines.size() < 4)
        return 3;
    const std::optional<int> packetSize = core::parseWholeNumber(lines[3]);
    if (!packetSize)
        return 3;
    into.packetSize = *packetSize;
    return 4;
}

QStringList settingsLines(const Settings& values)
{
    return {QString::number(values.delay),
            values.autoStart ? QStringLiteral("-1") : QStringLiteral("0"),
            QString::number(values.timeout), QString::number(values.packetSize)};
}

std::optional<bool> parseBoolean(const QString& text)
{
    if (text.compare(QStringLiteral("true"), Qt::CaseInsensitive) == 0)
        return true;
    if (text.compare(QStringLiteral("false"), Qt::CaseInsensitive) == 0)
        return false;
    bool ok = false;
    const double number = QLocale::c().toDouble(text, &ok);
    if (!ok)
        return std::nullopt;
    return number != 0.0;
}

QList<HostEntry> decodeHostList(const QByteArray& bytes)
{
    const QList<QByteArrayView> lines = core::splitLines(QByteArrayView(bytes));
    QList<HostEntry> entries;
    entries.reserve(lines.size());
    for (const QByteArrayView line : lines) {
        QString text = QString::fromLocal8Bit(line);
        const bool givesThemBack = text.toLocal8Bit() == line;
        entries.append({std::move(text), givesThemBack ? QByteArray() : line.toByteArray()});
    }
    return entries;
}

QByteArray encodeHostList(const QList<HostEntry>& entries)
{
    QList<QByteArray> lines;
    lines.reserve(entries.size());
    for (const HostEntry& entry : entries) {
        const bool unchanged =
            !entry.bytes.isNull() && QString::fromLocal8Bit(entry.bytes) == entry.text;
        lines.append(unchanged ? entry.bytes : entry.text.toLocal8Bit());
    }
    return core::joinCrLf(lines);
}

QStringList decodeLines(const QByteArray& bytes)
{
    const QString text = QString::fromLocal8Bit(bytes);
    QStringList lines;
    for (const QStringView line : core::splitLines(QStringView(text)))
        lines.append(line.toString());
    return lines;
}

QByteArray encodeLines(const QStringList& lines)
{
    return core::joinCrLf(lines).toLocal8Bit();
}

} // namespace tarnwick::settings
