// The slot log's store fed any text: records of (count, length, UTF-16
// units), each appending its units repeated so that lines of every size, up
// to ones that get a block of their own, come about; count 0 with length 0
// clears instead. The store must read back what a plain model of it holds:
// the lines split at CR LF, a lone CR, a lone LF or a paragraph separator,
// and every half of a surrogate pair read as U+FFFD.

#include "engine/log_store.h"
#include "fuzz/fuzz_check.h"

#include <QStringList>

using tarnwick::engine::LogStore;

namespace {

constexpr qsizetype kMostUnits = 1 << 19; // per input, to keep each run short

bool isBreak(QChar c)
{
    return c == QLatin1Char('\r') || c == QLatin1Char('\n') || c == QChar::ParagraphSeparator;
}

QString withoutLoneHalves(QStringView line)
{
    QString out;
    out.reserve(line.size());
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line[i];
        if (c.isHighSurrogate() && i + 1 < line.size() && line[i + 1].isLowSurrogate()) {
            out += c;
            out += line[++i];
        } else if (c.isSurrogate()) {
            out += QChar(QChar::ReplacementCharacter);
        } else {
            out += c;
        }
    }
    return out;
}

void appendToModel(QStringList& model, QStringView text)
{
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (!isBreak(text[i]))
            continue;
        model << withoutLoneHalves(text.mid(start, i - start));
        if (text[i] == QLatin1Char('\r') && i + 1 < text.size() && text[i + 1] == QLatin1Char('\n'))
            ++i;
        start = i + 1;
    }
    if (start < text.size())
        model << withoutLoneHalves(text.mid(start));
}

void compare(const LogStore& store, const QStringList& model)
{
    FUZZ_REQUIRE(store.lineCount() == model.size());
    QByteArray all;
    qsizetype longest = -1;
    qsizetype longestBytes = -1;
    for (qsizetype i = 0; i < model.size(); ++i) {
        const QByteArray utf8 = model[i].toUtf8();
        FUZZ_REQUIRE(store.line(i) == model[i]);
        FUZZ_REQUIRE(store.lineUtf8(i) == QByteArrayView(utf8));
        if (utf8.size() > longestBytes) {
            longestBytes = utf8.size();
            longest = i;
        }
        all += utf8 + "\r\n";
    }
    FUZZ_REQUIRE(store.longestLine() == longest);
    FUZZ_REQUIRE(store.byteSize() == all.size());
    FUZZ_REQUIRE(store.snapshot().utf8() == all);
    FUZZ_REQUIRE(store.lineFromEnd(0) == (model.isEmpty() ? QString() : model.constLast()));
    FUZZ_REQUIRE(store.line(model.size()).isEmpty() && store.line(-1).isEmpty());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    LogStore store;
    QStringList model;
    qsizetype units = 0;
    std::size_t at = 0;
    while (at + 2 <= size) {
        const std::uint8_t count = data[at];
        const std::size_t length = data[at + 1];
        at += 2;
        if (count == 0 && length == 0) {
            store.clear();
            model.clear();
            continue;
        }
        QString pattern;
        for (std::size_t i = 0; i < length && at + 2 <= size; ++i, at += 2)
            pattern += QChar(static_cast<char16_t>(data[at] | data[at + 1] << 8));
        // The high bit makes a long line of a short pattern.
        const qsizetype repeat = 1 + (count & 0x7f) * (count & 0x80 ? 1000 : 1);
        if (pattern.isEmpty() || units + pattern.size() * repeat > kMostUnits)
            break;
        units += pattern.size() * repeat;
        const QString text = pattern.repeated(repeat);
        store.append(text);
        appendToModel(model, text);
    }
    compare(store, model);
    return 0;
}
