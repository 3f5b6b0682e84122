#pragma once

#include <QApplication>

#include <functional>

namespace tarnwick::app {

// The application object. Handlers hand their errors to the top-level
// reporter themselves; notify() is the last guard, for an error that still
// escapes one, so that it is shown too instead of unwinding through Qt.
class TApplication : public QApplication {
    Q_OBJECT
public:
    TApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;

    // Shows an error the way the top-level handler does: a message box with
    // an error icon, the application title as caption and the text with the
    // full-stop rule applied.
    void showException(const QString& message);

    // Tests replace the message box with a recorder.
    void setErrorPresenter(std::function<void(const QString&)> presenter);

private:
    std::function<void(const QString&)> m_presenter;
};

// The text shown for an error: a full stop is added unless the text already
// ends in one or in another character that sorts at or below it.
QString errorMessageText(const QString& message);

} // namespace tarnwick::app
