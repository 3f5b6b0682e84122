#pragma once

#include "platform/net/echo_types.h"

#include <QString>

namespace tarnwick::engine {

inline const QString kTimedOutLine = QStringLiteral("Requested Timed out.");
inline const QString kUnreachableLine = QStringLiteral("Destination host unreachable.");

inline constexpr int kEchoDataSize = 32;

// The words of a reply line that its readers go by: a result is an answer
// when its line holds kReplyWord, and its round trip is the number between
// kTimeKey and kMsUnit. The statistics, the status icon and the outage watch
// all read them here, so a change to the line cannot leave one behind.
inline const QString kReplyWord = QStringLiteral("Reply");
inline const QString kTimeKey = QStringLiteral("time=");
inline const QString kMsUnit = QStringLiteral(" ms");

// "Reply from <host> bytes=32 time=<ms> ms"
QString replyLine(const QString& host, std::uint32_t roundTripMs);

// The one line an echo attempt on a resolved host produces.
QString resultLineFor(const QString& host, const net::EchoResult& result);

} // namespace tarnwick::engine
