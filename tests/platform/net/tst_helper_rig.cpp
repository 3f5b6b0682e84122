// The echo helper program as its own client would never use it: malformed
// frames, requests out of bounds, pacing, waits ended early, going away, its
// capabilities, and an ordinary user who can reach echo requests through it
// alone; then the handle that keeps one helper for all its echoes.

#include "platform/net/canceller.h"
#include "platform/net/echo.h"
#include "platform/net/echo_backends.h"
#include "platform/net/echo_types.h"
#include "platform/net/helper_protocol.h"
#include "platform/net/resolver.h"
#include "rig/rig_processes.h"
#include "rig/rig_support.h"

#include <QRegularExpression>
#include <QtTest>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace tarnwick::net;
using namespace tarnwick::rig;
using Clock = std::chrono::steady_clock;

extern char** environ;

namespace {

const std::string kHelper = TARNWICK_ICMP_HELPER_PATH;
const std::string kClient = TARNWICK_RIG_ECHO_CLIENT_PATH;
const char* const kNobody[] = {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};

// The helper (or anything) on a pair of pipes, driven frame by frame.
class Child {
public:
    explicit Child(std::vector<std::string> argv)
    {
        int in[2];
        int out[2];
        if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) {
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        std::vector<char*> args;
        for (auto& a : argv) {
            args.push_back(a.data());
        }
        args.push_back(nullptr);
        if (posix_spawnp(&m_pid, args[0], &actions, nullptr, args.data(), environ) != 0) {
            m_pid = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        close(in[0]);
        close(out[1]);
        m_in = in[1];
        m_out = out[0];
    }
    ~Child()
    {
        closeInput();
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitExit(1000);
        }
        close(m_out);
    }
    pid_t pid() const { return m_pid; }

    bool send(const std::vector<std::uint8_t>& bytes)
    {
        return write(m_in, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }
    bool send(const HelperRequestFrame& frame)
    {
        return send(std::vector<std::uint8_t>(frame.begin(), frame.end()));
    }
    void closeInput()
    {
        if (m_in >= 0) {
            close(m_in);
        }
        m_in = -1;
    }

    // The next response, or nothing when the output ends or time runs out.
    std::optional<HelperResponse> response(int timeoutMs)
    {
        HelperResponseFrame frame{};
        std::size_t have = 0;
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (have < frame.size()) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            pollfd p{m_out, POLLIN, 0};
            if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0) {
                return std::nullopt;
            }
            const ssize_t n = read(m_out, frame.data() + have, frame.size() - have);
            if (n <= 0) {
                return std::nullopt;
            }
            have += static_cast<std::size_t>(n);
        }
        return decodeHelperResponse(frame);
    }

    // Exit status, or -1 when it has not ended within the time.
    int waitExit(int timeoutMs)
    {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        Canceller idle;
        for (;;) {
            int status = 0;
            const pid_t r = waitpid(m_pid, &status, WNOHANG);
            if (r == m_pid) {
                m_pid = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            if (r < 0 || Clock::now() >= deadline) {
                return -1;
            }
            idle.waitFor(2);
        }
    }

private:
    pid_t m_pid = -1;
    int m_in = -1;
    int m_out = -1;
};

HelperRequest requestTo(const char* destination, std::uint32_t timeoutMs = 1000,
                        std::uint32_t id = 1)
{
    HelperRequest r;
    r.id = id;
    r.destination = parseIPv4(destination).value_or(0);
    r.dataSize = 32;
    r.timeoutMs = timeoutMs;
    return r;
}

HelperRequestFrame abandonFrame(std::uint32_t id)
{
    HelperRequest r;
    r.kind = HelperRequestKind::Abandon;
    r.id = id;
    return encodeHelperRequest(r);
}

EchoResult echoTo(EchoHandle& handle, const char* destination, int timeoutMs,
                  const Canceller* cancel = nullptr)
{
    EchoRequest request;
    request.destination = parseIPv4(destination).value_or(0);
    request.timeoutMs = timeoutMs;
    return handle.echo(request, cancel);
}

std::string procStatusField(pid_t pid, const std::string& field)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field + ":", 0) == 0) {
            std::istringstream words(line.substr(field.size() + 1));
            std::string value;
            words >> value;
            return value;
        }
    }
    return {};
}

