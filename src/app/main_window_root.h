#pragma once

#include "app/environment.h"

#include <QString>

#include <functional>
#include <memory>

namespace tarnwick::engine {
class MonitorEngine;
}
namespace tarnwick::settings {
class SettingsStore;
}
namespace tarnwick::ui {
class SmallWindows;
class TForm1;
} // namespace tarnwick::ui

namespace tarnwick::app {

class TraceWindowLauncher;

// The part of the composition root that makes the main window: the services
// it uses, its monitoring engine, and the go-betweens to the windows made
// after it (the traceroute window, the About box, the host-limit window).
// The program adds the other windows around it; window tests make it alone,
// from an environment of their own, so both are wired the same way.
class MainWindowRoot {
public:
    // trayIconShown tells whether an area shows the program's icon now; the
    // tray window that knows is made after the main window.
    MainWindowRoot(const Environment& environment, std::function<bool()> trayIconShown);
    // Stops the workers before the main window goes.
    ~MainWindowRoot();
    MainWindowRoot(const MainWindowRoot&) = delete;
    MainWindowRoot& operator=(const MainWindowRoot&) = delete;

    ui::TForm1& mainWindow() const { return *m_form1; }
    engine::MonitorEngine& engine() const { return *m_engine; }
    const std::shared_ptr<net::EchoService>& echo() const { return m_echo; }
    platform::PageOpener& pages() const { return *m_pages; }
    tray::TDesktopSource& desktop() const { return *m_desktop; }
    settings::SettingsStore& store() const { return *m_store; }
    TraceWindowLauncher& traceLauncher() const { return *m_traceLauncher; }
    ui::SmallWindows& smallWindows() const { return *m_smallWindows; }
    const QString& dataFolder() const { return m_dataFolder; }

private:
    std::shared_ptr<net::EchoService> m_echo;
    std::shared_ptr<platform::PageOpener> m_pages;
    std::shared_ptr<tray::TDesktopSource> m_desktop;
    QString m_dataFolder;
    std::unique_ptr<settings::SettingsStore> m_store;
    // Made before the main window, whose children they reach: they outlive it.
    std::unique_ptr<TraceWindowLauncher> m_traceLauncher;
    std::unique_ptr<ui::SmallWindows> m_smallWindows;
    std::unique_ptr<engine::MonitorEngine> m_engine;
    std::unique_ptr<ui::TForm1> m_form1;
};

} // namespace tarnwick::app
