#pragma once

#include "ui/trace_launcher.h"

#include <QPointer>

namespace tarnwick::trace {
class TForm3;
}

namespace tarnwick::app {

// The main window's way into the traceroute window. The traceroute window is
// a child of the main window, so this is made first and handed to the main
// window; the composition root attaches the traceroute window once it exists.
// Until then, and once it is gone, the main window's requests do nothing.
class TraceWindowLauncher final : public ui::TraceLauncher {
public:
    void attach(trace::TForm3& form);
    void show() override;
    void setHost(const QString& host) override;
    void start() override;

private:
    QPointer<trace::TForm3> m_form;
};

} // namespace tarnwick::app
