#pragma once

#include "tray/tray_icon.h"

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QImage>
#include <QObject>
#include <QString>

namespace tarnwick::tray {

// Colour values as the components take them. An invalid colour is clNone:
// "no colour", which makes a background transparent or a mask keep every
// pixel.
inline const QColor clNone{};
inline const QColor clWhite{255, 255, 255};
inline const QColor clBlack{0, 0, 0};
inline const QColor clNavy{0, 0, 128};
// The desktop's button face, read when asked (the palette may change).
QColor clBtnFace();

// A font with the colour its text is drawn in.
struct TFont {
    QFont font;
    QColor color = clBlack;

    bool operator==(const TFont& other) const { return font == other.font && color == other.color; }
};

// Offsets and line spacing of the text drawn into a text tray icon. Each
// change of a value raises OnChange; writing the value it has does nothing.
class TOffsetOptions : public QObject {
    Q_OBJECT
    Q_PROPERTY(int OffsetX READ offsetX WRITE setOffsetX)
    Q_PROPERTY(int OffsetY READ offsetY WRITE setOffsetY)
    Q_PROPERTY(int LineDistance READ lineDistance WRITE setLineDistance)
public:
    explicit TOffsetOptions(QObject* parent = nullptr);

    int offsetX() const { return m_offsetX; }
    void setOffsetX(int value);
    int offsetY() const { return m_offsetY; }
    void setOffsetY(int value);
    int lineDistance() const { return m_lineDistance; }
    void setLineDistance(int value);
    // Takes the other's values member by member, so each one that differs
    // raises its own OnChange.
    void assign(const TOffsetOptions& other);

    const TNotifyEvent& onChange() const { return m_onChange; }
    void setOnChange(TNotifyEvent e) { m_onChange = std::move(e); }

protected:
    virtual void DoChange();

private:
    void change(int& field, int value);

    int m_offsetX = 0;
    int m_offsetY = 0;
    int m_lineDistance = 0;
    TNotifyEvent m_onChange;
};

// A tray icon that draws a short text, one or more lines, into its 16 x 16
// picture, in a chosen font and colour, with an optional frame and over an
// optional background icon. Writing Icon shows that picture instead and does
// not draw the text; changing any text property draws it again and ends icon
// cycling.
class TTextTrayIcon : public TTrayIcon {
    Q_OBJECT
    Q_PROPERTY(QIcon BackgroundIcon READ backgroundIcon WRITE setBackgroundIcon)
    Q_PROPERTY(QString Text READ text WRITE setText)
    Q_PROPERTY(QColor Color READ color WRITE setColor)
    Q_PROPERTY(bool Border READ border WRITE setBorder)
    Q_PROPERTY(QColor BorderColor READ borderColor WRITE setBorderColor)
    Q_PROPERTY(tarnwick::tray::TOffsetOptions* Options READ options)

public:
    static constexpr int iconSize = 16;

    explicit TTextTrayIcon(const TDesktopSource& desktop, QObject* owner = nullptr);
    ~TTextTrayIcon() override;

    QIcon backgroundIcon() const { return m_backgroundIcon; }
    void setBackgroundIcon(const QIcon& icon);
    QString text() const { return m_text; }
    void setText(const QString& text);
    const TFont& font() const { return m_font; }
    void setFont(const TFont& font);
    QColor color() const { return m_color; }
    void setColor(const QColor& color);
    bool border() const { return m_border; }
    void setBorder(bool border);
    QColor borderColor() const { return m_borderColor; }
    void setBorderColor(const QColor& color);
    TOffsetOptions* options() const { return m_options; }

    bool WantsDefaultIcon() const override { return false; }
    // Only consulted by design tools.
    virtual bool WantsDefaultBackground() const { return false; }

    // The last painting, before any masking.
    const QImage& textBitmap() const { return m_textBitmap; }
    QColor keyColor() const { return m_keyColor; }

    // The colour that fills the square under the text: the font's colour
    // inverted where Color is clNone or the font's own colour (so the text
    // stays readable), Color otherwise.
    static QColor keyColorFor(const QColor& color, const QColor& fontColor);

protected:
    virtual void PaintText();
    void Redraw();

private:
    QIcon mergeWithBackground() const;

    QIcon m_backgroundIcon;
    QString m_text;
    TFont m_font;
    QColor m_color;
    bool m_border = false;
    QColor m_borderColor = clBlack;
    TOffsetOptions* m_options;
    QImage m_textBitmap;
    QColor m_keyColor;
};

} // namespace tarnwick::tray