bool copyExecutable(const std::string& from, const std::string& to)
{
    std::ifstream in(from, std::ios::binary);
    std::ofstream out(to, std::ios::binary | std::ios::trunc);
    out << in.rdbuf();
    out.close();
    return in && !out.fail() && chmod(to.c_str(), 0755) == 0;
}

} // namespace

class TestHelperRig : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void refusesMalformedInput_data();
    void refusesMalformedInput();
    void pacesItself();
    void laterFramesEndAWait();
    void leavesWhenItsInputCloses();
    void diesWithTheThreadThatStartedIt();
    void carriesOnlyCapNetRawAndDropsIt();
    void ordinaryUserReachesEchoThroughHelperOnly();
    void handleKeepsItsHelperThroughCancelledWaits();
    void handleKeepsItsHelperThroughRefusals();
    void handleReplacesAKilledHelper();

private:
    std::string m_dir;
    std::string m_grantedHelper; // copy with cap_net_raw+ep
    std::string m_plainHelper;   // copy without any capability
    std::string m_client;
};

void TestHelperRig::initTestCase()
{
    QVERIFY2(insideRig(), "run through tests/rig/rig.sh: these tests send packets");
    m_dir = scratchDir() + "/helper";
    QVERIFY(mkdir(m_dir.c_str(), 0755) == 0 || errno == EEXIST);
    QVERIFY(chmod(m_dir.c_str(), 0755) == 0);
    struct statvfs fs {};
    QVERIFY(statvfs(m_dir.c_str(), &fs) == 0);
    QVERIFY2((fs.f_flag & ST_NOSUID) == 0, "file capabilities do not work on a nosuid mount");

    m_grantedHelper = m_dir + "/tarnwick-icmp-helper";
    m_plainHelper = m_dir + "/plain-helper";
    m_client = m_dir + "/echo-client";
    QVERIFY(copyExecutable(kHelper, m_grantedHelper));
    QVERIFY(copyExecutable(kHelper, m_plainHelper));
    QVERIFY(copyExecutable(kClient, m_client));
    const CommandResult grant = runCommand({"setcap", "cap_net_raw+ep", m_grantedHelper});
    QVERIFY2(grant.exitCode == 0, grant.output.c_str());
}

void TestHelperRig::refusesMalformedInput_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<bool>("answered"); // Rejected and carries on, or leaves silently

    auto frame = [](const HelperRequest& r) {
        const HelperRequestFrame f = encodeHelperRequest(r);
        return QByteArray(reinterpret_cast<const char*>(f.data()), int(f.size()));
    };
    // An id of its own, so that an answer with another one is told apart.
    const HelperRequest good = requestTo(kResponder, 1000, 0x5eed);

    QByteArray badMagic = frame(good);
    badMagic[0] = 'X';
    QByteArray badSize = frame(good);
    badSize[5] = 21;
    QByteArray unknownKind = frame(good);
    unknownKind[15] = 2;
    QTest::newRow("wrong magic") << badMagic << false;
    QTest::newRow("wrong frame size") << badSize << false;
    QTest::newRow("cut short") << frame(good).left(11) << false;
    QTest::newRow("unknown kind") << unknownKind << true;

    const struct {
        const char* name;
        const char* destination;
    } forbidden[] = {{"this network", "0.0.0.0"}, {"this network, host part", "0.1.2.3"},
                     {"multicast", "224.0.0.1"},  {"multicast, top", "239.255.255.250"},
                     {"reserved", "240.0.0.1"},   {"broadcast", "255.255.255.255"}};
    for (const auto& f : forbidden) {
        HelperRequest r = good;
        r.destination = parseIPv4(f.destination).value_or(0);
        QTest::newRow(f.name) << frame(r) << true;
    }
    HelperRequest r = good;
    r.dataSize = kHelperMaxDataSize + 1;
    QTest::newRow("data too big") << frame(r) << true;
    r = good;
    r.timeoutMs = 0;
    QTest::newRow("no time-out") << frame(r) << true;
    r.timeoutMs = kHelperMaxTimeoutMs + 1;
    QTest::newRow("time-out too long") << frame(r) << true;
    r = good;
    r.ttl = 256;
    QTest::newRow("ttl too big") << frame(r) << true;
}

