#include "ui/up_down.h"

#include "core/numbers.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>
#include <QTimer>

#include <algorithm>

namespace tarnwick::ui {

TUpDown::TUpDown(QWidget* parent) : QWidget(parent), m_repeat(new QTimer(this))
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    setFocusPolicy(Qt::NoFocus);
    connect(m_repeat, &QTimer::timeout, this, [this] {
        m_repeat->setInterval(50);
        step(m_pressedArrow);
    });
}

QSize TUpDown::sizeHint() const
{
    return {16, 22};
}

void TUpDown::setAssociate(QLineEdit* edit)
{
    if (m_associate)
        m_associate->removeEventFilter(this);
    m_associate = edit;
    if (!edit)
        return;
    edit->installEventFilter(this);
    // Connected before anyone else listens to the edit, so that handlers of the
    // edit's text change already see the position the new text gives.
    connect(edit, &QLineEdit::textChanged, this, &TUpDown::takeOverText);
    edit->setText(QString::number(m_position));
}

void TUpDown::setRange(int min, int max)
{
    m_min = min;
    m_max = std::max(min, max);
    setPosition(m_position);
}

void TUpDown::setPosition(int value)
{
    const int held = std::clamp(value, m_min, m_max);
    const bool changed = held != m_position;
    m_position = held;
    if (m_associate && m_associate->text() != QString::number(held))
        m_associate->setText(QString::number(held));
    if (changed)
        emit positionChanged(m_position);
}

void TUpDown::takeOverText(const QString& text)
{
    const std::optional<int> value = core::parseWholeNumber(text);
    if (!value || *value < m_min || *value > m_max || *value == m_position)
        return;
    m_position = *value;
    emit positionChanged(m_position);
}

void TUpDown::step(int direction)
{
    if (direction == 0)
        return;
    const long long next = static_cast<long long>(m_position) + direction * m_increment;
    setPosition(static_cast<int>(std::clamp<long long>(next, m_min, m_max)));
}

int TUpDown::arrowAt(const QPoint& pos) const
{
    if (!rect().contains(pos))
        return 0;
    return pos.y() < height() / 2 ? 1 : -1;
}

void TUpDown::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !isEnabled())
        return;
    m_pressedArrow = arrowAt(event->position().toPoint());
    step(m_pressedArrow);
    m_repeat->setInterval(400);
    m_repeat->start();
    update();
}

void TUpDown::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        m_repeat->stop();
        m_pressedArrow = 0;
        update();
    }
    emit mouseReleased(event->button());
}

bool TUpDown::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_associate && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Up || key->key() == Qt::Key_Down) {
            step(key->key() == Qt::Key_Up ? 1 : -1);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TUpDown::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const int half = height() / 2;
    const QRect upper(0, 0, width(), half);
    const QRect lower(0, half, width(), height() - half);
    for (const auto& [r, arrow, dir] : {std::tuple{upper, QStyle::PE_IndicatorArrowUp, 1},
                                        std::tuple{lower, QStyle::PE_IndicatorArrowDown, -1}}) {
        QStyleOptionButton button;
        button.initFrom(this);
        button.rect = r;
        button.state |= (m_pressedArrow == dir) ? QStyle::State_Sunken : QStyle::State_Raised;
        style()->drawPrimitive(QStyle::PE_PanelButtonCommand, &button, &p, this);
        QStyleOption arrowOption;
        arrowOption.initFrom(this);
        arrowOption.rect = r.adjusted(3, 2, -3, -2);
        style()->drawPrimitive(arrow, &arrowOption, &p, this);
    }
}

} // namespace tarnwick::ui
