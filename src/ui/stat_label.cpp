#include "ui/stat_label.h"

#include <QPainter>
#include <QStyle>

namespace tarnwick::ui {

TStatLabel::TStatLabel(QWidget* parent) : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
}

void TStatLabel::setCaption(const QString& caption)
{
    if (caption == m_caption)
        return;
    m_caption = caption;
    m_shown = caption;
    m_shown.replace(QChar(13), QChar(10));
    update();
}

void TStatLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    style()->drawItemText(&painter, contentsRect(), Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap,
                          palette(), isEnabled(), m_shown, foregroundRole());
}

} // namespace tarnwick::ui
