#include "rig/rig_support.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include <fcntl.h>
#include <net/if.h>
#include <poll.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace tarnwick::rig {

namespace {

using Clock = std::chrono::steady_clock;

const char* const kPingGroupRangeFile = "/proc/sys/net/ipv4/ping_group_range";

std::vector<char*> argvOf(std::vector<std::string>& args)
{
    std::vector<char*> out;
    out.reserve(args.size() + 1);
    for (auto& a : args) {
        out.push_back(a.data());
    }
    out.push_back(nullptr);
    return out;
}

// Spawns argv with stdin and stdout (and stderr when mergeErr) connected to
// pipes; returns the pid or -1.
pid_t spawnPiped(std::vector<std::string> args, int& in, int& out, bool mergeErr)
{
    int toChild[2];
    int fromChild[2];
    if (pipe2(toChild, O_CLOEXEC) != 0) {
        return -1;
    }
    if (pipe2(fromChild, O_CLOEXEC) != 0) {
        close(toChild[0]);
        close(toChild[1]);
        return -1;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, toChild[0], 0);
    posix_spawn_file_actions_adddup2(&actions, fromChild[1], 1);
    if (mergeErr) {
        posix_spawn_file_actions_adddup2(&actions, fromChild[1], 2);
    }
    auto argv = argvOf(args);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(toChild[0]);
    close(fromChild[1]);
    if (rc != 0) {
        close(toChild[1]);
        close(fromChild[0]);
        return -1;
    }
    in = toChild[1];
    out = fromChild[0];
    return pid;
}

int waitExit(pid_t pid)
{
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string readFile(const char* path)
{
    std::ifstream f(path);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

bool writeFile(const std::string& path, const std::string& content)
{
    std::ofstream f(path, std::ios::trunc);
    f << content;
    f.close();
    return !f.fail();
}

} // namespace

bool insideRig()
{
    const char* flag = std::getenv("TARNWICK_RIG");
    return flag != nullptr && std::string(flag) == "1" && if_nametoindex("c-r1") != 0 &&
           if_nametoindex("c-rs") != 0 && if_nametoindex("c-dns") != 0;
}

std::string scratchDir()
{
    const char* dir = std::getenv("TARNWICK_RIG_SCRATCH");
    return dir ? dir : "";
}

CommandResult runCommand(const std::vector<std::string>& argv, int timeoutMs,
                         const std::string& input)
{
    CommandResult result;
    int in = -1;
    int out = -1;
    const pid_t pid = spawnPiped(argv, in, out, true);
    if (pid < 0) {
        return result;
    }
    if (!input.empty()) {
        [[maybe_unused]] const auto n = write(in, input.data(), input.size());
    }
    close(in);
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    bool timedOut = false;
    char buffer[4096];
    for (;;) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            timedOut = true;
            break;
        }
        pollfd p{out, POLLIN, 0};
        const int ready = poll(&p, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            continue;
        }
        const ssize_t n = read(out, buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        result.output.append(buffer, static_cast<std::size_t>(n));
    }
    close(out);
    if (timedOut) {
        kill(pid, SIGKILL);
    }
    const int code = waitExit(pid);
    result.exitCode = timedOut ? -1 : code;
    return result;
}

CommandResult runInPeer(const std::string& ns, const std::vector<std::string>& argv, int timeoutMs)
{
    std::vector<std::string> all{"ip", "netns", "exec", ns};
    all.insert(all.end(), argv.begin(), argv.end());
    return runCommand(all, timeoutMs);
}

std::string pingGroupRange()
{
    std::string text = readFile(kPingGroupRangeFile);
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) {
        text.pop_back();
    }
    for (auto& c : text) {
        if (c == '\t') {
            c = ' ';
        }
    }
    return text;
}

PingGroupRange::PingGroupRange(const std::string& range) : m_previous(pingGroupRange())
{
    m_ok = writeFile(kPingGroupRangeFile, range + "\n");
}

PingGroupRange::~PingGroupRange()
{
    if (!m_previous.empty()) {
        writeFile(kPingGroupRangeFile, m_previous + "\n");
    }
}

HostsFileOverride::HostsFileOverride(const std::string& content)
{
    static int counter = 0;
    m_path = scratchDir() + "/hosts-override-" + std::to_string(getpid()) + "-" +
             std::to_string(++counter);
    m_ok = !scratchDir().empty() && writeFile(m_path, content) &&
           chmod(m_path.c_str(), 0644) == 0 &&
           mount(m_path.c_str(), "/etc/hosts", nullptr, MS_BIND, nullptr) == 0;
}

