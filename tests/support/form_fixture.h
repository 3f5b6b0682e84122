#pragma once

// A main window set up for a test: its own data folder (a temporary copy of
// the executable's), the echo service and resolver replaced by doubles, and
// web pages recorded instead of opened.

#include "core/timer_backend.h"
#include "engine/monitor_engine.h"
#include "platform/files.h"
#include "platform/page_opener.h"
#include "settings/settings_store.h"
#include "support/scripted_echo.h"
#include "tray/desktop_source.h"
#include "ui/main_window.h"
#include "ui/small_windows.h"
#include "ui/trace_launcher.h"

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

// Passes the main window's trace requests on to the traceroute window a test
// made, if any.
class ForwardingTraceLauncher : public ui::TraceLauncher {
public:
    void show() override
    {
        if (target)
            target->show();
    }
    void setHost(const QString& host) override
    {
        if (target)
            target->setHost(host);
    }
    void start() override
    {
        if (target)
            target->start();
    }
    ui::TraceLauncher* target = nullptr;
};

class FormFixture {
public:
    explicit FormFixture(bool create = true) : echo(std::make_shared<ScriptedEchoService>())
    {
        QDir().mkpath(dataFolder());
        if (create)
            createForm();
    }
    QString dataFolder() const { return m_root.path() + QStringLiteral("/data"); }
    QString file(const QString& name) const { return dataFolder() + QLatin1Char('/') + name; }
    QString executablePath() const { return m_root.path() + QStringLiteral("/tarnwick"); }

    ui::TForm1& createForm()
    {
        store = std::make_unique<settings::SettingsStore>(dataFolder(), executablePath());
        ui::TForm1::Dependencies deps;
        deps.echo = echo;
        deps.resolve = [this](const std::string& host, const net::Canceller* c) {
            return echo->resolve(host, c);
        };
        deps.pages = &pages;
        deps.store = store.get();
        deps.traceLauncher = &trace;
        deps.smallWindows = &smallWindows;
        deps.trayIconShown = [this] { return iconShown; };
        deps.presentNotice = [this](const QString& text) {
            if (notices)
                notices(text);
            else
                ui::presentNoticeBox(form.get(), text);
        };
        deps.writeLog = [this](const QString& path, const QByteArray& bytes) {
            if (writeLog)
                writeLog(path, bytes);
            else
                platform::writeFileAtomically(path, bytes);
        };
        deps.echoNotice = [] {
            return QStringLiteral("no echo: setcap cap_net_raw+ep or ping_group_range");
        };
        deps.desktop = &desktop;
        form = std::make_unique<ui::TForm1>(std::move(deps));
        smallWindows.create(form.get());
        return *form;
    }
    ui::TAboutBox* aboutBox() const { return smallWindows.aboutBox(); }
    ui::TMore_Form* moreForm() const { return smallWindows.moreForm(); }

    QTemporaryDir m_root;
    RecordingPageOpener pages;
    std::shared_ptr<ScriptedEchoService> echo;
    // Doubles a test may set at any time.
    ForwardingTraceLauncher trace;
    tray::TQtDesktopSource desktop;
    bool iconShown = false;
    std::function<void(const QString&)> notices;
    ui::TForm1::LogWriter writeLog;

    std::unique_ptr<settings::SettingsStore> store;
    ui::SmallWindows smallWindows{pages};
    std::unique_ptr<ui::TForm1> form;
};

} // namespace tarnwick::test
