#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

namespace tarnwick::platform {

// Replaces the file at `path` with `bytes`: they go to a temporary file in the
// same folder, which is flushed and then renamed over the old file, so a crash
// or a full disk never leaves a half-written file. The temporary is locked
// until it is renamed, and what a killed earlier write of the same file left
// is removed first. A symbolic link stays a link: its target is written. A
// file without write permission is not replaced. Throws FileCreateError with
// the full path and the system's reason when the file cannot be written.
void writeFileAtomically(const QString& path, const QByteArray& bytes);

// The whole content of a regular file; nothing for a missing or unreadable
// file and for anything that is not a regular file (a FIFO would block).
std::optional<QByteArray> readRegularFile(const QString& path);

// Removes what writeFileAtomically leaves behind when the program is killed
// in the middle of a write: the temporary files of the given names in folder
// that are this user's and that no writer holds any more (a write of another
// running program is never disturbed). Returns how many went.
int removeStaleTemporaries(const QString& folder, const QStringList& fileNames);

// The system's text for an errno value, without trailing blanks and full stops.
QString systemErrorText(int error);

} // namespace tarnwick::platform
