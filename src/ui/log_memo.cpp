// The slot log box: keeping up with the store and painting the lines in view.

#include "ui/log_memo.h"

#include <QApplication>
#include <QPaintEvent>
#include <QPainter>
#include <QProxyStyle>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTextLayout>

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace tarnwick::ui {

namespace {

constexpr int kMargin = 4;
// Only this much of a line is laid out and painted: a result line is never
// near it, and laying out a megabyte-long line at every paint would stall.
constexpr qsizetype kShownLimit = 4096;

// Qt's raster engine hands a fill or a line of more than about a hundred
// spans to its helper threads and waits for them, which wakes them all at
// every paint; a line one pixel wide is a span per pixel. A log's bar down is
// as tall as the window, so its style paints it in bands short enough to stay
// on the GUI thread, each into an image of the band's size: a clip would not
// do, since the style sets clips of its own. Each band is the whole control
// cut to the band, so the pixels are the same.
class BandedBarStyle : public QProxyStyle {
public:
    static constexpr int kBand = 32;

    explicit BandedBarStyle(const QString& key) : QProxyStyle(key) {}

    // The part of the bar the coming paint covers (its paint event's rect).
    void setPaintRect(const QRect& rect) { m_paintRect = rect; }

    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                            QPainter* painter, const QWidget* widget) const override
    {
        const QRect whole = option->rect;
        const bool tall = whole.height() > whole.width();
        // A transient bar is drawn over what lies below it, not in one piece.
        if (control != CC_ScrollBar || std::max(whole.width(), whole.height()) <= kBand ||
            styleHint(SH_ScrollBar_Transient, option, widget)) {
            QProxyStyle::drawComplexControl(control, option, painter, widget);
            return;
        }
        // Only the bands the paint needs: a handle that moves repaints the
        // part it covered and covers.
        const QRect needed = m_paintRect.isValid() ? m_paintRect & whole : whole;
        const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        const int end = tall ? whole.bottom() : whole.right();
        for (int at = tall ? whole.top() : whole.left(); at <= end; at += kBand) {
            const QRect band = (tall ? QRect(whole.left(), at, whole.width(), kBand)
                                     : QRect(at, whole.top(), kBand, whole.height())) &
                               whole;
            if (!band.intersects(needed))
                continue;
            QImage image(band.size() * ratio, QImage::Format_ARGB32_Premultiplied);
            image.setDevicePixelRatio(ratio);
            image.fill(Qt::transparent);
            {
                QPainter bandPainter(&image);
                bandPainter.setRenderHints(painter->renderHints());
                bandPainter.translate(-band.topLeft());
                QProxyStyle::drawComplexControl(control, option, &bandPainter, widget);
            }
            painter->drawImage(band.topLeft(), image);
        }
    }

private:
    QRect m_paintRect;
};

// A scroll bar that repaints only what would look different. A log grows by
// one line a second: its handle moves or shrinks by a pixel now and then, and
// only the rows the handle covered and now covers are painted again.
class LogScrollBar : public QScrollBar {
public:
    explicit LogScrollBar(Qt::Orientation orientation) : QScrollBar(orientation)
    {
        useBandedStyle();
    }

protected:
    void sliderChange(SliderChange change) override
    {
        QStyleOptionSlider option;
        initStyleOption(&option);
        const QRect handle = style()->subControlRect(QStyle::CC_ScrollBar, &option,
                                                     QStyle::SC_ScrollBarSlider, this);
        const Look look{handle, maximum() > minimum(), value() <= minimum(), value() >= maximum()};
        if (m_painted && look == m_look)
            return;
        // A transient bar flashes on changes, and a bar that becomes
        // scrollable or not changes whole: the base class repaints it all.
        if (!m_painted || look.scrollable != m_look.scrollable ||
            style()->styleHint(QStyle::SH_ScrollBar_Transient, &option, this)) {
            m_painted = true;
            m_look = look;
            QScrollBar::sliderChange(change);
            return;
        }
        // Growing the range and then following the newest line passes through
        // "not at the end" and back; a style may draw its arrows disabled at
        // either end, so they are repainted, but only they.
        QRect dirty = m_look.handle.united(handle);
        if (look.atStart != m_look.atStart)
            dirty |= style()->subControlRect(QStyle::CC_ScrollBar, &option,
                                             QStyle::SC_ScrollBarSubLine, this);
        if (look.atEnd != m_look.atEnd)
            dirty |= style()->subControlRect(QStyle::CC_ScrollBar, &option,
                                             QStyle::SC_ScrollBarAddLine, this);
        m_look = look;
        update(dirty);
    }
    void paintEvent(QPaintEvent* event) override
    {
        if (m_banded)
            m_banded->setPaintRect(event->rect());
        QScrollBar::paintEvent(event);
        if (m_banded)
            m_banded->setPaintRect(QRect());
    }
    void resizeEvent(QResizeEvent* event) override
    {
        m_painted = false;
        QScrollBar::resizeEvent(event);
    }
    void changeEvent(QEvent* event) override
    {
        QScrollBar::changeEvent(event);
        if (event->type() == QEvent::StyleChange || event->type() == QEvent::PaletteChange ||
            event->type() == QEvent::EnabledChange)
            m_painted = false;
    }

private:
    struct Look {
        QRect handle;
        bool scrollable = false;
        bool atStart = false;
        bool atEnd = false;
        friend bool operator==(const Look&, const Look&) = default;
    };

    void useBandedStyle()
    {
        // Only a bar that can be tall; a style without a factory name (a
        // style sheet's, a test's own) is left as it is.
        const QString key = QApplication::style()->name();
        if (orientation() != Qt::Vertical || key.isEmpty())
            return;
        m_banded = new BandedBarStyle(key);
        m_banded->setParent(this);
        setStyle(m_banded);
    }

    BandedBarStyle* m_banded = nullptr;
    bool m_painted = false;
    Look m_look;
};

} // namespace

