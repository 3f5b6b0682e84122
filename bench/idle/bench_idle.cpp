// What the program costs while it sits in the tray all day: the real program
// monitoring five hosts of the private test network at Delay 1000, beside
// fping -l -p 1000 and five ping -i 1 on the same hosts. Run it inside the rig
// under an X server: bench/idle/run.sh [SECONDS] [BUILD_DIR].
//
// Each subject runs alone for the given time after a warm-up. Printed per
// subject: echo requests sent (the namespace's own count, so one subject at a
// time), CPU-seconds per echo (user and system, the program's threads and its
// helper processes, live or ended), wake-ups per second (voluntary context
// switches of every thread of the program and of its live helpers; a helper
// that ends inside the window takes its count with it), and RSS growth per
// logged line (one line per echo); then the same as ratios to fping and to
// the five pings.
//
// The program runs as an ordinary user (uid 65534), on the helper path (ICMP
// datagram sockets refused, the helper beside it granted cap_net_raw) or on
// the datagram path; each path with its window hidden in a real notification
// area (a window manager and trayer) and shown (the window manager and no
// area, so the window shows and follows its log). A second table puts each
// path's shown figures beside its hidden ones.

#include "proc_sample.h"
#include "rig/rig_hosts.h"
#include "rig/rig_processes.h"
#include "rig/rig_support.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace tarnwick::rig;

extern char** environ;

