#pragma once

#include <QWidget>

class QLineEdit;
class QTimer;

namespace tarnwick::ui {

// An up-down arrow pair attached to a one-line edit. Unlike a spin box, it
// leaves whatever the user types in the edit alone: only a number within the
// range is taken over as the position. The arrows step by the increment and
// hold the range, and every mouse-button release on the control is reported.
class TUpDown : public QWidget {
    Q_OBJECT
public:
    explicit TUpDown(QWidget* parent = nullptr);

    void setAssociate(QLineEdit* edit);
    QLineEdit* associate() const { return m_associate; }

    void setRange(int min, int max);
    int min() const { return m_min; }
    int max() const { return m_max; }
    void setIncrement(int increment) { m_increment = increment; }
    int increment() const { return m_increment; }

    int position() const { return m_position; }
    // Holds the value to the range and writes it into the edit.
    void setPosition(int value);

    // One arrow step, as a click on the upper (+1) or lower (-1) arrow does.
    void step(int direction);

    QSize sizeHint() const override;

signals:
    void positionChanged(int position);
    void mouseReleased(Qt::MouseButton button);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void takeOverText(const QString& text);
    int arrowAt(const QPoint& pos) const;

    QLineEdit* m_associate = nullptr;
    QTimer* m_repeat = nullptr;
    int m_min = 0;
    int m_max = 100;
    int m_increment = 1;
    int m_position = 0;
    int m_pressedArrow = 0;
};

} // namespace tarnwick::ui
