#pragma once

#include "engine/incident.h"
#include "engine/outage_watch.h"

#include <QByteArray>
#include <QList>
#include <QObject>

#include <functional>
#include <memory>
#include <optional>

namespace tarnwick::core {
class Timer;
}

namespace tarnwick::engine {

// The wall clock and the steady clock of the machine (the steady one stands
// still while the computer sleeps).
class SystemMomentClock final : public MomentClock {
public:
    Moment now() const override;
};

// Turns recorded results into host states, notices and ledger records, on the
// GUI thread. Everything it needs from the rest of the program comes through
// its dependencies; it owns one 1 s tick (on the timer backend) for what
// results do not bring: monitoring stopped, hosts changed, a clock that
// jumped, worst round trips that became final.
class IncidentMonitor : public QObject {
    Q_OBJECT
public:
    struct Dependencies {
        const MomentClock* clock = nullptr;
        // The hosts of the five slots now, and whether monitoring runs.
        std::function<SlotHosts()> hosts;
        std::function<bool()> running;
        std::function<int()> timeoutMs;
        // A notice to show (only while notices are switched on).
        std::function<void(const Notice&)> notify;
        // The ledger file: one record appended, or all of them replaced.
        std::function<void(const QByteArray& record)> append;
        std::function<void(const QList<QByteArray>& records)> replace;
        // One route snapshot for an incident that just began; its text comes
        // back through routeTaken().
        std::function<void(std::uint64_t id, const QString& host)> snapshotRoute;
        // What the ledger file held at start, and its size.
        std::vector<Incident> loaded;
        qint64 loadedBytes = 0;
        qint64 capBytes = 512 * 1024;
        Thresholds thresholds;
        bool noticesOn = false;
    };

    // A forward jump of the wall clock against the steady one larger than
    // this, between two ticks, is taken for a sleep nobody announced.
    static constexpr qint64 kJumpMs = 5000;
    // The most of a host entry kept in an incident.
    static constexpr qsizetype kMaxHostChars = 255;

    explicit IncidentMonitor(Dependencies deps, QObject* parent = nullptr);
    ~IncidentMonitor() override;

    // A result line as the log recorded it.
    void resultRecorded(int slot, const QString& line);
    // From the session's sleep signal.
    void sleepStarted();
    void resumed();
    void routeTaken(std::uint64_t id, const QString& route);

    void setThresholds(Thresholds thresholds);
    Thresholds thresholds() const { return m_watch.thresholds(); }
    void setNoticesOn(bool on) { m_noticesOn = on; }
    bool noticesOn() const { return m_noticesOn; }

    // The program ends: open incidents end here and are written.
    void finish();
    // Runs what the 1 s tick runs (tests call it too).
    void tick();

    const IncidentBook& book() const { return m_book; }
    const OutageWatch& watch() const { return m_watch; }

signals:
    // An incident was added or changed (also while open, once a second).
    void incidentChanged(quint64 id);
    void incidentsTicked();
    // Old incidents were dropped to keep the ledger within its cap.
    void incidentsReplaced();

private:
    void take(const WatchOutput& out);
    void write(const std::vector<std::uint64_t>& ids);
    void compact();
    void syncHosts(Moment now);

    Dependencies m_deps;
    OutageWatch m_watch;
    IncidentBook m_book;
    std::unique_ptr<core::Timer> m_tick;
    bool m_noticesOn = false;
    bool m_wasRunning = false;
    bool m_finished = false;
    SlotHosts m_hosts;
    qint64 m_bytes = 0;
    qint64 m_compactAbove = 0;
    std::optional<Moment> m_lastTick;
    bool m_asleep = false;
    std::optional<qint64> m_resumedSteadyMs;
};

} // namespace tarnwick::engine
