#include "trace/trace_thread.h"

#include "trace/trace_addresses.h"
#include "trace/trace_text.h"

#include "net/echo.h"
#include "net/resolver.h"

#include <QByteArray>
#include <QMetaObject>
#include <QObject>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace tarnwick::trace {

// What the worker and its queued GUI-thread calls share: those calls may run
// after the worker has been stopped and destroyed.
struct TTraceThread::Shared {
    std::mutex mutex;
    std::condition_variable changed;
    std::uint64_t piecesAppended = 0;
    std::atomic<bool> stopped{false};
};

namespace {
constexpr int kProbeTimeoutMs = 2000;
constexpr int kProbesPerHop = 3;
} // namespace

TTraceThread::TTraceThread(std::uint64_t id, TraceSink sink, std::shared_ptr<net::EchoService> echo,
                           std::shared_ptr<const std::atomic<bool>> showNames, QString host,
                           std::uint8_t maxHops)
    : Host(std::move(host)), MaxHops(maxHops), m_id(id), m_sink(std::move(sink)),
      m_echo(std::move(echo)), m_showNames(std::move(showNames)),
      m_shared(std::make_shared<Shared>())
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
    {
        std::lock_guard lock(m_shared->mutex);
        m_shared->stopped = true;
    }
    m_shared->changed.notify_all();
    m_cancel.cancel();
}

void TTraceThread::join()
{
    if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id())
        m_thread.join();
}

bool TTraceThread::stopping() const
{
    return m_shared->stopped.load();
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
            const auto elapsed =
                std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0);
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
    if (stopping())
        return;
    const std::uint64_t piece = ++m_piecesSent;
    // The text travels as a copy, so a hand-off cut short at exit leaves
    // nothing of the worker's behind for the GUI thread to read.
    QMetaObject::invokeMethod(
        m_sink.context,
        [shared = m_shared, append = m_sink.append, id = m_id, text = OutText, piece] {
            try {
                append(id, text);
            } catch (...) {
                // The worker must never be left waiting because appending failed.
            }
            {
                std::lock_guard lock(shared->mutex);
                shared->piecesAppended = piece;
            }
            shared->changed.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock lock(m_shared->mutex);
    m_shared->changed.wait(
        lock, [&] { return m_shared->piecesAppended >= piece || m_shared->stopped.load(); });
}

std::uint32_t TTraceThread::SendProbe(std::uint8_t hop)
{
    net::EchoRequest request;
    request.destination = DestAddr;
    request.dataSize = 0;
    request.ttl = hop;
    request.timeoutMs = kProbeTimeoutMs;
    const net::EchoResult result = IcmpHandle->echo(request, &m_cancel);
    return result.reply ? result.reply->address : kNoReply;
}

} // namespace tarnwick::trace
