#include "app/application.h"

#include "core/app_error.h"
#include "core/product.h"
#include "tray/application_state.h"

#include <QMessageBox>

#include <exception>

namespace tarnwick::app {

QString errorMessageText(const QString& message)
{
    if (!message.isEmpty() && message.back() > QLatin1Char('.'))
        return message + QLatin1Char('.');
    return message;
}

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    // Not the display name: Qt would append it to every window caption.
    setApplicationName(QStringLiteral("tarnwick"));
    // Lets desktops match the windows to the installed menu entry.
    setDesktopFileName(QStringLiteral("example.orlvane.Tarnwick"));
}

void TApplication::setErrorPresenter(std::function<void(const QString&)> presenter)
{
    m_presenter = std::move(presenter);
}

void TApplication::showException(const QString& message)
{
    const QString text = errorMessageText(message);
    if (m_presenter) {
        m_presenter(text);
        return;
    }
    // Modal to the window the error came from, not to the whole program: the
    // tray icon's window keeps answering.
    QWidget* parent = activeWindow() ? activeWindow() : tray::TApplicationState::mainForm();
    QMessageBox box(QMessageBox::Critical, product::kApplicationTitle, text, QMessageBox::Ok,
                    parent);
    box.setObjectName(QStringLiteral("ErrorBox"));
    box.setWindowModality(Qt::WindowModal);
    box.exec();
}

bool TApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const AppError& error) {
        reportToTopLevel(error.message());
    } catch (const std::exception& error) {
        reportToTopLevel(QString::fromLocal8Bit(error.what()));
    } catch (...) {
        reportToTopLevel(tr("Unknown error"));
    }
    return false;
}

} // namespace tarnwick::app
