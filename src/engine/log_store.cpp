#include "engine/log_store.h"

#include "core/text_lines.h"

#include <QStringDecoder>
#include <QStringEncoder>

#include <algorithm>
#include <cstring>

namespace tarnwick::engine {

namespace {

// Blocks start small (five logs, most of them short) and grow to a size whose
// unused tail does not matter; a line bigger than that gets a block of its own.
constexpr qsizetype kFirstBlock = 4096;
constexpr qsizetype kLargestBlock = 256 * 1024;
constexpr qsizetype kLineEndSize = sizeof(core::kCrLfBytes) - 1;

bool isLineBreak(QChar c)
{
    return c == QLatin1Char('\r') || c == QLatin1Char('\n') || c == QChar::ParagraphSeparator;
}

} // namespace

bool localEncodingIsUtf8()
{
    static const bool utf8 = QString(QChar(0xE9)).toLocal8Bit() == QByteArray("\xC3\xA9");
    return utf8;
}

void LogStore::append(QStringView text)
{
    qsizetype start = 0;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text[i];
        if (!isLineBreak(c))
            continue;
        appendOne(text.mid(start, i - start));
        if (c == QLatin1Char('\r') && i + 1 < n && text[i + 1] == QLatin1Char('\n'))
            ++i;
        start = i + 1;
    }
    if (start < n)
        appendOne(text.mid(start));
}

char* LogStore::reserve(qsizetype bytes)
{
    if (!m_blocks.empty()) {
        Block& last = m_blocks.back();
        if (last.capacity - last.used >= bytes)
            return last.data.get() + last.used;
    }
    const qsizetype grown =
        std::min(kFirstBlock << std::min<qsizetype>(m_blocks.size(), 8), kLargestBlock);
    Block block;
    block.capacity = std::max(bytes, grown);
    block.data = std::shared_ptr<char[]>(new char[static_cast<std::size_t>(block.capacity)]);
    block.firstLine = lineCount();
    m_blocks.push_back(std::move(block));
    return m_blocks.back().data.get();
}

void LogStore::appendOne(QStringView line)
{
    char* out;
    qsizetype size;
    // One encoder for every line, so that a lone surrogate reads U+FFFD in
    // any line (QString::toUtf8 wrote "?").
    QStringEncoder encoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    if (line.size() > kLargestBlock / 4) {
        // A huge line is encoded first so that its block is no bigger than it.
        const QByteArray bytes = encoder.encode(line);
        size = bytes.size();
        out = reserve(size + kLineEndSize);
        std::memcpy(out, bytes.constData(), static_cast<std::size_t>(size));
    } else {
        out = reserve(encoder.requiredSpace(line.size()) + kLineEndSize);
        size = encoder.appendToBuffer(out, line) - out;
    }
    std::memcpy(out + size, core::kCrLfBytes, kLineEndSize);
    Block& block = m_blocks.back();
    m_starts.push_back(static_cast<quint32>(block.used));
    block.used += size + kLineEndSize;
    m_bytes += size + kLineEndSize;
    if (size > m_longestBytes) {
        m_longestBytes = size;
        m_longest = lineCount() - 1;
    }
}

qsizetype LogStore::blockOf(qsizetype index) const
{
    if (index >= m_blocks.back().firstLine)
        return static_cast<qsizetype>(m_blocks.size()) - 1;
    const auto after =
        std::upper_bound(m_blocks.begin(), m_blocks.end(), index,
                         [](qsizetype i, const Block& block) { return i < block.firstLine; });
    return (after - m_blocks.begin()) - 1;
}

QByteArrayView LogStore::lineUtf8(qsizetype index) const
{
    if (index < 0 || index >= lineCount())
        return {};
    const qsizetype b = blockOf(index);
    const Block& block = m_blocks[static_cast<std::size_t>(b)];
    const qsizetype nextFirst = b + 1 < static_cast<qsizetype>(m_blocks.size())
                                    ? m_blocks[static_cast<std::size_t>(b + 1)].firstLine
                                    : lineCount();
    const qsizetype start = m_starts[static_cast<std::size_t>(index)];
    const qsizetype end = index + 1 < nextFirst
                              ? qsizetype(m_starts[static_cast<std::size_t>(index + 1)])
                              : block.used;
    return QByteArrayView(block.data.get() + start, end - start - kLineEndSize);
}

QString LogStore::decode(QByteArrayView utf8)
{
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless |
                                                       QStringConverter::Flag::ConvertInitialBom);
    return decoder.decode(utf8);
}

QString LogStore::line(qsizetype index) const
{
    return decode(lineUtf8(index));
}

QString LogStore::lineFromEnd(qsizetype back) const
{
    return back < 0 ? QString() : line(lineCount() - 1 - back);
}

qsizetype LogStore::memoryUse() const
{
    qsizetype bytes = static_cast<qsizetype>(m_starts.capacity() * sizeof(quint32) +
                                             m_blocks.capacity() * sizeof(Block));
    for (const Block& block : m_blocks)
        bytes += block.capacity;
    return bytes;
}

void LogStore::clear()
{
    // swap, not clear(): a vector keeps its capacity.
    std::vector<Block>().swap(m_blocks);
    std::vector<quint32>().swap(m_starts);
    m_bytes = 0;
    m_longest = -1;
    m_longestBytes = -1;
}

LogStore::Snapshot LogStore::snapshot() const
{
    Snapshot shot;
    shot.m_pieces.reserve(m_blocks.size());
    for (const Block& block : m_blocks)
        shot.m_pieces.push_back({block.data, block.used});
    shot.m_lines = lineCount();
    shot.m_bytes = m_bytes;
    return shot;
}

QByteArray LogStore::Snapshot::utf8(qsizetype room) const
{
    QByteArray text;
    text.reserve(m_bytes + room);
    for (const Piece& piece : m_pieces)
        text.append(piece.data.get(), piece.size);
    return text;
}

QByteArray LogStore::Snapshot::localBytes(qsizetype room) const
{
    if (localEncodingIsUtf8())
        return utf8(room);
    return decode(utf8()).toLocal8Bit();
}

} // namespace tarnwick::engine
