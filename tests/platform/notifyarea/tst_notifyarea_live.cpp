// The backends against a real tray (trayer) on the private X server the test
// runs on: for the X11 tray protocol the shared contract, docking, and what
// the icon window does with the size, tooltip and mouse it gets; for Qt's tray
// icon the hover it reports where Qt knows the icon's place.
#include "area_contract.h"
#include "platform/notifyarea/qt_notify_area.h"
#include "platform/notifyarea/xembed_notify_area.h"

#include <QAbstractNativeEventFilter>
#include <QCursor>
#include <QPainter>
#include <QProcess>
#include <QScopeGuard>
#include <QWidget>
#include <QtGui/qguiapplication_platform.h>
#include <QtTest>

#include <cstdlib>
#include <cstring>
#include <memory>

#include <xcb/xcb.h>

using namespace tarnwick::platform;

namespace {

QSize parentSize(QWidget* window)
{
    auto* c = qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
    const auto win = static_cast<xcb_window_t>(window->winId());
    xcb_query_tree_reply_t* tree = xcb_query_tree_reply(c, xcb_query_tree(c, win), nullptr);
    if (!tree)
        return {};
    xcb_get_geometry_reply_t* geometry =
        xcb_get_geometry_reply(c, xcb_get_geometry(c, tree->parent), nullptr);
    std::free(tree);
    if (!geometry)
        return {};
    const QSize size(geometry->width, geometry->height);
    std::free(geometry);
    return size;
}

// The window's own pixel as the server holds it, alpha included.
QRgb windowPixel(QWidget* window, int x, int y)
{
    auto* c = qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
    const auto win = static_cast<xcb_window_t>(window->winId());
    xcb_get_image_reply_t* image = xcb_get_image_reply(
        c,
        xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, win, static_cast<int16_t>(x),
                      static_cast<int16_t>(y), 1, 1, ~0u),
        nullptr);
    if (!image)
        return 0x12345678;
    QRgb pixel = 0;
    if (image->depth == 32 && xcb_get_image_data_length(image) >= 4)
        std::memcpy(&pixel, xcb_get_image_data(image), 4);
    std::free(image);
    return pixel;
}

// What a tray broadcasts when it takes the selection, naming owner.
void announceManager(xcb_window_t owner)
{
    auto* c = qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const QByteArray name = "_NET_SYSTEM_TRAY_S0";
    auto atom = [c](const QByteArray& n) {
        xcb_intern_atom_reply_t* r = xcb_intern_atom_reply(
            c, xcb_intern_atom(c, 0, static_cast<uint16_t>(n.size()), n.constData()), nullptr);
        const xcb_atom_t a = r ? r->atom : 0;
        std::free(r);
        return a;
    };
    xcb_client_message_event_t ev{};
    ev.response_type = XCB_CLIENT_MESSAGE;
    ev.format = 32;
    ev.window = screen->root;
    ev.type = atom("MANAGER");
    ev.data.data32[0] = XCB_CURRENT_TIME;
    ev.data.data32[1] = atom(name);
    ev.data.data32[2] = owner;
    xcb_send_event(c, 0, screen->root, XCB_EVENT_MASK_STRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&ev));
    xcb_flush(c);
}

xcb_window_t selectionOwner()
{
    auto* c = qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
    const QByteArray name = "_NET_SYSTEM_TRAY_S0";
    xcb_intern_atom_reply_t* a = xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, static_cast<uint16_t>(name.size()), name.constData()), nullptr);
    xcb_get_selection_owner_reply_t* o =
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, a ? a->atom : 0), nullptr);
    const xcb_window_t owner = o ? o->owner : 0;
    std::free(a);
    std::free(o);
    return owner;
}

QIcon redDisc()
{
    QImage image(16, 16, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::red);
    p.drawEllipse(QRectF(1, 1, 14, 14));
    p.end();
    return QIcon(QPixmap::fromImage(image));
}

} // namespace