namespace {

const char* const kHosts[] = {kTarget, kRouter1, kRouter2, kTarget5, kRouter2Far};
constexpr int kWarmupSeconds = 6;

pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env,
            const std::string& output)
{
    std::vector<char*> args;
    for (const auto& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    // Ours, then whatever of the environment they do not set.
    std::vector<std::string> envStrings(env.begin(), env.end());
    for (char** e = environ; *e; ++e) {
        const std::string var(*e);
        const std::string key = var.substr(0, var.find('=') + 1);
        bool overridden = false;
        for (const auto& mine : env) {
            overridden = overridden || mine.rfind(key, 0) == 0;
        }
        if (!overridden) {
            envStrings.push_back(var);
        }
    }
    std::vector<char*> envp;
    for (auto& e : envStrings) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    pid_t pid = -1;
    if (::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), envp.data()) != 0) {
        pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

void stop(const std::vector<pid_t>& pids)
{
    for (const pid_t pid : pids) {
        ::kill(pid, SIGTERM);
    }
    for (const pid_t pid : pids) {
        int status = 0;
        for (int i = 0; i < 100 && ::waitpid(pid, &status, WNOHANG) == 0; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        if (::waitpid(pid, &status, WNOHANG) == 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
        }
    }
}

bool writeFile(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    return !out.fail();
}

bool makeDir(const std::string& path, bool forNobody)
{
    if (::mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) {
        return false;
    }
    return !forNobody || ::chown(path.c_str(), kNobodyUid, kNobodyGid) == 0;
}

struct Result {
    std::string name;
    std::string note;
    std::uint64_t echoes = 0;
    double seconds = 0;
    Sample from;
    Sample to;
    bool ok = false;

    double cpuPerEcho() const { return echoes ? (to.cpuSeconds - from.cpuSeconds) / echoes : 0; }
    double wakeupsPerSecond() const { return double(to.switches - from.switches) / seconds; }
    double rssPerLine() const { return echoes ? double(to.rssKb - from.rssKb) / echoes : 0; }
};

// Runs the subject started by start() for seconds after the warm-up; start
// returns the processes to measure and may add others that go with them (a
// tray), which are stopped after them.
template <typename Start> Result measure(const std::string& name, int seconds, Start start)
{
    Result r;
    r.name = name;
    const std::uint64_t before = icmpEchoRequestsSent();
    std::vector<pid_t> companions;
    std::vector<pid_t> pids = start(r.note, companions);
    if (pids.empty()) {
        r.note = "did not start";
        stop(companions);
        return r;
    }
    // Warm-up: the program's start-up, its first echoes, a first helper.
    for (int i = 0; i < 200 && icmpEchoRequestsSent() == before; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::this_thread::sleep_for(std::chrono::seconds(kWarmupSeconds));
    const auto t0 = std::chrono::steady_clock::now();
    const std::uint64_t echoes0 = icmpEchoRequestsSent();
    r.from = sample(pids);
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    r.to = sample(pids);
    r.echoes = icmpEchoRequestsSent() - echoes0;
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    r.ok = r.echoes > 0;
    stop(pids);
    stop(companions);
    return r;
}

std::string windowState()
{
    const CommandResult r =
        runCommand({"xdotool", "search", "--onlyvisible", "--name", "^Orlvane Auto Tarnwick"});
    return r.exitCode == 0 && !r.output.empty() ? "window shown" : "window hidden";
}

struct Program {
    std::string dir; // holds tarnwick, its helper and data/
};

// A copy of the program with a data folder of its own and the helper beside
// it granted its capability, and a home of its own for uid 65534.
std::optional<Program> install(const std::string& name, const std::string& program,
                               const std::string& helper)
{
    const std::string dir = scratchDir() + "/idle-" + name;
    runCommand({"rm", "-rf", dir});
    if (!makeDir(dir, false) || !makeDir(dir + "/data", true) || !makeDir(dir + "/home", true) ||
        !makeDir(dir + "/config", true) || !makeDir(dir + "/config/Orlvane", true) ||
        !makeDir(dir + "/runtime", true) || ::chmod((dir + "/runtime").c_str(), 0700) != 0) {
        return std::nullopt;
    }
    if (runCommand({"cp", program, dir + "/tarnwick"}).exitCode != 0 ||
        runCommand({"cp", helper, dir + "/tarnwick-icmp-helper"}).exitCode != 0 ||
        runCommand({"setcap", "cap_net_raw+ep", dir + "/tarnwick-icmp-helper"}).exitCode != 0) {
        return std::nullopt;
    }
    std::string hosts;
    for (const char* h : kHosts) {
        hosts += std::string(h) + "\r\n";
    }
    // Delay 1000, no autostart entry, time-out 2000, 32 bytes; not a first run.
    if (!writeFile(dir + "/data/config.cfg", "1000\r\n0\r\n2000\r\n32\r\n") ||
        !writeFile(dir + "/data/domains.cfg", hosts) ||
        !writeFile(dir + "/config/Orlvane/Orlvane_Tarnwick.ini", "[General]\nfr=1\n")) {
        return std::nullopt;
    }
    runCommand({"chown", "-R", "65534:65534", dir + "/data", dir + "/config"});
    return Program{dir};
}

// The window manager the whole run shares.
pid_t startWindowManager(const std::string& log)
{
    const pid_t wm = spawn({"openbox"}, {}, log);
    // Until it manages the screen (it sets its check window on the root).
    for (int i = 0; i < 100 && wm > 0; ++i) {
        if (runCommand({"xprop", "-root", "_NET_SUPPORTING_WM_CHECK"}).output.find("window id") !=
            std::string::npos) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return wm;
}

std::vector<pid_t> startProgram(const Program& p, bool tray, std::string& note,
                                std::vector<pid_t>& companions)
{
    if (tray) {
        const pid_t trayer =
            spawn({"trayer", "--edge", "bottom", "--align", "right", "--widthtype", "pixel",
                   "--width", "64", "--heighttype", "pixel", "--height", "24"},
                  {}, p.dir + "/trayer.log");
        if (trayer > 0) {
            companions.push_back(trayer);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    const pid_t pid =
        spawn({"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", p.dir + "/tarnwick"},
              {"HOME=" + p.dir + "/home", "XDG_CONFIG_HOME=" + p.dir + "/config",
               "XDG_RUNTIME_DIR=" + p.dir + "/runtime", "QT_QPA_PLATFORM=xcb"},
              p.dir + "/program.log");
    if (pid < 0) {
        return {};
    }
    // Once it has settled on where its window goes (the tray is waited for
    // 1.5 s at most).
    std::this_thread::sleep_for(std::chrono::seconds(3));
    note = windowState();
    return {pid};
}

void printRow(const Result& r, const Result* fping, const Result* ping)
{
    if (!r.ok) {
        std::printf("%-34s  no echoes (%s)\n", r.name.c_str(), r.note.c_str());
        return;
    }
    std::printf("%-34s %7llu %12.3g %10.2f %11.4f", r.name.c_str(),
                static_cast<unsigned long long>(r.echoes), r.cpuPerEcho(), r.wakeupsPerSecond(),
                r.rssPerLine());
    for (const Result* base : {fping, ping}) {
        if (base && base->ok && base->cpuPerEcho() > 0 && base->wakeupsPerSecond() > 0) {
            std::printf("   %6.2f %6.2f", r.cpuPerEcho() / base->cpuPerEcho(),
                        r.wakeupsPerSecond() / base->wakeupsPerSecond());
        } else {
            std::printf("   %6s %6s", "-", "-");
        }
    }
    std::printf("  %s\n", r.note.c_str());
}

const Result* find(const std::vector<Result>& results, const std::string& name)
{
    for (const Result& r : results) {
        if (r.name == name) {
            return &r;
        }
    }
    return nullptr;
}

void printRatios(const Result* r, const Result* fping, const Result* ping)
{
    if (!r || !r->ok) {
        std::printf(" %10s %8s %5s %5s %5s %5s", "-", "-", "-", "-", "-", "-");
        return;
    }
    std::printf(" %10.3g %8.2f", r->cpuPerEcho(), r->wakeupsPerSecond());
    for (const Result* base : {fping, ping}) {
        if (base && base->ok && base->cpuPerEcho() > 0 && base->wakeupsPerSecond() > 0) {
            std::printf(" %5.2f %5.2f", r->cpuPerEcho() / base->cpuPerEcho(),
                        r->wakeupsPerSecond() / base->wakeupsPerSecond());
        } else {
            std::printf(" %5s %5s", "-", "-");
        }
    }
}

// Each path's hidden subject beside its shown one.
void printSideBySide(const std::vector<Result>& results, const std::vector<std::string>& paths,
                     const Result* fping, const Result* ping)
{
    std::printf("\nhidden (in a notification area) beside shown (following its log); the\n"
                "ratios are cpu per echo and wake-ups to fping's, then to the five pings'\n");
    std::printf("%-20s %-44s | %s\n", "", "hidden", "shown");
    std::printf("%-20s", "path");
    for (int i = 0; i < 2; ++i) {
        std::printf("%s %10s %8s %11s %11s", i ? " |" : "", "cpu s/echo", "wake/s", "fping",
                    "pings");
    }
    std::printf("\n");
    for (const std::string& path : paths) {
        std::printf("%-20s", path.c_str());
        printRatios(find(results, path + ", hidden"), fping, ping);
        std::printf(" |");
        printRatios(find(results, path + ", shown"), fping, ping);
        std::printf("\n");
    }
}

} // namespace

int main(int argc, char** argv)
{
    int seconds = 120;
    std::string program;
    std::string helper;
    std::string beforeProgram;
    std::string beforeHelper;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto next = [&]() -> std::string { return i + 1 < argc ? argv[++i] : ""; };
        if (a == "--seconds") {
            seconds = std::atoi(next().c_str());
        } else if (a == "--before") {
            beforeProgram = next();
            beforeHelper = next();
        } else if (program.empty()) {
            program = a;
        } else {
            helper = a;
        }
    }
    if (program.empty() || helper.empty() || seconds <= 0) {
        std::fprintf(stderr,
                     "usage: %s [--seconds N] [--before PROGRAM HELPER] PROGRAM HELPER\n"
                     "(inside tests/rig/rig.sh, with DISPLAY set)\n",
                     argv[0]);
        return 2;
    }
    if (!insideRig() || !std::getenv("DISPLAY")) {
        std::fprintf(stderr, "bench_idle: run me through bench/idle/run.sh\n");
        return 2;
    }

    std::vector<Result> results;
    const pid_t wm = startWindowManager(scratchDir() + "/idle-openbox.log");
    // One copy at a time: the rig's scratch space holds two at most.
    std::optional<Program> installed;
    auto use = [&](const std::string& prog, const std::string& help) {
        if (installed) {
            runCommand({"rm", "-rf", installed->dir});
        }
        installed = install(prog == program ? "after" : "before", prog, help);
        if (!installed) {
            std::fprintf(stderr, "bench_idle: cannot install %s\n", prog.c_str());
        }
    };
    auto runProgram = [&](const std::string& name, bool datagram, bool tray) {
        if (!installed) {
            return;
        }
        PingGroupRange range(datagram ? "0 2147483647" : "1 0");
        results.push_back(
            measure(name, seconds, [&](std::string& note, std::vector<pid_t>& companions) {
                return startProgram(*installed, tray, note, companions);
            }));
        std::fprintf(stderr, "bench_idle: %s done\n", name.c_str());
    };
    std::vector<std::string> paths;
    auto runPath = [&](const std::string& name, bool datagram) {
        paths.push_back(name);
        runProgram(name + ", hidden", datagram, true);
        runProgram(name + ", shown", datagram, false);
    };
    use(program, helper);
    runPath("tarnwick helper", false);
    runPath("tarnwick datagram", true);
    if (!beforeProgram.empty()) {
        use(beforeProgram, beforeHelper);
        runPath("before: helper", false);
        runPath("before: datagram", true);
    }

    PingGroupRange range("1 0"); // the baselines run as root, on raw sockets
    const std::string log = scratchDir() + "/idle-baseline.log";
    results.push_back(measure("fping -l -p 1000", seconds, [&](std::string& note, auto&) {
        note = "root";
        std::vector<std::string> command{"fping", "-l", "-p", "1000"};
        command.insert(command.end(), std::begin(kHosts), std::end(kHosts));
        const pid_t pid = spawn(command, {}, log);
        return pid > 0 ? std::vector<pid_t>{pid} : std::vector<pid_t>{};
    }));
    results.push_back(measure("5 x ping -i 1", seconds, [&](std::string& note, auto&) {
        note = "root";
        std::vector<pid_t> pids;
        for (const char* h : kHosts) {
            const pid_t pid = spawn({"ping", "-n", "-i", "1", h}, {}, log);
            if (pid > 0) {
                pids.push_back(pid);
            }
        }
        return pids;
    }));
    const Result* fping = &results[results.size() - 2];
    const Result* ping = &results.back();
    if (wm > 0) {
        stop({wm});
    }

    std::printf("\n%d s per subject after a %d s warm-up; 5 hosts, Delay 1000; wake-ups leave\n"
                "out helpers that ended inside the window (their CPU time is counted)\n",
                seconds, kWarmupSeconds);
    std::printf("%-34s %7s %12s %10s %11s   %13s   %13s\n", "subject", "echoes", "cpu s/echo",
                "wakeups/s", "rss kB/line", "vs fping", "vs 5 pings");
    std::printf("%-34s %7s %12s %10s %11s   %6s %6s   %6s %6s\n", "", "", "", "", "", "cpu", "wake",
                "cpu", "wake");
    for (const Result& r : results) {
        printRow(r, fping, ping);
    }
    std::printf("\nwake-ups per second by thread (the program's own):\n");
    for (const Result& r : results) {
        if (!r.ok || (r.name.rfind("tarnwick", 0) != 0 && r.name.rfind("before", 0) != 0)) {
            continue;
        }
        std::printf("%-34s", r.name.c_str());
        for (const auto& [name, count] : r.to.byThread) {
            const auto it = r.from.byThread.find(name);
            const long long base = it == r.from.byThread.end() ? 0 : it->second;
            const double rate = double(count - base) / r.seconds;
            if (rate >= 0.5) {
                std::printf(" %s %.1f", name.c_str(), rate);
            }
        }
        std::printf("\n");
    }
    printSideBySide(results, paths, fping, ping);
    return 0;
}
