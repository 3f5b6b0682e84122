#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <memory>
#include <stdexcept>
#include <vector>

namespace tarnwick::engine {

// Older text could not be read back from the temporary file: the snapshot has
// no whole text to give, and a part of it must not pass for the log.
class LogReadError : public std::runtime_error {
public:
    LogReadError() : std::runtime_error("the log's older lines could not be read back") {}
};

// An unnamed temporary file that blocks of text are moved to; closed when its
// last user (a store or a snapshot) goes. Reads and writes at given offsets,
// from any thread.
class SpillFile {
public:
    // Null when no such file can be made.
    static std::shared_ptr<SpillFile> create();
    ~SpillFile();
    SpillFile(const SpillFile&) = delete;
    SpillFile& operator=(const SpillFile&) = delete;

    // Appends; the offset written at, or -1 (nothing counts as written).
    qint64 append(const char* data, qsizetype size);
    bool read(char* out, qsizetype size, qint64 offset) const;

private:
    explicit SpillFile(int fd) : m_fd(fd) {}
    int m_fd;
    qint64 m_size = 0;
};

// The lines of a slot log, which grows for weeks: the text as UTF-8 bytes, each
// line followed by CR LF (so the log's file and clipboard text is the bytes
// themselves), in blocks that never change once full, and one 32-bit start
// offset per line. No object per line. Appending, the line count and the
// newest lines cost the same for ten lines as for ten million.
//
// Only the newest blocks stay in memory: older ones go to a temporary file
// that has no name (so it goes with the process, however that ends) and are
// read back when a line of theirs is wanted. A week of five logs then holds
// the index in memory, not the text. Where no such file can be written the
// blocks stay in memory.
//
// Owned and written by one thread; snapshot() hands a frozen copy of the text
// to any other thread without copying it.
class LogStore {
public:
    LogStore() = default;
    LogStore(const LogStore&) = delete;
    LogStore& operator=(const LogStore&) = delete;

    // Appends text as new last lines. A line ends at CR LF, a lone CR, a lone
    // LF or a paragraph separator; a final line end adds no empty line, and
    // empty text adds none (as a text box appends).
    void append(QStringView text);

    qsizetype lineCount() const { return static_cast<qsizetype>(m_starts.size()); }
    bool isEmpty() const { return m_starts.empty(); }
    // The line at index (0 = oldest), without its line end; empty out of range.
    QString line(qsizetype index) const;
    // The view of a line of an older block is good until the next read.
    QByteArrayView lineUtf8(qsizetype index) const;
    // The line `back` places before the newest (0 = newest); empty when the
    // log has fewer lines.
    QString lineFromEnd(qsizetype back) const;
    // The store's UTF-8 as text. A leading U+FEFF stays a character of the
    // line (QString::fromUtf8 drops it as a byte order mark).
    static QString decode(QByteArrayView utf8);
    // The line with the most bytes (-1 when empty): how wide the log gets.
    qsizetype longestLine() const { return m_longest; }
    // Bytes of text, line ends included.
    qsizetype byteSize() const { return m_bytes; }
    // Bytes held in memory (blocks and index, capacity included).
    qsizetype memoryUse() const;
    // Bytes of text moved out of memory into the temporary file.
    qsizetype spilledBytes() const { return m_spilledBytes; }
    // How many of the newest blocks stay in memory (0 keeps them all).
    void setBlocksInMemory(int blocks) { m_blocksInMemory = blocks; }

    // Drops every line and gives the memory back.
    void clear();

    // The text as it is now; the store may go on growing or be cleared while
    // another thread reads it.
    class Snapshot {
    public:
        qsizetype lineCount() const { return m_lines; }
        qsizetype byteSize() const { return m_bytes; }
        // Every line followed by CR LF, in UTF-8.
        // `room` bytes more are reserved for what the caller appends.
        // Throws LogReadError when older lines cannot be read back.
        QByteArray utf8(qsizetype room = 0) const;
        // The same in the locale's 8-bit encoding (as files and the clipboard
        // take text).
        QByteArray localBytes(qsizetype room = 0) const;

    private:
        friend class LogStore;
        struct Piece {
            std::shared_ptr<const char[]> data; // null: in the file
            qsizetype size;
            std::shared_ptr<const SpillFile> file;
            qint64 offset;
        };
        std::vector<Piece> m_pieces;
        qsizetype m_lines = 0;
        qsizetype m_bytes = 0;
    };
    Snapshot snapshot() const;

private:
    struct Block {
        std::shared_ptr<char[]> data; // null once in the file
        qsizetype capacity = 0;
        qsizetype used = 0;
        qsizetype firstLine = 0;
        qint64 offset = -1; // in the file, once there
    };
    void appendOne(QStringView line);
    char* reserve(qsizetype bytes);
    qsizetype blockOf(qsizetype index) const;
    void spillOldBlocks();
    const char* blockText(qsizetype b) const;

    std::vector<Block> m_blocks;
    std::shared_ptr<SpillFile> m_file;
    bool m_noFile = false;
    int m_blocksInMemory = 2;
    qsizetype m_spilledBytes = 0;
    // The one older block read back last.
    mutable std::shared_ptr<char[]> m_readBack;
    mutable qsizetype m_readBackBlock = -1;
    std::vector<quint32> m_starts; // per line: its offset in its block
    qsizetype m_bytes = 0;
    qsizetype m_longest = -1;
    qsizetype m_longestBytes = -1;
};

// True when the locale's 8-bit encoding is UTF-8 (always so on Linux).
bool localEncodingIsUtf8();

} // namespace tarnwick::engine
