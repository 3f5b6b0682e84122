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
namespace tarnwick::engine {
class WorkerClock;
}
namespace tarnwick::tray {
class TDesktopSource;
}

namespace tarnwick::app {

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
    // null: what this machine lacks for echo requests, diagnosed when asked.
    std::function<QString()> echoNotice;
    // null: the pointer, keys and double-click time as Qt reads them.
    std::shared_ptr<tray::TDesktopSource> desktop;
    // The time the workers live in; it must outlive the program. null: the
    // steady clock.
    const engine::WorkerClock* workerClock = nullptr;
    // When the process started; the wait for a notification area counts from
    // there, so a long host list does not delay the window further. Unset:
    // from when the program object is made.
    std::chrono::steady_clock::time_point started{};
};

} // namespace tarnwick::app
