#include "engine/result_line.h"

namespace tarnwick::engine {

QString replyLine(const QString& host, std::uint32_t roundTripMs)
{
    return kReplyWord + QStringLiteral(" from ") + host + QStringLiteral(" bytes=") +
           QString::number(kEchoDataSize) + QLatin1Char(' ') + kTimeKey +
           QString::number(roundTripMs) + kMsUnit;
}

QString resultLineFor(const QString& host, const net::EchoResult& result)
{
    if (!result.reply)
        return kTimedOutLine;
    switch (result.reply->status) {
    case net::StatusSuccess:
        return replyLine(host, result.reply->roundTripMs);
    case net::StatusDestNetUnreachable:
    case net::StatusDestHostUnreachable:
        return kUnreachableLine;
    default:
        return kTimedOutLine;
    }
}

} // namespace tarnwick::engine
