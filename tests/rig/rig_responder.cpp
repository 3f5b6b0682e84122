// tarnwick-rig-responder PLAN
//
// A userspace ICMP echo responder for the test rig's responder host, where the
// kernel's own echo replies are off. It reads echo requests on a raw socket
// and writes whole IP datagrams through an IPPROTO_RAW socket, so it can shape
// every answer, forged source included.
//
// PLAN is a comma-separated list of actions; the n-th request (counting from
// 0) gets action n modulo the plan's length, so the plan repeats:
//   ok          a correct reply at once
//   drop        no answer
//   delay:MS    a correct reply MS milliseconds later (later requests are
//               still answered in time)
//   dup:N       N identical correct replies
//   badsum      a reply with a wrong ICMP checksum
//   wrongid     a reply with another identifier
//   wrongseq    a reply with the next sequence number
//   from:ADDR   a correct reply whose IP source is ADDR
//   unreach:C   destination unreachable with code C, quoting the request
//   ttlx        time exceeded in transit, quoting the request
//   redirect    a host redirect (to 198.18.10.99), quoting the request
//   quench      a source quench, quoting the request
//   trunc       a correct reply whose data is cut off (header only)
// Actions joined by "+" ("ok+wrongseq") are all done, in order, for one request;
// "ACTION@MS" does an action MS milliseconds after the request arrived.
// What one request's actions send at once leaves in one system call
// (sendmmsg), so the client finds it all queued together when it wakes,
// provided both run on the same CPU.
//
// Prints "ready" once both sockets are open, then one line per request:
//   req INDEX id=ID seq=SEQ src=A.B.C.D dst=A.B.C.D len=ICMP_LENGTH zero=0|1 action=ACTION
// (zero=1: the request's data bytes are all zero), and once a delayed action
// has been carried out:
//   done INDEX ACTION
// Leaves on SIGTERM or when its stdin closes.
//
// Its checksum code is its own on purpose: a shared fault would cancel out.

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <linux/icmp.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

enum class Kind {
    Ok,
    Drop,
    Delay,
    Dup,
    BadSum,
    WrongId,
    WrongSeq,
    From,
    Unreach,
    Ttlx,
    Redirect,
    Quench,
    Trunc
};

struct Action {
    Kind kind = Kind::Ok;
    long value = 0;
    long afterMs = 0; // "ACTION@MS": done that much later
    in_addr address{};
    std::string text;
};

struct Entry {
    std::vector<Action> actions;
    std::string text;
};

struct Outgoing {
    std::vector<std::uint8_t> packet; // a whole IPv4 datagram
    bool forged = false;              // its source is not ours
};

struct Pending {
    Clock::time_point due;
    std::vector<Outgoing> packets;
    std::string done; // logged once sent
};

std::uint16_t checksum(const std::uint8_t* p, std::size_t n)
{
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i + 1 < n; i += 2) {
        sum += static_cast<std::uint32_t>(p[i] << 8 | p[i + 1]);
    }
    if (n % 2 != 0) {
        sum += static_cast<std::uint32_t>(p[n - 1] << 8);
    }
    while (sum > 0xffff) {
        sum = (sum & 0xffff) + (sum >> 16);
    }
    return static_cast<std::uint16_t>(~sum);
}

void put16(std::uint8_t* p, std::uint16_t v)
{
    p[0] = static_cast<std::uint8_t>(v >> 8);
    p[1] = static_cast<std::uint8_t>(v);
}

std::uint16_t get16(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>(p[0] << 8 | p[1]);
}

bool parseNumber(const std::string& s, long low, long high, long& out)
{
    char* end = nullptr;
    errno = 0;
    out = std::strtol(s.c_str(), &end, 10);
    return !s.empty() && *end == '\0' && errno == 0 && out >= low && out <= high;
}

