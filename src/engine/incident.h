#pragma once

#include "engine/outage_watch.h"

#include <QList>
#include <QString>

#include <array>
#include <cstdint>
#include <deque>
#include <optional>
#include <utility>
#include <vector>

namespace tarnwick::engine {

// A span that was not measured (the computer slept), in wall-clock time.
struct Gap {
    qint64 fromWallMs = 0;
    qint64 toWallMs = 0;
    friend bool operator==(const Gap&, const Gap&) = default;
};

// One entry of the ledger: a host's down-to-up span, the whole network's, or
// a span that was not measured at all.
struct Incident {
    enum class Scope { Host, Network, NotMeasured };
    // How it ended. Ongoing: not yet; Answered: the host (or a host) answered
    // again; Stopped: monitoring stopped or the host left the list;
    // Unknown: the program ended without saying (a crash).
    enum class End { Ongoing, Answered, Stopped, Unknown };

    std::uint64_t id = 0;
    Scope scope = Scope::Host;
    QString host; // the whole network: its hosts, comma-separated
    qint64 startWallMs = 0;
    qint64 endWallMs = 0; // the last moment known while ongoing
    qint64 measuredMs = 0;
    End end = End::Ongoing;
    int timedOut = 0;
    int unreachable = 0;
    std::optional<int> worstRttMs;
    QList<Gap> gaps;
    QString route;

    int lost() const { return timedOut + unreachable; }
    bool ongoing() const { return end == End::Ongoing; }
    friend bool operator==(const Incident&, const Incident&) = default;
};

// The incidents, built from the watch's transitions and the round trips of
// answered results. Every change of an incident is reported through
// changed(), which the ledger file turns into one appended record.
class IncidentBook {
public:
    // The worst round trip is taken within this much before and after.
    static constexpr qint64 kAroundMs = 5 * 60 * 1000;

    // Incidents read back from the ledger; any left ongoing belong to a run
    // that ended without closing them.
    explicit IncidentBook(std::vector<Incident> loaded = {});

    // Each returns the ids of the incidents it changed.
    std::vector<std::uint64_t> apply(const Transition& t);
    std::vector<std::uint64_t> answered(int slot, int rttMs, Moment at);
    // The worst round trip of incidents that ended kAroundMs ago is final.
    std::vector<std::uint64_t> tick(Moment now);
    std::vector<std::uint64_t> attachRoute(std::uint64_t id, const QString& route);
    // The requests an open incident has lost so far, for the eye only: the
    // file gets them with the incident's next record.
    void setLost(std::uint64_t id, std::pair<int, int> lost);
    std::uint64_t openNetworkIncident() const { return m_network; }

    const std::vector<Incident>& incidents() const { return m_incidents; }
    const Incident* find(std::uint64_t id) const;
    // The ongoing incident of a slot (0 when none).
    std::uint64_t openIncident(int slot) const;
    // Ids of incidents closed by the constructor (ongoing in a run that ended).
    const std::vector<std::uint64_t>& closedAtLoad() const { return m_closedAtLoad; }

    // Oldest dropped until at most maxCount remain.
    void dropOldest(std::size_t maxCount);

private:
    struct Sample {
        qint64 steadyMs;
        int rtt;
        int slot;
    };
    // Incidents that still collect round trips: open, or ended less than
    // kAroundMs ago.
    struct Watching {
        std::uint64_t id;
        int slot; // -1: every slot
        qint64 startSteadyMs;
        std::optional<qint64> endSteadyMs;
    };

    Incident* get(std::uint64_t id);
    std::uint64_t begin(Incident::Scope scope, int slot, const QString& host, Moment since);
    void finish(std::uint64_t id, Moment since, Moment at, Incident::End end, int timedOut,
                int unreachable);
    std::optional<int> worstSince(int slot, qint64 fromSteadyMs) const;

    std::vector<Incident> m_incidents;
    std::uint64_t m_nextId = 1;
    std::array<std::uint64_t, kHostSlots> m_open{};
    std::uint64_t m_network = 0;
    std::array<QString, kHostSlots> m_hosts;
    std::deque<Sample> m_samples;
    std::vector<Watching> m_watching;
    std::vector<std::uint64_t> m_closedAtLoad;
};

} // namespace tarnwick::engine
