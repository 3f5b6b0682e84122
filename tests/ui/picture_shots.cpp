// Renders the status pictures at every size and the text tray icon's "OO"
// painting into a folder, enlarged, so that a designer can look at them.
// Usage: picture_shots <folder>
#include "tray/desktop_source.h"
#include "tray/hint_window.h"
#include "tray/text_tray_icon.h"
#include "ui/pictures.h"

#include <QApplication>
#include <QDir>
#include <QPainter>

using namespace tarnwick;

namespace {

// Each pixel becomes a zoom x zoom block over a light and a dark backdrop,
// as panels of either kind would show it.
QImage enlarged(const QImage& picture, int zoom)
{
    const int w = picture.width() * zoom;
    QImage sheet(2 * w + 3 * zoom, picture.height() * zoom + 2 * zoom, QImage::Format_RGB32);
    sheet.fill(QColor(128, 128, 128));
    QPainter p(&sheet);
    p.fillRect(zoom, zoom, w, picture.height() * zoom, QColor(236, 236, 236));
    p.fillRect(2 * zoom + w, zoom, w, picture.height() * zoom, QColor(40, 40, 40));
    const QImage big = picture.scaled(picture.size() * zoom);
    p.drawImage(zoom, zoom, big);
    p.drawImage(2 * zoom + w, zoom, big);
    return sheet;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const QDir folder(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("."));
    for (const char* name : {"status_ok", "status_some", "status_many", "status_all"}) {
        for (const int size : ui::pictureSizes) {
            const QImage image = ui::renderPicture(QLatin1String(name), size);
            image.save(folder.filePath(QStringLiteral("%1_%2.png").arg(name).arg(size)));
            enlarged(image, size <= 24 ? 12 : 6)
                .save(folder.filePath(QStringLiteral("%1_%2_x.png").arg(name).arg(size)));
        }
    }
    const tray::TQtDesktopSource desktop;
    tray::TTextTrayIcon icon(desktop);
    tray::TFont font;
    font.font = QFont(QStringLiteral("Tahoma"));
    font.font.setStyleHint(QFont::SansSerif);
    font.font.setPixelSize(24);
    font.color = tray::clNavy;
    icon.setText(QStringLiteral("OO"));
    icon.setFont(font);
    icon.setColor(tray::clWhite);
    icon.setBorder(true);
    const QImage oo = icon.icon().pixmap(16, 16).toImage();
    oo.save(folder.filePath(QStringLiteral("text_icon_OO.png")));
    enlarged(oo, 12).save(folder.filePath(QStringLiteral("text_icon_OO_x.png")));
    icon.setColor(tray::clNone);
    enlarged(icon.icon().pixmap(16, 16).toImage(), 12)
        .save(folder.filePath(QStringLiteral("text_icon_OO_clNone_x.png")));

    // Both hint windows with a summary of the usual shape.
    QStringList lines;
    for (int slot = 0; slot < 5; ++slot) {
        if (slot > 0)
            lines << QStringLiteral("-----");
        lines << QStringLiteral("Reply from 198.18.0.%1: bytes=32 time=%2ms TTL=64")
                     .arg(slot + 1)
                     .arg(20 + slot)
              << QStringLiteral("Requested Timed out.");
    }
    const QString summary = lines.join(QLatin1String("\r\n")) + QLatin1String("\r\n");
    tray::THintWindow plain;
    plain.setColor(QColor(254, 253, 216));
    QFont hintFont = plain.font();
    hintFont.setPointSize(10);
    plain.setFont(hintFont);
    tray::TTiledHintWindow tiled;
    tiled.setFontColor(tray::clWhite);
    for (tray::THintWindow* hint : {&plain, static_cast<tray::THintWindow*>(&tiled)}) {
        hint->ActivateHint(hint->CalcHintRect(800, summary).translated(20, 20), summary);
        hint->grab().save(folder.filePath(hint == &plain ? QStringLiteral("hint_plain.png")
                                                         : QStringLiteral("hint_tiled.png")));
    }
    return 0;
}
