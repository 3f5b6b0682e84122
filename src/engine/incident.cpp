#include "engine/incident.h"

#include <algorithm>
#include <tuple>

namespace tarnwick::engine {

IncidentBook::IncidentBook(std::vector<Incident> loaded) : m_incidents(std::move(loaded))
{
    for (Incident& incident : m_incidents) {
        m_nextId = std::max(m_nextId, incident.id + 1);
        if (incident.ongoing()) {
            incident.end = Incident::End::Unknown;
            m_closedAtLoad.push_back(incident.id);
        }
    }
}

Incident* IncidentBook::get(std::uint64_t id)
{
    for (Incident& incident : m_incidents) {
        if (incident.id == id)
            return &incident;
    }
    return nullptr;
}

const Incident* IncidentBook::find(std::uint64_t id) const
{
    return const_cast<IncidentBook*>(this)->get(id);
}

std::uint64_t IncidentBook::openIncident(int slot) const
{
    return slot >= 0 && slot < kHostSlots ? m_open[slot] : 0;
}

std::optional<int> IncidentBook::worstSince(int slot, qint64 fromSteadyMs) const
{
    std::optional<int> worst;
    for (const Sample& s : m_samples) {
        if (s.steadyMs >= fromSteadyMs && (slot < 0 || s.slot == slot))
            worst = std::max(worst.value_or(s.rtt), s.rtt);
    }
    return worst;
}

std::uint64_t IncidentBook::begin(Incident::Scope scope, int slot, const QString& host,
                                  Moment since)
{
    Incident incident;
    incident.id = m_nextId++;
    incident.scope = scope;
    incident.host = host;
    incident.startWallMs = since.wallMs;
    incident.endWallMs = since.wallMs;
    incident.worstRttMs = worstSince(slot, since.steadyMs - kAroundMs);
    m_incidents.push_back(incident);
    m_watching.push_back({incident.id, slot, since.steadyMs, std::nullopt});
    return incident.id;
}

void IncidentBook::finish(std::uint64_t id, Moment since, Moment at, Incident::End end,
                          int timedOut, int unreachable)
{
    Incident* incident = get(id);
    if (!incident)
        return;
    incident->end = end;
    incident->endWallMs = at.wallMs;
    incident->measuredMs = std::max<qint64>(0, at.steadyMs - since.steadyMs);
    incident->timedOut = timedOut;
    incident->unreachable = unreachable;
    for (Watching& w : m_watching) {
        if (w.id == id)
            w.endSteadyMs = at.steadyMs;
    }
}

std::vector<std::uint64_t> IncidentBook::apply(const Transition& t)
{
    std::vector<std::uint64_t> changed;
    const bool hostSlot = t.slot >= 0 && t.slot < kHostSlots;
    switch (t.kind) {
    case Transition::HostDown:
        if (!hostSlot)
            break;
        m_hosts[t.slot] = t.host;
        m_open[t.slot] = begin(Incident::Scope::Host, t.slot, t.host, t.since);
        if (Incident* incident = get(m_open[t.slot])) {
            incident->timedOut = t.timedOut;
            incident->unreachable = t.unreachable;
            incident->endWallMs = t.at.wallMs;
            incident->measuredMs = t.at.steadyMs - t.since.steadyMs;
        }
        changed.push_back(m_open[t.slot]);
        break;
    case Transition::HostUp:
    case Transition::HostEnded:
        if (!hostSlot || !m_open[t.slot])
            break;
        finish(m_open[t.slot], t.since, t.at,
               t.kind == Transition::HostUp ? Incident::End::Answered : Incident::End::Stopped,
               t.timedOut, t.unreachable);
        changed.push_back(m_open[t.slot]);
        m_open[t.slot] = 0;
        break;
    case Transition::NetworkDown: {
        QStringList hosts;
        for (int k = 0; k < kHostSlots; ++k) {
            if (m_open[k])
                hosts << m_hosts[k];
        }
        m_network = begin(Incident::Scope::Network, -1, hosts.join(QStringLiteral(", ")), t.since);
        if (Incident* incident = get(m_network)) {
            incident->endWallMs = t.at.wallMs;
            incident->measuredMs = t.at.steadyMs - t.since.steadyMs;
        }
        changed.push_back(m_network);
        break;
    }
    case Transition::NetworkUp:
    case Transition::NetworkEnded:
        if (!m_network)
            break;
        finish(m_network, t.since, t.at,
               t.kind == Transition::NetworkUp ? Incident::End::Answered : Incident::End::Stopped,
               t.timedOut, t.unreachable);
        changed.push_back(m_network);
        m_network = 0;
        break;
    case Transition::Gap: {
        if (t.at.wallMs <= t.since.wallMs && t.at.steadyMs <= t.since.steadyMs)
            break;
        const Gap gap{t.since.wallMs, t.at.wallMs};
        for (const Watching& w : m_watching) {
            Incident* incident = get(w.id);
            if (incident && incident->ongoing()) {
                incident->gaps << gap;
                changed.push_back(w.id);
            }
        }
        Incident blank;
        blank.id = m_nextId++;
        blank.scope = Incident::Scope::NotMeasured;
        blank.startWallMs = gap.fromWallMs;
        blank.endWallMs = gap.toWallMs;
        blank.end = Incident::End::Answered;
        blank.gaps << gap;
        m_incidents.push_back(blank);
        changed.push_back(blank.id);
        break;
    }
    }
    return changed;
}

std::vector<std::uint64_t> IncidentBook::answered(int slot, int rttMs, Moment at)
{
    std::vector<std::uint64_t> changed;
    m_samples.push_back({at.steadyMs, rttMs, slot});
    while (!m_samples.empty() && m_samples.front().steadyMs < at.steadyMs - kAroundMs)
        m_samples.pop_front();
    for (const Watching& w : m_watching) {
        if (w.slot >= 0 && w.slot != slot)
            continue;
        Incident* incident = get(w.id);
        if (!incident || (incident->worstRttMs && *incident->worstRttMs >= rttMs))
            continue;
        incident->worstRttMs = rttMs;
        // While open the next record carries it; after the end it is written
        // once the window closes.
        if (incident->ongoing())
            changed.push_back(w.id);
    }
    return changed;
}

std::vector<std::uint64_t> IncidentBook::tick(Moment now)
{
    std::vector<std::uint64_t> finished;
    for (const Watching& w : m_watching) {
        Incident* incident = get(w.id);
        if (incident && incident->ongoing()) {
            incident->endWallMs = now.wallMs;
            incident->measuredMs = std::max<qint64>(0, now.steadyMs - w.startSteadyMs);
        }
        if (w.endSteadyMs && now.steadyMs - *w.endSteadyMs >= kAroundMs)
            finished.push_back(w.id);
    }
    std::erase_if(m_watching, [&](const Watching& w) {
        return std::find(finished.begin(), finished.end(), w.id) != finished.end();
    });
    return finished;
}

void IncidentBook::setLost(std::uint64_t id, std::pair<int, int> lost)
{
    Incident* incident = get(id);
    if (incident && incident->ongoing())
        std::tie(incident->timedOut, incident->unreachable) = lost;
}

std::vector<std::uint64_t> IncidentBook::attachRoute(std::uint64_t id, const QString& route)
{
    Incident* incident = get(id);
    if (!incident)
        return {};
    incident->route = route;
    return {id};
}

void IncidentBook::dropOldest(std::size_t maxCount)
{
    if (m_incidents.size() <= maxCount)
        return;
    std::vector<Incident> kept = m_incidents;
    std::stable_sort(kept.begin(), kept.end(), [](const Incident& a, const Incident& b) {
        return a.startWallMs > b.startWallMs;
    });
    // Never an open one: its later records would have nothing to update.
    std::vector<Incident> result;
    for (const Incident& incident : kept) {
        if (result.size() < maxCount || incident.ongoing())
            result.push_back(incident);
    }
    std::stable_sort(result.begin(), result.end(),
                     [](const Incident& a, const Incident& b) { return a.id < b.id; });
    m_incidents = std::move(result);
}

} // namespace tarnwick::engine
