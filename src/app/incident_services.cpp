#include "app/incident_services.h"

#include "engine/incident_monitor.h"
#include "engine/incident_text.h"
#include "engine/monitor_engine.h"
#include "platform/desktop_notices.h"
#include "platform/ledger_file.h"
#include "platform/sleep_watch.h"
#include "trace/route_snapshot.h"
#include "ui/alerts_menu.h"
#include "ui/incident_window.h"
#include "ui/main_window.h"
#include "ui/up_down.h"

#include <QListWidget>
#include <QMenuBar>
#include <QTabWidget>

namespace tarnwick::app {

IncidentServices::IncidentServices(const Dependencies& deps) : m_form(deps.form)
{
    Q_ASSERT(m_form && deps.echo && !deps.dataFolder.isEmpty());
    ui::TForm1* form = m_form;
    m_clock = deps.clock ? deps.clock : std::make_shared<engine::SystemMomentClock>();
    m_ledgerFile = std::make_unique<platform::LedgerFile>(deps.dataFolder + QLatin1Char('/') +
                                                          kLedgerFileName);
    m_notices = std::make_unique<platform::DesktopNotices>(deps.sessionBus);
    m_sleep = std::make_unique<platform::SleepWatch>(deps.systemBus);

    const ui::AlertChoices choices = ui::loadAlertChoices();
    const platform::LedgerFile::Loaded loaded = m_ledgerFile->load();
    platform::LedgerFile* file = m_ledgerFile.get();
    platform::DesktopNotices* notices = m_notices.get();

    engine::IncidentMonitor::Dependencies watch;
    watch.clock = m_clock.get();
    watch.hosts = [form] {
        engine::SlotHosts hosts;
        const QListWidget* list = form->ListBox1;
        for (int k = 0; k < engine::kHostSlots && k < list->count(); ++k)
            hosts[k] = list->item(k)->text();
        return hosts;
    };
    watch.running = [form] { return form->engine().isRunning(); };
    watch.timeoutMs = [form] { return form->UpDown2->position(); };
    watch.notify = [notices](const engine::Notice& notice) {
        notices->show(engine::noticeText(notice, QTimeZone::systemTimeZone()), QString(),
                      notice.slot);
    };
    watch.append = [file](const QByteArray& record) { file->append(record); };
    watch.replace = [file](const QList<QByteArray>& records) { file->replace(records); };
    watch.snapshotRoute = [this](std::uint64_t id, const QString& host) {
        if (m_snapshots)
            m_snapshots->take(id, host);
    };
    watch.loaded = engine::incidentsFromRecords(loaded.records);
    watch.loadedBytes = loaded.bytes;
    watch.thresholds = choices.thresholds;
    watch.noticesOn = choices.notices;
    m_monitor = std::make_unique<engine::IncidentMonitor>(std::move(watch));
    engine::IncidentMonitor* monitor = m_monitor.get();
    m_snapshots = std::make_unique<trace::RouteSnapshots>(
        deps.echo,
        [monitor](std::uint64_t id, const QString& route) { monitor->routeTaken(id, route); });

    QObject::connect(form, &ui::TForm1::resultRecorded, monitor,
                     &engine::IncidentMonitor::resultRecorded);
    QObject::connect(m_sleep.get(), &platform::SleepWatch::sleeping, monitor,
                     &engine::IncidentMonitor::sleepStarted);
    QObject::connect(m_sleep.get(), &platform::SleepWatch::woke, monitor,
                     &engine::IncidentMonitor::resumed);
    QObject::connect(notices, &platform::DesktopNotices::activated, form,
                     [this](int slot) { showHost(slot); });

    ui::TIncidentWindow::Dependencies window;
    window.monitor = monitor;
    window.ledgerProblem = [file] { return file->lastError(); };
    m_window = std::make_unique<ui::TIncidentWindow>(std::move(window), form);

    ui::TAlertsMenu::Dependencies menu;
    menu.initial = choices;
    menu.serviceAvailable = [notices] { return notices->available(); };
    menu.openLedger = [this] {
        m_window->show();
        m_window->raise();
        m_window->activateWindow();
    };
    menu.changed = [monitor](const ui::AlertChoices& chosen) {
        ui::saveAlertChoices(chosen);
        monitor->setNoticesOn(chosen.notices);
        monitor->setThresholds(chosen.thresholds);
    };
    m_menu = std::make_unique<ui::TAlertsMenu>(std::move(menu), form);
    // Between "File" and "Help": help stays last.
    form->menuBar()->insertMenu(form->Help2->menuAction(), m_menu.get());
}

IncidentServices::~IncidentServices()
{
    shutdown();
}

void IncidentServices::showHost(int slot)
{
    m_form->show();
    m_form->raise();
    m_form->activateWindow();
    if (slot >= 0 && slot < m_form->PageControl1->count())
        m_form->PageControl1->setCurrentIndex(slot);
}

void IncidentServices::shutdown()
{
    if (m_shutDown)
        return;
    m_shutDown = true;
    m_snapshots->shutdown();
    m_monitor->finish();
    m_ledgerFile->flush();
}

} // namespace tarnwick::app
