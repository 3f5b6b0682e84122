// A real trace in the window on an X server (Xvfb), inside the private test
// network, kept as a picture in the build folder for a person to look at.

#include "platform/net/echo.h"
#include "rig/rig_support.h"
#include "trace/trace_window.h"
#include "trace_check.h"

#include <QCheckBox>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QScrollBar>
#include <QtTest>

using namespace tarnwick;
using namespace tarnwick::test;

class TestTraceScreen : public QObject {
    Q_OBJECT
private slots:
    void traceOnScreen();
};

void TestTraceScreen::traceOnScreen()
{
    if (!rig::insideRig())
        QSKIP("needs the private test network (tests/rig/rig.sh)");
    QVERIFY(QGuiApplication::platformName() == QLatin1String("xcb"));
    trace::TForm3 form(nullptr, trace::TForm3::Dependencies{
                                    std::make_shared<net::SystemEchoService>(std::string())});
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.CheckBox1->setChecked(true);
    startTrace(form, QStringLiteral("target.tarnwick.test"), QStringLiteral("32"));
    QVERIFY(waitForTraceEnd(form, 60000));
    QVERIFY(form.memShowTracert->text().endsWith(QStringLiteral("Trace complete.\r\n")));
    QScrollBar* bar = form.memShowTracert->verticalScrollBar();
    QCOMPARE(bar->value(), bar->maximum());
    form.repaint();

    const QImage shot = form.screen()->grabWindow(form.winId()).toImage();
    QCOMPARE(shot.size() / shot.devicePixelRatio(), QSize(468, 325));
    // Something was drawn: more than a couple of colours.
    QSet<QRgb> colours;
    for (int y = 0; y < shot.height(); y += 3)
        for (int x = 0; x < shot.width(); x += 3)
            colours.insert(shot.pixel(x, y));
    QVERIFY(colours.size() > 4);

    const QString folder = qEnvironmentVariable("TARNWICK_BUILD_DIR", QDir::currentPath()) +
                           QStringLiteral("/tests/trace");
    QVERIFY(QDir().mkpath(folder));
    const QString file = folder + QStringLiteral("/trace_window.png");
    QVERIFY(shot.save(file));
    qInfo("picture: %s\n%s", qPrintable(file), qPrintable(form.memShowTracert->toPlainText()));
}

QTEST_MAIN(TestTraceScreen)
#include "tst_trace_screen.moc"
