// The program as its start-up assembles it: errors that handlers raise reach
// the user in the top-level message box (titled with the application title,
// error icon, full-stop rule) and the program carries on.

#include "app/application.h"
#include "app/startup.h"
#include "core/app_error.h"
#include "engine/status.h"
#include "platform/user_store.h"
#include "support/form_fixture.h"
#include "support/manual_time.h"
#include "support/memory_notify_area.h"
#include "support/modal.h"
#include "support/scripted_echo.h"
#include "tray/text_tray_icon.h"
#include "tray/tray_icon_handler.h"
#include "tray/tray_window.h"
#include "ui/controls.h"
#include "ui/log_memo.h"
#include "ui/main_window.h"
#include "ui/pictures.h"

#include <QAction>
#include <QDir>
#include <QElapsedTimer>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <csignal>

#include <sys/stat.h>

#if defined(__SANITIZE_ADDRESS__)
#define TARNWICK_LEAK_CHECKS 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TARNWICK_LEAK_CHECKS 1
#endif
#endif
#ifdef TARNWICK_LEAK_CHECKS
#include <sanitizer/lsan_interface.h>
#endif

using namespace tarnwick;
using tarnwick::app::TApplication;

namespace {

// The program in a temporary folder with a scripted echo service and a
// page opener that only records.
app::Environment doublesIn(const QTemporaryDir& root)
{
    app::Environment environment;
    environment.dataFolder = root.filePath(QStringLiteral("data"));
    environment.executablePath = root.filePath(QStringLiteral("tarnwick"));
    environment.echo = std::make_shared<test::ScriptedEchoService>();
    environment.pages = std::make_shared<test::RecordingPageOpener>();
    return environment;
}

struct ShownBox {
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
};

// Waits for the next message box, records it and closes it with its button.
ShownBox answerNextBox(const std::function<void()>& action)
{
    ShownBox shown;
    bool seen = false;
    test::whenModalShown([&](QWidget* modal) {
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            shown = {box->windowTitle(), box->text(), box->icon()};
            box->button(QMessageBox::Ok)->click();
        }
        seen = true;
    });
    action();
    if (!QTest::qWaitFor([&] { return seen; }, 5000))
        shown.text = QStringLiteral("<no message box>");
    return shown;
}

// The program's notification area, for one test, is one in memory; it is made
// when the program's tray icon first asks for it.
struct MemoryAreaInUse {
    explicit MemoryAreaInUse(bool holdNewIcons = false)
    {
        tray::TTrayIconHandler::useAreaFactory([this, holdNewIcons] {
            auto made = std::make_unique<platform::MemoryNotifyArea>();
            made->holdNewIcons(holdNewIcons);
            area = made.get();
            return made;
        });
    }
    ~MemoryAreaInUse() { tray::TTrayIconHandler::useAreaFactory({}); }
    MemoryAreaInUse(const MemoryAreaInUse&) = delete;
    MemoryAreaInUse& operator=(const MemoryAreaInUse&) = delete;
    platform::MemoryNotifyArea* area = nullptr;
};

// What Qt allocates while an error unwinds through it is never freed (its
// frames have no clean-ups): no leak of ours, so not reported.
class QtUnwindingLeaksIgnored {
public:
    // Not defaulted: the bodies are empty only without leak checks.
    QtUnwindingLeaksIgnored() // NOLINT(modernize-use-equals-default)
    {
#ifdef TARNWICK_LEAK_CHECKS
        __lsan_disable();
#endif
    }
    ~QtUnwindingLeaksIgnored() // NOLINT(modernize-use-equals-default)
    {
#ifdef TARNWICK_LEAK_CHECKS
        __lsan_enable();
#endif
    }
    QtUnwindingLeaksIgnored(const QtUnwindingLeaksIgnored&) = delete;
    QtUnwindingLeaksIgnored& operator=(const QtUnwindingLeaksIgnored&) = delete;
};

} // namespace

