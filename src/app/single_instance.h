#pragma once

#include <optional>

class QWidget;

namespace tarnwick::platform {
class InstanceLock;
}

namespace tarnwick::app {

// A start whose data folder another running instance holds: asks that one to
// show its window, says so on one line and gives the exit status (0 once the
// window is shown). Gives nothing when the other instance ended meanwhile
// and this start holds the folder now, so that it carries on as the one.
std::optional<int> handOverToRunningInstance(platform::InstanceLock& lock);

// The window as a click on the icon brings it: shown, not minimised, raised
// and active.
void bringForward(QWidget& window);

// How long a start waits for the running instance to listen and answer; it
// may itself be starting still.
constexpr int kHandOverWaitMs = 10000;

} // namespace tarnwick::app
