#pragma once

#include "engine/ping_worker.h"
#include "ui/main_window.h"

#include <QString>

#include <chrono>
#include <functional>
#include <memory>

namespace tarnwick::net {
class EchoService;
}
namespace tarnwick::platform {
class PageOpener;
}
namespace tarnwick::settings {
class SettingsStore;
}
namespace tarnwick::ui {
class SmallWindows;
class TAboutBox;
class TMore_Form;
} // namespace tarnwick::ui
namespace tarnwick::trace {
class TForm3;
}
namespace tarnwick::tray {
class TDesktopSource;
class TForm2;
} // namespace tarnwick::tray
namespace tarnwick::core {
class Timer;
}

namespace tarnwick::app {

class IncidentServices;
class TApplication;
class TraceWindowLauncher;

// What the program takes from the machine. The program itself leaves every
// field empty and gets the real thing; tests give their own folders and
// doubles, and everything else runs exactly as in the program.
struct Environment {
    QString dataFolder;                          // empty: "data" beside the executable
    QString executablePath;                      // empty: the running executable
    std::shared_ptr<net::EchoService> echo;      // null: the system's
    std::shared_ptr<platform::PageOpener> pages; // null: the default browser
    engine::ResolveFunction resolve;             // null: the system's IPv4 lookups
    ui::TForm1::LogWriter writeLog;              // null: the atomic replace
    std::function<void(const QString&)> notices; // null: a box over the main window
    // null: the pointer, keys and double-click time as Qt reads them.
    std::shared_ptr<tray::TDesktopSource> desktop;
    // When the process started; the wait for a notification area counts from
    // there, so a long host list does not delay the window further. Unset:
    // from when the program object is made.
    std::chrono::steady_clock::time_point started{};
};

// The one composition root: creates the services once, installs the error
// reporter, creates the windows in their order and connects them through
// typed interfaces. The main window starts hidden, with only the icon in the
// notification area (but on the first run, and where there is no area).
// Destroying it stops every worker before any window goes.
class Program {
public:
    Program(TApplication& app, const Environment& environment = {});
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    ui::TForm1& mainWindow() const { return *m_form1; }
    trace::TForm3& traceWindow() const { return *m_form3; }
    tray::TForm2& trayWindow() const { return *m_form2; }
    ui::TAboutBox& aboutBox() const;
    ui::TMore_Form& moreForm() const;
    IncidentServices& incidents() const { return *m_incidents; }

    // How long after the start the program waits for a notification area
    // before it shows the window so that the program can be reached.
    static constexpr int kTrayWaitMs = 1500;

private:
    void showUnreachableWindow();
    static QString helpPageAddress();
    static int trayWaitLeftMs(std::chrono::steady_clock::time_point started);

    TApplication& m_app;
    std::shared_ptr<net::EchoService> m_echo;
    std::shared_ptr<platform::PageOpener> m_pages;
    std::shared_ptr<tray::TDesktopSource> m_desktop;
    std::unique_ptr<settings::SettingsStore> m_store;
    // Made before the main window, whose children they reach: they outlive it.
    std::unique_ptr<TraceWindowLauncher> m_traceLauncher;
    std::unique_ptr<ui::SmallWindows> m_smallWindows;
    std::unique_ptr<ui::TForm1> m_form1;
    std::unique_ptr<trace::TForm3> m_form3;
    std::unique_ptr<tray::TForm2> m_form2;
    std::unique_ptr<core::Timer> m_trayWait;
    std::unique_ptr<IncidentServices> m_incidents;
};

// The composition root built from environment and its message loop, with
// SIGTERM, SIGINT and SIGHUP taking the way out of "Exit". Returns the exit
// status. Where showRequestSocket is given, later starts with the same data
// folder ask there for the main window.
int runProgram(TApplication& app, const Environment& environment,
               const QString& showRequestSocket = {});

// The program: the application object, the composition root, the message
// loop. Returns the exit status.
int run(int argc, char** argv);

} // namespace tarnwick::app
