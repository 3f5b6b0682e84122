#include "engine/outage_watch.h"

#include "engine/result_line.h"

#include <algorithm>
#include <tuple>

namespace tarnwick::engine {

Attempt classifyResult(const QString& line)
{
    if (line.contains(kReplyWord))
        return Attempt::Answered;
    if (line == kUnreachableLine)
        return Attempt::Unreachable;
    return Attempt::TimedOut;
}

OutageWatch::OutageWatch(Thresholds thresholds)
{
    setThresholds(thresholds);
}

void OutageWatch::setThresholds(Thresholds thresholds)
{
    thresholds.downAfter = std::clamp(thresholds.downAfter, Thresholds::kMin, Thresholds::kMax);
    thresholds.upAfter = std::clamp(thresholds.upAfter, Thresholds::kMin, Thresholds::kMax);
    m_thresholds = thresholds;
}

void OutageWatch::resetSlot(int slot, const QString& host)
{
    m_slots[slot] = Slot{};
    m_slots[slot].host = host;
}

void OutageWatch::endSlot(int slot, Moment at, WatchOutput& out)
{
    Slot& s = m_slots[slot];
    if (s.state == HostState::Down) {
        Transition t{Transition::HostEnded,     slot,           s.host,           s.downSince,
                     s.hasResult ? s.last : at, s.lostTimedOut, s.lostUnreachable};
        out.transitions.push_back(t);
    }
    resetSlot(slot, s.host);
}

WatchOutput OutageWatch::setHosts(const SlotHosts& hosts, Moment at)
{
    WatchOutput out;
    for (int k = 0; k < kHostSlots; ++k) {
        if (m_slots[k].host == hosts[k])
            continue;
        endSlot(k, at, out);
        resetSlot(k, hosts[k]);
    }
    // Fewer hosts may leave no network to speak of, or only failing ones.
    if (m_networkDown && monitoredCount() == 0) {
        out.transitions.push_back(networkEnd(Transition::NetworkEnded, at));
        m_networkDown = false;
    }
    checkNetwork(at, out);
    return out;
}

int OutageWatch::monitoredCount() const
{
    return static_cast<int>(std::count_if(m_slots.begin(), m_slots.end(),
                                          [](const Slot& s) { return !s.host.isEmpty(); }));
}

bool OutageWatch::allOthersFailing(int slot) const
{
    for (int k = 0; k < kHostSlots; ++k) {
        const Slot& s = m_slots[k];
        if (k == slot || s.host.isEmpty())
            continue;
        // A host not heard from yet may be failing as well.
        if (s.state != HostState::Down && s.hasResult && s.lastAnswered)
            return false;
    }
    return true;
}

bool OutageWatch::allMonitoredDown() const
{
    return std::all_of(m_slots.begin(), m_slots.end(), [](const Slot& s) {
        return s.host.isEmpty() || s.state == HostState::Down;
    });
}

Transition OutageWatch::networkEnd(Transition::Kind kind, Moment at) const
{
    Transition t{kind, -1, {}, m_networkSince, at};
    std::tie(t.timedOut, t.unreachable) = networkLost();
    return t;
}

std::pair<int, int> OutageWatch::networkLost() const
{
    if (!m_networkDown)
        return {0, 0};
    Transition t;
    int before = 0;
    for (const Slot& s : m_slots) {
        if (s.covered && s.state == HostState::Down) {
            t.timedOut += s.lostTimedOut;
            t.unreachable += s.lostUnreachable;
            before += s.lostBeforeNetwork;
        }
    }
    // Losses from before count as time-outs first; the split is not kept.
    const int fromTimedOut = std::min(before, t.timedOut);
    t.timedOut -= fromTimedOut;
    t.unreachable = std::max(0, t.unreachable - (before - fromTimedOut));
    return {t.timedOut, t.unreachable};
}

Notice OutageWatch::downNotice(int slot) const
{
    const Slot& s = m_slots[slot];
    return Notice{Notice::HostDown,   slot, s.host, s.downSince, 0, s.streakTimedOut,
                  s.streakUnreachable};
}

void OutageWatch::releaseHeld(WatchOutput& out)
{
    for (int k = 0; k < kHostSlots; ++k) {
        if (m_slots[k].heldAttempts > 0) {
            m_slots[k].heldAttempts = 0;
            out.notices.push_back(downNotice(k));
        }
    }
}

void OutageWatch::checkNetwork(Moment at, WatchOutput& out)
{
    const bool anyHeld = std::any_of(m_slots.begin(), m_slots.end(),
                                     [](const Slot& s) { return s.heldAttempts > 0; });
    if (m_networkDown || !anyHeld || monitoredCount() < 2 || !allMonitoredDown())
        return;
    // Since the first of the hosts that went down together.
    std::optional<Moment> since;
    for (const Slot& s : m_slots) {
        if (s.heldAttempts > 0 && (!since || s.downSince.steadyMs < since->steadyMs))
            since = s.downSince;
    }
    m_networkDown = true;
    m_networkSince = *since;
    for (Slot& s : m_slots) {
        // The hosts that went down together lost all theirs to the network.
        s.lostBeforeNetwork = s.heldAttempts > 0 ? 0 : s.lostTimedOut + s.lostUnreachable;
        s.heldAttempts = 0;
        s.covered = !s.host.isEmpty();
        s.coveredAttempts = 0;
    }
    out.transitions.push_back({Transition::NetworkDown, -1, {}, m_networkSince, at});
    out.notices.push_back({Notice::NetworkDown, -1, {}, m_networkSince});
}

WatchOutput OutageWatch::record(int slot, const QString& line, Moment at, int timeoutMs)
{
    WatchOutput out;
    if (slot < 0 || slot >= kHostSlots || m_slots[slot].host.isEmpty() || m_asleep)
        return out;
    Slot& s = m_slots[slot];
    const Attempt attempt = classifyResult(line);
    const bool answered = attempt == Attempt::Answered;
    // Waking up: the network is not back at once, and that is no outage.
    if (m_settleUntil && at.steadyMs < *m_settleUntil && !answered)
        return out;

    // A timed-out attempt began a time-out earlier, but never before the
    // result in front of it.
    Moment began = at;
    if (attempt == Attempt::TimedOut) {
        began.wallMs -= timeoutMs;
        began.steadyMs -= timeoutMs;
        if (s.hasResult && began.steadyMs < s.last.steadyMs)
            began = s.last;
    }
    s.hasResult = true;
    s.lastAnswered = answered;
    s.last = at;

    if (answered) {
        // An answer proves the network is there: held notices go out.
        if (!m_networkDown)
            releaseHeld(out);
        s.failStreak = s.streakTimedOut = s.streakUnreachable = 0;
        if (s.answerStreak++ == 0)
            s.answerStart = at;
        const bool recovers = s.state == HostState::Down && s.answerStreak >= m_thresholds.upAfter;
        if (s.state == HostState::Unknown && s.answerStreak >= m_thresholds.upAfter)
            s.state = HostState::Up;
        if (recovers) {
            const qint64 downMs = s.answerStart.steadyMs - s.downSince.steadyMs;
            if (m_networkDown) {
                // The first host back ends the network outage.
                out.transitions.push_back(networkEnd(Transition::NetworkUp, s.answerStart));
                m_networkDown = false;
                out.notices.push_back({Notice::NetworkUp,
                                       -1,
                                       {},
                                       m_networkSince,
                                       s.answerStart.steadyMs - m_networkSince.steadyMs});
            } else if (!s.covered) {
                out.notices.push_back({Notice::HostUp, slot, s.host, s.downSince, downMs});
            }
            s.state = HostState::Up;
            s.covered = false;
            out.transitions.push_back({Transition::HostUp, slot, s.host, s.downSince, s.answerStart,
                                       s.lostTimedOut, s.lostUnreachable});
        }
    } else {
        s.answerStreak = 0;
        if (s.failStreak++ == 0) {
            s.failStart = began;
        }
        (attempt == Attempt::TimedOut ? s.streakTimedOut : s.streakUnreachable)++;
        if (s.state == HostState::Down) {
            (attempt == Attempt::TimedOut ? s.lostTimedOut : s.lostUnreachable)++;
        } else if (s.failStreak >= m_thresholds.downAfter) {
            s.state = HostState::Down;
            s.downSince = s.failStart;
            s.lostTimedOut = s.streakTimedOut;
            s.lostUnreachable = s.streakUnreachable;
            out.transitions.push_back({Transition::HostDown, slot, s.host, s.downSince, at,
                                       s.lostTimedOut, s.lostUnreachable});
            if (m_networkDown)
                s.covered = true;
            else if (monitoredCount() >= 2 && allOthersFailing(slot))
                s.heldAttempts = m_thresholds.downAfter;
            else
                out.notices.push_back(downNotice(slot));
            checkNetwork(at, out);
            return out;
        }
        if (s.heldAttempts > 0 && --s.heldAttempts == 0)
            out.notices.push_back(downNotice(slot));
    }

    // After the network came back: a host still down a few attempts later
    // is down on its own, and says so.
    if (!m_networkDown && s.covered && s.state == HostState::Down &&
        ++s.coveredAttempts >= m_thresholds.downAfter + m_thresholds.upAfter) {
        s.covered = false;
        out.notices.push_back(downNotice(slot));
    }
    return out;
}

WatchOutput OutageWatch::stop(Moment at)
{
    WatchOutput out;
    if (m_networkDown)
        out.transitions.push_back(networkEnd(Transition::NetworkEnded, at));
    m_networkDown = false;
    for (int k = 0; k < kHostSlots; ++k)
        endSlot(k, at, out);
    m_settleUntil.reset();
    return out;
}

WatchOutput OutageWatch::sleepStarted(Moment at)
{
    if (!m_asleep) {
        m_asleep = true;
        m_sleepStart = at;
    }
    return {};
}

WatchOutput OutageWatch::resumed(Moment at)
{
    WatchOutput out;
    const Moment from = m_asleep ? m_sleepStart : at;
    m_asleep = false;
    out.transitions.push_back({Transition::Gap, -1, {}, from, at});
    // Streaks do not carry across the sleep; a host down before it stays down.
    for (Slot& s : m_slots) {
        s.failStreak = s.answerStreak = s.streakTimedOut = s.streakUnreachable = 0;
        s.hasResult = false;
    }
    m_settleUntil = at.steadyMs + kResumeSettleMs;
    return out;
}

} // namespace tarnwick::engine
