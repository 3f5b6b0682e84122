#pragma once

#include <cstdint>
#include <span>
#include <string>

// Why echo requests are refused, and what to tell the user. The diagnosis is
// a plain function of a few facts about the machine, so that every case can
// be tried without changing the machine; gathering the facts is apart.
namespace tarnwick::net {

struct EchoPermissionFacts {
    bool helperPresent = false;    // a file at the helper's path
    bool helperCapable = false;    // its file capabilities include cap_net_raw
    bool helperNosuid = false;     // its file system is mounted nosuid
    bool groupRangeAllows = false; // net.ipv4.ping_group_range covers one of our groups
    bool sudoPresent = false;      // a sudo program is installed
    bool sudoAllowed = false;      // we are in a group the usual sudo policy admits
    // Found by their folders, not through PATH: an ordinary user's PATH has
    // no sbin, and neither may root's under su.
    std::string setcapPath = "/usr/sbin/setcap";
    std::string sysctlPath = "/usr/sbin/sysctl";
};

enum class EchoPermissionCase {
    HelperMissing,         // nothing to grant the right to: it must be rebuilt or reinstalled
    CapabilityIgnored,     // nosuid: the kernel ignores file capabilities there
    CapabilityIneffective, // the helper carries the right, yet it does not take effect
    NotGranted,            // the usual case: nobody has allowed echo requests yet
};

EchoPermissionCase diagnoseEchoPermission(const EchoPermissionFacts& facts);

// The notice for the user: what is wrong, what to do, and what the log
// shows meanwhile.
std::string echoPermissionNotice(const EchoPermissionFacts& facts, const std::string& helperPath);

// The facts of this machine, for the helper at helperPath.
EchoPermissionFacts gatherEchoPermissionFacts(const std::string& helperPath);

// Whether a security.capability attribute's value, as getxattr gives it,
// makes the kernel raise cap_net_raw at exec: in the permitted set with the
// effective flag, and for the namespaced revision only when its root is ours
// (the kernel ignores the file's capabilities otherwise).
bool fileCapabilitiesGrantNetRaw(std::span<const std::uint8_t> value);

// Text for a shell: as it is where that is safe, otherwise in single quotes.
std::string shellQuoted(const std::string& word);

// Whether the text of /proc/sys/net/ipv4/ping_group_range ("LOW HIGH")
// covers one of groups.
bool pingGroupRangeAllows(const std::string& rangeText, std::span<const std::uint32_t> groups);

} // namespace tarnwick::net