class TestApplication : public QObject {
    Q_OBJECT
private slots:
    void init();
    void fullStopRule_data();
    void fullStopRule();
    void startedProgramShowsHandlerErrors_data();
    void startedProgramShowsHandlerErrors();
    void errorEscapingAHandlerIsShownToo();
    void statusPictureReachesTheIconOnlyWhenItChanges();
    void endingSignalsAtStartAndAtShutdown_data();
    void endingSignalsAtStartAndAtShutdown();
    void trayWaitCountsFromTheStart_data();
    void trayWaitCountsFromTheStart();
    void trayWaitHoldsForAnAreaThatHasTheIcon_data();
    void trayWaitHoldsForAnAreaThatHasTheIcon();
    void trayExitWhileADialogWaits();
};

void TestApplication::init()
{
    platform::RegWriteString(platform::RegistryRoot::CurrentUser, platform::kProductKey,
                             QStringLiteral("fr"), QStringLiteral("1"));
}

void TestApplication::fullStopRule_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("shown");
    QTest::newRow("plain") << "Something failed"
                           << "Something failed.";
    QTest::newRow("already a full stop") << "Done."
                                         << "Done.";
    QTest::newRow("closing parenthesis sorts below") << "List index out of bounds (3)"
                                                     << "List index out of bounds (3)";
    QTest::newRow("exclamation sorts below") << "Oops!"
                                             << "Oops!";
    QTest::newRow("blank sorts below") << "trailing "
                                       << "trailing ";
    QTest::newRow("slash sorts above") << "path/"
                                       << "path/.";
    QTest::newRow("letter after reason")
        << "Cannot create file \"/d/config.cfg\". Permission denied"
        << "Cannot create file \"/d/config.cfg\". Permission denied.";
    QTest::newRow("empty") << ""
                           << "";
}

void TestApplication::fullStopRule()
{
    QFETCH(QString, message);
    QTEST(app::errorMessageText(message), "shown");
}

void TestApplication::startedProgramShowsHandlerErrors_data()
{
    QTest::addColumn<QString>("situation");
    QTest::addColumn<QString>("expected"); // %1: the data folder
    QTest::newRow("data folder missing")
        << "missing"
        << "Cannot create file \"%1/domains.cfg\". No such file or directory.";
    QTest::newRow("data folder is a file")
        << "file"
        << "Cannot create file \"%1/domains.cfg\". Not a directory.";
    QTest::newRow("host list file read-only")
        << "domains read-only"
        << "Cannot create file \"%1/domains.cfg\". Permission denied.";
    QTest::newRow("settings file read-only")
        << "config read-only"
        << "Cannot create file \"%1/config.cfg\". Permission denied.";
    QTest::newRow("double click on a log without a host") << "log without host"
                                                          << "List index out of bounds (3)";
}

void TestApplication::startedProgramShowsHandlerErrors()
{
    QFETCH(QString, situation);
    QFETCH(QString, expected);
    QTemporaryDir root;
    const QString data = root.filePath(QStringLiteral("data"));
    if (situation == QLatin1String("file")) {
        QFile f(data);
        QVERIFY(f.open(QIODevice::WriteOnly));
    } else if (situation != QLatin1String("missing")) {
        QVERIFY(QDir().mkpath(data));
    }
    const auto readOnly = [&](const QString& name) {
        const QString path = data + QLatin1Char('/') + name;
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        QVERIFY(::chmod(QFile::encodeName(path).constData(), 0444) == 0);
    };
    if (situation == QLatin1String("domains read-only"))
        readOnly(QStringLiteral("domains.cfg"));
    if (situation == QLatin1String("config read-only"))
        readOnly(QStringLiteral("config.cfg"));

    auto* application = qobject_cast<TApplication*>(QCoreApplication::instance());
    app::Environment environment;
    environment.dataFolder = data;
    environment.executablePath = root.filePath(QStringLiteral("tarnwick"));
    environment.echo = std::make_shared<test::ScriptedEchoService>();
    auto pages = std::make_shared<test::RecordingPageOpener>();
    environment.pages = pages;
    app::Program program(*application, environment);
    ui::TForm1& form = program.mainWindow();
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));

    const ShownBox box = answerNextBox([&] {
        if (situation == QLatin1String("log without host"))
            QTest::mouseDClick(form.Memo4->viewport(), Qt::LeftButton);
        else
            QTest::mouseClick(form.CheckBox1, Qt::LeftButton);
    });
    QCOMPARE(box.text, expected.arg(data));
    QCOMPARE(box.title, QStringLiteral("Tarnwick"));
    QCOMPARE(box.icon, QMessageBox::Critical);
    // The program carries on: the window still works after the box.
    QVERIFY(form.isVisible());
    QTest::mouseClick(form.Button1, Qt::LeftButton);
}

