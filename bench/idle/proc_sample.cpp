#include "proc_sample.h"

#include "rig/rig_processes.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include <dirent.h>
#include <unistd.h>

using namespace tarnwick::rig;

namespace {

std::vector<std::string> statFields(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(in, line);
    const auto close = line.rfind(')');
    std::vector<std::string> fields;
    if (close == std::string::npos) {
        return fields;
    }
    std::istringstream rest(line.substr(close + 2));
    for (std::string f; rest >> f;) {
        fields.push_back(f);
    }
    return fields; // fields[0] is the state (field 3 of stat)
}

long long statusKb(pid_t pid, const char* key)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(key, 0) == 0) {
            return std::atoll(line.c_str() + std::strlen(key));
        }
    }
    return 0;
}

std::vector<pid_t> childrenOf(pid_t parent)
{
    std::vector<pid_t> found;
    DIR* proc = ::opendir("/proc");
    while (const dirent* e = proc ? ::readdir(proc) : nullptr) {
        const pid_t pid = static_cast<pid_t>(std::atol(e->d_name));
        const auto f = pid > 0 ? statFields(pid) : std::vector<std::string>{};
        if (f.size() > 1 && std::atol(f[1].c_str()) == parent) {
            found.push_back(pid);
        }
    }
    if (proc) {
        ::closedir(proc);
    }
    return found;
}

// Time on a CPU of every thread of a live process, from schedstat (ns).
double liveCpuSeconds(pid_t pid)
{
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    double total = 0;
    DIR* dir = ::opendir(tasks.c_str());
    while (const dirent* e = dir ? ::readdir(dir) : nullptr) {
        if (e->d_name[0] == '.') {
            continue;
        }
        std::ifstream in(tasks + "/" + e->d_name + "/schedstat");
        double ns = 0;
        if (in >> ns) {
            total += ns / 1e9;
        }
    }
    if (dir) {
        ::closedir(dir);
    }
    return total;
}

std::map<std::string, long long> switchesByThread(pid_t pid)
{
    std::map<std::string, long long> by;
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    DIR* dir = ::opendir(tasks.c_str());
    while (const dirent* e = dir ? ::readdir(dir) : nullptr) {
        if (e->d_name[0] == '.') {
            continue;
        }
        std::ifstream comm(tasks + "/" + e->d_name + "/comm");
        std::string name;
        std::getline(comm, name);
        std::ifstream status(tasks + "/" + e->d_name + "/status");
        for (std::string line; std::getline(status, line);) {
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0) {
                by[name] += std::atoll(line.c_str() + line.find(':') + 1);
            }
        }
    }
    if (dir) {
        ::closedir(dir);
    }
    return by;
}

} // namespace

Sample sample(const std::vector<pid_t>& pids)
{
    const double tick = static_cast<double>(::sysconf(_SC_CLK_TCK));
    Sample s;
    for (const pid_t pid : pids) {
        const auto f = statFields(pid);
        if (f.size() > 14) {
            // cutime and cstime: fields 16 and 17 of stat.
            s.cpuSeconds += (std::atof(f[13].c_str()) + std::atof(f[14].c_str())) / tick;
        }
        s.cpuSeconds += liveCpuSeconds(pid);
        s.switches += voluntarySwitches(pid);
        if (pid == pids.front()) {
            s.byThread = switchesByThread(pid);
        }
        s.rssKb += statusKb(pid, "VmRSS:");
        for (const pid_t child : childrenOf(pid)) {
            s.cpuSeconds += liveCpuSeconds(child);
            s.switches += std::max(0LL, voluntarySwitches(child));
        }
    }
    return s;
}
