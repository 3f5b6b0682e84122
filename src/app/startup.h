#pragma once

#include "app/environment.h"

#include <QString>

#include <memory>

namespace tarnwick::ui {
class TAboutBox;
class TForm1;
class TMore_Form;
} // namespace tarnwick::ui
namespace tarnwick::trace {
class TForm3;
}
namespace tarnwick::tray {
class TForm2;
}
namespace tarnwick::core {
class Timer;
}

namespace tarnwick::app {

class IncidentServices;
class MainWindowRoot;
class TApplication;

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

    ui::TForm1& mainWindow() const;
    trace::TForm3& traceWindow() const { return *m_form3; }
    tray::TForm2& trayWindow() const { return *m_form2; }
    ui::TAboutBox& aboutBox() const;
    ui::TMore_Form& moreForm() const;
    IncidentServices& incidents() const { return *m_incidents; }

    // How long after the start the program waits for a notification area
    // before it shows the window so that the program can be reached.
    static constexpr int kTrayWaitMs = 1500;
    // An area that holds the icon but has not shown it yet (a busy one) is
    // waited for this much longer, looked at every kTrayPollMs.
    static constexpr int kTrayDockGraceMs = 3500;
    static constexpr int kTrayPollMs = 250;

private:
    void showUnreachableWindow();
    static QString helpPageAddress();
    static int trayWaitLeftMs(std::chrono::steady_clock::time_point started);

    TApplication& m_app;
    std::unique_ptr<MainWindowRoot> m_root;
    std::unique_ptr<trace::TForm3> m_form3;
    std::unique_ptr<tray::TForm2> m_form2;
    std::unique_ptr<core::Timer> m_trayWait;
    int m_trayGraceLeftMs = kTrayDockGraceMs;
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
