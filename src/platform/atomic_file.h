#pragma once

#include <QByteArray>
#include <QString>

namespace tarnwick::platform {

// Replaces the file at `path` with `bytes`: they go to a temporary file in the
// same folder, which is flushed and then renamed over the old file, so a crash
// or a full disk never leaves a half-written file. Throws FileCreateError
// with the full path and the system's reason when the file cannot be written.
void writeFileAtomically(const QString& path, const QByteArray& bytes);

// The system's text for an errno value, without trailing blanks and full stops.
QString systemErrorText(int error);

} // namespace tarnwick::platform
