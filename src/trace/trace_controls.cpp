#include "trace/trace_controls.h"

#include "trace/trace_text.h"

#include <QScrollBar>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <limits>

namespace tarnwick::trace {

TSpinEdit::TSpinEdit(QWidget* parent) : QSpinBox(parent)
{
    setRange(std::numeric_limits<int>::min(), std::numeric_limits<int>::max());
}

QValidator::State TSpinEdit::validate(QString&, int&) const
{
    return QValidator::Acceptable;
}

int TSpinEdit::valueFromText(const QString& text) const
{
    const long long value = parseWholeNumber(text).value_or(0);
    return static_cast<int>(std::clamp<long long>(value, std::numeric_limits<int>::min(),
                                                  std::numeric_limits<int>::max()));
}

TTraceMemo::TTraceMemo(QWidget* parent) : QPlainTextEdit(parent)
{
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    document()->setUndoRedoEnabled(false);
}

void TTraceMemo::appendPiece(const QString& piece)
{
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    // The document keeps lines as blocks: a CR LF becomes a block break, and
    // nothing else in a piece may start a new line.
    const QStringList lines = piece.split(QStringLiteral("\r\n"));
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (i > 0)
            cursor.insertBlock();
        QString line = lines[i];
        line.replace(QLatin1Char('\r'), QLatin1Char(' '))
            .replace(QLatin1Char('\n'), QLatin1Char(' '));
        cursor.insertText(line);
    }
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

QString TTraceMemo::text() const
{
    return toPlainText().replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
}

} // namespace tarnwick::trace
