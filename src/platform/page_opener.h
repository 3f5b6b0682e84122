#pragma once

#include <QString>

namespace tarnwick::platform {

// Opens a web page in the user's default browser. Whether a browser opened is
// not reported to the user anywhere, so the result is informational only.
class PageOpener {
public:
    virtual ~PageOpener() = default;
    virtual bool openPage(const QString& address) = 0;
};

bool openWebPage(const QString& address);

// Replaces the opener (tests record addresses instead of starting a browser).
// Passing null restores the desktop's opener.
void setPageOpener(PageOpener* opener);

} // namespace tarnwick::platform
