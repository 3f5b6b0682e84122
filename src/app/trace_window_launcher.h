#pragma once

#include "ui/trace_launcher.h"

namespace tarnwick::trace {
class TForm3;
}

namespace tarnwick::app {

// The main window's way into the traceroute window.
class TraceWindowLauncher final : public ui::TraceLauncher {
public:
    explicit TraceWindowLauncher(trace::TForm3& form) : m_form(form) {}
    void show() override;
    void setHost(const QString& host) override;
    void start() override;

private:
    trace::TForm3& m_form;
};

} // namespace tarnwick::app
