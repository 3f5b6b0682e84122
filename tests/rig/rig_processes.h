#pragma once

#include <string>
#include <vector>

#include <sys/types.h>

// Who runs what inside the rig: this test process as an ordinary user and
// back, and the processes it has started.
namespace tarnwick::rig {

inline constexpr uid_t kNobodyUid = 65534;
inline constexpr gid_t kNobodyGid = 65534;

// While it lives, the whole process (every thread) runs as an ordinary user:
// real and effective user and group ids are the user's, there are no
// supplementary groups and no effective capabilities, so sockets, the ICMP
// group range and programs started with file capabilities see that user.
// Root stays in the saved ids only, so that the test can take it back.
class AsUser {
public:
    explicit AsUser(uid_t uid = kNobodyUid, gid_t gid = kNobodyGid);
    ~AsUser();
    AsUser(const AsUser&) = delete;
    AsUser& operator=(const AsUser&) = delete;
    bool ok() const { return m_ok; }

private:
    std::vector<gid_t> m_groups;
    bool m_ok = false;
};

// Root again for as long as it lives (inside an AsUser: set up the rig, run a
// reference tool), then back to the user that was in force.
class AsRoot {
public:
    AsRoot();
    ~AsRoot();
    AsRoot(const AsRoot&) = delete;
    AsRoot& operator=(const AsRoot&) = delete;

private:
    uid_t m_uid;
    gid_t m_gid;
};

// A copy of program in the rig's scratch folder (readable by everyone, on a
// mount that honours file capabilities) with cap_net_raw granted, as an
// installation grants it to the echo helper; empty when that fails.
std::string grantedCopy(const std::string& program, const std::string& name);

// Live children of this process whose command name (as in /proc/PID/comm,
// at most 15 characters) starts like the given program's file name.
std::vector<pid_t> childProcesses(const std::string& program);

// Voluntary context switches of a process, all its threads together.
long long voluntarySwitches(pid_t pid);

} // namespace tarnwick::rig
