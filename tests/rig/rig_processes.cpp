#include "rig/rig_processes.h"

#include "rig/rig_support.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include <dirent.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnwick::rig {

namespace {

// The fields of /proc/PID/stat after the command name, which may hold blanks.
bool readStat(const std::string& dir, std::string& comm, pid_t& parent)
{
    std::ifstream in(dir + "/stat");
    std::string line;
    if (!std::getline(in, line)) {
        return false;
    }
    const auto open = line.find('(');
    const auto close = line.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open) {
        return false;
    }
    comm = line.substr(open + 1, close - open - 1);
    std::istringstream rest(line.substr(close + 1));
    std::string state;
    rest >> state >> parent;
    return static_cast<bool>(rest) && state != "Z";
}

} // namespace

AsUser::AsUser(uid_t uid, gid_t gid)
{
    const int n = ::getgroups(0, nullptr);
    m_groups.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    if (n > 0 && ::getgroups(n, m_groups.data()) != n) {
        return;
    }
    // glibc applies each of these to every thread of the process.
    m_ok = ::setgroups(0, nullptr) == 0 && ::setresgid(gid, gid, 0) == 0 &&
           ::setresuid(uid, uid, 0) == 0;
}

AsUser::~AsUser()
{
    if (::setresuid(0, 0, 0) != 0 || ::setresgid(0, 0, 0) != 0 ||
        ::setgroups(m_groups.size(), m_groups.data()) != 0) {
        std::perror("rig: cannot become root again");
    }
}

AsRoot::AsRoot() : m_uid(::getuid()), m_gid(::getgid())
{
    if (::setresuid(0, 0, 0) != 0 || ::setresgid(0, 0, 0) != 0) {
        std::perror("rig: cannot become root again");
    }
}

AsRoot::~AsRoot()
{
    if (m_uid != 0 && (::setresgid(m_gid, m_gid, 0) != 0 || ::setresuid(m_uid, m_uid, 0) != 0)) {
        std::perror("rig: cannot become the user again");
    }
}

std::string grantedCopy(const std::string& program, const std::string& name)
{
    const std::string dir = scratchDir() + "/granted";
    if ((::mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) || ::chmod(dir.c_str(), 0755) != 0) {
        return {};
    }
    std::string copy = dir + "/" + name;
    {
        std::ifstream in(program, std::ios::binary);
        std::ofstream out(copy, std::ios::binary | std::ios::trunc);
        out << in.rdbuf();
        if (!in || out.fail()) {
            return {};
        }
    }
    if (::chmod(copy.c_str(), 0755) != 0 ||
        runCommand({"setcap", "cap_net_raw+ep", copy}).exitCode != 0) {
        return {};
    }
    return copy;
}

std::vector<pid_t> childProcesses(const std::string& program)
{
    const std::string name = program.substr(program.rfind('/') + 1).substr(0, 15);
    std::vector<pid_t> found;
    DIR* proc = ::opendir("/proc");
    if (!proc) {
        return found;
    }
    const pid_t self = ::getpid();
    while (const dirent* e = ::readdir(proc)) {
        char* end = nullptr;
        const long pid = std::strtol(e->d_name, &end, 10);
        if (pid <= 0 || *end != '\0') {
            continue;
        }
        std::string comm;
        pid_t parent = 0;
        if (readStat(std::string("/proc/") + e->d_name, comm, parent) && parent == self &&
            comm == name) {
            found.push_back(static_cast<pid_t>(pid));
        }
    }
    ::closedir(proc);
    return found;
}

long long voluntarySwitches(pid_t pid)
{
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    DIR* dir = ::opendir(tasks.c_str());
    if (!dir) {
        return -1;
    }
    long long total = 0;
    while (const dirent* e = ::readdir(dir)) {
        if (e->d_name[0] == '.') {
            continue;
        }
        std::ifstream status(tasks + "/" + e->d_name + "/status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0) {
                total += std::stoll(line.substr(line.find(':') + 1));
            }
        }
    }
    ::closedir(dir);
    return total;
}

} // namespace tarnwick::rig
