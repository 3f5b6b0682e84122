#pragma once

#include "settings/settings_files.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace tarnwick::settings {

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

    // The host list file, then the settings file (its lines, from
    // settingsLines()), then the start-up entry; the first file that cannot
    // be written ends it with FileCreateError.
    void save(const QList<HostEntry>& hosts, const QStringList& settingsFileLines,
              bool autoStart) const;

    // The first-run marker "fr" is "1" once the first run is over.
    bool isFirstRun() const;
    void markFirstRunDone() const;

private:
    QString m_dataFolder;
    QString m_executablePath;
};

} // namespace tarnwick::settings
