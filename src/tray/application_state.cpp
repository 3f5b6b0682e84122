#include "tray/application_state.h"

#include <QPointer>
#include <QWidget>

namespace tarnwick::tray {

namespace {
QPointer<QWidget>& mainFormPointer()
{
    static QPointer<QWidget> window;
    return window;
}
bool showMain = true;
} // namespace

QWidget* TApplicationState::mainForm()
{
    return mainFormPointer().data();
}

void TApplicationState::setMainForm(QWidget* window)
{
    mainFormPointer() = window;
}

bool TApplicationState::showMainForm()
{
    return showMain;
}

void TApplicationState::setShowMainForm(bool show)
{
    showMain = show;
}

} // namespace tarnwick::tray
