#include "ui/stat_label.h"

namespace tarnwick::ui {

TStatLabel::TStatLabel(QWidget* parent) : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setWordWrap(true);
}

void TStatLabel::setCaption(const QString& caption)
{
    if (caption == m_caption)
        return;
    m_caption = caption;
    QString shown = caption;
    shown.replace(QChar(13), QChar(10));
    setText(shown);
}

} // namespace tarnwick::ui
