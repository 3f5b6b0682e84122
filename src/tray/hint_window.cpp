#include "tray/hint_window.h"

#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QStyle>
#include <QStyleOption>
#include <QSvgRenderer>
#include <QToolTip>

namespace tarnwick::tray {

namespace {
constexpr int textFlags = Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap;

QRect availableAround(const QRect& rect)
{
    QScreen* screen = QGuiApplication::screenAt(rect.center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect();
}
} // namespace

QRect keepOnScreen(QRect rect, const QRect& available)
{
    if (rect.right() > available.right())
        rect.moveRight(available.right());
    if (rect.left() < available.left())
        rect.moveLeft(available.left());
    if (rect.bottom() > available.bottom())
        rect.moveBottom(available.bottom());
    if (rect.top() < available.top())
        rect.moveTop(available.top());
    return rect;
}

QRect placeHint(QPoint cursor, QSize size, const QRect& available)
{
    QRect rect(cursor.x() - size.width(), cursor.y() - hintGapAboveCursor - size.height(),
               size.width(), size.height());
    // Pushed down into the work area, it would sit over the cursor and the
    // icon it describes.
    if (rect.top() < available.top())
        rect.moveTop(cursor.y() + hintGapBelowCursor);
    return keepOnScreen(rect, available);
}

THintWindow::THintWindow(QWidget* owner)
    : QWidget(owner, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                         Qt::WindowDoesNotAcceptFocus),
      m_color(QToolTip::palette().color(QPalette::ToolTipBase)),
      m_fontColor(QToolTip::palette().color(QPalette::ToolTipText))
{
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFocusPolicy(Qt::NoFocus);
    setFont(QToolTip::font());
}

void THintWindow::setColor(const QColor& color)
{
    m_color = color;
    update();
}

void THintWindow::setFontColor(const QColor& color)
{
    m_fontColor = color;
    update();
}

QString THintWindow::displayText(const QString& hintText)
{
    QString text = hintText;
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    if (text.endsWith(QLatin1Char('\n')))
        text.chop(1);
    return text;
}

QMargins THintWindow::textMargins() const
{
    const int frame = style()->pixelMetric(QStyle::PM_ToolTipLabelFrameWidth, nullptr, this);
    const int m = 1 + frame;
    return {m + 2, m, m + 2, m};
}

QRect THintWindow::CalcHintRect(int maxWidth, const QString& text) const
{
    const QMargins margins = textMargins();
    const int textWidth = qMax(1, maxWidth - margins.left() - margins.right());
    const QRect bounds =
        fontMetrics().boundingRect(QRect(0, 0, textWidth, 0), textFlags, displayText(text));
    return {0, 0, bounds.width() + margins.left() + margins.right(),
            bounds.height() + margins.top() + margins.bottom()};
}

void THintWindow::ActivateHint(const QRect& rect, const QString& text)
{
    m_text = text;
    setGeometry(keepOnScreen(rect, availableAround(rect)));
    show();
    raise();
    update();
}

void THintWindow::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    // The desktop's own tool-tip panel, in this window's colours.
    QStyleOption panel;
    panel.initFrom(this);
    panel.palette.setColor(QPalette::ToolTipBase, m_color);
    panel.palette.setColor(QPalette::ToolTipText, m_fontColor);
    style()->drawPrimitive(QStyle::PE_PanelTipLabel, &panel, &p, this);
    p.setPen(m_fontColor);
    p.drawText(rect().marginsRemoved(textMargins()), textFlags, displayText(m_text));
}

TTiledHintWindow::TTiledHintWindow(QWidget* owner) : THintWindow(owner)
{
    m_tile = QImage(tileSize, tileSize, QImage::Format_ARGB32_Premultiplied);
    m_tile.fill(Qt::black);
    QSvgRenderer renderer(QStringLiteral(":/pictures/hint_tile.svg"));
    QPainter p(&m_tile);
    renderer.render(&p, QRectF(0, 0, tileSize, tileSize));
}

QList<QPoint> TTiledHintWindow::tilePositions(QSize clientSize, QSize tile)
{
    const QRect r = QRect(QPoint(0, 0), clientSize).adjusted(2, 2, 0, 0);
    // Truncating divisions: one tile in a direction even when R is shorter
    // than a tile, and one more than fits whole otherwise.
    const int columns = r.width() / tile.width();
    const int rows = r.height() / tile.height();
    QList<QPoint> positions;
    for (int column = 0; column <= columns; ++column) {
        for (int row = 0; row <= rows; ++row)
            positions.append(QPoint(column * tile.width(), row * tile.height()));
    }
    return positions;
}

void TTiledHintWindow::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const QList<QPoint> positions = tilePositions(size(), m_tile.size());
    for (const QPoint& at : positions)
        p.drawImage(at, m_tile);
    p.setPen(fontColor());
    p.drawText(rect().adjusted(2, 2, 0, 0), textFlags, displayText(text()));
}

} // namespace tarnwick::tray