void TestApplication::errorEscapingAHandlerIsShownToo()
{
    // A handler that lets an error through is still caught before it unwinds
    // through Qt, and shown the same way.
    auto* application = qobject_cast<TApplication*>(QCoreApplication::instance());
    QStringList shown;
    application->setErrorPresenter([&](const QString& text) { shown << text; });
    setTopLevelErrorReporter([&](const QString& m) { application->showException(m); });
    QPushButton button;
    QObject::connect(&button, &QPushButton::clicked, [] { throw ListIndexError(7); });
    {
        const QtUnwindingLeaksIgnored unwinding;
        QTest::mouseClick(&button, Qt::LeftButton);
    }
    QCOMPARE(shown, QStringList{QStringLiteral("List index out of bounds (7)")});
    application->setErrorPresenter({});
    setTopLevelErrorReporter(nullptr);
}

// The picture was set on the icon at every tick, unchanged, and each time
// painted and sent to the display server again.
void TestApplication::statusPictureReachesTheIconOnlyWhenItChanges()
{
    using Kind = platform::MemoryNotifyArea::RequestKind;
    MemoryAreaInUse memory;
    platform::MemoryNotifyArea*& area = memory.area;
    platform::RegWriteString(platform::RegistryRoot::CurrentUser, platform::kProductKey,
                             QStringLiteral("fr"), QStringLiteral("1"));
    QTemporaryDir root;
    QVERIFY(QDir().mkpath(root.filePath(QStringLiteral("data"))));
    app::Environment environment = doublesIn(root);
    test::ManualTime time;
    auto* application = qobject_cast<TApplication*>(QCoreApplication::instance());
    {
        app::Program program(*application, environment);
        ui::TForm1& form = program.mainWindow();
        form.Timer6->stop(); // monitoring stays off: nothing changes
        QVERIFY(area);
        const auto modified = [&] {
            return std::count_if(area->requests().cbegin(), area->requests().cend(),
                                 [](const auto& r) { return r.kind == Kind::Modify; });
        };
        time.advance(1000);
        const auto atFirstTick = modified();
        time.advance(5000);
        QCOMPARE(modified(), atFirstTick);

        // Every host failing, then one answering: the picture changes and is
        // set once, on the next tick.
        QCOMPARE(form.statusPicture(), engine::StatusPicture::Image2);
        form.recordResult(0, QStringLiteral("Reply from a bytes=32 time=1 ms"));
        time.advance(1000);
        QCOMPARE(modified(), atFirstTick + 1);
        QCOMPARE(program.trayWindow().TextTrayIcon1->icon().cacheKey(),
                 ui::statusIcon(form.statusPicture()).cacheKey());
        QVERIFY(form.statusPicture() != engine::StatusPicture::Image2);
        time.advance(3000);
        QCOMPARE(modified(), atFirstTick + 1);
    }
}

