#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

namespace tarnwick::ui {

// Lines of a text file: a line ends at CR LF, a lone CR or a lone LF; a last
// line without a line end counts, a final line end adds no empty line.
QStringList splitLines(const QString& text);

// Each line followed by CR LF, as files and the clipboard take text.
QString crLfLines(const QStringList& lines);
// The same in the locale's 8-bit encoding.
QByteArray encodeLines(const QStringList& lines);
QString decodeText(const QByteArray& bytes);

// The settings file's four lines, applied in order until the first one that
// does not read; the rest stay unset (their controls keep their values).
struct SettingsLines {
    std::optional<int> delay;
    std::optional<bool> autoStart;
    std::optional<int> timeout;
    std::optional<int> packetSize;
};
SettingsLines parseSettingsLines(const QStringList& lines);

// "True"/"False" in any letter case, or any number (zero is false).
std::optional<bool> parseBoolean(const QString& text);

QStringList formatSettingsLines(int delay, bool autoStart, int timeout, int packetSize);

} // namespace tarnwick::ui
