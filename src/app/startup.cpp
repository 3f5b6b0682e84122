#include "startup.h"

#include "application.h"

#include "ui/main_window.h"

#include <memory>

namespace tarnwick::app {

int run(int argc, char** argv)
{
    TApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);

    auto form1 = std::make_unique<ui::TForm1>();
    // Until the program has a notification area presence, the main window is
    // its only way to be reached, so it is shown at every start.
    form1->show();

    const int code = app.exec();
    form1->shutdownEngine();
    form1.reset();
    return code;
}

} // namespace tarnwick::app
