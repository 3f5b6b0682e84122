#pragma once

class QWidget;

namespace tarnwick::tray {

// The application-wide facts the tray icon acts on: which window is the main
// one, and whether it is to be shown when the event loop starts.
class TApplicationState {
public:
    static QWidget* mainForm();
    static void setMainForm(QWidget* window);

    // True unless a tray icon's start-up handler asked to start hidden.
    static bool showMainForm();
    static void setShowMainForm(bool show);
};

} // namespace tarnwick::tray