TLogMemo::TLogMemo(QWidget* parent) : QAbstractScrollArea(parent)
{
    setVerticalScrollBar(new LogScrollBar(Qt::Vertical));
    setHorizontalScrollBar(new LogScrollBar(Qt::Horizontal));
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // The scroll area lays its bars out again whenever a range changes, to
    // show or hide them, and raises them, which repaints both bars whole at
    // every line. Bars that are always shown need that only on a resize,
    // which lays them out anyway.
    for (QScrollBar* bar : {verticalScrollBar(), horizontalScrollBar()})
        disconnect(bar, &QScrollBar::rangeChanged, this, nullptr);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled, false);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    m_frameTimer.setSingleShot(true);
    m_frameTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_frameTimer, &QTimer::timeout, this, &TLogMemo::syncNow);
    m_sinceSync.start();
    updateScrollRanges(true);
}

TLogMemo::~TLogMemo() = default;

void TLogMemo::appendLine(const QString& line)
{
    m_store.append(line);
    scheduleSync();
    emit lineAppended();
}

QString TLogMemo::toPlainText() const
{
    QByteArray text;
    text.reserve(m_store.byteSize());
    for (qsizetype i = 0; i < m_store.lineCount(); ++i) {
        if (i)
            text += '\n';
        text += m_store.lineUtf8(i);
    }
    return engine::LogStore::decode(text);
}

void TLogMemo::clear()
{
    m_store.clear();
    m_anchor = m_cursor = Position{};
    m_widest = 0;
    m_measuredLongest = -1;
    m_repaintAll = true;
    // At once, not at the next frame: until then the first line in view
    // would be one of the lines just dropped.
    updateScrollRanges(true);
    horizontalScrollBar()->setValue(0);
    scheduleSync();
}

// Lines come up to five times a second in normal running and in bursts after
// a pause; the box catches up once per frame at most, and only when shown.
void TLogMemo::scheduleSync()
{
    if (!isVisible()) {
        m_dirty = true;
        m_repaintAll = true;
        return;
    }
    if (m_frameTimer.isActive())
        return;
    const QScreen* shown = screen();
    const qreal rate = shown && shown->refreshRate() >= 1 ? shown->refreshRate() : 60.0;
    const int frame = static_cast<int>(std::ceil(1000.0 / rate));
    const qint64 since = m_sinceSync.elapsed();
    m_frameTimer.start(since >= frame ? 0 : static_cast<int>(frame - since));
}

void TLogMemo::syncNow()
{
    m_frameTimer.stop();
    m_dirty = false;
    m_sinceSync.restart();
    const qsizetype synced = m_syncedLines;
    // A box that follows the newest line scrolls what it shows (see
    // scrollContentsBy); only the lines that came since are painted anew.
    updateScrollRanges(false);
    m_syncedLines = m_store.lineCount();
    if (m_repaintAll || m_syncedLines < synced) {
        m_repaintAll = false;
        viewport()->update();
        return;
    }
    const qsizetype first = std::max<qsizetype>(synced, firstVisibleLine());
    const qsizetype end =
        std::min<qsizetype>(m_syncedLines, firstVisibleLine() + visibleLineCount() + 1);
    if (first < end)
        viewport()->update(lineRect(first).united(lineRect(end - 1)));
}

void TLogMemo::showEvent(QShowEvent* event)
{
    QAbstractScrollArea::showEvent(event);
    if (m_dirty)
        syncNow();
}

int TLogMemo::lineSpacing() const
{
    return std::max(1, fontMetrics().lineSpacing());
}

int TLogMemo::visibleLineCount() const
{
    return std::max(1, (viewport()->height() - kMargin) / lineSpacing());
}

int TLogMemo::firstVisibleLine() const
{
    return verticalScrollBar()->value();
}

bool TLogMemo::followsNewest() const
{
    const QScrollBar* bar = verticalScrollBar();
    return bar->value() >= bar->maximum();
}

