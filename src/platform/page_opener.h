#pragma once

#include <QString>

namespace tarnwick::platform {

// Opens a web page (or a local page) in the user's default browser. Whether a
// browser opened is not reported to the user anywhere, so the result is
// informational only.
class PageOpener {
public:
    virtual ~PageOpener() = default;
    virtual bool openPage(const QString& address) = 0;
};

// The desktop's default browser.
class DesktopPageOpener final : public PageOpener {
public:
    bool openPage(const QString& address) override;
};

} // namespace tarnwick::platform
