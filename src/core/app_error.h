#pragma once

#include <QString>

#include <exception>
#include <functional>
#include <stdexcept>

namespace tarnwick {

// An error meant for the user: raised inside a handler, it ends that handler
// and is shown by the top-level reporter in a message box.
class AppError : public std::runtime_error {
public:
    explicit AppError(const QString& message)
        : std::runtime_error(message.toStdString()), m_message(message)
    {
    }
    const QString& message() const { return m_message; }

private:
    QString m_message;
};

// "List index out of bounds (<index>)"
class ListIndexError : public AppError {
public:
    explicit ListIndexError(int index)
        : AppError(QStringLiteral("List index out of bounds (%1)").arg(index))
    {
    }
};

// "Cannot create file "<path>". <reason>"
class FileCreateError : public AppError {
public:
    FileCreateError(const QString& path, const QString& reason)
        : AppError(QStringLiteral("Cannot create file \"%1\". %2").arg(path, reason))
    {
    }
};

// Where errors go that a handler does not handle itself. The program installs
// the message box at start-up; until then (and in tests that install nothing)
// the text goes to the log.
void setTopLevelErrorReporter(std::function<void(const QString&)> reporter);
void reportToTopLevel(const QString& message);

// Runs a handler's body. An error it raises is handed to the top-level
// reporter here, at the handler's boundary: Qt does not support exceptions
// travelling through its event delivery.
template <typename Body> void reportingErrors(Body&& body)
{
    try {
        body();
    } catch (const AppError& error) {
        reportToTopLevel(error.message());
    } catch (const std::exception& error) {
        reportToTopLevel(QString::fromLocal8Bit(error.what()));
    }
}

} // namespace tarnwick
