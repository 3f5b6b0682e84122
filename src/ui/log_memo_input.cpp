// The slot log box: selection with mouse and keyboard, copying, double clicks.
// Typing is refused.

#include "ui/log_memo.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTextBoundaryFinder>
#include <QTextLayout>

#include <algorithm>

namespace tarnwick::ui {

namespace {

constexpr int kMargin = 4;
// Bigger selections do not go to the X selection buffer at every mouse
// release; Ctrl+C copies them all the same.
constexpr qsizetype kSelectionBufferLimit = 1 << 20;

} // namespace

QString TLogMemo::selectedText() const
{
    if (!hasSelection())
        return {};
    const Position from = std::min(m_anchor, m_cursor);
    const Position to = std::max(m_anchor, m_cursor);
    if (from.line == to.line)
        return m_store.line(from.line).mid(from.column, to.column - from.column);
    QString text = m_store.line(from.line).mid(from.column);
    QByteArray middle;
    for (qsizetype i = from.line + 1; i < to.line; ++i) {
        middle += '\n';
        middle += m_store.lineUtf8(i);
    }
    text += engine::LogStore::decode(middle);
    text += QLatin1Char('\n');
    text += m_store.line(to.line).left(to.column);
    return text;
}

void TLogMemo::setSelection(Position anchor, Position cursor)
{
    const auto clamp = [this](Position p) {
        const qsizetype count = m_store.lineCount();
        if (count == 0)
            return Position{};
        p.line = std::clamp<qsizetype>(p.line, 0, count - 1);
        p.column = std::clamp<qsizetype>(p.column, 0, m_store.line(p.line).size());
        return p;
    };
    m_anchor = clamp(anchor);
    m_cursor = clamp(cursor);
    viewport()->update();
}

void TLogMemo::selectAll()
{
    const qsizetype count = m_store.lineCount();
    if (count == 0)
        return;
    setSelection({0, 0}, {count - 1, m_store.line(count - 1).size()});
}

void TLogMemo::copy()
{
    if (hasSelection())
        QGuiApplication::clipboard()->setText(selectedText());
}

void TLogMemo::selectionChanged()
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (!hasSelection() || !clipboard->supportsSelection())
        return;
    const Position from = std::min(m_anchor, m_cursor);
    const Position to = std::max(m_anchor, m_cursor);
    if (to.line - from.line < kSelectionBufferLimit / 64)
        clipboard->setText(selectedText(), QClipboard::Selection);
}

qsizetype TLogMemo::lineAt(const QPoint& viewportPoint) const
{
    const qsizetype line =
        firstVisibleLine() +
        (viewportPoint.y() < kMargin ? 0 : (viewportPoint.y() - kMargin) / lineSpacing());
    return line < m_store.lineCount() ? line : -1;
}

QRect TLogMemo::lineRect(qsizetype line) const
{
    const int top = kMargin + static_cast<int>(line - firstVisibleLine()) * lineSpacing();
    return QRect(0, top, viewport()->width(), lineSpacing());
}

TLogMemo::Position TLogMemo::positionAt(const QPoint& viewportPoint) const
{
    const qsizetype count = m_store.lineCount();
    if (count == 0)
        return {};
    const int dy = viewportPoint.y() - kMargin;
    const qsizetype line = std::clamp<qsizetype>(
        firstVisibleLine() + (dy < 0 ? -1 : dy / lineSpacing()), 0, count - 1);
    QTextLayout layout;
    const QString text = shownText(line);
    layOut(layout, text);
    const QTextLine textLine = layout.lineAt(0);
    const qreal x = viewportPoint.x() - kMargin + horizontalScrollBar()->value();
    return {line, textLine.isValid() ? textLine.xToCursor(x) : 0};
}

void TLogMemo::moveCursor(Position to, bool select)
{
    if (select)
        setSelection(m_anchor, to);
    else
        setSelection(to, to);
    ensureCursorVisible();
}

void TLogMemo::ensureCursorVisible()
{
    QScrollBar* bar = verticalScrollBar();
    const int line = static_cast<int>(m_cursor.line);
    if (line < bar->value())
        bar->setValue(line);
    else if (line >= bar->value() + visibleLineCount())
        bar->setValue(line - visibleLineCount() + 1);
    QScrollBar* across = horizontalScrollBar();
    const int x = static_cast<int>(columnToX(m_cursor.line, m_cursor.column));
    const int width = viewport()->width() - 2 * kMargin;
    if (x < across->value())
        across->setValue(x);
    else if (x > across->value() + width)
        across->setValue(x - width);
}

TLogMemo::Position TLogMemo::wordStart(Position at) const
{
    const QString text = m_store.line(at.line);
    QTextBoundaryFinder finder(QTextBoundaryFinder::Word, text);
    finder.setPosition(at.column);
    if (!finder.isAtBoundary() || !(finder.boundaryReasons() & QTextBoundaryFinder::StartOfItem))
        finder.toPreviousBoundary();
    return {at.line, std::max<qsizetype>(0, finder.position())};
}

