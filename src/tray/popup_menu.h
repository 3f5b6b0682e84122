#pragma once

#include <QMenu>
#include <QPointer>

namespace tarnwick::tray {

// A menu that a component opens at the cursor. AutoPopup false keeps it shut
// for the tray icon's own button handling; items marked as default are the
// ones a double click on the icon runs (the topmost wins).
class TPopupMenu : public QMenu {
    Q_OBJECT
    Q_PROPERTY(bool AutoPopup READ autoPopup WRITE setAutoPopup)
public:
    explicit TPopupMenu(QWidget* parent = nullptr);

    bool autoPopup() const { return m_autoPopup; }
    void setAutoPopup(bool autoPopup) { m_autoPopup = autoPopup; }

    // The component the menu was last opened for.
    QObject* popupComponent() const { return m_popupComponent.data(); }
    void setPopupComponent(QObject* component) { m_popupComponent = component; }

    static void setItemDefault(QAction* item, bool isDefault);
    static bool isItemDefault(const QAction* item);
    // The topmost top-level item marked default, or nullptr.
    QAction* defaultItem() const;

private:
    bool m_autoPopup = true;
    QPointer<QObject> m_popupComponent;
};

} // namespace tarnwick::tray
