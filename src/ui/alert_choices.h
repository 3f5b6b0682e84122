#pragma once

#include "engine/outage_watch.h"

namespace tarnwick::ui {

// The user's alert choices, kept in the per-user store beside the first-run
// marker: notices on or off (off until the user switches them on), and the
// attempts in a row that make a host down and up again.
struct AlertChoices {
    bool notices = false;
    engine::Thresholds thresholds;
    friend bool operator==(const AlertChoices&, const AlertChoices&) = default;
};

// Value names in the product's key of the per-user store.
inline const QString kNoticesValue = QStringLiteral("notices");
inline const QString kDownAfterValue = QStringLiteral("downAfter");
inline const QString kUpAfterValue = QStringLiteral("upAfter");

// Missing or unreadable values keep their defaults; numbers are held to
// their range.
AlertChoices loadAlertChoices();
void saveAlertChoices(const AlertChoices& choices);

} // namespace tarnwick::ui
