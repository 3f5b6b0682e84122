#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

namespace tarnwick::core {

// Files and the clipboard end every line with CR LF.
inline constexpr char kCrLfBytes[] = "\r\n";
inline const QString kCrLf = QStringLiteral("\r\n");

// The lines of a text: a line ends at CR LF, a lone CR or a lone LF; a last
// line without a line end counts, and a final line end adds no empty line.
// Nothing is trimmed. One rule for text and for bytes; the views point into
// the argument.
QList<QStringView> splitLines(QStringView text);
QList<QByteArrayView> splitLines(QByteArrayView bytes);

// Each line followed by CR LF.
QString joinCrLf(const QStringList& lines);
QByteArray joinCrLf(const QList<QByteArray>& lines);

} // namespace tarnwick::core