bool parseAction(const std::string& whole, Action& a)
{
    const std::size_t at = whole.find('@');
    const std::string item = whole.substr(0, at);
    if (at != std::string::npos && !parseNumber(whole.substr(at + 1), 0, 600000, a.afterMs)) {
        return false;
    }
    const std::size_t colon = item.find(':');
    const std::string name = item.substr(0, colon);
    const std::string arg = colon == std::string::npos ? "" : item.substr(colon + 1);
    a.text = whole;
    bool good = colon == std::string::npos;
    if (name == "ok") {
        a.kind = Kind::Ok;
    } else if (name == "drop") {
        a.kind = Kind::Drop;
    } else if (name == "badsum") {
        a.kind = Kind::BadSum;
    } else if (name == "wrongid") {
        a.kind = Kind::WrongId;
    } else if (name == "wrongseq") {
        a.kind = Kind::WrongSeq;
    } else if (name == "ttlx") {
        a.kind = Kind::Ttlx;
    } else if (name == "redirect") {
        a.kind = Kind::Redirect;
    } else if (name == "quench") {
        a.kind = Kind::Quench;
    } else if (name == "trunc") {
        a.kind = Kind::Trunc;
    } else if (name == "delay") {
        a.kind = Kind::Delay;
        good = parseNumber(arg, 0, 600000, a.value);
    } else if (name == "dup") {
        a.kind = Kind::Dup;
        good = parseNumber(arg, 1, 100, a.value);
    } else if (name == "unreach") {
        a.kind = Kind::Unreach;
        good = parseNumber(arg, 0, 15, a.value);
    } else if (name == "from") {
        a.kind = Kind::From;
        good = inet_pton(AF_INET, arg.c_str(), &a.address) == 1;
    } else {
        good = false;
    }
    return good;
}

std::vector<std::string> split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t at = text.find(separator, start);
        parts.push_back(
            text.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos) {
            return parts;
        }
        start = at + 1;
    }
}

bool parsePlan(const std::string& plan, std::vector<Entry>& entries)
{
    for (const std::string& item : split(plan, ',')) {
        Entry entry;
        entry.text = item;
        for (const std::string& part : split(item, '+')) {
            Action a;
            if (!parseAction(part, a)) {
                std::fprintf(stderr, "rig_responder: bad plan entry '%s'\n", item.c_str());
                return false;
            }
            entry.actions.push_back(a);
        }
        entries.push_back(entry);
    }
    return !entries.empty();
}

// A datagram of the given ICMP message; the kernel fills in the total length,
// the identification and the header checksum.
std::vector<std::uint8_t> datagram(in_addr source, in_addr destination,
                                   const std::vector<std::uint8_t>& icmp)
{
    std::vector<std::uint8_t> out = {0x45, 0, 0, 0, 0, 0, 0, 0, 64, IPPROTO_ICMP, 0, 0};
    const auto* s = reinterpret_cast<const std::uint8_t*>(&source);
    const auto* d = reinterpret_cast<const std::uint8_t*>(&destination);
    out.insert(out.end(), s, s + 4);
    out.insert(out.end(), d, d + 4);
    out.insert(out.end(), icmp.begin(), icmp.end());
    return out;
}

std::vector<std::uint8_t> echoReply(const std::uint8_t* request, std::size_t ihl, std::size_t total,
                                    in_addr source, std::uint16_t id, std::uint16_t seq,
                                    bool withData)
{
    const std::size_t length = withData ? total - ihl : 8;
    std::vector<std::uint8_t> icmp(request + ihl, request + ihl + length);
    icmp[0] = 0; // echo reply
    icmp[1] = 0;
    put16(&icmp[2], 0);
    put16(&icmp[4], id);
    put16(&icmp[6], seq);
    put16(&icmp[2], checksum(icmp.data(), icmp.size()));
    in_addr destination{};
    std::memcpy(&destination, request + 12, 4);
    return datagram(source, destination, icmp);
}

// An error quoting the request's IP header and the first 8 bytes after it.
// rest is the word after the checksum (a redirect's gateway).
std::vector<std::uint8_t> icmpError(const std::uint8_t* request, std::size_t ihl, in_addr self,
                                    std::uint8_t type, std::uint8_t code, in_addr rest = {})
{
    std::vector<std::uint8_t> icmp = {type, code, 0, 0, 0, 0, 0, 0};
    std::memcpy(&icmp[4], &rest, 4);
    icmp.insert(icmp.end(), request, request + ihl + 8);
    put16(&icmp[2], checksum(icmp.data(), icmp.size()));
    in_addr destination{};
    std::memcpy(&destination, request + 12, 4);
    return datagram(self, destination, icmp);
}

