#include "tray/text_tray_icon.h"

#include "tray/image_list.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>
#include <QPalette>

namespace tarnwick::tray {

namespace {
// Centring works on 15, not 16: an odd leftover puts the text one pixel
// further left or up.
constexpr int centringSpan = 15;
constexpr QChar lineBreak = QChar(13);

QRgb rgbOf(const QColor& color)
{
    return color.rgb() & RGB_MASK;
}
} // namespace

QColor clBtnFace()
{
    return QGuiApplication::palette().color(QPalette::Button);
}

TOffsetOptions::TOffsetOptions(QObject* parent) : QObject(parent) {}

void TOffsetOptions::change(int& field, int value)
{
    if (field == value)
        return;
    field = value;
    DoChange();
}

void TOffsetOptions::setOffsetX(int value)
{
    change(m_offsetX, value);
}

void TOffsetOptions::setOffsetY(int value)
{
    change(m_offsetY, value);
}

void TOffsetOptions::setLineDistance(int value)
{
    change(m_lineDistance, value);
}

void TOffsetOptions::assign(const TOffsetOptions& other)
{
    setOffsetX(other.m_offsetX);
    setOffsetY(other.m_offsetY);
    setLineDistance(other.m_lineDistance);
}

void TOffsetOptions::DoChange()
{
    if (m_onChange)
        m_onChange(this);
}

TTextTrayIcon::TTextTrayIcon(const TDesktopSource& desktop, QObject* owner)
    : TTrayIcon(desktop, owner), m_color(clBtnFace()), m_options(new TOffsetOptions(this))
{
    m_font.font = QGuiApplication::font();
    m_font.color = QGuiApplication::palette().color(QPalette::WindowText);
    m_textBitmap = QImage(iconSize, iconSize, QImage::Format_RGB32);
    m_options->setOnChange([this](QObject*) { Redraw(); });
}

TTextTrayIcon::~TTextTrayIcon() = default;

void TTextTrayIcon::setBackgroundIcon(const QIcon& icon)
{
    m_backgroundIcon = icon;
    Redraw();
}

void TTextTrayIcon::setText(const QString& text)
{
    m_text = text;
    Redraw();
}

void TTextTrayIcon::setFont(const TFont& font)
{
    // Copying into the font object raises its own change (one drawing), and
    // the write draws once more.
    m_font = font;
    Redraw();
    Redraw();
}

void TTextTrayIcon::setColor(const QColor& color)
{
    m_color = color;
    Redraw();
}

void TTextTrayIcon::setBorder(bool border)
{
    m_border = border;
    Redraw();
}

void TTextTrayIcon::setBorderColor(const QColor& color)
{
    m_borderColor = color;
    Redraw();
}

QColor TTextTrayIcon::keyColorFor(const QColor& color, const QColor& fontColor)
{
    if (!color.isValid() || rgbOf(color) == rgbOf(fontColor))
        return QColor(~rgbOf(fontColor) & RGB_MASK);
    return color;
}

void TTextTrayIcon::PaintText()
{
    QImage bitmap(iconSize, iconSize, QImage::Format_RGB32);
    m_keyColor = keyColorFor(m_color, m_font.color);
    bitmap.fill(m_keyColor);

    QPainter p(&bitmap);
    QFont font = m_font.font;
    // Smoothed edges would blend with the key colour and escape the mask as
    // a fringe; an icon's text is drawn pixel for pixel.
    font.setStyleStrategy(QFont::NoAntialias);
    p.setFont(font);
    p.setPen(m_font.color);
    const QFontMetrics fm = p.fontMetrics();
    // Text is placed by its top-left corner; Qt draws from the baseline.
    const auto drawAt = [&](int x, int y, const QString& s) { p.drawText(x, y + fm.ascent(), s); };

    if (m_text.contains(lineBreak)) {
        const QStringList lines = m_text.split(lineBreak);
        const int n = static_cast<int>(lines.size());
        // The height of a text (here the part from the first break on) is
        // the font's line height, whatever its characters.
        const int h = fm.height() + m_options->lineDistance();
        const int top = (centringSpan - n * h) / 2 + m_options->offsetY();
        for (int i = 0; i < n; ++i) {
            const int x =
                (centringSpan - fm.horizontalAdvance(lines.at(i))) / 2 + m_options->offsetX();
            drawAt(x, i * h + top, lines.at(i));
        }
    } else {
        const int x = (centringSpan - fm.horizontalAdvance(m_text)) / 2 + m_options->offsetX();
        const int y = (centringSpan - fm.height()) / 2 + m_options->offsetY();
        drawAt(x, y, m_text);
    }

    if (m_border) {
        const int last = iconSize - 1;
        p.fillRect(0, 0, iconSize, 1, m_borderColor);
        p.fillRect(0, last, iconSize, 1, m_borderColor);
        p.fillRect(0, 0, 1, iconSize, m_borderColor);
        p.fillRect(last, 0, 1, iconSize, m_borderColor);
    }
    p.end();
    m_textBitmap = bitmap;
}

QIcon TTextTrayIcon::mergeWithBackground() const
{
    TCustomImageList list(iconSize, iconSize);
    list.add(m_backgroundIcon.pixmap(iconSize, iconSize).toImage());
    const QColor mask = keyColorFor(m_color, m_font.color);

    QImage working(iconSize, iconSize, QImage::Format_RGB32);
    working.fill(mask);
    QPainter p(&working);
    p.drawImage(0, 0, list.image(0));
    // Only the text and the frame cover the background: the key colour of
    // the painting lets it through.
    QImage text = m_textBitmap.convertToFormat(QImage::Format_ARGB32);
    const QRgb key = rgbOf(m_keyColor);
    for (int y = 0; y < text.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(text.scanLine(y));
        for (int x = 0; x < text.width(); ++x) {
            if ((line[x] & RGB_MASK) == key)
                line[x] = 0;
        }
    }
    p.drawImage(0, 0, text);
    p.end();

    const int merged = list.addMasked(working, mask);
    return list.icon(merged);
}

void TTextTrayIcon::Redraw()
{
    setCycleIcons(false);
    PaintText();
    QIcon made;
    if (!m_backgroundIcon.isNull()) {
        made = mergeWithBackground();
    } else {
        // A set colour gives an opaque square: no mask at all.
        if (m_color.isValid())
            m_keyColor = clNone;
        MakeIconFromBitmap(m_textBitmap, made, m_keyColor);
    }
    setIcon(made);
}

} // namespace tarnwick::tray