class TestNotifyAreaLive : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void contract();
    void docksAtTheTraysSize();
    void iconWindowMouse();
    void lossAndRestart();
    void lateAnnouncementOfTheSameTray();
    void qtBackendReportsHover();
    void alphaTrayGetsTransparency();
    void shownOnlyOnceDocked_data();
    void shownOnlyOnceDocked();

private:
    void startTray();
    void stopTray();
    std::unique_ptr<QProcess> m_tray;
};

void TestNotifyAreaLive::startTray()
{
    m_tray = std::make_unique<QProcess>();
    m_tray->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_tray->start(QStringLiteral("trayer"),
                  {"--edge", "top", "--align", "right", "--widthtype", "request", "--height", "24",
                   "--SetDockType", "false", "--SetPartialStrut", "false"});
    QVERIFY2(m_tray->waitForStarted(), "trayer did not start");
}

void TestNotifyAreaLive::stopTray()
{
    if (!m_tray)
        return;
    m_tray->terminate();
    if (!m_tray->waitForFinished(5000))
        m_tray->kill();
    m_tray.reset();
}

void TestNotifyAreaLive::initTestCase()
{
    QVERIFY(XEmbedNotifyArea::platformSupported());
    startTray();
    XEmbedNotifyArea probe;
    QTRY_VERIFY_WITH_TIMEOUT(probe.isAvailable(), 5000);
}

void TestNotifyAreaLive::cleanupTestCase()
{
    stopTray();
}

void TestNotifyAreaLive::contract()
{
    XEmbedNotifyArea area;
    checkRequestContract(area);
}

void TestNotifyAreaLive::docksAtTheTraysSize()
{
    XEmbedNotifyArea area;
    QSignalSpy placed(&area, &NotifyArea::iconGeometryChanged);
    QVERIFY(area.add(11, IconState{contractIcon(), QString(200, QLatin1Char('t'))}));
    QWidget* window = area.iconWindow(11);
    QVERIFY(window);
    QTRY_VERIFY_WITH_TIMEOUT(!area.iconGeometry(11).isEmpty(), 5000);
    QTRY_VERIFY(!placed.isEmpty());
    QCOMPARE(placed.last().at(1).toRect(), area.iconGeometry(11));
    QVERIFY(window->isVisible());
    // The size is the socket's, in the widget's own (logical) pixels.
    QCOMPARE(window->size(), parentSize(window));
    QCOMPARE(area.iconGeometry(11).size(), window->size());
    QVERIFY(window->width() >= 16);
    // The tooltip is shown as given, and relaying trays that show the title
    // instead show the same text.
    QCOMPARE(window->toolTip(), QString(200, QLatin1Char('t')));
    QCOMPARE(window->windowTitle(), window->toolTip());
    // trayer names no visual of its own: no alpha channel then.
    QVERIFY(!window->testAttribute(Qt::WA_TranslucentBackground));
    // A close request is refused; only the owner removes its icon.
    QVERIFY(!window->close());
    QVERIFY(window->isVisible());
    QVERIFY(area.remove(11));
    QTRY_VERIFY(!area.iconWindow(11));
}

void TestNotifyAreaLive::iconWindowMouse()
{
    XEmbedNotifyArea area;
    QVERIFY(area.add(12, IconState{contractIcon(), QString()}));
    QWidget* window = area.iconWindow(12);
    QTRY_VERIFY_WITH_TIMEOUT(!area.iconGeometry(12).isEmpty(), 5000);
    QList<Notification> seen;
    connect(&area, &NotifyArea::notification, this, [&](const Notification& n) { seen << n; });
    // A press where no move was reported is announced by a Move, once.
    QTest::mousePress(window, Qt::LeftButton, {}, QPoint(3, 4));
    QTest::mouseRelease(window, Qt::LeftButton, {}, QPoint(3, 4));
    QTest::mousePress(window, Qt::RightButton, {}, QPoint(3, 4));
    QTest::mouseRelease(window, Qt::RightButton, {}, QPoint(3, 4));
    QTest::mouseClick(window, Qt::MiddleButton, {}, QPoint(5, 6));
    QStringList codes;
    for (const Notification& n : seen) {
        QCOMPARE(n.iconId, 12u);
        QVERIFY(!n.synthesized);
        codes << QLatin1String(notificationCodeName(n.code));
    }
    QCOMPARE(codes.join(' '), QStringLiteral("Move LeftDown LeftUp RightDown RightUp Move "
                                             "MiddleDown MiddleUp"));
    QCOMPARE(seen.first().pos, window->mapToGlobal(QPoint(3, 4)));
}

