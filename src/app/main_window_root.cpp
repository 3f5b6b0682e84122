#include "app/main_window_root.h"

#include "app/trace_window_launcher.h"
#include "engine/monitor_engine.h"
#include "platform/files.h"
#include "platform/net/echo.h"
#include "platform/net/echo_permission.h"
#include "platform/net/resolver.h"
#include "platform/page_opener.h"
#include "platform/paths.h"
#include "settings/settings_store.h"
#include "trace/trace_window.h"
#include "tray/desktop_source.h"
#include "ui/main_window.h"
#include "ui/small_windows.h"

namespace tarnwick::app {

namespace {

// Diagnosed when the notice is shown, so that it fits the machine as it is then.
QString echoNoticeText()
{
    const std::string helper = platform::echoHelperPath().toLocal8Bit().toStdString();
    return QString::fromLocal8Bit(
        net::echoPermissionNotice(net::gatherEchoPermissionFacts(helper), helper));
}

} // namespace

MainWindowRoot::MainWindowRoot(const Environment& environment, std::function<bool()> trayIconShown)
{
    m_echo = environment.echo ? environment.echo
                              : std::make_shared<net::SystemEchoService>(
                                    platform::echoHelperPath().toLocal8Bit().toStdString());
    m_pages =
        environment.pages ? environment.pages : std::make_shared<platform::DesktopPageOpener>();
    m_desktop =
        environment.desktop ? environment.desktop : std::make_shared<tray::TQtDesktopSource>();
    m_dataFolder =
        environment.dataFolder.isEmpty() ? platform::dataFolder() : environment.dataFolder;
    m_store = std::make_unique<settings::SettingsStore>(
        m_dataFolder, environment.executablePath.isEmpty() ? platform::executablePath()
                                                           : environment.executablePath);
    m_traceLauncher = std::make_unique<TraceWindowLauncher>();
    m_smallWindows = std::make_unique<ui::SmallWindows>(*m_pages);
    // Results reach the window only while it exists: the workers start from
    // its timers and are stopped before it goes.
    m_engine = std::make_unique<engine::MonitorEngine>(
        [this](int slot, const QString& line) { m_form1->recordResult(slot, line); }, m_echo,
        environment.resolve
            ? environment.resolve
            : [](const std::string& host,
                 const net::Canceller* cancel) { return net::resolveIPv4(host, cancel); },
        environment.workerClock);

    ui::TForm1::Dependencies deps;
    deps.engine = m_engine.get();
    deps.pages = m_pages.get();
    deps.store = m_store.get();
    deps.traceLauncher = m_traceLauncher.get();
    deps.smallWindows = m_smallWindows.get();
    deps.trayIconShown = std::move(trayIconShown);
    deps.presentNotice = environment.notices ? environment.notices : [this](const QString& text) {
        ui::presentNoticeBox(m_form1.get(), text);
    };
    deps.writeLog = environment.writeLog ? environment.writeLog
                                         : ui::TForm1::LogWriter(&platform::writeFileAtomically);
    deps.echoNotice =
        environment.echoNotice ? environment.echoNotice : [] { return echoNoticeText(); };
    deps.desktop = m_desktop.get();
    m_form1 = std::make_unique<ui::TForm1>(std::move(deps));
    m_smallWindows->create(m_form1.get());
}

MainWindowRoot::~MainWindowRoot()
{
    m_engine->shutdown();
    m_smallWindows.reset();
    m_form1.reset();
}

} // namespace tarnwick::app
