#include "ui/controls.h"

#include <QKeyEvent>
#include <QMouseEvent>

namespace tarnwick::ui {

void TEdit::keyReleaseEvent(QKeyEvent* event)
{
    QLineEdit::keyReleaseEvent(event);
    if (!event->isAutoRepeat())
        emit keyReleased(event->key());
}

void TCheckBox::mouseReleaseEvent(QMouseEvent* event)
{
    QCheckBox::mouseReleaseEvent(event);
    emit mouseReleased(event->button());
}

} // namespace tarnwick::ui
