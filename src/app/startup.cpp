#include "startup.h"

#include "application.h"

#include "ui/main_window.h"
#include "ui/small_windows.h"

#include <memory>

namespace tarnwick::app {

int run(int argc, char** argv)
{
    TApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);

    // The windows in their order: main window, About box, host-limit window.
    auto form1 = std::make_unique<ui::TForm1>();
    auto aboutBox = std::make_unique<ui::TAboutBox>(form1.get());
    auto moreForm = std::make_unique<ui::TMore_Form>(form1.get());
    form1->setAboutBox(aboutBox.get());
    form1->setMoreForm(moreForm.get());
    // Until the program has a notification area presence, the main window is
    // its only way to be reached, so it is shown at every start.
    form1->show();

    const int code = app.exec();
    form1->shutdownEngine();
    moreForm.reset();
    aboutBox.reset();
    form1.reset();
    return code;
}

} // namespace tarnwick::app
