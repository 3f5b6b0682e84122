#include "app/startup.h"

#include "app/application.h"
#include "app/trace_launcher.h"

#include "core/app_error.h"
#include "platform/net/echo.h"
#include "platform/page_opener.h"
#include "platform/paths.h"
#include "trace/trace_window.h"
#include "ui/main_window.h"
#include "ui/small_windows.h"

namespace tarnwick::app {

namespace {

QString echoNoticeText()
{
    const QString helper = platform::echoHelperPath();
    return QCoreApplication::translate(
               "Tarnwick",
               "Tarnwick cannot send echo requests (ping) on this system, so every host "
               "will show \"Requested Timed out.\".\n\n"
               "To allow it, run once:\n"
               "    sudo setcap cap_net_raw+ep \"%1\"\n"
               "or allow unprivileged ping for all users:\n"
               "    sudo sysctl -w net.ipv4.ping_group_range=\"0 2147483647\"\n"
               "(put that setting in /etc/sysctl.d/ to keep it after a restart).")
        .arg(helper);
}

} // namespace

Program::Program(TApplication& app, Environment environment) : m_app(app)
{
    app.setQuitOnLastWindowClosed(false);
    // Errors that handlers do not handle themselves are shown from now on.
    setTopLevelErrorReporter([this](const QString& message) { m_app.showException(message); });

    m_echo = environment.echo ? environment.echo
                              : std::make_shared<net::SystemEchoService>(
                                    platform::echoHelperPath().toLocal8Bit().toStdString());
    m_pages =
        environment.pages ? environment.pages : std::make_shared<platform::DesktopPageOpener>();

    // The windows in their order: main window, traceroute window, About box,
    // host-limit window.
    ui::TForm1::Dependencies deps;
    deps.echo = m_echo;
    deps.pages = m_pages.get();
    deps.dataFolder =
        environment.dataFolder.isEmpty() ? platform::dataFolder() : environment.dataFolder;
    deps.executablePath = environment.executablePath.isEmpty() ? platform::executablePath()
                                                               : environment.executablePath;
    deps.echoNotice = [] { return echoNoticeText(); };
    m_form1 = std::make_unique<ui::TForm1>(deps);
    m_form3 = std::make_unique<trace::TForm3>(m_form1.get(), trace::TForm3::Dependencies{m_echo});
    m_traceLauncher = std::make_unique<TraceWindowLauncher>(*m_form3);
    m_form1->setTraceLauncher(m_traceLauncher.get());
    m_aboutBox = std::make_unique<ui::TAboutBox>(m_form1.get(), *m_pages);
    m_moreForm = std::make_unique<ui::TMore_Form>(m_form1.get(), *m_pages);
    m_form1->setAboutBox(m_aboutBox.get());
    m_form1->setMoreForm(m_moreForm.get());
    // Until the program has a notification area presence, the main window is
    // its only way to be reached, so it is shown at every start.
    m_form1->show();
}

Program::~Program()
{
    // Workers first, so none hands a result to a window that is going:
    // traces, then the engine, then the windows.
    m_form3->shutdownTraces();
    m_form1->shutdownEngine();
    m_form1->setTraceLauncher(nullptr);
    m_traceLauncher.reset();
    m_form3.reset();
    m_moreForm.reset();
    m_aboutBox.reset();
    m_form1.reset();
    setTopLevelErrorReporter(nullptr);
}

int run(int argc, char** argv)
{
    TApplication app(argc, argv);
    Program program(app);
    return app.exec();
}

} // namespace tarnwick::app
