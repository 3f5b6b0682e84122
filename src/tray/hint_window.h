#pragma once

#include <QColor>
#include <QImage>
#include <QList>
#include <QMargins>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <QWidget>

namespace tarnwick::tray {

// Where the hover hint goes: at its full size, its right edge at the cursor
// and its bottom edge this far above it.
inline constexpr int hintGapAboveCursor = 17;
// Below the cursor, when there is no room above: the pointer's picture hangs
// below its hot spot, and 24 px is the common cursor size.
inline constexpr int hintGapBelowCursor = 24;

// The rectangle for a hint of `size` shown for the cursor at `cursor`, inside
// `available` (the work area of the screen under the cursor). A hint that
// would stick out above the work area (a panel at the top of the screen)
// goes below the cursor rather than over it; any other edge that sticks out
// is moved back in.
QRect placeHint(QPoint cursor, QSize size, const QRect& available);
// `rect` moved back into `available` where it sticks out; the left and top
// edges win when it is larger than the area.
QRect keepOnScreen(QRect rect, const QRect& available);

// A plain hint window: a frameless, topmost tool-tip window that never takes
// the focus. It starts in the desktop's tool-tip colours and font.
class THintWindow : public QWidget {
    Q_OBJECT
public:
    explicit THintWindow(QWidget* owner = nullptr);

    // The size the text needs with no line wider than maxWidth, frame and
    // margins included; the rectangle's top-left corner is 0, 0.
    virtual QRect CalcHintRect(int maxWidth, const QString& text) const;
    // Shows text in rect (screen coordinates), moved back onto the screen
    // where it would stick out.
    void ActivateHint(const QRect& rect, const QString& text);

    QString text() const { return m_text; }
    QColor color() const { return m_color; }
    void setColor(const QColor& color);
    QColor fontColor() const { return m_fontColor; }
    void setFontColor(const QColor& color);

    // Hint texts end each line with CR LF; the last break ends the last line
    // and starts no empty one.
    static QString displayText(const QString& hintText);

protected:
    void paintEvent(QPaintEvent* event) override;
    // Between the frame and the text, as the desktop's own tool tips have.
    QMargins textMargins() const;

private:
    QString m_text;
    QColor m_color;
    QColor m_fontColor;
};

// A hint window whose background is a picture tiled from the top-left
// corner, with the text drawn over it.
class TTiledHintWindow : public THintWindow {
    Q_OBJECT
public:
    static constexpr int tileSize = 160;

    explicit TTiledHintWindow(QWidget* owner = nullptr);

    const QImage& tile() const { return m_tile; }
    // Top-left corners of the tiles drawn into a window of clientSize.
    static QList<QPoint> tilePositions(QSize clientSize, QSize tile);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage m_tile;
};

} // namespace tarnwick::tray
