#include "ui/pictures.h"

#include <QHash>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

namespace tarnwick::ui {

namespace {

// A picture drawn on whole pixels holds one drawing per grid, each marked by
// an empty rectangle "cell<grid>": 16 serves 16, 32 and 48 px (whole
// multiples), 22 serves 22 px, and 24 px with a pixel of margin. Scaling one
// drawing to every size would smear its edges over two pixels.
struct Cell {
    const char* id;
    int grid;
};
constexpr Cell cells[] = {{"cell16", 16}, {"cell22", 22}};

QPixmap render(QSvgRenderer& renderer, int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const Cell* best = nullptr;
    for (const Cell& cell : cells) {
        if (!renderer.elementExists(QLatin1String(cell.id)))
            continue;
        const int scale = size / cell.grid;
        // The largest whole scale wins; between two, the tighter fit.
        if (scale >= 1 && (!best || scale * cell.grid > (size / best->grid) * best->grid))
            best = &cell;
    }
    if (best) {
        const int scale = size / best->grid;
        const int drawn = scale * best->grid;
        const int margin = (size - drawn) / 2;
        renderer.setViewBox(renderer.boundsOnElement(QLatin1String(best->id)));
        renderer.render(&painter, QRectF(margin, margin, drawn, drawn));
    } else {
        renderer.render(&painter);
    }
    painter.end();
    return pixmap;
}

} // namespace

QImage renderPicture(const QString& name, int size)
{
    QSvgRenderer renderer(QStringLiteral(":/pictures/%1.svg").arg(name));
    return renderer.isValid() ? render(renderer, size).toImage() : QImage();
}

QIcon picture(const QString& name)
{
    static QHash<QString, QIcon> cache;
    const auto found = cache.constFind(name);
    if (found != cache.constEnd())
        return *found;
    QSvgRenderer renderer(QStringLiteral(":/pictures/%1.svg").arg(name));
    QIcon icon;
    if (renderer.isValid()) {
        for (const int size : pictureSizes)
            icon.addPixmap(render(renderer, size));
    }
    cache.insert(name, icon);
    return icon;
}

QIcon statusIcon(engine::StatusPicture which)
{
    switch (which) {
    case engine::StatusPicture::Image1:
        return picture(QStringLiteral("status_ok"));
    case engine::StatusPicture::Image5:
        return picture(QStringLiteral("status_some"));
    case engine::StatusPicture::Image4:
        return picture(QStringLiteral("status_many"));
    case engine::StatusPicture::Image2:
        return picture(QStringLiteral("status_all"));
    }
    return {};
}

QIcon stopGlyph()
{
    return picture(QStringLiteral("stop"));
}
QIcon startGlyph()
{
    return picture(QStringLiteral("start"));
}
QIcon moveUpArrow()
{
    return picture(QStringLiteral("arrow_up"));
}
QIcon moveDownArrow()
{
    return picture(QStringLiteral("arrow_down"));
}
QIcon programIcon()
{
    return picture(QStringLiteral("tarnwick"));
}

} // namespace tarnwick::ui
