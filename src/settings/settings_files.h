#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace tarnwick::settings {

// The settings file's four values, in the file's order.
struct Settings {
    int delay = 1000;
    bool autoStart = true;
    int timeout = 2000;
    int packetSize = 32;
};

// Applies the settings file's lines to `into` in order, up to the first one
// that does not read. Returns how many were applied; the rest keep their
// values.
int applySettingsLines(const QStringList& lines, Settings& into);
// The file's lines for `values`.
QStringList settingsLines(const Settings& values);

// "True"/"False" in any letter case, or any number (zero is false).
std::optional<bool> parseBoolean(const QString& text);

// One host list entry as it is kept: the text shown, and the bytes it was
// read as, so that an entry nobody edited is written back byte for byte even
// when it is not valid in the locale's encoding.
struct HostEntry {
    QString text;
    // Null where the text gives the bytes back, as for an entry made in the
    // program: most entries of a long list carry no copy.
    QByteArray bytes;
};

// The host list file's lines (nothing trimmed).
QList<HostEntry> decodeHostList(const QByteArray& bytes);
// Each entry followed by CR LF: its own bytes where its text is still what
// they read as, otherwise its text in the locale's encoding.
QByteArray encodeHostList(const QList<HostEntry>& entries);

// Text files in the locale's 8-bit encoding, each line ended by CR LF.
QStringList decodeLines(const QByteArray& bytes);
QByteArray encodeLines(const QStringList& lines);

} // namespace tarnwick::settings
