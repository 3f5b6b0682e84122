#pragma once

#include "engine/log_store.h"

#include <QAbstractScrollArea>
#include <QElapsedTimer>
#include <QString>
#include <QTimer>

class QTextLayout;

namespace tarnwick::ui {

// A slot log: the lines live in a compact store and the box paints only the
// lines in view. Appending costs a copy of the line's bytes; the box catches
// up at most once per display frame, and not at all while it is out of sight.
// The user can select (mouse and keyboard), copy and double-click, but not
// type: typed lines would change the line count that the average divides by.
class TLogMemo : public QAbstractScrollArea {
    Q_OBJECT
public:
    // A place in the text: a line and a character offset in it.
    struct Position {
        qsizetype line = 0;
        qsizetype column = 0;
        friend bool operator==(const Position&, const Position&) = default;
        // NOLINTNEXTLINE(modernize-use-nullptr): a false finding on defaulted <=>
        friend auto operator<=>(const Position&, const Position&) = default;
    };

    explicit TLogMemo(QWidget* parent = nullptr);
    ~TLogMemo() override;

    const engine::LogStore& store() const { return m_store; }

    // Appends a line (or, should it hold line breaks, lines) at the end.
    void appendLine(const QString& line);
    // Lines of text; an empty last line after the final line break is not one.
    int lineCount() const { return static_cast<int>(m_store.lineCount()); }
    // The line `back` places before the newest (0 = newest); empty when the
    // log has fewer lines.
    QString lineFromEnd(int back) const { return m_store.lineFromEnd(back); }
    // The lines joined by LF (as a text box gives its text).
    QString toPlainText() const;
    // Empties the log and gives its memory back.
    void clear();

    bool hasSelection() const { return m_anchor != m_cursor; }
    QString selectedText() const;
    void setSelection(Position anchor, Position cursor);
    void selectAll();
    Position cursorPosition() const { return m_cursor; }
    // Puts the selected text on the clipboard (Ctrl+C).
    void copy();

    // The line under a point of the viewport, -1 below the last line.
    qsizetype lineAt(const QPoint& viewportPoint) const;
    // Where a line is painted, in viewport coordinates, when it is in view.
    QRect lineRect(qsizetype line) const;
    int firstVisibleLine() const;
    // Whether the box shows the newest line and keeps doing so as lines come.
    bool followsNewest() const;

signals:
    // A line was appended (connected to by whoever must know at once).
    void lineAppended();
    // A double click on the log, with the line it hit (-1 below the last).
    void doubleClicked(qsizetype line);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void scheduleSync();
    void syncNow();
    void updateScrollRanges(bool keepNewestInView);
    int visibleLineCount() const;
    int lineSpacing() const;
    QString shownText(qsizetype line) const;
    void layOut(QTextLayout& layout, const QString& text) const;
    qreal columnToX(qsizetype line, qsizetype column) const;
    Position positionAt(const QPoint& viewportPoint) const;
    void moveCursor(Position to, bool select);
    void ensureCursorVisible();
    Position wordStart(Position at) const;
    Position wordEnd(Position at) const;
    void selectionChanged();

    engine::LogStore m_store;
    Position m_anchor;
    Position m_cursor;
    bool m_dragging = false;
    bool m_dirty = false;
    int m_widest = 0;
    qsizetype m_measuredLongest = -1;
    // Lines the box had caught up with at its last frame.
    qsizetype m_syncedLines = 0;
    bool m_repaintAll = true;
    QTimer m_frameTimer;
    QElapsedTimer m_sinceSync;
};

} // namespace tarnwick::ui
