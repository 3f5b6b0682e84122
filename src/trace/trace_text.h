#pragma once

#include <QString>

#include <cstdint>
#include <optional>

// The pieces of text a trace writes, one function per piece. Every piece that
// ends a line carries its own CR LF; the others carry none.
namespace tarnwick::trace {

// The all-ones address SendProbe returns when no reply came.
inline constexpr std::uint32_t kNoReply = 0xFFFFFFFFu;

// "Tracing route to <host> [<a.b.c.d>]" CR LF
QString tracingRouteLine(const QString& host, std::uint32_t destination);
// "over of maximum <n> hops:" CR LF
QString maximumHopsLine(std::uint8_t maxHops);
// One probe's column: "%6d ms" or the asterisk column, led by "%3d: " with the
// hop number for the hop's first probe.
QString probeColumn(std::uint8_t hop, int probeIndex, std::optional<int> elapsedMs);
// The end of a hop line that got a reply. name is the reverse lookup's answer
// (empty when it failed) and only counts when withNames is set.
QString repliedHopEnd(const QString& addressText, bool withNames, const QString& name);
// The end of a hop line whose three probes all went unanswered.
QString silentHopEnd();
QString traceCompleteLine();

// A whole number typed in a box: optional blanks, an optional sign, digits.
// Values too large for the type saturate. Anything else is no number.
std::optional<long long> parseWholeNumber(const QString& text);
// "Max hops" as the trace uses it: held to 0..255; no number counts as 0.
std::uint8_t maxHopsFromText(const QString& text);

} // namespace tarnwick::trace