void TestHelperRig::refusesMalformedInput()
{
    QFETCH(QByteArray, input);
    QFETCH(bool, answered);
    RigResponder responder("ok");
    QVERIFY2(responder.isReady(), responder.error().c_str());
    const std::uint64_t echoes = icmpEchoRequestsSent();

    Child helper({kHelper});
    const auto hello = helper.response(2000);
    QVERIFY(hello && hello->outcome == HelperOutcome::Ready);
    QVERIFY(helper.send(std::vector<std::uint8_t>(input.begin(), input.end())));
    if (answered) {
        const auto refusal = helper.response(2000);
        QVERIFY(refusal);
        QCOMPARE(refusal->outcome, HelperOutcome::Rejected);
        // The client knows its answer by the id; without it, it waits out
        // the time-out and replaces the helper.
        QCOMPARE(refusal->id, std::uint32_t{0x5eed});
        // It carries on: a good request is still served.
        QVERIFY(helper.send(encodeHelperRequest(requestTo(kResponder))));
        const auto served = helper.response(2000);
        QVERIFY(served && served->outcome == HelperOutcome::Reply);
        QCOMPARE(icmpEchoRequestsSent(), echoes + 1);
        helper.closeInput();
        QCOMPARE(helper.waitExit(2000), 0);
    } else {
        helper.closeInput();
        QVERIFY(!helper.response(2000));
        QCOMPARE(helper.waitExit(2000), 2);
        QCOMPARE(icmpEchoRequestsSent(), echoes);
    }
    QVERIFY(!answered || responder.waitForRequests(1, 2000));
    QCOMPARE(responder.requestCount(), std::size_t(answered ? 1 : 0));
}

// It never sends faster than its interval, and says how long it held each
// request back, so that no client counts the pacing as a round trip.
void TestHelperRig::pacesItself()
{
    RigResponder responder("ok");
    QVERIFY2(responder.isReady(), responder.error().c_str());
    Child helper({kHelper});
    QVERIFY(helper.response(2000));
    constexpr int kRequests = 6;
    const auto t0 = Clock::now();
    auto previousSent = t0;
    // Of the requests it held back; the pacing would put every one at 10 ms
    // or more, a stall of the machine only some.
    std::uint32_t bestPacedRoundTrip = ~0u;
    for (std::uint32_t i = 1; i <= kRequests; ++i) {
        const auto sent = Clock::now();
        QVERIFY(helper.send(encodeHelperRequest(requestTo(kResponder, 1000, i))));
        const auto r = helper.response(2000);
        const auto answered = Clock::now();
        QVERIFY(r && r->outcome == HelperOutcome::Reply);
        QCOMPARE(r->id, i);
        QVERIFY(r->roundTripMs <= 1000);
        if (i > 1)
            bestPacedRoundTrip = std::min(bestPacedRoundTrip, r->roundTripMs);
        // The first goes out at once. A later one cannot be answered before
        // the interval since the previous request was written; how much of
        // that the helper held depends on how late the client and the helper
        // ran, so it is bounded from above only (a busy machine).
        const auto sincePrevious =
            std::chrono::duration_cast<std::chrono::microseconds>(answered - previousSent);
        QVERIFY2(i == 1 ? r->heldUs < 1000
                        : sincePrevious.count() >= kHelperMinIntervalMs * 1000 &&
                              r->heldUs < kHelperMinIntervalMs * 1000 + 100000,
                 qPrintable(QStringLiteral("request %1 held %2 us, %3 us after the previous")
                                .arg(i)
                                .arg(r->heldUs)
                                .arg(sincePrevious.count())));
        previousSent = sent;
    }
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
    QVERIFY2(elapsed >= (kRequests - 1) * kHelperMinIntervalMs,
             qPrintable(QStringLiteral("%1 requests in %2 ms").arg(kRequests).arg(elapsed)));
    QVERIFY2(bestPacedRoundTrip < 5, qPrintable(QString::number(bestPacedRoundTrip)));
}