void TestNotifyAreaLive::lossAndRestart()
{
    XEmbedNotifyArea area;
    QVERIFY(area.add(13, IconState{contractIcon(), QString()}));
    QPointer<QWidget> window = area.iconWindow(13);
    QTRY_VERIFY_WITH_TIMEOUT(!area.iconGeometry(13).isEmpty(), 5000);
    checkRestartContract(
        area, [this] { stopTray(); }, [this] { startTray(); });
    // The old window is gone, not left on the desktop.
    QTRY_VERIFY(!window);
}

// Counts the tray announcements the application receives.
class ManagerCounter : public QAbstractNativeEventFilter {
public:
    ManagerCounter() { qGuiApp->installNativeEventFilter(this); }
    ~ManagerCounter() override { qGuiApp->removeNativeEventFilter(this); }
    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override
    {
        const auto* e = static_cast<const xcb_generic_event_t*>(message);
        if (type == "xcb_generic_event_t" && (e->response_type & 0x7f) == XCB_CLIENT_MESSAGE &&
            reinterpret_cast<const xcb_client_message_event_t*>(e)->format == 32)
            ++seen;
        return false;
    }
    int seen = 0;
};

// A tray's announcement can still be queued when a new area has already found
// that tray and docked: it is no restart, and the icon must stay docked.
void TestNotifyAreaLive::lateAnnouncementOfTheSameTray()
{
    XEmbedNotifyArea area;
    QVERIFY(area.add(14, IconState{contractIcon(), QString()}));
    QPointer<QWidget> window = area.iconWindow(14);
    QTRY_VERIFY_WITH_TIMEOUT(!area.iconGeometry(14).isEmpty(), 5000);
    const QRect docked = area.iconGeometry(14);
    QSignalSpy restarted(&area, &NotifyArea::areaRestarted);
    QSignalSpy lost(&area, &NotifyArea::areaLost);
    ManagerCounter counter;
    announceManager(selectionOwner());
    QTRY_COMPARE(counter.seen, 1);
    // What the filter queued for itself runs now.
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    QCOMPARE(restarted.count(), 0);
    QCOMPARE(lost.count(), 0);
    QVERIFY(window);
    QCOMPARE(area.iconWindow(14), window.data());
    // Still docked where it was; the tray may meanwhile have grown the slot
    // it first gave (trayer: 16 x 16, then 16 x 22).
    QVERIFY(!area.iconGeometry(14).isEmpty());
    QCOMPARE(area.iconGeometry(14).topLeft(), docked.topLeft());
}

void TestNotifyAreaLive::qtBackendReportsHover()
{
    QtNotifyArea area;
    QVERIFY(area.isAvailable());
    QVERIFY(area.add(21, IconState{contractIcon(), QStringLiteral("tip")}));
    QTRY_VERIFY_WITH_TIMEOUT(!area.iconGeometry(21).isEmpty(), 5000);
    QTRY_VERIFY(area.capabilities().testFlag(Capability::Motion));
    QList<Notification> seen;
    connect(&area, &NotifyArea::notification, this, [&](const Notification& n) { seen << n; });
    const QRect icon = area.iconGeometry(21);
    QCursor::setPos(icon.center());
    QTRY_VERIFY(!seen.isEmpty());
    QCOMPARE(seen.first().code, NotificationCode::Move);
    QCOMPARE(seen.first().pos, icon.center());
    QVERIFY(seen.first().synthesized);
    // Outside the icon nothing more comes, also not for a resting cursor.
    QCursor::setPos(icon.left() - 40, icon.bottom() + 200);
    QTest::qWait(100);
    seen.clear();
    QTest::qWait(100);
    QVERIFY(seen.isEmpty());
}