TLogMemo::Position TLogMemo::wordEnd(Position at) const
{
    const QString text = m_store.line(at.line);
    QTextBoundaryFinder finder(QTextBoundaryFinder::Word, text);
    finder.setPosition(at.column);
    const qsizetype end = finder.toNextBoundary();
    return {at.line, end < 0 ? text.size() : end};
}

void TLogMemo::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    setFocus(Qt::MouseFocusReason);
    m_dragging = true;
    moveCursor(positionAt(event->position().toPoint()),
               event->modifiers().testFlag(Qt::ShiftModifier));
}

void TLogMemo::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_dragging || !(event->buttons() & Qt::LeftButton))
        return;
    moveCursor(positionAt(event->position().toPoint()), true);
}

void TLogMemo::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && m_dragging) {
        m_dragging = false;
        selectionChanged();
    }
    QAbstractScrollArea::mouseReleaseEvent(event);
}

void TLogMemo::mouseDoubleClickEvent(QMouseEvent* event)
{
    const QPoint at = event->position().toPoint();
    if (event->button() == Qt::LeftButton && !m_store.isEmpty()) {
        // As in any text box, a double click selects the word it hits.
        const Position hit = positionAt(at);
        setSelection(wordStart(hit), wordEnd(hit));
        m_dragging = false;
    }
    emit doubleClicked(lineAt(at));
}

void TLogMemo::keyPressEvent(QKeyEvent* event)
{
    if (event->matches(QKeySequence::Copy)) {
        copy();
        return;
    }
    if (event->matches(QKeySequence::SelectAll)) {
        selectAll();
        return;
    }
    const qsizetype count = m_store.lineCount();
    const qsizetype page = visibleLineCount();
    const Position at = m_cursor;
    const qsizetype lineSize = count ? m_store.line(at.line).size() : 0;
    const auto lineEnd = [this](qsizetype line) {
        return Position{line, m_store.line(line).size()};
    };
    struct Move {
        QKeySequence::StandardKey move, select;
        Position to;
    };
    const qsizetype last = std::max<qsizetype>(0, count - 1);
    const Position left = at.column > 0 ? Position{at.line, at.column - 1}
                          : at.line > 0 ? lineEnd(at.line - 1)
                                        : at;
    const Position right = at.column < lineSize ? Position{at.line, at.column + 1}
                           : at.line < last     ? Position{at.line + 1, 0}
                                                : at;
    const Position up{std::max<qsizetype>(0, at.line - 1), at.column};
    const Position down{std::min(last, at.line + 1), at.column};
    const Position pageUp{std::max<qsizetype>(0, at.line - page), at.column};
    const Position pageDown{std::min(last, at.line + page), at.column};
    const Move moves[] = {
        {QKeySequence::MoveToPreviousChar, QKeySequence::SelectPreviousChar, left},
        {QKeySequence::MoveToNextChar, QKeySequence::SelectNextChar, right},
        {QKeySequence::MoveToPreviousLine, QKeySequence::SelectPreviousLine, up},
        {QKeySequence::MoveToNextLine, QKeySequence::SelectNextLine, down},
        {QKeySequence::MoveToPreviousPage, QKeySequence::SelectPreviousPage, pageUp},
        {QKeySequence::MoveToNextPage, QKeySequence::SelectNextPage, pageDown},
        {QKeySequence::MoveToStartOfLine, QKeySequence::SelectStartOfLine, {at.line, 0}},
        {QKeySequence::MoveToEndOfLine, QKeySequence::SelectEndOfLine, {at.line, lineSize}},
        {QKeySequence::MoveToStartOfDocument, QKeySequence::SelectStartOfDocument, {0, 0}},
        {QKeySequence::MoveToEndOfDocument, QKeySequence::SelectEndOfDocument,
         count ? lineEnd(last) : Position{}},
    };
    for (const Move& m : moves) {
        const bool select = event->matches(m.select);
        if (select || event->matches(m.move)) {
            moveCursor(m.to, select);
            if (select)
                selectionChanged();
            return;
        }
    }
    // Everything else, typing included, changes nothing here.
    event->ignore();
}

void TLogMemo::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu menu(this);
    QAction* copyAction = menu.addAction(tr("&Copy"), this, &TLogMemo::copy);
    copyAction->setShortcut(QKeySequence::Copy);
    copyAction->setEnabled(hasSelection());
    menu.addSeparator();
    QAction* all = menu.addAction(tr("Select All"), this, &TLogMemo::selectAll);
    all->setShortcut(QKeySequence::SelectAll);
    all->setEnabled(!m_store.isEmpty());
    menu.exec(event->globalPos());
}

void TLogMemo::focusInEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
}

void TLogMemo::focusOutEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
}

} // namespace tarnwick::ui
