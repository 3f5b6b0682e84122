#include "app/startup.h"

#include "app/application.h"
#include "app/ending_signals.h"
#include "app/incident_services.h"
#include "app/main_window_root.h"
#include "app/single_instance.h"
#include "app/trace_window_launcher.h"
#include "core/app_error.h"
#include "core/timer_backend.h"
#include "engine/monitor_engine.h"
#include "platform/instance_channel.h"
#include "platform/instance_lock.h"
#include "platform/page_opener.h"
#include "platform/paths.h"
#include "trace/trace_window.h"
#include "tray/application_state.h"
#include "tray/text_tray_icon.h"
#include "tray/tray_window.h"
#include "ui/main_window.h"
#include "ui/pictures.h"
#include "ui/small_windows.h"

#include <QUrl>

#include <algorithm>

namespace tarnwick::app {

Program::Program(TApplication& app, const Environment& environment) : m_app(app)
{
    app.setQuitOnLastWindowClosed(false);
    // Errors that handlers do not handle themselves are shown from now on.
    setTopLevelErrorReporter([this](const QString& message) { m_app.showException(message); });

    // The windows in their order: main window, traceroute window, About box,
    // host-limit window. The close box hides the main window only while the
    // icon is known to be on screen (and there is none before the tray
    // window is made).
    m_root = std::make_unique<MainWindowRoot>(
        environment, [this] { return m_form2 && m_form2->TextTrayIcon1->iconShown(); });
    ui::TForm1* form1 = &m_root->mainWindow();
    tray::TApplicationState::setMainForm(form1);
    m_form3 = std::make_unique<trace::TForm3>(form1, trace::TForm3::Dependencies{m_root->echo()});
    m_root->traceLauncher().attach(*m_form3);

    tray::MainWindowLink link;
    link.resultsSummaryText = [form1] { return form1->resultsSummaryText(); };
    link.statusIconImage1 = [] { return ui::statusIcon(engine::StatusPicture::Image1); };
    link.mainWindowVisible = [form1] { return form1->isVisible(); };
    link.showMainWindow = [form1] { form1->show(); };
    link.about = [form1] { form1->About1->trigger(); };
    link.closeMainWindow = [form1] { form1->closeMainWindow(); };
    link.openHelp = [this] { m_root->pages().openPage(helpPageAddress()); };
    m_form2 = std::make_unique<tray::TForm2>(std::move(link), m_root->desktop());
    tray::TTextTrayIcon* icon = m_form2->TextTrayIcon1;
    tray::TForm2* form2 = m_form2.get();
    // The status picture goes to the visible icon when it changes (an icon
    // set anew is painted and sent to the display server again), and the
    // summary to wherever this area shows it.
    QObject::connect(form1, &ui::TForm1::statusIconChosen, icon, [icon](const QIcon& picture) {
        if (icon->icon().cacheKey() != picture.cacheKey())
            icon->setIcon(picture);
    });
    QObject::connect(form1, &ui::TForm1::resultsSummaryRebuilt, form2,
                     [form2] { form2->resultsSummaryChanged(); });
    // The window comes back the moment the icon stops being shown.
    QObject::connect(icon, &tray::TTrayIcon::iconShownChanged, form1, [this](bool shown) {
        if (!shown)
            showUnreachableWindow();
    });

    IncidentServices::Dependencies incidents;
    incidents.form = form1;
    incidents.echo = m_root->echo();
    incidents.dataFolder = m_root->dataFolder();
    m_incidents = std::make_unique<IncidentServices>(incidents);

    // Some areas answer only a moment after start (a bus host): the window
    // waits that long before it counts as having none.
    if (!icon->iconShown()) {
        m_trayWait = std::make_unique<core::Timer>([this] {
            m_trayWait->stop();
            const tray::TTextTrayIcon* trayIcon = m_form2->TextTrayIcon1;
            if (trayIcon->iconShown())
                return;
            if (trayIcon->iconAwaited() && m_trayGraceLeftMs > 0) {
                m_trayGraceLeftMs -= kTrayPollMs;
                m_trayWait->start(kTrayPollMs);
                return;
            }
            showUnreachableWindow();
        });
        m_trayWait->setSingleShot(true);
        m_trayWait->start(trayWaitLeftMs(environment.started));
    }
}

ui::TForm1& Program::mainWindow() const
{
    return m_root->mainWindow();
}

void Program::showUnreachableWindow()
{
    // A window the user minimised stays so; only a hidden one comes back.
    if (!mainWindow().isVisible())
        mainWindow().show();
}

int Program::trayWaitLeftMs(std::chrono::steady_clock::time_point started)
{
    if (started == std::chrono::steady_clock::time_point{})
        return kTrayWaitMs;
    const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now() - started)
                           .count();
    return static_cast<int>(std::clamp<long long>(kTrayWaitMs - spent, 0, kTrayWaitMs));
}

ui::TAboutBox& Program::aboutBox() const
{
    return *m_root->smallWindows().aboutBox();
}

ui::TMore_Form& Program::moreForm() const
{
    return *m_root->smallWindows().moreForm();
}

QString Program::helpPageAddress()
{
    // A local file, so that help works when the network is what fails.
    return QUrl::fromLocalFile(platform::helpPagePath()).toString();
}

Program::~Program()
{
    // Workers first, so none hands a result to a window that is going:
    // traces, then the engine, then the windows.
    m_trayWait.reset();
    m_form3->shutdownTraces();
    m_root->engine().shutdown();
    // With no result to come, open incidents end and the ledger is written.
    m_incidents.reset();
    m_form3.reset();
    m_form2.reset();
    tray::TApplicationState::setMainForm(nullptr);
    m_root.reset();
    setTopLevelErrorReporter(nullptr);
}

int runProgram(TApplication& app, const Environment& environment, const QString& showRequestSocket)
{
    // The same way out as "Exit": settings are on disk already, and the
    // workers are stopped and joined when the program object goes. Caught
    // before the files are read, and still while the program object goes.
    Program* program = nullptr;
    EndingSignals ending([&program] {
        if (program)
            program->mainWindow().closeMainWindow();
    });
    Program made(app, environment);
    program = &made;
    // A later start with the same data folder asks this one to show itself.
    const platform::InstanceServer showRequests(showRequestSocket,
                                                [&made] { bringForward(made.mainWindow()); });
    return app.exec();
}

int run(int argc, char** argv)
{
    Environment environment;
    environment.started = std::chrono::steady_clock::now();
    // One instance per data folder; a later start shows the running one.
    platform::InstanceLock lock(platform::dataFolder());
    if (lock.state() == platform::InstanceLock::State::HeldElsewhere) {
        if (const std::optional<int> status = handOverToRunningInstance(lock))
            return *status;
    }
    TApplication app(argc, argv);
    return runProgram(app, environment,
                      lock.state() == platform::InstanceLock::State::Held
                          ? platform::instanceSocketPath(lock.folder())
                          : QString());
}

} // namespace tarnwick::app
