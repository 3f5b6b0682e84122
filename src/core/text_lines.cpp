#include "core/text_lines.h"

namespace tarnwick::core {

namespace {

template <typename View, typename Char> QList<View> linesOf(View text)
{
    QList<View> lines;
    const qsizetype n = text.size();
    qsizetype start = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const Char c = text[i];
        if (c != Char('\r') && c != Char('\n'))
            continue;
        lines.append(text.sliced(start, i - start));
        if (c == Char('\r') && i + 1 < n && text[i + 1] == Char('\n'))
            ++i;
        start = i + 1;
    }
    if (start < n)
        lines.append(text.sliced(start));
    return lines;
}

template <typename Text, typename Lines> Text joined(const Lines& lines, const Text& end)
{
    Text text;
    qsizetype size = 0;
    for (const auto& line : lines)
        size += line.size() + end.size();
    text.reserve(size);
    for (const auto& line : lines) {
        text += line;
        text += end;
    }
    return text;
}

} // namespace

QList<QStringView> splitLines(QStringView text)
{
    return linesOf<QStringView, QChar>(text);
}

QList<QByteArrayView> splitLines(QByteArrayView bytes)
{
    return linesOf<QByteArrayView, char>(bytes);
}

QString joinCrLf(const QStringList& lines)
{
    return joined(lines, kCrLf);
}

QByteArray joinCrLf(const QList<QByteArray>& lines)
{
    return joined(lines, QByteArray(kCrLfBytes));
}

} // namespace tarnwick::core
