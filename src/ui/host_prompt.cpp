#include "ui/host_prompt.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include <algorithm>

namespace tarnwick::ui {

THostPrompt::THostPrompt(const QString& caption, const QString& prompt, const QString& text,
                         QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("HostPrompt"));
    setWindowTitle(caption);
    // Not application modal: that would block the tray icon's window too.
    setWindowModality(Qt::WindowModal);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    Prompt = new QLabel(prompt, this);
    Prompt->setObjectName(QStringLiteral("Prompt"));
    Edit = new QLineEdit(this);
    Edit->setObjectName(QStringLiteral("Edit"));
    // Typing is limited; a longer entry read from the host list file is
    // offered whole, not cut.
    Edit->setMaxLength(std::max<int>(kMaxLength, static_cast<int>(text.size())));
    Edit->setText(text);
    Edit->selectAll();
    Edit->setMinimumWidth(220);
    OKButton = new QPushButton(tr("OK"), this);
    OKButton->setObjectName(QStringLiteral("OKButton"));
    OKButton->setDefault(true);
    CancelButton = new QPushButton(tr("Cancel"), this);
    CancelButton->setObjectName(QStringLiteral("CancelButton"));
    connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(OKButton);
    buttons->addWidget(CancelButton);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Prompt);
    layout->addWidget(Edit);
    layout->addLayout(buttons);
    setFixedSize(sizeHint());
}

QString THostPrompt::text() const
{
    return Edit->text();
}

void THostPrompt::showEvent(QShowEvent* event)
{
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    Edit->setFocus();
    Edit->selectAll();
    QDialog::showEvent(event);
}

bool InputQuery(const QString& caption, const QString& prompt, QString& value, QWidget* parent)
{
    THostPrompt dialog(caption, prompt, value, parent);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    value = dialog.text();
    return true;
}

} // namespace tarnwick::ui
