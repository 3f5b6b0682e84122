#pragma once

#include "platform/net/echo_types.h"

#include <QString>

namespace tarnwick::engine {

inline const QString kTimedOutLine = QStringLiteral("Requested Timed out.");
inline const QString kUnreachableLine = QStringLiteral("Destination host unreachable.");

inline constexpr int kEchoDataSize = 32;

// "Reply from <host> bytes=32 time=<ms> ms"
QString replyLine(const QString& host, std::uint32_t roundTripMs);

// The one line an echo attempt on a resolved host produces.
QString resultLineFor(const QString& host, const net::EchoResult& result);

} // namespace tarnwick::engine