// A wait is ended by an abandon frame or by the next request, answered
// Abandoned with its id, and the helper carries on; an abandon frame with
// nothing to end is ignored.
void TestHelperRig::laterFramesEndAWait()
{
    RigResponder responder("drop,ok,drop,ok");
    QVERIFY2(responder.isReady(), responder.error().c_str());
    Child helper({kHelper});
    QVERIFY(helper.response(2000));

    QVERIFY(helper.send(encodeHelperRequest(requestTo(kResponder, 10000, 7))));
    QVERIFY(responder.waitForRequests(1, 2000));
    QVERIFY(helper.send(encodeHelperRequest(requestTo(kResponder, 10000, 8))));
    auto r = helper.response(1000);
    QVERIFY(r && r->outcome == HelperOutcome::Abandoned && r->id == 7);
    r = helper.response(2000);
    QVERIFY(r && r->outcome == HelperOutcome::Reply && r->id == 8);

    QVERIFY(helper.send(encodeHelperRequest(requestTo(kResponder, 10000, 9))));
    QVERIFY(responder.waitForRequests(3, 2000));
    const auto t0 = Clock::now();
    QVERIFY(helper.send(abandonFrame(9)));
    r = helper.response(1000);
    QVERIFY(r && r->outcome == HelperOutcome::Abandoned && r->id == 9);
    QVERIFY(Clock::now() - t0 < std::chrono::milliseconds(500));
    QVERIFY(helper.send(abandonFrame(9)));
    QVERIFY(helper.send(encodeHelperRequest(requestTo(kResponder, 10000, 10))));
    r = helper.response(2000);
    QVERIFY(r && r->outcome == HelperOutcome::Reply && r->id == 10);
    QVERIFY(responder.waitForRequests(4, 2000));
    QCOMPARE(responder.requestCount(), std::size_t{4});
    helper.closeInput();
    QCOMPARE(helper.waitExit(1000), 0);
}

void TestHelperRig::leavesWhenItsInputCloses()
{
    RigResponder responder("drop");
    QVERIFY2(responder.isReady(), responder.error().c_str());
    Child helper({kHelper});
    QVERIFY(helper.response(2000));
    QVERIFY(helper.send(encodeHelperRequest(requestTo(kResponder, 10000))));
    QVERIFY(responder.waitForRequests(1, 2000));
    helper.closeInput();
    QCOMPARE(helper.waitExit(200), 0);
}

// A client that goes without closing the stream (its thread ends, the stream
// stays open elsewhere) does not leave the helper behind, even where the
// helper was started with its capability, which clears what a parent sets.
void TestHelperRig::diesWithTheThreadThatStartedIt()
{
    for (const bool granted : {false, true}) {
        std::vector<std::string> argv{kHelper};
        if (granted) {
            argv.assign(std::begin(kNobody), std::end(kNobody));
            argv.push_back(m_grantedHelper);
        }
        std::unique_ptr<Child> helper;
        std::optional<HelperResponse> hello;
        // As a handle does, the thread waits for the hello before it goes.
        std::thread([&] {
            helper = std::make_unique<Child>(argv);
            hello = helper->response(2000);
        }).join();
        QVERIFY(hello && hello->outcome == HelperOutcome::Ready);
        QCOMPARE(helper->waitExit(2000), 128 + SIGKILL);
    }
}

void TestHelperRig::carriesOnlyCapNetRawAndDropsIt()
{
    const CommandResult caps = runCommand({"getcap", m_grantedHelper});
    QCOMPARE(QString::fromStdString(caps.output).trimmed(),
             QString::fromStdString(m_grantedHelper + " cap_net_raw=ep"));
    QCOMPARE(QString::fromStdString(runCommand({"getcap", kHelper}).output).trimmed(), QString());

    RigResponder responder("ok");
    QVERIFY2(responder.isReady(), responder.error().c_str());
    PingGroupRange range("1 0");
    std::vector<std::string> argv(std::begin(kNobody), std::end(kNobody));
    argv.push_back(m_grantedHelper);
    Child helper(argv);
    const auto hello = helper.response(2000);
    QVERIFY2(hello && hello->outcome == HelperOutcome::Ready, "the helper found no raw socket");
    QVERIFY(helper.send(encodeHelperRequest(requestTo(kResponder))));
    const auto served = helper.response(2000);
    QVERIFY(served && served->outcome == HelperOutcome::Reply);
    QCOMPARE(served->address, parseIPv4(kResponder).value());

    // Serving requests with its socket, and nothing else left.
    for (const char* set : {"CapInh", "CapPrm", "CapEff", "CapAmb"}) {
        QCOMPARE(QString::fromStdString(procStatusField(helper.pid(), set)),
                 QStringLiteral("0000000000000000"));
    }
    QCOMPARE(QString::fromStdString(procStatusField(helper.pid(), "NoNewPrivs")),
             QStringLiteral("1"));
    QCOMPARE(QString::fromStdString(procStatusField(helper.pid(), "Uid")), QStringLiteral("65534"));
}

