#pragma once

// The hosts of the private test network that tests/rig/rig.sh builds (all in
// 198.18.0.0/15, the block set aside for network tests). Tests run in the
// client namespace; the other hosts are named network namespaces that exist
// only inside the rig ("ip netns exec NAME ..." reaches them).
//
// clang-format off
//   client 198.18.1.2 - 198.18.1.1 r1 198.18.2.1 - 198.18.2.2 r2 198.18.3.1 - 198.18.3.2 target
//                                                               r2 198.18.5.1 - 198.18.5.2 target5
//   client 198.18.10.1 - 198.18.10.2 responder (kernel echo off; our userspace responder)
//   client 198.18.20.1 - 198.18.20.2 dns (UDP/TCP 53 dropped: a silent name server)
// clang-format on
//
// The client's default route leads to r1; r1 knows only the rig's networks,
// so nothing can leave the rig.
namespace tarnwick::rig {

// Namespace names (under the rig's private /run/netns).
inline constexpr const char* kNsRouter1 = "r1";
inline constexpr const char* kNsRouter2 = "r2";
inline constexpr const char* kNsTarget = "tgt";
inline constexpr const char* kNsTarget5 = "tgt5";
inline constexpr const char* kNsResponder = "rs";
inline constexpr const char* kNsDns = "dns";

// The client's own addresses and interfaces.
inline constexpr const char* kClientToRouter = "198.18.1.2";     // c-r1
inline constexpr const char* kClientToResponder = "198.18.10.1"; // c-rs
inline constexpr const char* kClientToDns = "198.18.20.1";       // c-dns

// Two routers in a row (forwarding, ICMP rate limit off).
inline constexpr const char* kRouter1 = "198.18.1.1";    // first hop
inline constexpr const char* kRouter1Far = "198.18.2.1"; // r1 towards r2
inline constexpr const char* kRouter2 = "198.18.2.2";    // second hop
inline constexpr const char* kRouter2Far = "198.18.3.1"; // r2 towards the target

// Answered by the kernel, two routers away.
inline constexpr const char* kTarget = "198.18.3.2";
// r2 rejects these with host unreachable (3/1), net unreachable (3/0), or
// drops them silently.
inline constexpr const char* kRejectHost = "198.18.3.50";
inline constexpr const char* kRejectNet = "198.18.3.51";
inline constexpr const char* kSilent = "198.18.3.53";
// Behind r2 as well, but r1 drops the probes that expire on it, so hop 1
// never answers on the way to it.
inline constexpr const char* kTarget5 = "198.18.5.2";
// On the client's first link but owned by no one: ARP fails there, with the
// client's neighbour timers shortened (one probe, 200 ms).
inline constexpr const char* kNoNeighbour = "198.18.1.99";

// Runs tests/rig/rig_responder with a plan (see RigResponder).
inline constexpr const char* kResponder = "198.18.10.2";
// An address on the responder's link that nobody holds, for forged sources.
inline constexpr const char* kResponderForged = "198.18.10.99";

inline constexpr const char* kDnsServer = "198.18.20.2";

// Names in the rig's default /etc/hosts ("rig.sh --hosts FILE" replaces it).
inline constexpr const char* kTargetName = "target.tarnwick.test";       // 198.18.3.2
inline constexpr const char* kRouter1Name = "r1.tarnwick.test";          // 198.18.1.1
inline constexpr const char* kRouter2Name = "r2.tarnwick.test";          // 198.18.2.2
inline constexpr const char* kResponderName = "responder.tarnwick.test"; // 198.18.10.2
// Listed twice: 198.18.3.2 first, then 198.18.10.2 (which a re-sorting
// resolver would put first, as it shares a longer prefix with our address).
inline constexpr const char* kTwoAddressName = "multi.tarnwick.test";

} // namespace tarnwick::rig
