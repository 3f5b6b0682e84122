#include "platform/page_opener.h"

#include <QDesktopServices>
#include <QUrl>

namespace tarnwick::platform {

namespace {

class DesktopPageOpener final : public PageOpener {
public:
    bool openPage(const QString& address) override
    {
        return QDesktopServices::openUrl(QUrl(address));
    }
};

PageOpener*& current()
{
    static PageOpener* opener = nullptr;
    return opener;
}

} // namespace

bool openWebPage(const QString& address)
{
    static DesktopPageOpener desktop;
    PageOpener* opener = current() ? current() : &desktop;
    return opener->openPage(address);
}

void setPageOpener(PageOpener* opener)
{
    current() = opener;
}

} // namespace tarnwick::platform
