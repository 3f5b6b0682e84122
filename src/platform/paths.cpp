#include "platform/paths.h"

#include "core/product.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace tarnwick::platform {

QString executablePath()
{
    const QFileInfo exe(QStringLiteral("/proc/self/exe"));
    QString resolved = exe.canonicalFilePath();
    if (!resolved.isEmpty())
        return resolved;
    return QCoreApplication::applicationFilePath();
}

QString executableFolder()
{
    return QFileInfo(executablePath()).absolutePath();
}

QString dataFolder()
{
    return executableFolder() + QStringLiteral("/data");
}

QString echoHelperPath()
{
    return executableFolder() + QStringLiteral("/tarnwick-icmp-helper");
}

QString helpPagePath()
{
    return executableFolder() + QLatin1Char('/') + product::kHelpPageFile;
}

} // namespace tarnwick::platform