// Our own replies go out through the ICMP socket, so the kernel fragments
// large ones; forged ones need a header of our own. Runs of packets for the
// same socket leave in one sendmmsg.
void sendPackets(int icmpSocket, int rawIpSocket, const std::vector<Outgoing>& packets)
{
    for (std::size_t first = 0; first < packets.size();) {
        const bool forged = packets[first].forged;
        std::size_t end = first;
        while (end < packets.size() && packets[end].forged == forged) {
            ++end;
        }
        const std::size_t count = end - first;
        std::vector<sockaddr_in> to(count);
        std::vector<iovec> iov(count);
        std::vector<mmsghdr> msgs(count);
        for (std::size_t i = 0; i < count; ++i) {
            const Outgoing& out = packets[first + i];
            to[i].sin_family = AF_INET;
            std::memcpy(&to[i].sin_addr, out.packet.data() + 16, 4);
            const std::size_t skip = forged ? 0 : 20;
            iov[i].iov_base = const_cast<std::uint8_t*>(out.packet.data() + skip);
            iov[i].iov_len = out.packet.size() - skip;
            msgs[i] = {};
            msgs[i].msg_hdr.msg_name = &to[i];
            msgs[i].msg_hdr.msg_namelen = sizeof to[i];
            msgs[i].msg_hdr.msg_iov = &iov[i];
            msgs[i].msg_hdr.msg_iovlen = 1;
        }
        const int fd = forged ? rawIpSocket : icmpSocket;
        for (std::size_t done = 0; done < count;) {
            const int sent =
                sendmmsg(fd, msgs.data() + done, static_cast<unsigned>(count - done), 0);
            if (sent <= 0) {
                std::fprintf(stderr, "rig_responder: sendmmsg: %s\n", std::strerror(errno));
                // Skip the one that failed and carry on with the rest.
                ++done;
                continue;
            }
            done += static_cast<std::size_t>(sent);
        }
        first = end;
    }
}

