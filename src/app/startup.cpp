#include "app/startup.h"

#include "app/application.h"

#include "ui/main_window.h"
#include "ui/small_windows.h"
#include "trace/trace_window.h"

#include <memory>

namespace tarnwick::app {

int run(int argc, char** argv)
{
    TApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);

    // The windows in their order: main window, traceroute window, About box,
    // host-limit window.
    auto form1 = std::make_unique<ui::TForm1>();
    auto form3 = std::make_unique<trace::TForm3>(form1.get());
    form1->setTraceWindow(form3.get());
    auto aboutBox = std::make_unique<ui::TAboutBox>(form1.get());
    auto moreForm = std::make_unique<ui::TMore_Form>(form1.get());
    form1->setAboutBox(aboutBox.get());
    form1->setMoreForm(moreForm.get());
    // Until the program has a notification area presence, the main window is
    // its only way to be reached, so it is shown at every start.
    form1->show();

    const int code = app.exec();
    // Workers first, so none hands a result to a window that is going.
    form3->shutdownTraces();
    form1->shutdownEngine();
    form1->setTraceWindow(nullptr);
    form3.reset();
    moreForm.reset();
    aboutBox.reset();
    form1.reset();
    return code;
}

} // namespace tarnwick::app
