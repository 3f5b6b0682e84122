#include "ui/alerts_menu.h"

#include <QAction>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QSpinBox>
#include <QVBoxLayout>

namespace tarnwick::ui {

TThresholdsDialog::TThresholdsDialog(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("ThresholdsDialog"));
    setWindowTitle(tr("Alert thresholds"));
    setWindowModality(Qt::WindowModal);
    auto* form = new QFormLayout;
    auto spin = [this](const char* name) {
        auto* box = new QSpinBox(this);
        box->setObjectName(QLatin1String(name));
        box->setRange(engine::Thresholds::kMin, engine::Thresholds::kMax);
        return box;
    };
    DownAfter = spin("DownAfter");
    UpAfter = spin("UpAfter");
    form->addRow(tr("Down after this many failed requests in a row:"), DownAfter);
    form->addRow(tr("Up again after this many answered requests in a row:"), UpAfter);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
    setThresholds({});
}

void TThresholdsDialog::setThresholds(engine::Thresholds thresholds)
{
    DownAfter->setValue(thresholds.downAfter);
    UpAfter->setValue(thresholds.upAfter);
}

engine::Thresholds TThresholdsDialog::thresholds() const
{
    return {DownAfter->value(), UpAfter->value()};
}

TAlertsMenu::TAlertsMenu(Dependencies deps, QWidget* parent)
    : QMenu(tr("&Alerts"), parent), m_deps(std::move(deps)), m_choices(m_deps.initial)
{
    setObjectName(QStringLiteral("Alerts1"));
    Ledger1 = addAction(tr("Incident &ledger..."));
    Ledger1->setObjectName(QStringLiteral("Ledger1"));
    connect(Ledger1, &QAction::triggered, this, [this] {
        if (m_deps.openLedger)
            m_deps.openLedger();
    });
    addSeparator();
    Notices1 = addAction(kNoticesText);
    Notices1->setObjectName(QStringLiteral("Notices1"));
    Notices1->setCheckable(true);
    Notices1->setChecked(m_choices.notices);
    connect(Notices1, &QAction::toggled, this, &TAlertsMenu::noticesToggled);
    Thresholds1 = addAction(tr("Down and up after..."));
    Thresholds1->setObjectName(QStringLiteral("Thresholds1"));
    connect(Thresholds1, &QAction::triggered, this, &TAlertsMenu::editThresholds);
    // A service may come or go while the program runs.
    connect(this, &QMenu::aboutToShow, this, &TAlertsMenu::refresh);
    refresh();
}

void TAlertsMenu::refresh()
{
    const bool there = !m_deps.serviceAvailable || m_deps.serviceAvailable();
    // Still a choice without a service: it takes effect once one runs.
    Notices1->setText(there ? kNoticesText : kNoServiceText);
}

void TAlertsMenu::noticesToggled(bool on)
{
    if (m_choices.notices == on)
        return;
    m_choices.notices = on;
    if (m_deps.changed)
        m_deps.changed(m_choices);
}

void TAlertsMenu::editThresholds()
{
    std::optional<engine::Thresholds> chosen;
    if (m_deps.askThresholds) {
        chosen = m_deps.askThresholds(m_choices.thresholds);
    } else {
        TThresholdsDialog dialog(parentWidget());
        dialog.setThresholds(m_choices.thresholds);
        if (dialog.exec() == QDialog::Accepted)
            chosen = dialog.thresholds();
    }
    if (!chosen || *chosen == m_choices.thresholds)
        return;
    m_choices.thresholds = *chosen;
    if (m_deps.changed)
        m_deps.changed(m_choices);
}

} // namespace tarnwick::ui