namespace {

// Raises SIGTERM where a test wants a signal: when the first-run page opens
// (the window is being created and its files read), or on a worker when its
// first echo is answered and when its echo handle goes (it is being joined).
class SignallingPages : public platform::PageOpener {
public:
    bool openPage(const QString&) override { return ::raise(SIGTERM) == 0; }
};

class SignallingEcho : public net::EchoService {
public:
    std::unique_ptr<net::EchoHandle> open() override { return std::make_unique<Handle>(); }

private:
    class Handle : public net::EchoHandle {
    public:
        ~Handle() override { ::raise(SIGTERM); }
        net::EchoPath path() const override { return net::EchoPath::Datagram; }
        net::EchoResult echo(const net::EchoRequest& request, const net::Canceller*) override
        {
            if (!m_signalled)
                m_signalled = ::raise(SIGTERM) == 0;
            net::EchoResult result;
            result.reply = net::EchoReply{net::StatusSuccess, 1, request.destination};
            return result;
        }

    private:
        bool m_signalled = false;
    };
};

} // namespace

void TestApplication::endingSignalsAtStartAndAtShutdown_data()
{
    QTest::addColumn<bool>("whileLoading");
    QTest::newRow("while the files are read") << true;
    QTest::newRow("again while the workers are joined") << false;
}

// SIGTERM ends the program as "Exit" does, with status 0, from before the
// files are read until the process ends; the default action gave status 143.
void TestApplication::endingSignalsAtStartAndAtShutdown()
{
    QFETCH(bool, whileLoading);
    platform::RegWriteString(platform::RegistryRoot::CurrentUser, platform::kProductKey,
                             QStringLiteral("fr"), whileLoading ? QString() : QStringLiteral("1"));
    QTemporaryDir root;
    QVERIFY(QDir().mkpath(root.filePath(QStringLiteral("data"))));
    app::Environment environment;
    environment.dataFolder = root.filePath(QStringLiteral("data"));
    environment.executablePath = root.filePath(QStringLiteral("tarnwick"));
    environment.echo =
        whileLoading
            ? std::shared_ptr<net::EchoService>(std::make_shared<test::ScriptedEchoService>())
            : std::make_shared<SignallingEcho>();
    environment.pages =
        whileLoading ? std::shared_ptr<platform::PageOpener>(std::make_shared<SignallingPages>())
                     : std::make_shared<test::RecordingPageOpener>();
    // The start-up timers at once: monitoring on, the workers started.
    test::ManualTime time;
    QTimer start;
    start.setSingleShot(true);
    connect(&start, &QTimer::timeout, [&time] { time.advance(2000); });
    start.start(0);
    // Should the signal be lost, the loop still ends, with another status.
    QTimer lost;
    lost.setSingleShot(true);
    connect(&lost, &QTimer::timeout, [] { QCoreApplication::exit(1); });
    lost.start(10000);
    auto* application = qobject_cast<TApplication*>(QCoreApplication::instance());
    QCOMPARE(app::runProgram(*application, environment), 0);
}

void TestApplication::trayWaitCountsFromTheStart_data()
{
    // Times on the test's clock: still hidden at the first, shown by the
    // second. Real time passing while the test runs only shortens the wait.
    QTest::addColumn<int>("spentMs");
    QTest::addColumn<int>("hiddenAt");
    QTest::addColumn<int>("shownAt");
    QTest::newRow("start unknown: the whole wait") << -1 << 1499 << 1500;
    QTest::newRow("half spent reading the files") << 700 << 700 << 800;
    QTest::newRow("all spent reading a long list") << 60000 << -1 << 0;
}

// A later start with no notification area shows its window once the wait
// for one is over, counted from the process start: reading a long host list
// must not push the window further out.
void TestApplication::trayWaitCountsFromTheStart()
{
    QFETCH(int, spentMs);
    QFETCH(int, hiddenAt);
    QFETCH(int, shownAt);
    platform::RegWriteString(platform::RegistryRoot::CurrentUser, platform::kProductKey,
                             QStringLiteral("fr"), QStringLiteral("1"));
    QTemporaryDir root;
    QVERIFY(QDir().mkpath(root.filePath(QStringLiteral("data"))));
    app::Environment environment = doublesIn(root);
    if (spentMs >= 0)
        environment.started = std::chrono::steady_clock::now() - std::chrono::milliseconds(spentMs);
    test::ManualTime time;
    auto* application = qobject_cast<TApplication*>(QCoreApplication::instance());
    QElapsedTimer making;
    making.start();
    app::Program program(*application, environment);
    // Real time spent making the windows comes off the wait as well.
    if (spentMs >= 0)
        hiddenAt = static_cast<int>(
            std::min<qint64>(hiddenAt, app::Program::kTrayWaitMs - spentMs - making.elapsed() - 1));
    if (hiddenAt >= 0) {
        time.advance(hiddenAt);
        QVERIFY(!program.mainWindow().isVisible());
    }
    time.advance(shownAt - time.elapsed());
    QVERIFY(program.mainWindow().isVisible());
}

