#pragma once

// A main window set up for a test: its own data folder (a temporary copy of
// the executable's), the echo service and resolver replaced by doubles, and
// web pages recorded instead of opened.

#include "support/scripted_echo.h"

#include "core/timer_backend.h"

#include "engine/monitor_engine.h"
#include "platform/page_opener.h"
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
        ui::TForm1::Dependencies deps;
        deps.echo = echo;
        deps.pages = &pages;
        deps.dataFolder = dataFolder();
        deps.executablePath = executablePath();
        deps.echoNotice = [] {
            return QStringLiteral("no echo: setcap cap_net_raw+ep or ping_group_range");
        };
        form = std::make_unique<ui::TForm1>(deps);
        aboutBox = std::make_unique<ui::TAboutBox>(form.get(), pages);
        moreForm = std::make_unique<ui::TMore_Form>(form.get(), pages);
        form->setAboutBox(aboutBox.get());
        form->setMoreForm(moreForm.get());
        form->engine().setResolver([this](const std::string& host, const net::Canceller* c) {
            return echo->resolve(host, c);
        });
        return *form;
    }

    QTemporaryDir m_root;
    RecordingPageOpener pages;
    std::shared_ptr<ScriptedEchoService> echo;
    std::unique_ptr<ui::TForm1> form;
    std::unique_ptr<ui::TAboutBox> aboutBox;
    std::unique_ptr<ui::TMore_Form> moreForm;

    ~FormFixture()
    {
        // The dialogs are children of the window: let the window take them.
        (void)aboutBox.release();
        (void)moreForm.release();
    }
};

} // namespace tarnwick::test
