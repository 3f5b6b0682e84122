#include "ui/settings_files.h"

#include "engine/engine_settings.h"

#include <QLocale>

namespace tarnwick::ui {

QStringList splitLines(const QString& text)
{
    QStringList lines;
    qsizetype start = 0;
    const qsizetype n = text.size();
    qsizetype i = 0;
    while (i < n) {
        const QChar c = text[i];
        if (c == QLatin1Char('\r') || c == QLatin1Char('\n')) {
            lines << text.mid(start, i - start);
            if (c == QLatin1Char('\r') && i + 1 < n && text[i + 1] == QLatin1Char('\n'))
                ++i;
            start = i + 1;
        }
        ++i;
    }
    if (start < n)
        lines << text.mid(start);
    return lines;
}

QString crLfLines(const QStringList& lines)
{
    QString text;
    qsizetype size = 0;
    for (const QString& line : lines)
        size += line.size() + 2;
    text.reserve(size);
    for (const QString& line : lines) {
        text += line;
        text += QStringLiteral("\r\n");
    }
    return text;
}

QByteArray encodeLines(const QStringList& lines)
{
    return crLfLines(lines).toLocal8Bit();
}

QString decodeText(const QByteArray& bytes)
{
    return QString::fromLocal8Bit(bytes);
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

SettingsLines parseSettingsLines(const QStringList& lines)
{
    SettingsLines out;
    if (lines.size() < 1 || !(out.delay = engine::parseWholeNumber(lines[0])))
        return out;
    if (lines.size() < 2 || !(out.autoStart = parseBoolean(lines[1])))
        return out;
    if (lines.size() < 3 || !(out.timeout = engine::parseWholeNumber(lines[2])))
        return out;
    if (lines.size() >= 4)
        out.packetSize = engine::parseWholeNumber(lines[3]);
    return out;
}

QStringList formatSettingsLines(int delay, bool autoStart, int timeout, int packetSize)
{
    return {QString::number(delay), autoStart ? QStringLiteral("-1") : QStringLiteral("0"),
            QString::number(timeout), QString::number(packetSize)};
}

} // namespace tarnwick::ui
