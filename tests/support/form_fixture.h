#pragma once

// A main window set up for a test: its own data folder (a temporary copy of
// the executable's), the echo service and resolver replaced by doubles, and
// web pages recorded instead of opened.

#include "app/main_window_root.h"
#include "app/trace_window_launcher.h"
#include "core/timer_backend.h"
#include "engine/monitor_engine.h"
#include "platform/files.h"
#include "platform/page_opener.h"
#include "settings/settings_store.h"
#include "support/scripted_echo.h"
#include "ui/main_window.h"
#include "ui/small_windows.h"

#include <QDir>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

namespace tarnwick::test {

class RecordingPageOpener : public platform::PageOpener {
public:
    bool openPage(const QString& address) override
    {
        opened << address;
        return true;
    }
    QStringList opened;
};

// The main window as the program makes it, from an environment of the test's
// own: a temporary data folder, the scripted echo service and its names, web
// pages recorded instead of opened, and doubles a test may set at any time.
class FormFixture {
public:
    explicit FormFixture(bool create = true, const engine::WorkerClock* clock = nullptr)
        : echo(std::make_shared<ScriptedEchoService>()),
          pages(std::make_shared<RecordingPageOpener>()), m_clock(clock)
    {
        QDir().mkpath(dataFolder());
        if (create)
            createForm();
    }
    explicit FormFixture(const engine::WorkerClock* clock) : FormFixture(true, clock) {}
    QString dataFolder() const { return m_root.path() + QStringLiteral("/data"); }
    QString file(const QString& name) const { return dataFolder() + QLatin1Char('/') + name; }
    QString executablePath() const { return m_root.path() + QStringLiteral("/tarnwick"); }

    ui::TForm1& createForm()
    {
        app::Environment environment;
        environment.dataFolder = dataFolder();
        environment.executablePath = executablePath();
        environment.echo = echo;
        environment.resolve = [echo = echo](const std::string& host, const net::Canceller* c) {
            return echo->resolve(host, c);
        };
        environment.pages = pages;
        environment.notices = [this](const QString& text) {
            if (notices)
                notices(text);
            else
                ui::presentNoticeBox(form, text);
        };
        environment.writeLog = [this](const QString& path, const QByteArray& bytes) {
            if (writeLog)
                writeLog(path, bytes);
            else
                platform::writeFileAtomically(path, bytes);
        };
        environment.echoNotice = [] {
            return QStringLiteral("no echo: setcap cap_net_raw+ep or ping_group_range");
        };
        environment.workerClock = m_clock;
        root = std::make_unique<app::MainWindowRoot>(environment, [this] { return iconShown; });
        form = &root->mainWindow();
        store = &root->store();
        return *form;
    }
    ui::TAboutBox* aboutBox() const { return root->smallWindows().aboutBox(); }
    ui::TMore_Form* moreForm() const { return root->smallWindows().moreForm(); }
    // Where the main window's trace requests go, once a test attaches its
    // traceroute window.
    app::TraceWindowLauncher& trace() const { return root->traceLauncher(); }

    QTemporaryDir m_root;
    std::shared_ptr<ScriptedEchoService> echo;
    std::shared_ptr<RecordingPageOpener> pages;
    // Doubles a test may set at any time.
    bool iconShown = false;
    std::function<void(const QString&)> notices;
    ui::TForm1::LogWriter writeLog;

    std::unique_ptr<app::MainWindowRoot> root;
    settings::SettingsStore* store = nullptr;
    ui::TForm1* form = nullptr;

private:
    const engine::WorkerClock* m_clock;
};

} // namespace tarnwick::test
