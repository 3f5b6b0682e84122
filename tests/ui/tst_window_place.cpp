// The main window comes back where it was, under a real window manager
// (openbox on the test's own display): moved away from where the manager put
// it, hidden by its close box and shown again, its frame and its inside are
// where they were. A window hidden while minimised comes back normal.

#include "platform/user_store.h"
#include "support/form_fixture.h"
#include "ui/main_window.h"

#include <QDialog>
#include <QProcess>
#include <QStandardPaths>
#include <QtGui/qguiapplication_platform.h>
#include <QtTest>

#include <cstdlib>
#include <memory>
#include <optional>

#include <xcb/xcb.h>

using namespace tarnwick;
using tarnwick::test::FormFixture;

namespace {

// The first window of a run waits for the window manager to start framing;
// on a loaded machine that took over the default five seconds.
constexpr int kExposeMs = 20000;

xcb_connection_t* connection()
{
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

xcb_window_t rootWindow()
{
    return xcb_setup_roots_iterator(xcb_get_setup(connection())).data->root;
}

bool managerRuns()
{
    xcb_connection_t* c = connection();
    const char name[] = "_NET_SUPPORTING_WM_CHECK";
    auto* atom = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, sizeof name - 1, name), nullptr);
    if (!atom)
        return false;
    auto* prop = xcb_get_property_reply(
        c, xcb_get_property(c, 0, rootWindow(), atom->atom, XCB_ATOM_WINDOW, 0, 1), nullptr);
    const bool set = prop && xcb_get_property_value_length(prop) == 4;
    free(prop);
    free(atom);
    return set;
}

// Where the window really is on the screen, as the X server says: its inside
// and the frame the manager put around it. Empty while it is not mapped.
struct Place {
    QPoint inside;
    QPoint frame;
};

std::optional<Place> placeOf(QWidget& window)
{
    xcb_connection_t* c = connection();
    const auto id = static_cast<xcb_window_t>(window.winId());
    auto* attributes =
        xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, id), nullptr);
    const bool viewable = attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
    free(attributes);
    if (!viewable)
        return std::nullopt;
    const xcb_window_t root = rootWindow();
    auto* at =
        xcb_translate_coordinates_reply(c, xcb_translate_coordinates(c, id, root, 0, 0), nullptr);
    if (!at)
        return std::nullopt;
    Place place{QPoint(at->dst_x, at->dst_y), {}};
    free(at);
    // The frame: the ancestor that is a child of the root.
    xcb_window_t top = id;
    for (;;) {
        auto* tree = xcb_query_tree_reply(c, xcb_query_tree(c, top), nullptr);
        if (!tree)
            return std::nullopt;
        const xcb_window_t parent = tree->parent;
        free(tree);
        if (parent == root || parent == XCB_WINDOW_NONE)
            break;
        top = parent;
    }
    auto* geometry = xcb_get_geometry_reply(c, xcb_get_geometry(c, top), nullptr);
    if (!geometry)
        return std::nullopt;
    place.frame = QPoint(geometry->x, geometry->y);
    free(geometry);
    return place;
}

// Framed and no longer moving.
std::optional<Place> settledPlace(QWidget& window)
{
    std::optional<Place> last;
    int same = 0;
    const bool settled = QTest::qWaitFor(
        [&] {
            const std::optional<Place> now = placeOf(window);
            const bool framed = now && now->inside != now->frame;
            if (framed && last && now->inside == last->inside && now->frame == last->frame)
                ++same;
            else
                same = 0;
            last = now;
            return same >= 5;
        },
        5000);
    return settled ? last : std::nullopt;
}

QString text(const std::optional<Place>& p)
{
    if (!p)
        return QStringLiteral("not on screen");
    return QStringLiteral("inside %1,%2 frame %3,%4")
        .arg(p->inside.x())
        .arg(p->inside.y())
        .arg(p->frame.x())
        .arg(p->frame.y());
}

} // namespace

class TestWindowPlace : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void comesBackWhereItWas_data();
    void comesBackWhereItWas();
    void hiddenWhileMinimisedComesBackNormal();
    void shownWhileItsDialogWaitsTheDialogKeepsTheKeyboard();

private:
    std::unique_ptr<QProcess> m_manager;
};

void TestWindowPlace::initTestCase()
{
    if (!connection())
        QSKIP("needs an X11 display");
    const QString openbox = QStandardPaths::findExecutable(QStringLiteral("openbox"));
    if (openbox.isEmpty())
        QSKIP("openbox is not installed");
    m_manager = std::make_unique<QProcess>();
    m_manager->start(openbox, {QStringLiteral("--sm-disable")});
    QVERIFY(m_manager->waitForStarted());
    QVERIFY2(QTest::qWaitFor(managerRuns, 10000), "openbox did not take the screen");
}

