#pragma once

#include <QDBusConnection>
#include <QString>

#include <memory>

namespace tarnwick::net {
class EchoService;
}
namespace tarnwick::engine {
class IncidentMonitor;
class MomentClock;
} // namespace tarnwick::engine
namespace tarnwick::platform {
class DesktopNotices;
class LedgerFile;
class SleepWatch;
} // namespace tarnwick::platform
namespace tarnwick::trace {
class RouteSnapshots;
}
namespace tarnwick::ui {
class TAlertsMenu;
class TForm1;
class TIncidentWindow;
} // namespace tarnwick::ui

namespace tarnwick::app {

// Knowing when it breaks: host states from the recorded results, desktop
// notices, the incident ledger with its file and window, route snapshots,
// and the session's sleep. Built once by the program after the main window,
// whose menu bar gets the "Alerts" menu; shut down before the windows go.
class IncidentServices {
public:
    struct Dependencies {
        ui::TForm1* form = nullptr;
        std::shared_ptr<net::EchoService> echo;
        // The ledger lives here, beside the settings files.
        QString dataFolder;
        QDBusConnection sessionBus = QDBusConnection::sessionBus();
        QDBusConnection systemBus = QDBusConnection::systemBus();
        // Null: the machine's clocks.
        std::shared_ptr<const engine::MomentClock> clock;
    };

    static inline const QString kLedgerFileName = QStringLiteral("incidents.ledger");

    explicit IncidentServices(const Dependencies& deps);
    ~IncidentServices();
    IncidentServices(const IncidentServices&) = delete;
    IncidentServices& operator=(const IncidentServices&) = delete;

    // Stops the route snapshots, ends open incidents and writes the ledger.
    void shutdown();

    engine::IncidentMonitor& monitor() const { return *m_monitor; }
    ui::TIncidentWindow& window() const { return *m_window; }
    ui::TAlertsMenu& menu() const { return *m_menu; }
    platform::DesktopNotices& notices() const { return *m_notices; }
    platform::LedgerFile& ledgerFile() const { return *m_ledgerFile; }

private:
    void showHost(int slot);

    ui::TForm1* m_form;
    std::shared_ptr<const engine::MomentClock> m_clock;
    std::unique_ptr<platform::LedgerFile> m_ledgerFile;
    std::unique_ptr<platform::DesktopNotices> m_notices;
    std::unique_ptr<platform::SleepWatch> m_sleep;
    std::unique_ptr<trace::RouteSnapshots> m_snapshots;
    std::unique_ptr<engine::IncidentMonitor> m_monitor;
    std::unique_ptr<ui::TIncidentWindow> m_window;
    std::unique_ptr<ui::TAlertsMenu> m_menu;
    bool m_shutDown = false;
};

} // namespace tarnwick::app