std::string dotted(const std::uint8_t* p)
{
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, p, text, sizeof text);
    return text;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<Entry> plan;
    if (argc != 2 || !parsePlan(argv[1], plan)) {
        std::fprintf(stderr, "usage: rig_responder PLAN\n");
        return 2;
    }
    const int rx = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    const int tx = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_RAW);
    if (rx < 0 || tx < 0) {
        std::fprintf(stderr, "rig_responder: socket: %s\n", std::strerror(errno));
        return 1;
    }
    icmp_filter onlyRequests{~(1u << 8)};
    setsockopt(rx, SOL_RAW, ICMP_FILTER, &onlyRequests, sizeof onlyRequests);
    std::printf("ready\n");
    std::fflush(stdout);

    std::vector<Pending> pending;
    std::vector<std::uint8_t> buffer(65536);
    unsigned long index = 0;
    for (;;) {
        timespec wait{};
        timespec* waitp = nullptr;
        if (!pending.empty()) {
            auto next = pending.front().due;
            for (const auto& p : pending) {
                next = std::min(next, p.due);
            }
            const auto ns =
                std::chrono::duration_cast<std::chrono::nanoseconds>(next - Clock::now()).count();
            wait.tv_sec = ns > 0 ? ns / 1000000000 : 0;
            wait.tv_nsec = ns > 0 ? ns % 1000000000 : 0;
            waitp = &wait;
        }
        pollfd fds[2] = {{rx, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
        if (ppoll(fds, 2, waitp, nullptr) < 0 && errno != EINTR) {
            return 1;
        }
        if (fds[1].revents != 0) {
            char c;
            const ssize_t n = read(STDIN_FILENO, &c, 1);
            if (n <= 0) {
                return 0;
            }
        }
        const auto now = Clock::now();
        for (std::size_t i = 0; i < pending.size();) {
            if (pending[i].due <= now) {
                sendPackets(rx, tx, pending[i].packets);
                std::printf("%s\n", pending[i].done.c_str());
                std::fflush(stdout);
                pending.erase(pending.begin() + static_cast<long>(i));
            } else {
                ++i;
            }
        }
        if ((fds[0].revents & POLLIN) == 0) {
            continue;
        }
        const ssize_t n = recv(rx, buffer.data(), buffer.size(), MSG_DONTWAIT);
        if (n < 28) {
            continue;
        }
        const std::uint8_t* ip = buffer.data();
        const std::size_t ihl = static_cast<std::size_t>(ip[0] & 0x0f) * 4;
        const std::size_t total = std::min<std::size_t>(get16(ip + 2), static_cast<std::size_t>(n));
        if (ihl < 20 || total < ihl + 8 || ip[ihl] != 8 || ip[ihl + 1] != 0) {
            continue;
        }
        const Clock::time_point arrived = Clock::now();
        const Entry& entry = plan[index % plan.size()];
        const std::uint16_t id = get16(ip + ihl + 4);
        const std::uint16_t seq = get16(ip + ihl + 6);
        in_addr self{};
        std::memcpy(&self, ip + 16, 4);
        bool zero = true;
        for (std::size_t i = ihl + 8; i < total; ++i) {
            zero = zero && ip[i] == 0;
        }
        std::printf("req %lu id=%u seq=%u src=%s dst=%s len=%zu zero=%d action=%s\n", index, id,
                    seq, dotted(ip + 12).c_str(), dotted(ip + 16).c_str(), total - ihl,
                    zero ? 1 : 0, entry.text.c_str());
        std::fflush(stdout);
        ++index;

        std::vector<Outgoing> atOnce;
        for (const Action& a : entry.actions) {
            std::vector<Outgoing> out;
            auto reply = [&](in_addr from, std::uint16_t replyId, std::uint16_t replySeq,
                             bool withData) {
                out.push_back({echoReply(ip, ihl, total, from, replyId, replySeq, withData),
                               from.s_addr != self.s_addr});
            };
            long after = a.afterMs;
            switch (a.kind) {
            case Kind::Ok:
                reply(self, id, seq, true);
                break;
            case Kind::Drop:
                break;
            case Kind::Delay:
                reply(self, id, seq, true);
                after += a.value;
                break;
            case Kind::Dup:
                for (long i = 0; i < a.value; ++i) {
                    reply(self, id, seq, true);
                }
                break;
            case Kind::BadSum:
                reply(self, id, seq, true);
                out.back().packet[22] ^= 0x5a;
                break;
            case Kind::WrongId:
                reply(self, static_cast<std::uint16_t>(id ^ 0x8000), seq, true);
                break;
            case Kind::WrongSeq:
                reply(self, id, static_cast<std::uint16_t>(seq + 1), true);
                break;
            case Kind::From:
                reply(a.address, id, seq, true);
                break;
            case Kind::Unreach:
                out.push_back(
                    {icmpError(ip, ihl, self, 3, static_cast<std::uint8_t>(a.value)), false});
                break;
            case Kind::Ttlx:
                out.push_back({icmpError(ip, ihl, self, 11, 0), false});
                break;
            case Kind::Redirect: {
                in_addr gateway{};
                inet_pton(AF_INET, "198.18.10.99", &gateway);
                out.push_back({icmpError(ip, ihl, self, 5, 1, gateway), false});
                break;
            }
            case Kind::Quench:
                out.push_back({icmpError(ip, ihl, self, 4, 0), false});
                break;
            case Kind::Trunc:
                reply(self, id, seq, false);
                break;
            }
            if (after > 0) {
                pending.push_back({arrived + std::chrono::milliseconds(after), std::move(out),
                                   "done " + std::to_string(index - 1) + " " + a.text});
            } else {
                atOnce.insert(atOnce.end(), out.begin(), out.end());
            }
        }
        sendPackets(rx, tx, atOnce);
    }
}
