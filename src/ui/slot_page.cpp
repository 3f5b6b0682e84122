#include "ui/slot_page.h"

#include "ui/log_memo.h"
#include "ui/stat_label.h"

#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QImage>
#include <QPainter>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionTabWidgetFrame>
#include <QTabBar>
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
    setAutoFillBackground(true);
}

// The page paints the tab pane's own colour itself, so that a label or a
// scroll bar that changes repaints only itself and the page, not the tab
// control's frame: that frame is drawn in strokes as tall as the window,
// which Qt's raster engine spreads over its helper threads at every paint.
void TSlotPage::takePaneColour()
{
    const QWidget* tabs = parentWidget() ? parentWidget()->parentWidget() : nullptr;
    if (!tabs)
        return;
    QImage pane(64, 64, QImage::Format_RGB32);
    pane.fill(tabs->palette().color(QPalette::Window));
    QStyleOptionTabWidgetFrame option;
    option.initFrom(tabs);
    option.rect = pane.rect();
    option.lineWidth = tabs->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, tabs);
    option.shape = QTabBar::RoundedNorth;
    {
        QPainter painter(&pane);
        tabs->style()->drawPrimitive(QStyle::PE_FrameTabWidget, &option, &painter, tabs);
    }
    const QColor colour = pane.pixelColor(32, 32);
    if (palette().color(QPalette::Window) == colour)
        return;
    QPalette colours = palette();
    colours.setColor(QPalette::Window, colour);
    setPalette(colours);
}

void TSlotPage::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    takePaneColour();
}

void TSlotPage::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::StyleChange)
        takePaneColour();
}

} // namespace tarnwick::ui
