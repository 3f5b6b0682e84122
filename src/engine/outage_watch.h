#pragma once

#include <QString>

#include <array>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace tarnwick::engine {

// A point in time twice over: the wall clock for what the user reads, and a
// steady clock (milliseconds, stands still while the computer sleeps and never
// jumps) for every duration.
struct Moment {
    qint64 wallMs = 0;   // since 1970-01-01 UTC
    qint64 steadyMs = 0; // any origin
    friend bool operator==(const Moment&, const Moment&) = default;
};

class MomentClock {
public:
    virtual ~MomentClock() = default;
    virtual Moment now() const = 0;
};

// What one recorded result line says. A failed attempt is a time-out or an
// unreachable host, and the two stay told apart. Lines are read with the
// statistics' rule ("Reply" anywhere answers), so the state never disagrees
// with the log.
enum class Attempt { Answered, TimedOut, Unreachable };
Attempt classifyResult(const QString& line);

// Down after `downAfter` failed attempts in a row, up again after `upAfter`
// answered ones in a row.
struct Thresholds {
    int downAfter = 3;
    int upAfter = 2;
    static constexpr int kMin = 1;
    static constexpr int kMax = 50;
    friend bool operator==(const Thresholds&, const Thresholds&) = default;
};

inline constexpr int kHostSlots = 5;
using SlotHosts = std::array<QString, kHostSlots>;

enum class HostState { Unknown, Up, Down };

// A change the ledger keeps. Host changes carry their slot; network changes
// slot -1; a gap is a span that was not measured (the computer slept).
struct Transition {
    enum Kind { HostDown, HostUp, HostEnded, NetworkDown, NetworkUp, NetworkEnded, Gap } kind;
    int slot = -1;
    QString host;
    Moment since;     // down: first failed attempt; gap: its start
    Moment at;        // up: first answer of the streak; ended: last result; gap: its end
    int timedOut = 0; // requests lost (network: by every host while it was down)
    int unreachable = 0;
    friend bool operator==(const Transition&, const Transition&) = default;
};

// What the user is told: one notice per transition, but one for the whole
// network instead of one per host.
struct Notice {
    enum Kind { HostDown, HostUp, NetworkDown, NetworkUp } kind;
    int slot = -1; // -1: the whole network
    QString host;
    Moment since;
    qint64 durationMs = 0; // up: measured time down
    int timedOut = 0;      // down: the failures that made it down
    int unreachable = 0;
    friend bool operator==(const Notice&, const Notice&) = default;
};

struct WatchOutput {
    std::vector<Transition> transitions;
    std::vector<Notice> notices;
};

// The debounced state of the five host slots and the whole-network rule, on
// plain results and given moments (no clock, no timer of its own).
//
// Whole network: a host that goes down while every other monitored host is
// failing too has its notice held for a few attempts. If all of them go down
// within those attempts, one network notice goes out instead; any answer, or
// the end of the attempts, releases the held notices. Recovery likewise: the
// first host up again ends the network outage with one notice, and hosts that
// follow within a few attempts say nothing; one still down after them gets a
// notice of its own.
//
// Sleep: results between sleepStarted() and resumed() do not count, nor do
// failures in the first kResumeSettleMs after waking (the network needs a
// moment to come back); the span goes to the ledger as not measured.
class OutageWatch {
public:
    static constexpr qint64 kResumeSettleMs = 20000;

    explicit OutageWatch(Thresholds thresholds = {});

    void setThresholds(Thresholds thresholds);
    Thresholds thresholds() const { return m_thresholds; }

    // The hosts the slots monitor now (empty: none). A slot whose host
    // changes or goes ends its state (an outage ends unmeasured).
    WatchOutput setHosts(const SlotHosts& hosts, Moment at);

    // One result line recorded for slot. timeoutMs is the time-out the
    // attempt waited, so that a timed-out attempt counts from when it began.
    WatchOutput record(int slot, const QString& line, Moment at, int timeoutMs);

    // Monitoring switched off (or the program ends): every state ends.
    WatchOutput stop(Moment at);

    WatchOutput sleepStarted(Moment at);
    WatchOutput resumed(Moment at);

    HostState state(int slot) const { return m_slots.at(slot).state; }
    // Requests a down host has lost so far: timed out, unreachable.
    std::pair<int, int> lost(int slot) const
    {
        return {m_slots.at(slot).lostTimedOut, m_slots.at(slot).lostUnreachable};
    }
    bool networkDown() const { return m_networkDown; }
    // What the hosts lost since the network went down.
    std::pair<int, int> networkLost() const;

private:
    struct Slot {
        QString host;
        HostState state = HostState::Unknown;
        bool hasResult = false;
        bool lastAnswered = false;
        Moment last;
        int failStreak = 0;
        int answerStreak = 0;
        int streakTimedOut = 0;
        int streakUnreachable = 0;
        Moment failStart;
        Moment answerStart;
        // While down: since when, and every failure since.
        Moment downSince;
        int lostTimedOut = 0;
        int lostUnreachable = 0;
        // Down notice held for the network rule: attempts left.
        int heldAttempts = 0;
        // Down when the network went down; the network's notices speak for
        // it for a few attempts after it came back.
        bool covered = false;
        int coveredAttempts = 0;
        // What it had lost before the network went down (not the network's).
        int lostBeforeNetwork = 0;
    };

    void resetSlot(int slot, const QString& host);
    void endSlot(int slot, Moment at, WatchOutput& out);
    int monitoredCount() const;
    bool allOthersFailing(int slot) const;
    bool allMonitoredDown() const;
    void releaseHeld(WatchOutput& out);
    void checkNetwork(Moment at, WatchOutput& out);
    Notice downNotice(int slot) const;
    Transition networkEnd(Transition::Kind kind, Moment at) const;

    Thresholds m_thresholds;
    std::array<Slot, kHostSlots> m_slots;
    bool m_networkDown = false;
    Moment m_networkSince;
    bool m_asleep = false;
    Moment m_sleepStart;
    std::optional<qint64> m_settleUntil;
};

} // namespace tarnwick::engine
