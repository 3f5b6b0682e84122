#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

namespace tarnwick::ui {

// The small modal prompt for a host: a caption, a prompt text, a one-line
// edit of at most 255 characters that starts with the given text selected,
// "OK" (Enter) and "Cancel" (Escape or closing). Centred on the screen.
class THostPrompt : public QDialog {
    Q_OBJECT
public:
    THostPrompt(const QString& caption, const QString& prompt, const QString& text,
                QWidget* parent = nullptr);

    QString text() const;

    QLabel* Prompt = nullptr;
    QLineEdit* Edit = nullptr;
    QPushButton* OKButton = nullptr;
    QPushButton* CancelButton = nullptr;

    static constexpr int kMaxLength = 255;

protected:
    void showEvent(QShowEvent* event) override;
};

// Shows the prompt; true with the edited text when "OK" ends it.
bool InputQuery(const QString& caption, const QString& prompt, QString& value,
                QWidget* parent = nullptr);

} // namespace tarnwick::ui
