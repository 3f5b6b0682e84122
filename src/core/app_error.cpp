#include "core/app_error.h"

#include <QtGlobal>

namespace tarnwick {

namespace {
std::function<void(const QString&)>& reporter()
{
    static std::function<void(const QString&)> instance;
    return instance;
}
} // namespace

void setTopLevelErrorReporter(std::function<void(const QString&)> reporter_)
{
    reporter() = std::move(reporter_);
}

void reportToTopLevel(const QString& message)
{
    if (reporter())
        reporter()(message);
    else
        qWarning("%s", qPrintable(message));
}

} // namespace tarnwick
