#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <memory>
#include <vector>

namespace tarnwick::engine {

// The lines of a slot log, which grows for days: the text as UTF-8 bytes, each
// line followed by CR LF (so the log's file and clipboard text is the bytes
// themselves), in blocks that never move once written, and one 32-bit start
// offset per line. No object per line. Appending, the line count and the
// newest lines cost the same for ten lines as for ten million.
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
    // Bytes held, for the curious (blocks and index, capacity included).
    qsizetype memoryUse() const;

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
        QByteArray utf8(qsizetype room = 0) const;
        // The same in the locale's 8-bit encoding (as files and the clipboard
        // take text).
        QByteArray localBytes(qsizetype room = 0) const;

    private:
        friend class LogStore;
        struct Piece {
            std::shared_ptr<const char[]> data;
            qsizetype size;
        };
        std::vector<Piece> m_pieces;
        qsizetype m_lines = 0;
        qsizetype m_bytes = 0;
    };
    Snapshot snapshot() const;

private:
    struct Block {
        std::shared_ptr<char[]> data;
        qsizetype capacity = 0;
        qsizetype used = 0;
        qsizetype firstLine = 0;
    };
    void appendOne(QStringView line);
    char* reserve(qsizetype bytes);
    qsizetype blockOf(qsizetype index) const;

    std::vector<Block> m_blocks;
    std::vector<quint32> m_starts; // per line: its offset in its block
    qsizetype m_bytes = 0;
    qsizetype m_longest = -1;
    qsizetype m_longestBytes = -1;
};

// True when the locale's 8-bit encoding is UTF-8 (always so on Linux).
bool localEncodingIsUtf8();

} // namespace tarnwick::engine
