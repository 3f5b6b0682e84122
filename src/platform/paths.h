#pragma once

#include <QString>

namespace tarnwick::platform {

// Folder of the running executable, links followed (/proc/self/exe), so that
// files beside the program are found whatever the working directory is.
QString executableFolder();
QString executablePath();
// The program's data folder: the executable's folder plus "/data".
QString dataFolder();
// The echo helper that sits beside the executable.
QString echoHelperPath();
// The offline help page beside the executable (help/index.html).
QString helpPagePath();

} // namespace tarnwick::platform
