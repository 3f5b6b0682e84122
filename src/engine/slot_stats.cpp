#include "engine/slot_stats.h"

#include "engine/result_line.h"

#include <cfenv>
#include <cmath>

namespace tarnwick::engine {

namespace {
const QChar kCr = QChar(13);
} // namespace

std::optional<std::int32_t> parseRoundTrip(const QString& line)
{
    const qsizetype start = line.indexOf(kTimeKey);
    if (start < 0)
        return std::nullopt;
    const qsizetype from = start + kTimeKey.size();
    const qsizetype end = line.indexOf(kMsUnit, from);
    if (end < 0)
        return std::nullopt;
    const QStringView digits = QStringView(line).mid(from, end - from);
    if (digits.isEmpty())
        return std::nullopt;
    qsizetype i = 0;
    if (digits[0] == u'-' || digits[0] == u'+')
        i = 1;
    if (i == digits.size())
        return std::nullopt;
    for (qsizetype k = i; k < digits.size(); ++k) {
        if (digits[k] < u'0' || digits[k] > u'9')
            return std::nullopt;
    }
    bool ok = false;
    const int value = digits.toInt(&ok, 10);
    if (!ok)
        return std::nullopt;
    return value;
}

double lossPercent(std::int32_t lost, std::int32_t sent)
{
    if (sent == 0)
        return 0.0;
    // Computed in extended precision and stored as a double first, so that
    // 1/800 lands exactly on 0.125 before the rounding step.
    const long double exact = static_cast<long double>(lost) / sent * 100.0L;
    const double stored = static_cast<double>(exact);
    const int oldMode = std::fegetround();
    std::fesetround(FE_TONEAREST);
    const double hundredths = std::nearbyint(stored * 100.0);
    std::fesetround(oldMode);
    return hundredths / 100.0;
}

void applyResult(SlotStats& stats, const QString& line, int logLineCount)
{
    stats.sent += 1;
    if (line.contains(kReplyWord))
        stats.received += 1;
    else
        stats.lost += 1;
    stats.loss = lossPercent(stats.lost, stats.sent);

    if (const auto v = parseRoundTrip(line)) {
        if (stats.minimum == -1)
            stats.minimum = *v;
        if (*v < stats.minimum)
            stats.minimum = *v;
        if (*v > stats.maximum)
            stats.maximum = *v;
        stats.sum += *v;
    }

    const std::int64_t divisor = static_cast<std::int64_t>(logLineCount) - stats.lost;
    if (divisor != 0)
        stats.average = static_cast<std::int32_t>(stats.sum / divisor);
}

void resetStats(SlotStats& stats, int timeoutMs)
{
    stats = SlotStats{};
    stats.minimum = timeoutMs;
}

QString formatLoss(double loss, const QLocale& locale)
{
    // ASCII digits whatever the locale writes numbers with; only the decimal
    // separator is the user's.
    QString text = QLocale::c().toString(loss, 'g', 15);
    const QString separator = locale.decimalPoint();
    if (separator != QLatin1String("."))
        text.replace(QLatin1Char('.'), separator);
    return text;
}

QStringList packetLines(const SlotStats& stats, const QLocale& locale)
{
    return {QStringLiteral("Packets send = ") + QString::number(stats.sent),
            QStringLiteral("Packets recived = ") + QString::number(stats.received),
            QStringLiteral("Packets lost = ") + QString::number(stats.lost),
            QStringLiteral("Loss = ") + formatLoss(stats.loss, locale) + QStringLiteral(" %")};
}

QStringList timingLines(const SlotStats& stats)
{
    return {QStringLiteral("Minimum = ") + QString::number(stats.minimum) + QStringLiteral(" ms"),
            QStringLiteral("Maximum = ") + QString::number(stats.maximum) + QStringLiteral(" ms"),
            QStringLiteral("Average = ") + QString::number(stats.average) + QStringLiteral(" ms")};
}

QString packetSummary(const SlotStats& stats, const QLocale& locale)
{
    return packetLines(stats, locale).join(kCr);
}

QString timingSummary(const SlotStats& stats)
{
    return timingLines(stats).join(kCr);
}

QString initialPacketSummary()
{
    return packetSummary(SlotStats{}, QLocale::c());
}

} // namespace tarnwick::engine
