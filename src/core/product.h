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
// The help page ships with the program, beside the executable, so that help
// works when the network is what is failing.
inline const QString kHelpPageFile = QStringLiteral("help/index.html");

inline const QString kApplicationTitle = QStringLiteral("Tarnwick");
inline const QString kDefaultHost = QStringLiteral("localhost");

} // namespace tarnwick::product