void TestWindowPlace::cleanupTestCase()
{
    if (m_manager) {
        m_manager->terminate();
        m_manager->waitForFinished();
    }
}

void TestWindowPlace::init()
{
    platform::RegWriteString(platform::RegistryRoot::CurrentUser, platform::kProductKey,
                             QStringLiteral("fr"), QStringLiteral("1"));
}

void TestWindowPlace::comesBackWhereItWas_data()
{
    QTest::addColumn<QPoint>("movedTo");
    QTest::newRow("dragged to 75,99") << QPoint(75, 99);
    QTest::newRow("dragged towards the far corner") << QPoint(250, 240);
}

void TestWindowPlace::comesBackWhereItWas()
{
    QFETCH(QPoint, movedTo);
    FormFixture fixture;
    ui::TForm1& form = *fixture.form;
    // The icon is shown: the close box hides the window.
    fixture.iconShown = true;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form, kExposeMs));
    const std::optional<Place> placed = settledPlace(form);
    QVERIFY2(placed, "the manager never framed the window");

    // Moved as a drag moves it: by the manager, not by the program.
    xcb_connection_t* c = connection();
    const quint32 xy[] = {quint32(movedTo.x()), quint32(movedTo.y())};
    xcb_configure_window(c, static_cast<xcb_window_t>(form.winId()),
                         XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y, xy);
    xcb_flush(c);
    QVERIFY(QTest::qWaitFor(
        [&] {
            const std::optional<Place> now = placeOf(form);
            return now && now->inside != placed->inside;
        },
        5000));
    const std::optional<Place> before = settledPlace(form);
    QVERIFY(before);
    const QPoint frameOffset = before->inside - before->frame;

    for (int round = 0; round < 2; ++round) {
        form.close();
        QVERIFY(!form.isVisible());
        QVERIFY(QTest::qWaitFor([&] { return !placeOf(form); }, 5000));
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form, kExposeMs));
        const std::optional<Place> after = settledPlace(form);
        QVERIFY2(after && after->inside == before->inside && after->frame == before->frame,
                 qPrintable(QStringLiteral("round %1: was %2, came back %3")
                                .arg(round)
                                .arg(text(before), text(after))));
        QCOMPARE(after->inside - after->frame, frameOffset);
    }
    QCOMPARE(form.size(), QSize(730, 492));
}

void TestWindowPlace::hiddenWhileMinimisedComesBackNormal()
{
    FormFixture fixture;
    ui::TForm1& form = *fixture.form;
    fixture.iconShown = true;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form, kExposeMs));
    form.showMinimized();
    QVERIFY(QTest::qWaitFor([&] { return form.isMinimized(); }, 5000));
    // The close box of a minimised window (from a taskbar's menu).
    form.close();
    QVERIFY(!form.isVisible());
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form, kExposeMs));
    QVERIFY(!form.isMinimized());
    QVERIFY2(settledPlace(form), "shown, but not on screen");
}

// About from the tray, then a click on the icon shows the window: the
// manager activates the window it maps, and the window hands that on to
// the dialog that blocks it.
void TestWindowPlace::shownWhileItsDialogWaitsTheDialogKeepsTheKeyboard()
{
    FormFixture fixture;
    ui::TForm1& form = *fixture.form;
    fixture.iconShown = true;
    QDialog* about = fixture.aboutBox();
    QString outcome = QStringLiteral("the About box never came up");
    QTimer::singleShot(0, [&] {
        if (QTest::qWaitForWindowActive(about)) {
            form.show();
            outcome = QStringLiteral("the window never settled");
            if (QTest::qWaitForWindowExposed(&form, kExposeMs) && settledPlace(form)) {
                const bool dialogActive =
                    QTest::qWaitFor([&] { return QApplication::activeWindow() == about; }, 2000);
                outcome = dialogActive ? QStringLiteral("dialog active")
                                       : QStringLiteral("active: ") +
                                             (QApplication::activeWindow()
                                                  ? QApplication::activeWindow()->objectName()
                                                  : QStringLiteral("none"));
            }
        }
        about->reject();
    });
    form.About1->trigger();
    QCOMPARE(outcome, QStringLiteral("dialog active"));
}

QTEST_MAIN(TestWindowPlace)
#include "tst_window_place.moc"