HostsFileOverride::~HostsFileOverride()
{
    if (m_ok) {
        umount2("/etc/hosts", MNT_DETACH);
    }
    unlink(m_path.c_str());
}

std::uint64_t icmpEchoRequestsSent()
{
    std::istringstream snmp(readFile("/proc/net/snmp"));
    std::string header;
    std::string values;
    while (std::getline(snmp, header)) {
        if (header.rfind("Icmp:", 0) == 0 && std::getline(snmp, values)) {
            std::istringstream names(header);
            std::istringstream numbers(values);
            std::string name;
            std::string number;
            while (names >> name && numbers >> number) {
                if (name == "OutEchos") {
                    return std::stoull(number);
                }
            }
        }
    }
    return 0;
}

RigResponder::RigResponder(const std::string& plan, int readyTimeoutMs)
{
    m_pid = spawnPiped({"ip", "netns", "exec", kNsResponder, TARNWICK_RIG_RESPONDER_PATH, plan},
                       m_input, m_output, false);
    if (m_pid < 0) {
        m_error = "cannot start the responder";
        return;
    }
    m_reader = std::thread([this] { readLines(); });
    std::unique_lock lock(m_mutex);
    if (!m_changed.wait_for(lock, std::chrono::milliseconds(readyTimeoutMs),
                            [this] { return m_ready || m_ended; })) {
        m_error = "the responder did not get ready";
    } else if (!m_ready) {
        m_error = "the responder ended before it was ready";
    }
}

RigResponder::~RigResponder()
{
    stop();
}

void RigResponder::readLines()
{
    std::string pending;
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(m_output, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        pending.append(buffer, static_cast<std::size_t>(n));
        std::size_t eol;
        while ((eol = pending.find('\n')) != std::string::npos) {
            const std::string line = pending.substr(0, eol);
            pending.erase(0, eol + 1);
            std::lock_guard lock(m_mutex);
            if (line == "ready") {
                m_ready = true;
            } else if (line.rfind("done ", 0) == 0) {
                ++m_delayedDone;
            } else if (line.rfind("req ", 0) == 0) {
                ResponderRequest r;
                std::istringstream words(line.substr(4));
                std::string word;
                words >> r.index;
                while (words >> word) {
                    const auto eq = word.find('=');
                    const std::string key = word.substr(0, eq);
                    const std::string value = eq == std::string::npos ? "" : word.substr(eq + 1);
                    if (key == "id") {
                        r.id = static_cast<std::uint16_t>(std::stoul(value));
                    } else if (key == "seq") {
                        r.seq = static_cast<std::uint16_t>(std::stoul(value));
                    } else if (key == "src") {
                        r.source = value;
                    } else if (key == "dst") {
                        r.destination = value;
                    } else if (key == "len") {
                        r.icmpLength = std::stoul(value);
                    } else if (key == "zero") {
                        r.zeroData = value == "1";
                    } else if (key == "action") {
                        r.action = value;
                    }
                }
                m_requests.push_back(r);
            }
            m_changed.notify_all();
        }
    }
    std::lock_guard lock(m_mutex);
    m_ended = true;
    m_changed.notify_all();
}

bool RigResponder::isReady() const
{
    std::lock_guard lock(m_mutex);
    return m_ready && !m_ended;
}

std::string RigResponder::error() const
{
    std::lock_guard lock(m_mutex);
    return m_error;
}

std::size_t RigResponder::requestCount() const
{
    std::lock_guard lock(m_mutex);
    return m_requests.size();
}

std::vector<ResponderRequest> RigResponder::requests() const
{
    std::lock_guard lock(m_mutex);
    return m_requests;
}

bool RigResponder::waitForRequests(std::size_t count, int timeoutMs) const
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        return m_requests.size() >= count || m_ended;
    }) && m_requests.size() >= count;
}

std::size_t RigResponder::delayedActionsDone() const
{
    std::lock_guard lock(m_mutex);
    return m_delayedDone;
}

bool RigResponder::waitForDelayedActions(std::size_t count, int timeoutMs) const
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        return m_delayedDone >= count || m_ended;
    }) && m_delayedDone >= count;
}

void RigResponder::stop()
{
    if (m_pid < 0) {
        return;
    }
    // Closing its input ends the responder; the signal covers a stuck one.
    close(m_input);
    kill(m_pid, SIGTERM);
    waitExit(m_pid);
    m_pid = -1;
    if (m_reader.joinable()) {
        m_reader.join();
    }
    close(m_output);
}

} // namespace tarnwick::rig
