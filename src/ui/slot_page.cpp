#include "ui/slot_page.h"

#include "ui/log_memo.h"
#include "ui/stat_label.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace tarnwick::ui {

namespace {
QPushButton* makeButton(const QString& caption, const char* name, QWidget* parent)
{
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QLatin1String(name));
    button->setAutoDefault(false);
    return button;
}
} // namespace

TSlotPage::TSlotPage(int slotIndex, const Names& names, QWidget* parent)
    : QWidget(parent), m_slotIndex(slotIndex)
{
    setObjectName(QLatin1String(names.page));

    m_memo = new TLogMemo(this);
    m_memo->setObjectName(QLatin1String(names.memo));

    auto* bottom = new QWidget(this);
    bottom->setObjectName(QStringLiteral("Panel%1").arg(slotIndex + 2));
    bottom->setFixedHeight(kBottomPanelHeight);

    m_packetLabel = new TStatLabel(bottom);
    m_packetLabel->setObjectName(QLatin1String(names.packetLabel));
    m_timingLabel = new TStatLabel(bottom);
    m_timingLabel->setObjectName(QLatin1String(names.timingLabel));

    m_copy = makeButton(tr("Copy"), names.copy, bottom);
    m_save = makeButton(tr("Save to file"), names.save, bottom);
    m_clear = makeButton(tr("Clear"), names.clear, bottom);
    m_trace = makeButton(tr("Trace Route"), names.trace, bottom);

    auto* buttons = new QGridLayout;
    buttons->setSpacing(2);
    buttons->addWidget(m_copy, 0, 0);
    buttons->addWidget(m_save, 0, 1);
    buttons->addWidget(m_clear, 1, 0);
    buttons->addWidget(m_trace, 1, 1);

    auto* bottomLayout = new QHBoxLayout(bottom);
    bottomLayout->setContentsMargins(4, 2, 4, 2);
    bottomLayout->addWidget(m_packetLabel, 1);
    bottomLayout->addWidget(m_timingLabel, 1);
    bottomLayout->addLayout(buttons);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_memo, 1);
    layout->addWidget(bottom);
}

} // namespace tarnwick::ui
