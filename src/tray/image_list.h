#pragma once

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QList>
#include <QObject>

namespace tarnwick::tray {

// A strip of same-sized pictures, 16 x 16 unless told otherwise. A bitmap
// wider than one cell is cut into as many cells as fit.
class TCustomImageList : public QObject {
    Q_OBJECT
public:
    explicit TCustomImageList(QObject* parent = nullptr);
    TCustomImageList(int width, int height, QObject* parent = nullptr);

    int width() const { return m_width; }
    int height() const { return m_height; }
    int count() const { return static_cast<int>(m_images.size()); }

    // Index of the first image added, -1 when the bitmap is empty.
    int add(const QImage& bitmap);
    // Pixels of maskColor become transparent; an invalid colour (clNone)
    // keeps every pixel.
    int addMasked(const QImage& bitmap, const QColor& maskColor);
    QImage image(int index) const;
    QIcon icon(int index) const;
    void clear() { m_images.clear(); }

private:
    QList<QImage> m_images;
    int m_width;
    int m_height;
};

// Turns a bitmap into an icon of one 16 x 16 cell, with maskColor as its
// transparent colour; an invalid colour makes an opaque icon. False only for
// an empty bitmap.
bool MakeIconFromBitmap(const QImage& bitmap, QIcon& icon, const QColor& maskColor);

} // namespace tarnwick::tray
