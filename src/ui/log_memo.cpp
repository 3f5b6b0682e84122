#include "ui/log_memo.h"

#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

namespace tarnwick::ui {

TLogMemo::TLogMemo(QWidget* parent) : QPlainTextEdit(parent)
{
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    document()->setUndoRedoEnabled(false);
}

void TLogMemo::appendLine(const QString& line)
{
    QScrollBar* bar = verticalScrollBar();
    const bool atBottom = bar->value() >= bar->maximum();
    QTextDocument* doc = document();
    QTextCursor cursor(doc);
    cursor.movePosition(QTextCursor::End);
    // The last block is empty for an empty log and after a line break typed at
    // the end; the new line goes there instead of after an empty line.
    if (!doc->lastBlock().text().isEmpty())
        cursor.insertBlock();
    cursor.insertText(line);
    if (atBottom)
        bar->setValue(bar->maximum());
}

int TLogMemo::lineCount() const
{
    const QTextDocument* doc = document();
    const int blocks = doc->blockCount();
    return doc->lastBlock().text().isEmpty() ? blocks - 1 : blocks;
}

QString TLogMemo::lineFromEnd(int back) const
{
    QTextBlock block = document()->lastBlock();
    if (block.text().isEmpty())
        block = block.previous();
    for (int i = 0; i < back && block.isValid(); ++i)
        block = block.previous();
    return block.isValid() ? block.text() : QString();
}

QString TLogMemo::textWithCrLf() const
{
    QString text;
    const int count = lineCount();
    QTextBlock block = document()->firstBlock();
    for (int i = 0; i < count && block.isValid(); ++i, block = block.next()) {
        text += block.text();
        text += QStringLiteral("\r\n");
    }
    return text;
}

void TLogMemo::mouseDoubleClickEvent(QMouseEvent* event)
{
    QPlainTextEdit::mouseDoubleClickEvent(event);
    emit doubleClicked();
}

} // namespace tarnwick::ui