void TestHelperRig::ordinaryUserReachesEchoThroughHelperOnly()
{
    RigResponder responder("ok");
    QVERIFY2(responder.isReady(), responder.error().c_str());
    auto runAsNobody = [&](const std::string& helper, const char* mode) {
        std::vector<std::string> argv(std::begin(kNobody), std::end(kNobody));
        argv.insert(argv.end(), {m_client, helper, mode, kResponder, "3", "1000"});
        return QString::fromStdString(runCommand(argv).output);
    };
    const QRegularExpression reply(
        QStringLiteral("echo failure=0 status=0 rtt=[0-9]+ address=198\\.18\\.10\\.2"));

    {
        PingGroupRange range("1 0");
        QVERIFY(range.ok());
        const QString out = runAsNobody(m_grantedHelper, "auto");
        // Neither socket may be opened by this user here...
        QVERIFY2(
            out.contains(QStringLiteral("datagram-error=%1 raw-error=%2").arg(EACCES).arg(EPERM)),
            qPrintable(out));
        // ...so the program's choice falls to the helper, which works.
        QVERIFY2(out.contains(QStringLiteral("path helper")), qPrintable(out));
        QCOMPARE(out.count(reply), 3);

        // Without its capability the helper cannot help: every echo says so.
        const QString without = runAsNobody(m_plainHelper, "auto");
        QVERIFY2(without.contains(QStringLiteral("path unavailable")), qPrintable(without));
        QCOMPARE(without.count(QStringLiteral("echo failure=%1 ")
                                   .arg(static_cast<int>(EchoFailure::NotPermitted))),
                 3);
        QVERIFY2(runAsNobody(m_plainHelper, "helper").contains(QStringLiteral("path none")),
                 "an incapable helper was accepted");
        QVERIFY(
            runAsNobody(m_dir + "/missing", "auto").contains(QStringLiteral("path unavailable")));
    }
    {
        // Where the system allows datagram sockets nothing privileged is used.
        PingGroupRange range("0 2147483647");
        const QString out = runAsNobody(m_grantedHelper, "auto");
        QVERIFY2(out.contains(QStringLiteral("path datagram")), qPrintable(out));
        QCOMPARE(out.count(reply), 3);
    }
    QVERIFY(responder.waitForRequests(6, 2000));
    QCOMPARE(responder.requestCount(), std::size_t{6});
}

// An echo whose wait is cut short costs no new helper: the next echo on the
// same handle is served by the same process, past the late answer.
void TestHelperRig::handleKeepsItsHelperThroughCancelledWaits()
{
    RigResponder responder("drop,ok,delay:300,ok");
    QVERIFY2(responder.isReady(), responder.error().c_str());
    PingGroupRange range("1 0");
    AsUser nobody;
    QVERIFY(nobody.ok());
    const std::uint64_t started = helperProcessesStarted();
    int error = 0;
    auto handle = SystemEchoService::openPath(EchoPath::Helper, m_grantedHelper, &error);
    QVERIFY2(handle, qPrintable(QString::number(error)));
    const std::vector<pid_t> helpers = childProcesses(m_grantedHelper);
    QCOMPARE(helpers.size(), std::size_t{1});

    for (int round = 0; round < 2; ++round) {
        Canceller cancel;
        std::thread canceller([&] {
            responder.waitForRequests(std::size_t(round) * 2 + 1, 2000);
            cancel.cancel();
        });
        const auto t0 = Clock::now();
        const EchoResult cut = echoTo(*handle, kResponder, 10000, &cancel);
        canceller.join();
        QCOMPARE(cut.failure, EchoFailure::Cancelled);
        QVERIFY(Clock::now() - t0 < std::chrono::milliseconds(1000));
        if (round == 1) {
            // The late reply reaches the helper while nobody waits for it.
            QVERIFY(responder.waitForDelayedActions(1, 2000));
        }
        const EchoResult next = echoTo(*handle, kResponder, 2000);
        QVERIFY(next.reply && next.reply->status == StatusSuccess);
        QCOMPARE(childProcesses(m_grantedHelper), helpers);
    }
    QCOMPARE(helperProcessesStarted(), started + 1);
    handle.reset();
    QVERIFY(childProcesses(m_grantedHelper).empty());
}

