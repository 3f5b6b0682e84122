#pragma once

#include "ui/settings_files.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace tarnwick::ui {

// One host list entry as it is kept: the text shown, and the bytes it was
// read as, so that an entry nobody edited is written back byte for byte even
// when it is not valid in the locale's encoding.
struct HostEntry {
    QString text;
    // Null where the text gives the bytes back, as for an entry made in the
    // program: most entries of a long list carry no copy.
    QByteArray bytes;
};

// The host list file's lines: a line ends at CR LF, a lone CR or a lone LF;
// a last line without a line end counts; nothing is trimmed.
QList<HostEntry> decodeHostList(const QByteArray& bytes);
// Each entry followed by CR LF: its own bytes where its text is still what
// they read as, otherwise its text in the locale's encoding.
QByteArray encodeHostList(const QList<HostEntry>& entries);

struct SettingsValues {
    int delay = 1000;
    bool autoStart = true;
    int timeout = 2000;
    int packetSize = 32;
};

// The two files in the data folder, the start-with-the-system entry and the
// first-run marker: where they are, the order they are read and written in.
class SettingsStore {
public:
    SettingsStore(QString dataFolder, QString executablePath);

    QString dataFolder() const { return m_dataFolder; }
    QString settingsFilePath() const;
    QString hostListFilePath() const;
    QString executablePath() const { return m_executablePath; }

    // At start-up: what a write cut short by a kill left behind goes.
    void removeStaleTemporaries() const;

    // The settings file's lines; empty when it cannot be read (also when it
    // is not a regular file).
    std::optional<QStringList> readSettingsLines() const;
    std::optional<QList<HostEntry>> readHostList() const;

    // The host list file, then the settings file, then the start-up entry;
    // the first file that cannot be written ends it with FileCreateError.
    void save(const QList<HostEntry>& hosts, const SettingsValues& values) const;

    // The first-run marker "fr" is "1" once the first run is over.
    bool isFirstRun() const;
    void markFirstRunDone() const;

private:
    QString m_dataFolder;
    QString m_executablePath;
};

} // namespace tarnwick::ui
