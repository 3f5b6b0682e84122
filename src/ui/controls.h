#pragma once

#include <QCheckBox>
#include <QLineEdit>

namespace tarnwick::ui {

// A one-line edit that reports key releases after it has handled them.
class TEdit : public QLineEdit {
    Q_OBJECT
public:
    using QLineEdit::QLineEdit;

signals:
    void keyReleased(int key);

protected:
    void keyReleaseEvent(QKeyEvent* event) override;
};

// A check box that reports every mouse-button release, after the release has
// toggled it, so a handler sees the new state.
class TCheckBox : public QCheckBox {
    Q_OBJECT
public:
    using QCheckBox::QCheckBox;

signals:
    void mouseReleased(Qt::MouseButton button);

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
};

} // namespace tarnwick::ui
