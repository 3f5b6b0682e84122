#pragma once

#include <QString>

#include <stdexcept>

namespace tarnwick {

// An error meant for the user: it travels as an exception to the top-level
// handler, which shows its text in a message box.
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

} // namespace tarnwick

#include <functional>

namespace tarnwick {

// Handlers that must finish their own work (a settings change already made
// stays) report an error here instead of throwing it through the toolkit; the
// application shows it exactly as it shows an error that escapes a handler.
void setTopLevelErrorReporter(std::function<void(const QString&)> reporter);
void reportToTopLevel(const QString& message);

} // namespace tarnwick
