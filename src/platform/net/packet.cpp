#include "platform/net/packet.h"

#include <cstring>
#include <ctime> // linux/errqueue.h needs struct timespec

#include <linux/errqueue.h>

namespace tarnwick::net {

namespace {

std::uint16_t read16(std::span<const std::uint8_t> b, std::size_t at)
{
    return static_cast<std::uint16_t>((b[at] << 8) | b[at + 1]);
}

// Addresses stay in network byte order: the four bytes as they are on the wire.
std::uint32_t readAddress(std::span<const std::uint8_t> b, std::size_t at)
{
    std::uint32_t a = 0;
    std::memcpy(&a, b.data() + at, sizeof a);
    return a;
}

Match ignored(MatchKind kind)
{
    Match m;
    m.kind = kind;
    return m;
}

bool isOurRequestHeader(std::span<const std::uint8_t> icmp, const EchoExpectation& expected)
{
    return icmp[0] == IcmpEchoRequest && icmp[1] == 0 && read16(icmp, 4) == expected.id &&
           read16(icmp, 6) == expected.seq;
}

} // namespace

std::uint32_t statusForIcmp(int type, int code)
{
    switch (type) {
    case IcmpEchoReply:
        return StatusSuccess;
    case IcmpDestUnreachable:
        switch (code) {
        case 0:  // net unreachable
        case 6:  // net unknown
        case 9:  // net administratively prohibited
        case 11: // net unreachable for TOS
            return StatusDestNetUnreachable;
        case 1:  // host unreachable
        case 7:  // host unknown
        case 8:  // source host isolated
        case 10: // host administratively prohibited
        case 12: // host unreachable for TOS
        case 13: // communication administratively prohibited
        case 14: // host precedence violation
        case 15: // precedence cut-off
            return StatusDestHostUnreachable;
        case 2:
            return StatusDestProtocolUnreachable;
        case 3:
            return StatusDestPortUnreachable;
        case 4:
            return StatusPacketTooBig;
        case 5:
            return StatusBadRoute;
        default:
            return StatusGeneralFailure;
        }
    case IcmpTimeExceeded:
        return code == 0 ? StatusTtlExpiredTransit
                         : (code == 1 ? StatusTtlExpiredReassembly : StatusGeneralFailure);
    case IcmpParameterProblem:
        return StatusParameterProblem;
    case IcmpSourceQuench:
        return StatusSourceQuench;
    default:
        return StatusGeneralFailure;
    }
}

bool icmpTypeFailsRequest(int type)
{
    return type == IcmpDestUnreachable || type == IcmpTimeExceeded || type == IcmpParameterProblem;
}

std::uint16_t internetChecksum(std::span<const std::uint8_t> bytes)
{
    std::uint32_t sum = 0;
    std::size_t i = 0;
    for (; i + 1 < bytes.size(); i += 2) {
        sum += static_cast<std::uint32_t>((bytes[i] << 8) | bytes[i + 1]);
    }
    if (i < bytes.size()) {
        sum += static_cast<std::uint32_t>(bytes[i] << 8);
    }
    while (sum >> 16) {
        sum = (sum & 0xffff) + (sum >> 16);
    }
    return static_cast<std::uint16_t>(~sum & 0xffff);
}

std::vector<std::uint8_t> buildEchoRequest(std::uint16_t id, std::uint16_t seq,
                                           std::uint16_t dataSize)
{
    std::vector<std::uint8_t> p(kIcmpHeaderSize + dataSize, 0);
    p[0] = IcmpEchoRequest;
    p[4] = static_cast<std::uint8_t>(id >> 8);
    p[5] = static_cast<std::uint8_t>(id & 0xff);
    p[6] = static_cast<std::uint8_t>(seq >> 8);
    p[7] = static_cast<std::uint8_t>(seq & 0xff);
    const std::uint16_t sum = internetChecksum(p);
    p[2] = static_cast<std::uint8_t>(sum >> 8);
    p[3] = static_cast<std::uint8_t>(sum & 0xff);
    return p;
}

Match matchRawPacket(std::span<const std::uint8_t> packet, const EchoExpectation& expected)
{
    if (packet.size() < kIpv4MinHeaderSize || (packet[0] >> 4) != 4) {
        return ignored(MatchKind::Truncated);
    }
    const std::size_t ihl = static_cast<std::size_t>(packet[0] & 0x0f) * 4;
    const std::size_t total = read16(packet, 2);
    if (ihl < kIpv4MinHeaderSize || total > packet.size() || total < ihl + kIcmpHeaderSize) {
        return ignored(MatchKind::Truncated);
    }
    if (packet[9] != 1) { // not ICMP
        return ignored(MatchKind::Unrelated);
    }
    const std::uint32_t source = readAddress(packet, 12);
    const auto icmp = packet.subspan(ihl, total - ihl);
    if (internetChecksum(icmp) != 0) {
        return ignored(MatchKind::BadChecksum);
    }

    const std::uint8_t type = icmp[0];
    if (type == IcmpEchoReply) {
        if (read16(icmp, 4) != expected.id || read16(icmp, 6) != expected.seq) {
            return ignored(MatchKind::Unrelated);
        }
        if (source != expected.destination) {
            return ignored(MatchKind::WrongSource);
        }
        Match m;
        m.kind = MatchKind::Reply;
        m.status = StatusSuccess;
        m.address = source;
        return m;
    }
    if (!icmpTypeFailsRequest(type) && type != IcmpRedirect && type != IcmpSourceQuench) {
        return ignored(MatchKind::Unrelated);
    }

    // An error quotes the offending datagram: its IP header (options included)
    // and at least the first 8 bytes of what followed, our echo header.
    const auto quote = icmp.subspan(kIcmpHeaderSize);
    if (quote.size() < kIpv4MinHeaderSize || (quote[0] >> 4) != 4) {
        return ignored(MatchKind::Truncated);
    }
    const std::size_t quotedIhl = static_cast<std::size_t>(quote[0] & 0x0f) * 4;
    if (quotedIhl < kIpv4MinHeaderSize || quote.size() < quotedIhl + kIcmpHeaderSize) {
        return ignored(MatchKind::Truncated);
    }
    if (quote[9] != 1 || readAddress(quote, 16) != expected.destination ||
        !isOurRequestHeader(quote.subspan(quotedIhl), expected)) {
        return ignored(MatchKind::Unrelated);
    }
    if (!icmpTypeFailsRequest(type)) {
        return ignored(MatchKind::Advisory);
    }
    Match m;
    m.kind = MatchKind::IcmpError;
    m.status = statusForIcmp(type, icmp[1]);
    m.address = source;
    return m;
}

Match matchDatagramReply(std::span<const std::uint8_t> icmp, std::uint32_t from,
                         const EchoExpectation& expected)
{
    if (icmp.size() < kIcmpHeaderSize) {
        return ignored(MatchKind::Truncated);
    }
    if (icmp[0] != IcmpEchoReply || read16(icmp, 4) != expected.id ||
        read16(icmp, 6) != expected.seq) {
        return ignored(MatchKind::Unrelated);
    }
    // The kernel hands replies to this socket by identifier alone, whoever
    // sent them.
    if (from != expected.destination) {
        return ignored(MatchKind::WrongSource);
    }
    Match m;
    m.kind = MatchKind::Reply;
    m.status = StatusSuccess;
    m.address = from;
    return m;
}

Match matchDatagramError(const ErrorQueueEntry& entry, std::span<const std::uint8_t> quoted,
                         const EchoExpectation& expected)
{
    if (entry.origin == SO_EE_ORIGIN_LOCAL) {
        // The stack reports these while our send is still in progress and
        // quotes nothing; queues are drained before each send, so one that
        // names our destination belongs to the attempt in flight.
        if (entry.sentTo != expected.destination) {
            return ignored(MatchKind::Unrelated);
        }
        Match m;
        m.kind = MatchKind::LocalError;
        m.error = entry.error;
        return m;
    }
    if (entry.origin != SO_EE_ORIGIN_ICMP) {
        return ignored(MatchKind::Unrelated);
    }
    if (quoted.size() < kIcmpHeaderSize) {
        return ignored(MatchKind::Truncated);
    }
    if (!isOurRequestHeader(quoted, expected) || entry.sentTo != expected.destination) {
        return ignored(MatchKind::Unrelated);
    }
    // The kernel queues redirects and source quenches here too.
    if (!icmpTypeFailsRequest(entry.type)) {
        return ignored(MatchKind::Advisory);
    }
    Match m;
    m.kind = MatchKind::IcmpError;
    m.status = statusForIcmp(entry.type, entry.code);
    m.address = entry.offender;
    return m;
}

} // namespace tarnwick::net