// A host that resolves to an address the helper refuses fails at once, and
// the same helper serves the next echo.
void TestHelperRig::handleKeepsItsHelperThroughRefusals()
{
    RigResponder responder("ok");
    QVERIFY2(responder.isReady(), responder.error().c_str());
    PingGroupRange range("1 0");
    AsUser nobody;
    QVERIFY(nobody.ok());
    const std::uint64_t started = helperProcessesStarted();
    int error = 0;
    auto handle = SystemEchoService::openPath(EchoPath::Helper, m_grantedHelper, &error);
    QVERIFY2(handle, qPrintable(QString::number(error)));
    const std::vector<pid_t> helpers = childProcesses(m_grantedHelper);
    for (const char* refused : {"0.0.0.0", "224.0.0.1", "255.255.255.255"}) {
        const auto t0 = Clock::now();
        const EchoResult r = echoTo(*handle, refused, 1000);
        QCOMPARE(r.failure, EchoFailure::SendFailed);
        QCOMPARE(r.error, EINVAL);
        QVERIFY(Clock::now() - t0 < std::chrono::milliseconds(1000));
        QCOMPARE(childProcesses(m_grantedHelper), helpers);
    }
    QVERIFY(echoTo(*handle, kResponder, 2000).reply);
    QCOMPARE(helperProcessesStarted(), started + 1);
    QVERIFY(responder.waitForRequests(1, 2000));
    QCOMPARE(responder.requestCount(), std::size_t{1});
}

// The next echo after the helper was killed starts a new one and succeeds.
void TestHelperRig::handleReplacesAKilledHelper()
{
    RigResponder responder("ok");
    QVERIFY2(responder.isReady(), responder.error().c_str());
    PingGroupRange range("1 0");
    AsUser nobody;
    QVERIFY(nobody.ok());
    const std::uint64_t started = helperProcessesStarted();
    int error = 0;
    auto handle = SystemEchoService::openPath(EchoPath::Helper, m_grantedHelper, &error);
    QVERIFY2(handle, qPrintable(QString::number(error)));
    QVERIFY(echoTo(*handle, kResponder, 2000).reply);
    for (int round = 0; round < 2; ++round) {
        const std::vector<pid_t> before = childProcesses(m_grantedHelper);
        QCOMPARE(before.size(), std::size_t{1});
        QCOMPARE(::kill(before[0], SIGKILL), 0);
        // Not reaped by anyone yet: gone only from the handle's point of view.
        QVERIFY(QTest::qWaitFor([&] { return childProcesses(m_grantedHelper).empty(); }, 2000));
        const EchoResult r = echoTo(*handle, kResponder, 2000);
        QVERIFY2(r.reply && r.reply->status == StatusSuccess,
                 qPrintable(QStringLiteral("failure %1").arg(int(r.failure))));
        const std::vector<pid_t> after = childProcesses(m_grantedHelper);
        QCOMPARE(after.size(), std::size_t{1});
        QVERIFY(after[0] != before[0]);
    }
    QCOMPARE(helperProcessesStarted(), started + 3);
    QVERIFY(responder.waitForRequests(3, 2000));
    QCOMPARE(responder.requestCount(), std::size_t{3});
}

QTEST_GUILESS_MAIN(TestHelperRig)
#include "tst_helper_rig.moc"
