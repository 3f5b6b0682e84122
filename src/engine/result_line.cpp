#include "engine/result_line.h"

namespace tarnwick::engine {

QString replyLine(const QString& host, std::uint32_t roundTripMs)
{
    return QStringLiteral("Reply from ") + host + QStringLiteral(" bytes=") +
           QString::number(kEchoDataSize) + QStringLiteral(" time=") +
           QString::number(roundTripMs) + QStringLiteral(" ms");
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
