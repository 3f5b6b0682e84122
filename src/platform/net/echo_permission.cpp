#include "platform/net/echo_permission.h"

#include <cerrno>
#include <fstream>
#include <optional>
#include <sstream>
#include <vector>

#include <grp.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace tarnwick::net {

namespace {

// The layout of a security.capability value (linux/capability.h): a
// little-endian magic word, then permitted and inheritable words.
constexpr std::uint32_t kCapRevisionMask = 0xff000000u;
constexpr std::uint32_t kCapEffectiveFlag = 0x000001u;
constexpr std::uint32_t kCapNetRawBit = 1u << 13;

std::uint32_t readLe32(std::span<const std::uint8_t> b, std::size_t at)
{
    return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8 |
           static_cast<std::uint32_t>(b[at + 2]) << 16 |
           static_cast<std::uint32_t>(b[at + 3]) << 24;
}

constexpr const char* kSudoGroups[] = {"sudo", "wheel", "admin"};

bool sudoUsable(const EchoPermissionFacts& f)
{
    return f.sudoPresent && f.sudoAllowed;
}

// How a command for root is put to this user: through sudo where they may
// use it, otherwise as something to run as root, saying why.
std::string asRoot(const EchoPermissionFacts& f)
{
    if (sudoUsable(f))
        return std::string();
    return f.sudoPresent ? " as root (your account may not use sudo)"
                         : " as root (sudo is not installed)";
}

std::string rootCommand(const EchoPermissionFacts& f, const std::string& command)
{
    return "    " + std::string(sudoUsable(f) ? "sudo " : "") + command;
}

std::string sysctlAdvice(const EchoPermissionFacts& f)
{
    return rootCommand(f, f.sysctlPath + " -w net.ipv4.ping_group_range=\"0 2147483647\"") +
           "\n(put that setting in /etc/sysctl.d/ to keep it after a restart).";
}

std::string firstProgram(std::initializer_list<const char*> paths)
{
    for (const char* path : paths) {
        if (::access(path, X_OK) == 0)
            return path;
    }
    return std::string();
}

std::optional<gid_t> groupId(const char* name)
{
    group entry{};
    group* found = nullptr;
    std::vector<char> buffer(1024);
    while (::getgrnam_r(name, &entry, buffer.data(), buffer.size(), &found) == ERANGE &&
           buffer.size() < (1u << 20))
        buffer.resize(buffer.size() * 2);
    if (!found)
        return std::nullopt;
    return found->gr_gid;
}

std::string folderOf(const std::string& path)
{
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

} // namespace

EchoPermissionCase diagnoseEchoPermission(const EchoPermissionFacts& facts)
{
    if (!facts.helperPresent) {
        return EchoPermissionCase::HelperMissing;
    }
    if (facts.helperNosuid) {
        return EchoPermissionCase::CapabilityIgnored;
    }
    if (facts.helperCapable) {
        return EchoPermissionCase::CapabilityIneffective;
    }
    return EchoPermissionCase::NotGranted;
}

std::string echoPermissionNotice(const EchoPermissionFacts& facts, const std::string& helperPath)
{
    const std::string shown = "\"" + helperPath + "\"";
    // Where the group range already covers us, opening it wider would change nothing.
    const bool sysctl = !facts.groupRangeAllows;
    const std::string root = asRoot(facts);
    std::string text = "Tarnwick cannot send echo requests (ping) on this system.\n\n";
    switch (diagnoseEchoPermission(facts)) {
    case EchoPermissionCase::HelperMissing:
        text += "Its echo helper is missing: there is no file " + shown +
                ". Build Tarnwick again (make run) or install it again (make install); "
                "either puts tarnwick-icmp-helper beside the program and gives it its "
                "right to send echo requests.";
        if (sysctl) {
            text += "\nOr, without any helper, allow unprivileged ping for all users; run" + root +
                    ":\n" + sysctlAdvice(facts);
        }
        break;
    case EchoPermissionCase::CapabilityIgnored:
        text += "Its echo helper " + shown +
                " lies on a file system mounted nosuid, where the kernel ignores file "
                "capabilities: " +
                (facts.helperCapable ? std::string("it carries cap_net_raw, but to no effect.")
                                     : std::string("setcap would change nothing there.")) +
                "\nInstall Tarnwick on a file system that is not mounted nosuid, for instance "
                "into your home folder (make install PREFIX=~/.local) unless that is mounted "
                "nosuid too.";
        if (sysctl) {
            text += "\nOr allow unprivileged ping for all users, which needs no file "
                    "capability; run" +
                    root + ":\n" + sysctlAdvice(facts);
        }
        break;
    case EchoPermissionCase::CapabilityIneffective:
        text += "Its echo helper " + shown +
                " carries cap_net_raw, but the right does not take effect here (a sandbox "
                "or container may withhold it).";
        if (sysctl) {
            text += "\nAllow unprivileged ping for all users instead; run" + root + ":\n" +
                    sysctlAdvice(facts);
        }
        break;
    case EchoPermissionCase::NotGranted:
        text += "To allow it, run once" + root + ":\n" +
                rootCommand(facts, facts.setcapPath + " cap_net_raw+ep " + shellQuoted(helperPath));
        if (sysctl)
            text += "\nor allow unprivileged ping for all users:\n" + sysctlAdvice(facts);
        text += "\nA helper that is rebuilt or copied loses that right; make run and make "
                "install give it again.";
        break;
    }
    text += "\n\nUntil then, hosts whose names are found show \"Requested Timed out.\" and "
            "names that cannot be resolved show \"Destination host unreachable.\"; pinging "
            "starts by itself once echo requests are allowed.";
    return text;
}

bool fileCapabilitiesGrantNetRaw(std::span<const std::uint8_t> value)
{
    if (value.size() < 12) {
        return false;
    }
    const std::uint32_t magic = readLe32(value, 0);
    std::size_t expected = 0;
    switch ((magic & kCapRevisionMask) >> 24) {
    case 1:
        expected = 12;
        break;
    case 2:
        expected = 20;
        break;
    case 3: // with the root of the user namespace that set it
        expected = 24;
        break;
    default:
        return false;
    }
    if (value.size() != expected)
        return false;
    // getxattr gives the plain revision where that root is ours; a root of
    // another namespace makes the kernel ignore the file's capabilities.
    if (expected == 24 && readLe32(value, 20) != 0)
        return false;
    // The helper opens its socket at once, so the right must be effective
    // from the start (+ep), not merely permitted.
    return (magic & kCapEffectiveFlag) != 0 && (readLe32(value, 4) & kCapNetRawBit) != 0;
}

std::string shellQuoted(const std::string& word)
{
    const bool plain =
        !word.empty() && word.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                                "abcdefghijklmnopqrstuvwxyz"
                                                "0123456789/._-+,:@") == std::string::npos;
    if (plain)
        return word;
    std::string quoted = "'";
    for (const char c : word)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

bool pingGroupRangeAllows(const std::string& rangeText, std::span<const std::uint32_t> groups)
{
    std::istringstream in(rangeText);
    long long low = 0;
    long long high = 0;
    if (!(in >> low >> high)) {
        return false;
    }
    for (const std::uint32_t g : groups) {
        if (low <= g && g <= high) {
            return true;
        }
    }
    return false;
}

EchoPermissionFacts gatherEchoPermissionFacts(const std::string& helperPath)
{
    EchoPermissionFacts facts;
    struct stat st {};
    facts.helperPresent = ::stat(helperPath.c_str(), &st) == 0 && S_ISREG(st.st_mode);

    if (facts.helperPresent) {
        std::uint8_t value[64];
        const ssize_t n =
            ::getxattr(helperPath.c_str(), "security.capability", value, sizeof value);
        facts.helperCapable =
            n > 0 && fileCapabilitiesGrantNetRaw({value, static_cast<std::size_t>(n)});
    }
    struct statvfs fs {};
    const std::string where = facts.helperPresent ? helperPath : folderOf(helperPath);
    facts.helperNosuid = ::statvfs(where.c_str(), &fs) == 0 && (fs.f_flag & ST_NOSUID) != 0;

    std::ifstream range("/proc/sys/net/ipv4/ping_group_range");
    std::string text;
    std::getline(range, text);
    std::vector<std::uint32_t> groups{static_cast<std::uint32_t>(::getegid())};
    const int count = ::getgroups(0, nullptr);
    if (count > 0) {
        std::vector<gid_t> more(static_cast<std::size_t>(count));
        const int got = ::getgroups(count, more.data());
        for (int i = 0; i < got; ++i) {
            groups.push_back(static_cast<std::uint32_t>(more[static_cast<std::size_t>(i)]));
        }
    }
    facts.groupRangeAllows = pingGroupRangeAllows(text, groups);

    facts.sudoPresent =
        !firstProgram({"/usr/bin/sudo", "/bin/sudo", "/usr/local/bin/sudo"}).empty();
    for (const char* name : kSudoGroups) {
        const std::optional<gid_t> gid = groupId(name);
        for (const std::uint32_t g : groups)
            facts.sudoAllowed = facts.sudoAllowed || (gid && g == *gid);
    }
    const std::string setcap = firstProgram({"/usr/sbin/setcap", "/sbin/setcap"});
    if (!setcap.empty())
        facts.setcapPath = setcap;
    const std::string sysctlProgram = firstProgram({"/usr/sbin/sysctl", "/sbin/sysctl"});
    if (!sysctlProgram.empty())
        facts.sysctlPath = sysctlProgram;
    return facts;
}

} // namespace tarnwick::net
