#include "engine/log_store.h"

#include "core/text_lines.h"

#include <QDir>
#include <QFile>
#include <QStringDecoder>
#include <QStringEncoder>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace tarnwick::engine {

namespace {

// Small blocks: five logs, most of them short, and the older blocks go to the
// file soon, so that what stays in memory is little more than the index. A
// line bigger than a quarter of a block gets a block of its own.
constexpr qsizetype kBlockSize = 16 * 1024;
constexpr qsizetype kLineEndSize = sizeof(core::kCrLfBytes) - 1;

bool isLineBreak(QChar c)
{
    return c == QLatin1Char('\r') || c == QLatin1Char('\n') || c == QChar::ParagraphSeparator;
}

} // namespace

std::shared_ptr<SpillFile> SpillFile::create()
{
    const QByteArray dir = QFile::encodeName(QDir::tempPath());
    // Never named, so nothing is left behind, not even after a crash.
    int fd = ::open(dir.constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0) {
        // A file system without unnamed files: named for a moment only.
        QByteArray name = dir + "/tarnwick-log.XXXXXX";
        fd = ::mkostemp(name.data(), O_CLOEXEC);
        if (fd < 0)
            return nullptr;
        ::unlink(name.constData());
    }
    return std::shared_ptr<SpillFile>(new SpillFile(fd));
}

SpillFile::~SpillFile()
{
    ::close(m_fd);
}

qint64 SpillFile::append(const char* data, qsizetype size)
{
    const qint64 at = m_size;
    qsizetype done = 0;
    while (done < size) {
        const ssize_t n = ::pwrite(m_fd, data + done, static_cast<std::size_t>(size - done),
                                   static_cast<off_t>(at + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return -1; // a full disk: the next block is written over this one
        done += n;
    }
    m_size += size;
    return at;
}

bool SpillFile::read(char* out, qsizetype size, qint64 offset) const
{
    qsizetype done = 0;
    while (done < size) {
        const ssize_t n = ::pread(m_fd, out + done, static_cast<std::size_t>(size - done),
                                  static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

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
    Block block;
    block.capacity = std::max(bytes, kBlockSize);
    block.data = std::shared_ptr<char[]>(new char[static_cast<std::size_t>(block.capacity)]);
    block.firstLine = lineCount();
    m_blocks.push_back(std::move(block));
    spillOldBlocks();
    return m_blocks.back().data.get();
}

void LogStore::spillOldBlocks()
{
    if (m_blocksInMemory <= 0 || m_noFile)
        return;
    const auto keepFrom = static_cast<qsizetype>(m_blocks.size()) - m_blocksInMemory;
    for (qsizetype b = keepFrom - 1; b >= 0; --b) {
        Block& block = m_blocks[static_cast<std::size_t>(b)];
        if (!block.data)
            break; // the older ones went before it
        if (!m_file) {
            m_file = SpillFile::create();
            m_noFile = !m_file;
            if (m_noFile)
                return;
        }
        block.offset = m_file->append(block.data.get(), block.used);
        if (block.offset < 0)
            return; // kept in memory; tried again with the next block
        // A snapshot that holds the memory keeps it until it goes.
        block.data.reset();
        m_spilledBytes += block.used;
    }
}

const char* LogStore::blockText(qsizetype b) const
{
    const Block& block = m_blocks[static_cast<std::size_t>(b)];
    if (block.data)
        return block.data.get();
    if (b != m_readBackBlock) {
        m_readBackBlock = -1;
        m_readBack = std::shared_ptr<char[]>(new char[static_cast<std::size_t>(block.used)]);
        if (!m_file->read(m_readBack.get(), block.used, block.offset)) {
            m_readBack.reset();
            return nullptr;
        }
        m_readBackBlock = b;
    }
    return m_readBack.get();
}

void LogStore::appendOne(QStringView line)
{
    char* out;
    qsizetype size;
    // One encoder for every line, so that a lone surrogate reads U+FFFD in
    // any line (QString::toUtf8 wrote "?").
    QStringEncoder encoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    if (line.size() > kBlockSize / 4) {
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
    const char* text = blockText(b);
    if (!text)
        return {}; // the temporary file could not be read back
    return QByteArrayView(text + start, end - start - kLineEndSize);
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
    qsizetype bytes = static_cast<qsizetype>(m_starts.capacity()) * qsizetype(sizeof(quint32)) +
                      static_cast<qsizetype>(m_blocks.capacity()) * qsizetype(sizeof(Block));
    for (const Block& block : m_blocks)
        bytes += block.data ? block.capacity : 0;
    return bytes;
}

void LogStore::clear()
{
    // swap, not clear(): a vector keeps its capacity.
    std::vector<Block>().swap(m_blocks);
    std::vector<quint32>().swap(m_starts);
    // A snapshot still reading the old file keeps it until it is done.
    m_file.reset();
    m_noFile = false;
    m_spilledBytes = 0;
    m_readBack.reset();
    m_readBackBlock = -1;
    m_bytes = 0;
    m_longest = -1;
    m_longestBytes = -1;
}

LogStore::Snapshot LogStore::snapshot() const
{
    Snapshot shot;
    shot.m_pieces.reserve(m_blocks.size());
    for (const Block& block : m_blocks)
        shot.m_pieces.push_back(
            {block.data, block.used, block.data ? nullptr : m_file, block.offset});
    shot.m_lines = lineCount();
    shot.m_bytes = m_bytes;
    return shot;
}

QByteArray LogStore::Snapshot::utf8(qsizetype room) const
{
    QByteArray text;
    text.reserve(m_bytes + room);
    for (const Piece& piece : m_pieces) {
        if (piece.data) {
            text.append(piece.data.get(), piece.size);
            continue;
        }
        const qsizetype at = text.size();
        text.resize(at + piece.size);
        if (!piece.file->read(text.data() + at, piece.size, piece.offset))
            throw LogReadError();
    }
    return text;
}

QByteArray LogStore::Snapshot::localBytes(qsizetype room) const
{
    if (localEncodingIsUtf8())
        return utf8(room);
    return decode(utf8()).toLocal8Bit();
}

} // namespace tarnwick::engine
