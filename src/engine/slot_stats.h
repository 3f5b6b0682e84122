#pragma once

#include <QLocale>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

namespace tarnwick::engine {

// Statistics of one host slot. Counters are 32-bit as shown to the user; the
// round-trip sum is 64-bit so that days of long round trips cannot overflow it.
struct SlotStats {
    std::int32_t sent = 0;
    std::int32_t received = 0;
    std::int32_t lost = 0;
    double loss = 0.0;         // percent, rounded to two decimals
    std::int32_t minimum = -1; // -1: no round trip seen since start
    std::int32_t maximum = 0;
    std::int64_t sum = 0;
    std::int32_t average = 0;
    friend bool operator==(const SlotStats&, const SlotStats&) = default;
};

inline constexpr int kSlotCount = 5;

// Applies one recorded result line. logLineCount is the number of lines the
// slot log holds after the line was appended (the average's divisor is that
// count minus the lost lines, so lines typed into the log take part).
void applyResult(SlotStats& stats, const QString& line, int logLineCount);

// The reset used by Clear: the minimum starts from the current time-out.
void resetStats(SlotStats& stats, int timeoutMs);

// The number between the first "time=" and the next " ms", when it is a
// whole decimal number.
std::optional<std::int32_t> parseRoundTrip(const QString& line);

// lost / sent * 100, rounded half-to-even to two decimals.
double lossPercent(std::int32_t lost, std::int32_t sent);

// Shortest general form with up to 15 significant digits and the locale's
// decimal separator: 0, 12.5, 33.33, 100.
QString formatLoss(double loss, const QLocale& locale = QLocale());

// The four packet lines and the three timing lines.
QStringList packetLines(const SlotStats& stats, const QLocale& locale = QLocale());
QStringList timingLines(const SlotStats& stats);

// Label texts: lines joined by a single carriage return.
QString packetSummary(const SlotStats& stats, const QLocale& locale = QLocale());
QString timingSummary(const SlotStats& stats);

// The packet summary every slot shows before its first result.
QString initialPacketSummary();

} // namespace tarnwick::engine
