#include "engine/incident_monitor.h"

#include "core/timer_backend.h"
#include "engine/incident_text.h"
#include "engine/slot_stats.h"

#include <QDateTime>

#include <algorithm>
#include <chrono>

namespace tarnwick::engine {

Moment SystemMomentClock::now() const
{
    using namespace std::chrono;
    const auto steady = duration_cast<milliseconds>(steady_clock::now().time_since_epoch());
    return Moment{QDateTime::currentMSecsSinceEpoch(), steady.count()};
}

IncidentMonitor::IncidentMonitor(Dependencies deps, QObject* parent)
    : QObject(parent), m_deps(std::move(deps)), m_watch(m_deps.thresholds),
      m_book(std::move(m_deps.loaded)), m_noticesOn(m_deps.noticesOn), m_bytes(m_deps.loadedBytes),
      m_compactAbove(m_deps.capBytes)
{
    Q_ASSERT(m_deps.clock);
    // Left open by a run that ended without closing them.
    write(m_book.closedAtLoad());
    m_tick = std::make_unique<core::Timer>([this] { tick(); });
    m_tick->setInterval(1000);
    m_tick->start();
}

IncidentMonitor::~IncidentMonitor() = default;

void IncidentMonitor::take(const WatchOutput& out)
{
    for (const Transition& t : out.transitions) {
        write(m_book.apply(t));
        if (t.kind == Transition::HostDown && m_deps.snapshotRoute) {
            if (const std::uint64_t id = m_book.openIncident(t.slot))
                m_deps.snapshotRoute(id, t.host);
        }
    }
    if (m_noticesOn && m_deps.notify) {
        for (const Notice& notice : out.notices)
            m_deps.notify(notice);
    }
}

void IncidentMonitor::write(const std::vector<std::uint64_t>& ids)
{
    for (const std::uint64_t id : ids) {
        const Incident* incident = m_book.find(id);
        if (!incident)
            continue;
        const QByteArray record = ledgerRecord(*incident);
        if (m_deps.append)
            m_deps.append(record);
        m_bytes += record.size() + 1;
        emit incidentChanged(id);
    }
    if (m_bytes > m_compactAbove)
        compact();
}

void IncidentMonitor::compact()
{
    // Newest first until three quarters of the cap are used, so that the
    // file is not rewritten again at the next record.
    std::vector<const Incident*> newest;
    for (const Incident& incident : m_book.incidents())
        newest.push_back(&incident);
    std::stable_sort(newest.begin(), newest.end(), [](const Incident* a, const Incident* b) {
        return a->startWallMs > b->startWallMs;
    });
    qint64 budget = m_deps.capBytes * 3 / 4;
    std::size_t keep = 0;
    for (const Incident* incident : newest) {
        budget -= ledgerRecord(*incident).size() + 1;
        if (budget < 0)
            break;
        ++keep;
    }
    m_book.dropOldest(keep);
    QList<QByteArray> records;
    m_bytes = 0;
    for (const Incident& incident : m_book.incidents()) {
        records << ledgerRecord(incident);
        m_bytes += records.back().size() + 1;
    }
    if (m_deps.replace)
        m_deps.replace(records);
    // What must stay (the open incidents) may still be over the cap: the
    // file is not rewritten again until it has grown by a quarter more.
    m_compactAbove = std::max(m_deps.capBytes, m_bytes + m_deps.capBytes / 4);
    emit incidentsReplaced();
}

void IncidentMonitor::syncHosts(Moment now)
{
    SlotHosts hosts = m_deps.hosts ? m_deps.hosts() : SlotHosts{};
    // No host name is that long; a longer entry is named by its start, so
    // that one odd line in the host list cannot make every record huge.
    for (QString& host : hosts) {
        if (host.size() > kMaxHostChars)
            host.truncate(kMaxHostChars);
    }
    if (hosts != m_hosts) {
        m_hosts = hosts;
        take(m_watch.setHosts(hosts, now));
    }
}

void IncidentMonitor::resultRecorded(int slot, const QString& line)
{
    if (m_finished)
        return;
    const Moment now = m_deps.clock->now();
    m_wasRunning = true;
    syncHosts(now);
    take(m_watch.record(slot, line, now, m_deps.timeoutMs ? m_deps.timeoutMs() : 0));
    if (slot >= 0 && slot < kHostSlots)
        m_book.setLost(m_book.openIncident(slot), m_watch.lost(slot));
    m_book.setLost(m_book.openNetworkIncident(), m_watch.networkLost());
    if (classifyResult(line) == Attempt::Answered) {
        if (const std::optional<std::int32_t> rtt = parseRoundTrip(line))
            write(m_book.answered(slot, *rtt, now));
    }
}

void IncidentMonitor::sleepStarted()
{
    m_asleep = true;
    take(m_watch.sleepStarted(m_deps.clock->now()));
}

void IncidentMonitor::resumed()
{
    const Moment now = m_deps.clock->now();
    m_asleep = false;
    m_resumedSteadyMs = now.steadyMs;
    m_lastTick = now;
    take(m_watch.resumed(now));
}

void IncidentMonitor::routeTaken(std::uint64_t id, const QString& route)
{
    write(m_book.attachRoute(id, route));
}

void IncidentMonitor::setThresholds(Thresholds thresholds)
{
    m_watch.setThresholds(thresholds);
}

void IncidentMonitor::tick()
{
    if (m_finished)
        return;
    const Moment now = m_deps.clock->now();
    // The wall clock ran on while the steady one stood still: the computer
    // slept and nothing said so (or the session's signal comes late).
    if (m_lastTick && !m_asleep) {
        const qint64 jump =
            (now.wallMs - m_lastTick->wallMs) - (now.steadyMs - m_lastTick->steadyMs);
        const bool announced = m_resumedSteadyMs && now.steadyMs - *m_resumedSteadyMs < kJumpMs * 2;
        if (jump > kJumpMs && !announced) {
            take(m_watch.sleepStarted(*m_lastTick));
            take(m_watch.resumed(now));
        }
    }
    m_lastTick = now;

    const bool running = m_deps.running ? m_deps.running() : true;
    if (m_wasRunning && !running)
        take(m_watch.stop(now));
    m_wasRunning = running;
    syncHosts(now);
    // Worst round trips now final go to the file once more.
    write(m_book.tick(now));
    emit incidentsTicked();
}

void IncidentMonitor::finish()
{
    if (m_finished)
        return;
    take(m_watch.stop(m_deps.clock->now()));
    m_finished = true;
    m_tick.reset();
}

} // namespace tarnwick::engine
