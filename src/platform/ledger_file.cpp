#include "platform/ledger_file.h"

#include "core/app_error.h"
#include "platform/files.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnwick::platform {

namespace {
// So many records wait at most for a disk that takes nothing; older ones go.
constexpr std::size_t kMaxPending = 4096;
} // namespace

LedgerFile::LedgerFile(QString path) : m_path(std::move(path))
{
    const QFileInfo info(m_path);
    // What a replace killed half-way left behind.
    removeStaleTemporaries(info.absolutePath(), {info.fileName()});
    m_thread = std::thread([this] { run(); });
}

LedgerFile::~LedgerFile()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    m_thread.join();
    closeFile();
}

LedgerFile::Loaded LedgerFile::load() const
{
    Loaded loaded;
    const std::optional<QByteArray> bytes = readRegularFile(m_path);
    if (!bytes)
        return loaded;
    loaded.bytes = bytes->size();
    QList<QByteArray> lines = bytes->split('\n');
    // After the last line feed: empty, or a record cut short.
    lines.removeLast();
    for (const QByteArray& line : lines) {
        if (!line.isEmpty())
            loaded.records << line;
    }
    return loaded;
}

void LedgerFile::append(QByteArray record)
{
    {
        std::lock_guard lock(m_mutex);
        m_queue.push_back({++m_seq, std::move(record)});
        while (m_queue.size() > kMaxPending)
            m_queue.pop_front();
        m_stalled = false;
    }
    m_wake.notify_all();
}

void LedgerFile::replace(QList<QByteArray> records)
{
    {
        std::lock_guard lock(m_mutex);
        // The new file holds every record: nothing older need wait.
        m_queue.clear();
        m_queue.push_back({++m_seq, std::move(records)});
        m_stalled = false;
    }
    m_wake.notify_all();
}

void LedgerFile::flush()
{
    std::unique_lock lock(m_mutex);
    m_idle.wait(lock, [this] { return !m_busy && (m_queue.empty() || m_stalled); });
}

QString LedgerFile::lastError() const
{
    std::lock_guard lock(m_mutex);
    return m_error;
}

int LedgerFile::pendingCount() const
{
    std::lock_guard lock(m_mutex);
    return static_cast<int>(m_queue.size());
}

void LedgerFile::setError(const QString& error)
{
    std::lock_guard lock(m_mutex);
    m_error = error;
}

void LedgerFile::run()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stop || (!m_queue.empty() && !m_stalled); });
        // At the end every record gets one more try.
        const bool last = m_stop;
        m_busy = true;
        bool ok = true;
        while (ok && !m_queue.empty()) {
            const Op op = m_queue.front();
            lock.unlock();
            if (const auto* record = std::get_if<QByteArray>(&op.what))
                ok = writeRecord(*record);
            else
                ok = writeAll(std::get<QList<QByteArray>>(op.what));
            lock.lock();
            if (ok) {
                m_error.clear();
                // A replace() may have emptied the queue meanwhile.
                if (!m_queue.empty() && m_queue.front().seq == op.seq)
                    m_queue.pop_front();
            }
        }
        m_stalled = !ok;
        m_busy = false;
        m_idle.notify_all();
        if (last)
            break;
    }
}

void LedgerFile::closeFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

bool LedgerFile::writeRecord(const QByteArray& record)
{
    const QByteArray name = QFile::encodeName(m_path);
    if (m_fd < 0) {
        // Read as well: the last byte tells whether a crash cut a record short.
        m_fd = ::open(name.constData(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        if (m_fd < 0) {
            setError(systemErrorText(errno));
            return false;
        }
    }
    struct stat st {};
    if (::fstat(m_fd, &st) != 0) {
        setError(systemErrorText(errno));
        closeFile();
        return false;
    }
    QByteArray line;
    line.reserve(record.size() + 2);
    // A record a crash cut short ends without its line feed: ours starts on
    // a line of its own.
    char last = '\n';
    if (st.st_size > 0 && ::pread(m_fd, &last, 1, st.st_size - 1) != 1)
        last = '\n';
    if (last != '\n')
        line += '\n';
    line += record;
    line += '\n';

    ssize_t written = -1;
    do {
        written = ::write(m_fd, line.constData(), static_cast<size_t>(line.size()));
    } while (written < 0 && errno == EINTR);
    const int error = written < 0 ? errno : ENOSPC;
    if (written != line.size()) {
        // Nothing half-written may stay behind.
        if (written > 0 && ::ftruncate(m_fd, st.st_size) != 0) {
            closeFile();
        }
        setError(systemErrorText(error));
        return false;
    }
    if (::fdatasync(m_fd) != 0) {
        setError(systemErrorText(errno));
        return false;
    }
    return true;
}

bool LedgerFile::writeAll(const QList<QByteArray>& records)
{
    QByteArray bytes;
    for (const QByteArray& record : records) {
        bytes += record;
        bytes += '\n';
    }
    try {
        writeFileAtomically(m_path, bytes);
    } catch (const AppError& error) {
        setError(error.message());
        return false;
    }
    // The old descriptor points at the file that was replaced.
    closeFile();
    return true;
}

} // namespace tarnwick::platform
