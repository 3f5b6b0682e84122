// The docked icon's own window: which drawing it paints in the slot a tray
// gives, and the title it carries (the tooltip of relaying trays).

#include "platform/notifyarea/xembed_icon_window.h"
#include "support/manual_time.h"

#include <QImage>
#include <QPixmap>
#include <QtGui/qguiapplication_platform.h>
#include <QtTest>

#include <cstdlib>

#include <xcb/xcb.h>

using tarnwick::platform::IconState;
using tarnwick::platform::XEmbedIconWindow;

namespace {

QPixmap solid(int size, QColor colour)
{
    QPixmap pixmap(size, size);
    pixmap.fill(colour);
    return pixmap;
}

// One colour per drawing, so the picture shows which one was painted.
QIcon drawings()
{
    QIcon icon;
    icon.addPixmap(solid(16, Qt::red));
    icon.addPixmap(solid(22, Qt::blue));
    icon.addPixmap(solid(32, Qt::green));
    return icon;
}

xcb_connection_t* connection()
{
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

// The value of a text property of the window, or nothing when it has none.
std::optional<QByteArray> textProperty(QWidget& window, const char* name)
{
    xcb_connection_t* c = connection();
    auto* atom = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, strlen(name), name), nullptr);
    if (!atom)
        return std::nullopt;
    auto* reply =
        xcb_get_property_reply(c,
                               xcb_get_property(c, 0, static_cast<xcb_window_t>(window.winId()),
                                                atom->atom, XCB_GET_PROPERTY_TYPE_ANY, 0, 1024),
                               nullptr);
    free(atom);
    std::optional<QByteArray> value;
    if (reply && reply->type != XCB_ATOM_NONE) {
        value = QByteArray(static_cast<const char*>(xcb_get_property_value(reply)),
                           xcb_get_property_value_length(reply));
    }
    free(reply);
    return value;
}

} // namespace

class TestIconWindow : public QObject {
    Q_OBJECT
private slots:
    void drawingForTheSlot_data();
    void drawingForTheSlot();
    void titleFollowsTheTooltipAndIsNeverMadeUp();
    void hoverProof_data();
    void hoverProof();
};

void TestIconWindow::drawingForTheSlot_data()
{
    QTest::addColumn<QSize>("slot");
    QTest::addColumn<QColor>("drawing");
    QTest::addColumn<QRect>("drawn");

    QTest::newRow("16 x 22 (trayer): the 16 px drawing, centred")
        << QSize(16, 22) << QColor(Qt::red) << QRect(0, 3, 16, 16);
    QTest::newRow("22 x 16 (a vertical panel)")
        << QSize(22, 16) << QColor(Qt::red) << QRect(3, 0, 16, 16);
    QTest::newRow("22 x 22: the 22 px drawing")
        << QSize(22, 22) << QColor(Qt::blue) << QRect(0, 0, 22, 22);
    QTest::newRow("32 x 40") << QSize(32, 40) << QColor(Qt::green) << QRect(0, 4, 32, 32);
}

void TestIconWindow::drawingForTheSlot()
{
    QFETCH(QSize, slot);
    QFETCH(QColor, drawing);
    QFETCH(QRect, drawn);

    XEmbedIconWindow window(1, false, {});
    window.setMinimumSize(1, 1);
    window.resize(slot);
    window.setState({drawings(), QString()});
    const QImage shot = window.grab().toImage();
    QCOMPARE(shot.size(), slot);
    const QColor backdrop = window.palette().window().color();
    // Inside the drawn square only the chosen drawing, unscaled (a shrunk
    // bigger one would mix its colour in); outside it the backdrop.
    for (int y = 0; y < slot.height(); ++y) {
        for (int x = 0; x < slot.width(); ++x) {
            const QColor expected = drawn.contains(x, y) ? drawing : backdrop;
            QVERIFY2(shot.pixelColor(x, y) == expected,
                     qPrintable(QStringLiteral("pixel %1,%2 is %3")
                                    .arg(x)
                                    .arg(y)
                                    .arg(shot.pixelColor(x, y).name())));
        }
    }
}

