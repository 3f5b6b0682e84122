#include "ui/pictures.h"

#include <QHash>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

namespace tarnwick::ui {

QIcon picture(const QString& name)
{
    static QHash<QString, QIcon> cache;
    const auto found = cache.constFind(name);
    if (found != cache.constEnd())
        return *found;
    QSvgRenderer renderer(QStringLiteral(":/pictures/%1.svg").arg(name));
    QIcon icon;
    if (renderer.isValid()) {
        for (const int size : {16, 22, 24, 32, 48}) {
            QPixmap pixmap(size, size);
            pixmap.fill(Qt::transparent);
            QPainter painter(&pixmap);
            painter.setRenderHint(QPainter::Antialiasing);
            renderer.render(&painter);
            painter.end();
            icon.addPixmap(pixmap);
        }
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
