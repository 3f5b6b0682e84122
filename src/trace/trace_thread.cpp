#include "trace/trace_thread.h"

#include "platform/net/echo.h"
#include "platform/net/resolver.h"
#include "trace/trace_addresses.h"
#include "trace/trace_text.h"

#include <QByteArray>
#include <QMetaObject>
#include <QObject>

#include <algorithm>
#include <cerrno>
#include <chrono>

namespace tarnwick::trace {

namespace {
constexpr int kProbeTimeoutMs = 2000;
constexpr int kProbesPerHop = 3;
} // namespace

TTraceThread::TTraceThread(std::uint64_t id, TraceSink sink, std::shared_ptr<net::EchoService> echo,
                           std::shared_ptr<const std::atomic<bool>> showNames, QString host,
                           std::uint8_t maxHops)
    : Host(std::move(host)), MaxHops(maxHops), m_id(id), m_sink(std::move(sink)),
      m_echo(std::move(echo)), m_showNames(std::move(showNames)), m_handover(m_sink.context)
{
}

TTraceThread::~TTraceThread()
{
    stop();
    join();
}

void TTraceThread::start()
{
    m_thread = std::thread([this] {
        try {
            Execute();
        } catch (...) {
            // Output simply stops; the handle is closed and the end reported below.
        }
        IcmpHandle.reset();
        QMetaObject::invokeMethod(
            m_sink.context, [ended = m_sink.ended, id = m_id] { ended(id); }, Qt::QueuedConnection);
    });
}

void TTraceThread::stop()
{
    m_handover.cancel();
    m_cancel.cancel();
}

void TTraceThread::join()
{
    if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id())
        m_thread.join();
}

bool TTraceThread::stopping() const
{
    return m_handover.isCancelled();
}

void TTraceThread::Execute()
{
    const net::LookupResult lookup = net::resolveIPv4(Host.toLocal8Bit().toStdString(), &m_cancel);
    if (stopping())
        return;
    if (!lookup.address) {
        OutText = QString::fromLocal8Bit(lookup.errorText.data(),
                                         static_cast<qsizetype>(lookup.errorText.size()));
        ShowOutput();
        return;
    }
    DestAddr = *lookup.address;

    IcmpHandle = m_echo->open();
    if (IcmpHandle->path() == net::EchoPath::Unavailable) {
        OutText = QString::fromStdString(net::errnoText(EPERM));
        ShowOutput();
        return;
    }

    OutText = tracingRouteLine(Host, DestAddr);
    ShowOutput();
    OutText = maximumHopsLine(MaxHops);
    ShowOutput();

    std::uint8_t hop = 0;
    std::uint32_t lastReply = 0;
    while (lastReply != DestAddr && hop < MaxHops) {
        ++hop;
        bool gotReply = false;
        for (int probe = 0; probe < kProbesPerHop; ++probe) {
            if (stopping())
                return;
            using Clock = std::chrono::steady_clock;
            const auto t0 = Clock::now();
            const std::uint32_t r = SendProbe(hop);
            // The whole call is timed, less what the echo layer held the
            // request back before sending it (the helper paces its sends).
            const auto took = Clock::now() - t0;
            const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::max<Clock::duration>(took - m_probeHeld, Clock::duration::zero()));
            if (stopping())
                return;
            std::optional<int> shown;
            if (r != kNoReply) {
                shown = static_cast<int>(elapsed.count());
                gotReply = true;
                lastReply = r;
            }
            OutText = probeColumn(hop, probe, shown);
            ShowOutput();
        }
        if (gotReply) {
            // Read once per hop: a change during the trace counts from the next hop.
            const bool withNames = m_showNames && m_showNames->load();
            const QString addressText = FormatIPv4(lastReply);
            QString name = addressText;
            if (withNames) {
                try {
                    name = ResolveAddressName(addressText, &m_cancel);
                } catch (...) {
                    name = addressText;
                }
                if (stopping())
                    return;
            }
            OutText = repliedHopEnd(addressText, withNames, name);
        } else {
            OutText = silentHopEnd();
        }
        ShowOutput();
    }
    IcmpHandle.reset();
    OutText = traceCompleteLine();
    ShowOutput();
}

void TTraceThread::ShowOutput()
{
    // The text travels as a copy, so a hand-off cut short at exit leaves
    // nothing of the worker's behind for the GUI thread to read.
    m_handover.call([append = m_sink.append, id = m_id, text = OutText] { append(id, text); });
}

std::uint32_t TTraceThread::SendProbe(std::uint8_t hop)
{
    net::EchoRequest request;
    request.destination = DestAddr;
    request.dataSize = 0;
    request.ttl = hop;
    request.timeoutMs = kProbeTimeoutMs;
    const net::EchoResult result = IcmpHandle->echo(request, &m_cancel);
    m_probeHeld = std::chrono::microseconds(result.heldUs);
    return result.reply ? result.reply->address : kNoReply;
}

} // namespace tarnwick::trace
