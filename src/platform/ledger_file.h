#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <variant>

namespace tarnwick::platform {

// An append-only file of one-line records, written on a thread of its own so
// that a slow disk never holds up the GUI.
//
// Each record goes to the file in one write and is flushed to the disk before
// the next. A write cut short (a full disk) is cut off the file again, and a
// record left half-written by a crash lacks its line feed, so load() leaves it
// out and the next append starts on a line of its own: the records already in
// the file are never touched. replace() writes a new file beside the old one
// and renames it over it, so the old file stays whole until the new one is.
// Records that could not be written are kept, in order, and written before
// any later one when the disk takes them again.
class LedgerFile {
public:
    explicit LedgerFile(QString path);
    // Writes what is still queued (if the disk takes it), then stops.
    ~LedgerFile();
    LedgerFile(const LedgerFile&) = delete;
    LedgerFile& operator=(const LedgerFile&) = delete;

    struct Loaded {
        QList<QByteArray> records;
        qint64 bytes = 0;
    };
    // The complete records in the file (nothing when there is no file).
    Loaded load() const;

    // Queued; any thread.
    void append(QByteArray record);
    void replace(QList<QByteArray> records);
    // Waits until everything queued so far was tried.
    void flush();

    // The reason of the last failed write, empty once writing works again.
    QString lastError() const;
    // Records waiting because the disk did not take them.
    int pendingCount() const;

    const QString& path() const { return m_path; }

private:
    struct Op {
        std::uint64_t seq = 0;
        std::variant<QByteArray, QList<QByteArray>> what;
    };

    void run();
    bool writeRecord(const QByteArray& record);
    bool writeAll(const QList<QByteArray>& records);
    void closeFile();
    void setError(const QString& error);

    const QString m_path;
    int m_fd = -1;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::deque<Op> m_queue;
    std::uint64_t m_seq = 0;
    bool m_busy = false;
    // The front record failed: tried again when another comes, or at the end.
    bool m_stalled = false;
    bool m_stop = false;
    QString m_error;
    std::thread m_thread;
};

} // namespace tarnwick::platform
