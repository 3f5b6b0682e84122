#include "tray/image_list.h"

#include <QPainter>

namespace tarnwick::tray {

TCustomImageList::TCustomImageList(QObject* parent) : TCustomImageList(16, 16, parent) {}

TCustomImageList::TCustomImageList(int width, int height, QObject* parent)
    : QObject(parent), m_width(width), m_height(height)
{
}

int TCustomImageList::add(const QImage& bitmap)
{
    return addMasked(bitmap, QColor());
}

int TCustomImageList::addMasked(const QImage& bitmap, const QColor& maskColor)
{
    if (bitmap.isNull())
        return -1;
    QImage source = bitmap.convertToFormat(QImage::Format_ARGB32);
    if (maskColor.isValid()) {
        const QRgb key = maskColor.rgb() & RGB_MASK;
        for (int y = 0; y < source.height(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(source.scanLine(y));
            for (int x = 0; x < source.width(); ++x) {
                if ((line[x] & RGB_MASK) == key)
                    line[x] = 0;
            }
        }
    }
    const int first = count();
    // A bitmap narrower than a cell still gives one, padded with transparency.
    const int cells = qMax(1, source.width() / m_width);
    for (int i = 0; i < cells; ++i) {
        QImage cell(m_width, m_height, QImage::Format_ARGB32_Premultiplied);
        cell.fill(Qt::transparent);
        QPainter p(&cell);
        p.setCompositionMode(QPainter::CompositionMode_Source);
        p.drawImage(QPoint(0, 0), source, QRect(i * m_width, 0, m_width, m_height));
        p.end();
        m_images.append(cell);
    }
    return first;
}

QImage TCustomImageList::image(int index) const
{
    return index >= 0 && index < count() ? m_images.at(index) : QImage();
}

QIcon TCustomImageList::icon(int index) const
{
    const QImage img = image(index);
    return img.isNull() ? QIcon() : QIcon(QPixmap::fromImage(img));
}

bool MakeIconFromBitmap(const QImage& bitmap, QIcon& icon, const QColor& maskColor)
{
    TCustomImageList list(16, 16);
    if (list.addMasked(bitmap, maskColor) < 0)
        return false;
    icon = list.icon(0);
    return true;
}

} // namespace tarnwick::tray
