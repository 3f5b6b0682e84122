#pragma once

#include <QApplication>

#include <functional>

namespace tarnwick::app {

// The application object. Every event goes through notify(), so an error that
// escapes a handler ends here and is shown to the user instead of unwinding
// through Qt's event loop.
class TApplication : public QApplication {
    Q_OBJECT
public:
    TApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;

    // Shows an error the way the top-level handler does.
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