void TestApplication::trayWaitHoldsForAnAreaThatHasTheIcon_data()
{
    QTest::addColumn<int>("shownByAreaAt"); // -1: never
    QTest::newRow("the area never shows it") << -1;
    QTest::newRow("a busy area shows it after 2.6 s") << 2600;
}

// An area that took the icon but is slow to show it (a loaded panel took
// 2.65 s) is waited for a while longer, so the window does not come up
// beside the icon; an area that never shows it still leaves the window
// reachable.
void TestApplication::trayWaitHoldsForAnAreaThatHasTheIcon()
{
    QFETCH(int, shownByAreaAt);
    MemoryAreaInUse memory(true);
    platform::MemoryNotifyArea*& area = memory.area;
    platform::RegWriteString(platform::RegistryRoot::CurrentUser, platform::kProductKey,
                             QStringLiteral("fr"), QStringLiteral("1"));
    QTemporaryDir root;
    QVERIFY(QDir().mkpath(root.filePath(QStringLiteral("data"))));
    app::Environment environment = doublesIn(root);
    test::ManualTime time;
    auto* application = qobject_cast<TApplication*>(QCoreApplication::instance());
    app::Program program(*application, environment);
    QVERIFY(area);
    const quint32 id = program.trayWindow().TextTrayIcon1->iconId();
    QVERIFY(area->contains(id));
    time.advance(2000);
    QVERIFY(!program.mainWindow().isVisible());
    if (shownByAreaAt >= 0) {
        time.advance(shownByAreaAt - time.elapsed());
        area->setIconShown(id, true);
        time.advance(10000);
        QVERIFY(program.trayWindow().TextTrayIcon1->iconShown());
        QVERIFY(!program.mainWindow().isVisible());
    } else {
        time.advance(4999 - time.elapsed());
        QVERIFY(!program.mainWindow().isVisible());
        time.advance(1);
        QVERIFY(program.mainWindow().isVisible());
    }
}

// The tray icon keeps working while a dialog is up, so its "Exit" can come
// while the dialog's own loop runs: the program still ends, with status 0.
void TestApplication::trayExitWhileADialogWaits()
{
    QTemporaryDir root;
    QVERIFY(QDir().mkpath(root.filePath(QStringLiteral("data"))));
    app::Environment environment = doublesIn(root);
    QString dialog;
    QTimer::singleShot(0, [&dialog] {
        QWidget* trayWindow = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (w->objectName() == QLatin1String("Form2"))
                trayWindow = w;
        }
        if (!trayWindow)
            return QCoreApplication::exit(2);
        test::whenModalShown([&dialog, trayWindow](QWidget* modal) {
            dialog = modal->objectName();
            trayWindow->findChild<QAction*>(QStringLiteral("Exit1"))->trigger();
        });
        trayWindow->findChild<QAction*>(QStringLiteral("About1"))->trigger();
    });
    QTimer lost;
    lost.setSingleShot(true);
    connect(&lost, &QTimer::timeout, [] { QCoreApplication::exit(1); });
    lost.start(10000);
    auto* application = qobject_cast<TApplication*>(QCoreApplication::instance());
    QCOMPARE(app::runProgram(*application, environment), 0);
    QCOMPARE(dialog, QStringLiteral("AboutBox"));
}

int main(int argc, char** argv)
{
    TApplication app(argc, argv);
    TestApplication test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_application.moc"