void TestNotifyAreaLive::alphaTrayGetsTransparency()
{
    stopTray();
    QProcess alphaTray;
    // Stopped however the test ends, so a failure leaves no tray running.
    const auto stop = qScopeGuard([&alphaTray] {
        alphaTray.terminate();
        if (!alphaTray.waitForFinished(5000))
            alphaTray.kill();
    });
    alphaTray.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    alphaTray.start(QStringLiteral(ARGB_TRAY), {});
    QVERIFY(alphaTray.waitForStarted());
    XEmbedNotifyArea area;
    QTRY_VERIFY_WITH_TIMEOUT(area.isAvailable(), 5000);
    QVERIFY(area.add(41, IconState{redDisc(), QString()}));
    QWidget* window = area.iconWindow(41);
    QTRY_VERIFY_WITH_TIMEOUT(!area.iconGeometry(41).isEmpty(), 5000);
    // In the tray's own visual, never in one forced on it.
    QVERIFY(window->testAttribute(Qt::WA_TranslucentBackground));
    QCOMPARE(window->size(), QSize(24, 24));
    QTRY_COMPARE(windowPixel(window, 12, 12), qRgba(255, 0, 0, 255));
    // Around the picture and in its transparent corners: nothing at all, so
    // the tray's compositing shows its own background there.
    QCOMPARE(windowPixel(window, 0, 0), 0u);
    QCOMPARE(windowPixel(window, 4, 4), 0u);
    QCOMPARE(windowPixel(window, 23, 23), 0u);
    const QRgb rim = windowPixel(window, 4 + 8, 4 + 1);
    QVERIFY2(qAlpha(rim) > 0 && qAlpha(rim) < 255, qPrintable(QString::number(rim, 16)));
    alphaTray.terminate();
    alphaTray.waitForFinished(5000);
    QTRY_VERIFY(!area.isAvailable());
}

// Asking a tray to dock the icon is not the icon on screen: a tray that
// takes the request and embeds nothing leaves it unshown; one that maps it
// into a socket without the embedding message has docked it all the same.
void TestNotifyAreaLive::shownOnlyOnceDocked_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<bool>("shown");
    QTest::newRow("embeds nothing") << "silent" << false;
    QTest::newRow("maps without telling") << "map-only" << true;
}

void TestNotifyAreaLive::shownOnlyOnceDocked()
{
    QFETCH(QString, mode);
    QFETCH(bool, shown);
    stopTray();
    QProcess tray;
    const auto stop = qScopeGuard([&tray] {
        tray.terminate();
        if (!tray.waitForFinished(5000))
            tray.kill();
    });
    tray.start(QStringLiteral(ARGB_TRAY), {mode});
    QVERIFY(tray.waitForStarted());
    XEmbedNotifyArea area;
    QSignalSpy changes(&area, &NotifyArea::iconShownChanged);
    QTRY_VERIFY_WITH_TIMEOUT(area.isAvailable(), 5000);
    QVERIFY(area.add(42, IconState{redDisc(), QString()}));
    if (shown) {
        QTRY_VERIFY_WITH_TIMEOUT(area.iconShown(42), 5000);
        QVERIFY(!changes.isEmpty());
    } else {
        QByteArray out;
        QTRY_VERIFY_WITH_TIMEOUT((out += tray.readAllStandardOutput()).contains("ASKED"), 5000);
        // Whatever the server still had for us is in by now.
        QCoreApplication::processEvents();
        QVERIFY(area.hasIcon(42));
        QVERIFY(!area.iconShown(42));
    }
    tray.terminate();
    tray.waitForFinished(5000);
    QTRY_VERIFY(!area.isAvailable());
    QVERIFY(!area.iconShown(42));
}

QTEST_MAIN(TestNotifyAreaLive)
#include "tst_notifyarea_live.moc"
