#include "platform/page_opener.h"

#include <QDesktopServices>
#include <QUrl>

namespace tarnwick::platform {

bool DesktopPageOpener::openPage(const QString& address)
{
    return QDesktopServices::openUrl(QUrl(address));
}

} // namespace tarnwick::platform
