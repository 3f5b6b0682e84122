#include "trace/trace_text.h"

#include "core/text_lines.h"
#include "trace/trace_addresses.h"

#include <algorithm>
#include <limits>

namespace tarnwick::trace {

using core::kCrLf;

QString tracingRouteLine(const QString& host, std::uint32_t destination)
{
    return QStringLiteral("Tracing route to ") + host + QStringLiteral(" [") +
           FormatIPv4(destination) + QStringLiteral("]") + kCrLf;
}

QString maximumHopsLine(std::uint8_t maxHops)
{
    return QStringLiteral("over of maximum ") + QString::number(maxHops) +
           QStringLiteral(" hops:") + kCrLf;
}

QString probeColumn(std::uint8_t hop, int probeIndex, std::optional<int> elapsedMs)
{
    QString column =
        elapsedMs ? QString::asprintf("%6d ms", *elapsedMs) : QStringLiteral("    *    ");
    if (probeIndex == 0)
        column = QString::asprintf("%3d: ", static_cast<int>(hop)) + column;
    return column;
}

QString repliedHopEnd(const QString& addressText, bool withNames, const QString& name)
{
    // A hop whose name is unknown shows its address alone, as without names.
    const QString part = withNames && name != QLatin1String("Unknown")
                             ? name + QLatin1Char('[') + addressText + QLatin1Char(']')
                             : addressText;
    return QStringLiteral("  ") + part + kCrLf;
}

QString silentHopEnd()
{
    return QStringLiteral("  Requested Timed out.") + kCrLf;
}

QString traceCompleteLine()
{
    return QStringLiteral("Trace complete.") + kCrLf;
}

std::optional<long long> parseWholeNumber(const QString& text)
{
    const QString t = text.trimmed();
    qsizetype i = 0;
    bool negative = false;
    if (i < t.size() && (t[i] == QLatin1Char('-') || t[i] == QLatin1Char('+'))) {
        negative = t[i] == QLatin1Char('-');
        ++i;
    }
    if (i == t.size())
        return std::nullopt;
    constexpr long long kMax = std::numeric_limits<long long>::max();
    long long magnitude = 0;
    for (; i < t.size(); ++i) {
        const int digit = t[i].digitValue();
        if (digit < 0 || t[i].unicode() > 0x7f)
            return std::nullopt;
        magnitude = magnitude > (kMax - digit) / 10 ? kMax : magnitude * 10 + digit;
    }
    return negative ? -magnitude : magnitude;
}

std::uint8_t maxHopsFromText(const QString& text)
{
    const long long value = parseWholeNumber(text).value_or(0);
    return static_cast<std::uint8_t>(std::clamp<long long>(value, 0, 255));
}

} // namespace tarnwick::trace