void TestIconWindow::titleFollowsTheTooltipAndIsNeverMadeUp()
{
    if (!connection())
        QSKIP("needs an X11 display");
    XEmbedIconWindow window(1, false, {});
    window.setState({drawings(), QString()});
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const auto untitled = [&] {
        return !textProperty(window, "_NET_WM_NAME").value_or(QByteArray()).size() &&
               !textProperty(window, "WM_NAME").value_or(QByteArray()).size();
    };
    QVERIFY2(untitled(), textProperty(window, "WM_NAME").value_or("?").constData());

    // Where hover is not reported the tooltip is the summary: so is the title.
    window.setState({drawings(), QStringLiteral("Reply from a")});
    QCOMPARE(textProperty(window, "_NET_WM_NAME").value_or(QByteArray()),
             QByteArray("Reply from a"));
    // Hover found: no tooltip, and no title either (not the program's name).
    window.setState({drawings(), QString()});
    QVERIFY2(untitled(), textProperty(window, "WM_NAME").value_or("?").constData());
    // Later pictures change nothing of that.
    window.setState({QIcon(solid(16, Qt::red)), QString()});
    QVERIFY(untitled());
}

void TestIconWindow::hoverProof_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<bool>("relayed");
    QTest::addColumn<QString>("expected");

    // mv: the cursor moves over the icon, no button held; down, up: the left
    // button; leave: the cursor goes; +ms: time passes; ?: hover found or not.
    QTest::newRow("the cursor stays: hover after a tenth of a second")
        << "mv +99 ? +1 ?" << false << "no yes";
    QTest::newRow("arrival with a press (a forwarded click): no hover")
        << "mv +2 down up +1000 ?" << false << "no";
    QTest::newRow("the forwarded click's double: still none")
        << "mv down up leave mv +1 down up leave +1000 ?" << false << "no";
    QTest::newRow("a press after the proof takes nothing back")
        << "mv +100 down up +1000 ?" << false << "yes";
    QTest::newRow("passing over at once proves nothing") << "mv +50 leave +1000 ?" << false << "no";
    QTest::newRow("a later stay does") << "mv down up leave +500 mv +100 ?" << false << "yes";
    QTest::newRow("relayed: never") << "mv +1000 ?" << true << "no";
}

void TestIconWindow::hoverProof()
{
    QFETCH(QString, script);
    QFETCH(bool, relayed);
    QFETCH(QString, expected);

    tarnwick::test::ManualTime time;
    QList<tarnwick::platform::NotificationCode> sent;
    XEmbedIconWindow window(1, false,
                            [&](const tarnwick::platform::Notification& n) { sent << n.code; });
    window.setRelayed(relayed);
    int found = 0;
    window.hoverFound = [&] { ++found; };
    window.resize(16, 16);
    QStringList log;
    int x = 2;
    const auto mouse = [&](QEvent::Type type, Qt::MouseButton button, Qt::MouseButtons held) {
        const QPointF at(x, 8);
        QMouseEvent event(type, at, window.mapToGlobal(at), button, held, Qt::NoModifier);
        QCoreApplication::sendEvent(&window, &event);
    };
    for (const QString& token : script.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (token == QLatin1String("mv")) {
            ++x;
            mouse(QEvent::MouseMove, Qt::NoButton, Qt::NoButton);
        } else if (token == QLatin1String("down")) {
            mouse(QEvent::MouseButtonPress, Qt::LeftButton, Qt::LeftButton);
        } else if (token == QLatin1String("up")) {
            mouse(QEvent::MouseButtonRelease, Qt::LeftButton, Qt::NoButton);
        } else if (token == QLatin1String("leave")) {
            QEvent event(QEvent::Leave);
            QCoreApplication::sendEvent(&window, &event);
        } else if (token.startsWith(QLatin1Char('+'))) {
            time.advance(token.mid(1).toInt());
        } else if (token == QLatin1String("?")) {
            log << (window.hoverSeen() ? "yes" : "no");
        }
    }
    QCOMPARE(log.join(QLatin1Char(' ')), expected);
    QCOMPARE(found, window.hoverSeen() ? 1 : 0);
    // The clicks themselves still reach the owner.
    QCOMPARE(sent.count(tarnwick::platform::NotificationCode::LeftDown),
             script.count(QLatin1String("down")));
}

QTEST_MAIN(TestIconWindow)
#include "tst_icon_window.moc"
