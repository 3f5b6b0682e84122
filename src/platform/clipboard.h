#pragma once

#include <QString>

class QObject;

namespace tarnwick::platform {

// Puts text on the clipboard as plain 8-bit text; true when it was placed.
// The owner is the window the text comes from.
bool CopyTextToClipboard(QObject* owner, const QString& text);
// The same for text already in the 8-bit encoding.
bool CopyBytesToClipboard(QObject* owner, const QByteArray& bytes);

} // namespace tarnwick::platform