void TLogMemo::updateScrollRanges(bool keepNewestInView)
{
    QScrollBar* bar = verticalScrollBar();
    // Decided before the range grows: a box that showed the newest line goes
    // on showing it, one scrolled back stays where the user left it.
    const bool follow = keepNewestInView || bar->value() >= bar->maximum();
    const int visible = visibleLineCount();
    bar->setPageStep(visible);
    bar->setSingleStep(1);
    bar->setRange(0, std::max(0, lineCount() - visible));
    if (follow)
        bar->setValue(bar->maximum());

    if (m_store.longestLine() != m_measuredLongest) {
        m_measuredLongest = m_store.longestLine();
        const QString longest = shownText(m_measuredLongest);
        m_widest = std::max(m_widest, fontMetrics().horizontalAdvance(longest));
    }
    QScrollBar* across = horizontalScrollBar();
    const int width = viewport()->width();
    across->setPageStep(std::max(1, width));
    across->setSingleStep(std::max(1, fontMetrics().averageCharWidth() * 2));
    across->setRange(0, std::max(0, m_widest + 2 * kMargin + 1 - width));
}

void TLogMemo::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    updateScrollRanges(false);
}

void TLogMemo::scrollContentsBy(int dx, int dy)
{
    // A line further down moves what is shown up by a line: the pixels are
    // moved and only the uncovered rows painted, rather than every line in
    // view laid out again. The top margin stays blank.
    if (dx == 0 && dy != 0 && std::abs(dy) < visibleLineCount()) {
        const QRect lines(0, kMargin, viewport()->width(), viewport()->height() - kMargin);
        viewport()->scroll(0, dy * lineSpacing(), lines);
        return;
    }
    viewport()->update();
}

void TLogMemo::changeEvent(QEvent* event)
{
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        m_widest = 0;
        m_measuredLongest = -1;
        updateScrollRanges(false);
    }
}

QString TLogMemo::shownText(qsizetype line) const
{
    const QByteArrayView bytes = m_store.lineUtf8(line);
    // Cut in bytes first so that a huge line is not decoded whole.
    QString text = engine::LogStore::decode(bytes.first(std::min(bytes.size(), kShownLimit * 4)));
    if (text.size() > kShownLimit)
        text.truncate(kShownLimit);
    return text;
}

void TLogMemo::layOut(QTextLayout& layout, const QString& text) const
{
    layout.setText(text);
    layout.setFont(font());
    QTextOption option;
    option.setWrapMode(QTextOption::NoWrap);
    layout.setTextOption(option);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    if (line.isValid())
        line.setLineWidth(1e9);
    layout.endLayout();
}

qreal TLogMemo::columnToX(qsizetype line, qsizetype column) const
{
    QTextLayout layout;
    const QString text = shownText(line);
    layOut(layout, text);
    const QTextLine textLine = layout.lineAt(0);
    return textLine.isValid()
               ? textLine.cursorToX(static_cast<int>(std::min<qsizetype>(column, text.size())))
               : 0;
}

void TLogMemo::paintEvent(QPaintEvent* event)
{
    QPainter painter(viewport());
    const QRect area = event->rect();
    const int spacing = lineSpacing();
    const int ascent = fontMetrics().ascent();
    const int left = kMargin - horizontalScrollBar()->value();
    const Position from = std::min(m_anchor, m_cursor);
    const Position to = std::max(m_anchor, m_cursor);
    const QPalette& colours = palette();
    const qsizetype count = m_store.lineCount();
    // Lines above the repaint area are skipped without being read.
    const int skipped = std::max(0, (area.top() - kMargin) / spacing);
    qsizetype line = firstVisibleLine() + skipped;
    painter.setPen(colours.color(QPalette::Text));
    for (int y = kMargin + skipped * spacing; y <= area.bottom() && line < count;
         y += spacing, ++line) {
        const QString text = shownText(line);
        if (!hasSelection() || line < from.line || line > to.line) {
            painter.drawText(left, y + ascent, text);
            continue;
        }
        QTextLayout layout;
        layOut(layout, text);
        const QTextLine textLine = layout.lineAt(0);
        const qsizetype start = line == from.line ? std::min(from.column, text.size()) : 0;
        const qsizetype end = line == to.line ? std::min(to.column, text.size()) : text.size();
        qreal x0 = textLine.cursorToX(static_cast<int>(start));
        qreal x1 = textLine.cursorToX(static_cast<int>(end));
        // A selected line break shows as a little room after the line.
        if (line < to.line)
            x1 += fontMetrics().horizontalAdvance(QLatin1Char(' '));
        const QRectF band(left + x0, y, x1 - x0, spacing);
        painter.fillRect(band, colours.brush(QPalette::Highlight));
        painter.drawText(left, y + ascent, text);
        painter.save();
        painter.setClipRect(band);
        painter.setPen(colours.color(QPalette::HighlightedText));
        painter.drawText(left, y + ascent, text);
        painter.restore();
    }
    // The caret, without blinking: a timer per log is not worth it.
    if (hasFocus() && m_cursor.line >= firstVisibleLine() &&
        m_cursor.line < firstVisibleLine() + visibleLineCount() + 1) {
        const int y = kMargin + static_cast<int>(m_cursor.line - firstVisibleLine()) * spacing;
        const int x = left + static_cast<int>(columnToX(m_cursor.line, m_cursor.column));
        painter.fillRect(QRect(x, y, 1, spacing), colours.color(QPalette::Text));
    }
}

} // namespace tarnwick::ui
