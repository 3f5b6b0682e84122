#pragma once

class QString;

namespace tarnwick::ui {

// What the main window needs of the traceroute window: the slot logs' double
// clicks and the Trace Route buttons open it through this, never by names.
class TraceLauncher {
public:
    virtual ~TraceLauncher() = default;
    // Shows the window, brought up where the user sees it.
    virtual void show() = 0;
    // Fills in the host to trace.
    virtual void setHost(const QString& host) = 0;
    // Starts a trace of the host shown, also while one runs (the earlier one
    // then stops).
    virtual void start() = 0;
};

} // namespace tarnwick::ui
