#pragma once

#include <QString>

// Every web address the program shows or opens, in one place so that a
// distributor can change them.
namespace tarnwick::product {

inline const QString kMakerWebAddress = QStringLiteral("www.orlvane.example");
inline const QString kMakerHomePage = QStringLiteral("https://www.orlvane.example/");
inline const QString kUtilityPage = QStringLiteral("https://www.orlvane.example/tarnwick/");
inline const QString kProPageFromLimit =
    QStringLiteral("https://www.orlvane.example/tarnwick-pro/?from=limit");
inline const QString kProPageFromMain =
    QStringLiteral("https://www.orlvane.example/tarnwick-pro/?from=main");
inline const QString kHelpPage = QStringLiteral("https://www.orlvane.example/tarnwick/help/");

inline const QString kApplicationTitle = QStringLiteral("Tarnwick");
inline const QString kDefaultHost = QStringLiteral("localhost");

} // namespace tarnwick::product
