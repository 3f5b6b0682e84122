#include "tray/popup_menu.h"

#include <QAction>

namespace tarnwick::tray {

namespace {
const char* const defaultProperty = "Default";
} // namespace

TPopupMenu::TPopupMenu(QWidget* parent) : QMenu(parent) {}

void TPopupMenu::setItemDefault(QAction* item, bool isDefault)
{
    item->setProperty(defaultProperty, isDefault);
    // Default items read bold, as menus conventionally show them.
    QFont font = item->font();
    font.setBold(isDefault);
    item->setFont(font);
}

bool TPopupMenu::isItemDefault(const QAction* item)
{
    return item->property(defaultProperty).toBool();
}

QAction* TPopupMenu::defaultItem() const
{
    const QList<QAction*> items = actions();
    for (QAction* item : items) {
        if (isItemDefault(item))
            return item;
    }
    return nullptr;
}

} // namespace tarnwick::tray
