// A program with one tray icon that logs, one line each, what reaches it: the
// component's events and the notification area's comings and goings. The
// end-to-end test drives it with a real tray and a synthetic mouse.
#include "platform/notifyarea/notify_area.h"
#include "tray/desktop_source.h"
#include "tray/popup_menu.h"
#include "tray/tray_icon.h"

#include <QAction>
#include <QApplication>
#include <QPainter>
#include <QShowEvent>
#include <QStyleHints>
#include <QTimer>

#include <cstdio>

using namespace tarnwick::tray;

namespace {

void logLine(const QString& line)
{
    std::fputs(qPrintable(line + QLatin1Char('\n')), stdout);
    std::fflush(stdout);
}

QString buttonName(TMouseButton button)
{
    switch (button) {
    case mbLeft:
        return QStringLiteral("L");
    case mbRight:
        return QStringLiteral("R");
    case mbMiddle:
        return QStringLiteral("M");
    }
    return QStringLiteral("?");
}

QString shiftText(TShiftState shift)
{
    QStringList parts;
    if (shift & ssShift)
        parts << QStringLiteral("shift");
    if (shift & ssCtrl)
        parts << QStringLiteral("ctrl");
    if (shift & ssAlt)
        parts << QStringLiteral("alt");
    if (shift & ssLeft)
        parts << QStringLiteral("left");
    if (shift & ssRight)
        parts << QStringLiteral("right");
    if (shift & ssMiddle)
        parts << QStringLiteral("middle");
    return parts.isEmpty() ? QStringLiteral("none") : parts.join(QLatin1Char('+'));
}

QString rectText(const QRect& r)
{
    return QStringLiteral("%1,%2,%3,%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
}

// A red disc with transparent corners: the corners must show the tray's own
// background, the middle must be red.
QIcon redDisc()
{
    QImage image(16, 16, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 0, 0));
    p.drawEllipse(QRectF(1, 1, 14, 14));
    p.end();
    return QIcon(QPixmap::fromImage(image));
}

class LoggingMenu : public TPopupMenu {
protected:
    void showEvent(QShowEvent* e) override
    {
        TPopupMenu::showEvent(e);
        // Logged once the menu has its place, so the test can click an item.
        QTimer::singleShot(0, this, [this] {
            const QRect item(mapToGlobal(actionGeometry(actions().at(0)).topLeft()),
                             actionGeometry(actions().at(0)).size());
            logLine(QStringLiteral("MENU %1,%2 item0=%3")
                        .arg(pos().x())
                        .arg(pos().y())
                        .arg(rectText(item)));
        });
    }
};

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);

    LoggingMenu menu;
    QAction* hello = menu.addAction(QStringLiteral("hello"));
    QAction* open = menu.addAction(QStringLiteral("open"));
    TPopupMenu::setItemDefault(open, true);
    QObject::connect(hello, &QAction::triggered, [] { logLine(QStringLiteral("ACTION hello")); });
    QObject::connect(open, &QAction::triggered, [] { logLine(QStringLiteral("ACTION open")); });

    const TQtDesktopSource desktop;
    TTrayIcon icon(desktop);
    icon.setIcon(redDisc());
    icon.setHint(QStringLiteral("Tarnwick tray demo"));
    icon.setPopupMenu(&menu);
    icon.setWantEnterExitEvents(true);
    icon.setOnMouseEnter([](QObject*) { logLine(QStringLiteral("ENTER")); });
    icon.setOnMouseExit([](QObject*) { logLine(QStringLiteral("EXIT")); });
    icon.setOnMouseMove([](QObject*, TShiftState, int x, int y) {
        logLine(QStringLiteral("MOVE %1,%2").arg(x).arg(y));
    });
    icon.setOnMouseDown([](QObject*, TMouseButton b, TShiftState s, int x, int y) {
        logLine(
            QStringLiteral("DOWN %1 %2,%3 %4").arg(buttonName(b)).arg(x).arg(y).arg(shiftText(s)));
    });
    icon.setOnMouseUp([](QObject*, TMouseButton b, TShiftState s, int x, int y) {
        logLine(
            QStringLiteral("UP %1 %2,%3 %4").arg(buttonName(b)).arg(x).arg(y).arg(shiftText(s)));
    });
    icon.setOnClick([](QObject*) { logLine(QStringLiteral("CLICK")); });
    icon.setOnDblClick([](QObject*) { logLine(QStringLiteral("DBLCLICK")); });

    auto* area = TTrayIconHandler::instance()->area();
    QObject::connect(area, &tarnwick::platform::NotifyArea::areaLost,
                     [] { logLine(QStringLiteral("LOST")); });
    QObject::connect(area, &tarnwick::platform::NotifyArea::areaRestarted,
                     [] { logLine(QStringLiteral("RESTARTED")); });
    QObject::connect(area, &tarnwick::platform::NotifyArea::iconGeometryChanged,
                     [](quint32 id, const QRect& r) {
                         logLine(QStringLiteral("DOCKED %1 %2").arg(id).arg(rectText(r)));
                     });

    logLine(QStringLiteral("BACKEND %1 doubleclick=%2")
                .arg(area->name())
                .arg(QGuiApplication::styleHints()->mouseDoubleClickInterval()));
    icon.setIconVisible(true);
    icon.Loaded();
    logLine(icon.trayAvailable() ? QStringLiteral("ADDED %1").arg(icon.iconId())
                                 : QStringLiteral("NO_TRAY waiting"));
    return app.exec();
}
