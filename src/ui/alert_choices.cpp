#include "ui/alert_choices.h"

#include "platform/user_store.h"

#include <algorithm>

namespace tarnwick::ui {

namespace {

using platform::RegistryRoot;

void readNumber(const QString& name, int& into)
{
    QString text;
    if (!platform::RegReadString(RegistryRoot::CurrentUser, platform::kProductKey, name, text))
        return;
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    if (ok)
        into = std::clamp(value, engine::Thresholds::kMin, engine::Thresholds::kMax);
}

} // namespace

AlertChoices loadAlertChoices()
{
    AlertChoices choices;
    QString text;
    if (platform::RegReadString(RegistryRoot::CurrentUser, platform::kProductKey, kNoticesValue,
                                text))
        choices.notices = text.trimmed() == QStringLiteral("1");
    readNumber(kDownAfterValue, choices.thresholds.downAfter);
    readNumber(kUpAfterValue, choices.thresholds.upAfter);
    return choices;
}

void saveAlertChoices(const AlertChoices& choices)
{
    // Failures pass silently, as for every value of this store.
    const auto write = [](const QString& name, const QString& value) {
        platform::RegWriteString(RegistryRoot::CurrentUser, platform::kProductKey, name, value);
    };
    write(kNoticesValue, choices.notices ? QStringLiteral("1") : QStringLiteral("0"));
    write(kDownAfterValue, QString::number(choices.thresholds.downAfter));
    write(kUpAfterValue, QString::number(choices.thresholds.upAfter));
}

} // namespace tarnwick::ui
