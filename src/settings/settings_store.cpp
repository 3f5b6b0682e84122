#include "settings/settings_store.h"

#include "platform/files.h"
#include "platform/user_store.h"

namespace tarnwick::settings {

namespace {
const QString kSettingsFile = QStringLiteral("config.cfg");
const QString kHostListFile = QStringLiteral("domains.cfg");
const QString kFirstRunValue = QStringLiteral("fr");
const QString kRunValue = QStringLiteral("Orlvane_Tarnwick");
} // namespace

SettingsStore::SettingsStore(QString dataFolder, QString executablePath)
    : m_dataFolder(std::move(dataFolder)), m_executablePath(std::move(executablePath))
{
}

QString SettingsStore::settingsFilePath() const
{
    return m_dataFolder + QLatin1Char('/') + kSettingsFile;
}

QString SettingsStore::hostListFilePath() const
{
    return m_dataFolder + QLatin1Char('/') + kHostListFile;
}

void SettingsStore::removeStaleTemporaries() const
{
    platform::removeStaleTemporaries(m_dataFolder, {kSettingsFile, kHostListFile});
}

std::optional<QStringList> SettingsStore::readSettingsLines() const
{
    const std::optional<QByteArray> bytes = platform::readRegularFile(settingsFilePath());
    if (!bytes)
        return std::nullopt;
    return decodeLines(*bytes);
}

std::optional<QList<HostEntry>> SettingsStore::readHostList() const
{
    const std::optional<QByteArray> bytes = platform::readRegularFile(hostListFilePath());
    if (!bytes)
        return std::nullopt;
    return decodeHostList(*bytes);
}

void SettingsStore::save(const QList<HostEntry>& hosts, const QStringList& settingsFileLines,
                         bool autoStart) const
{
    platform::writeFileAtomically(hostListFilePath(), encodeHostList(hosts));
    platform::writeFileAtomically(settingsFilePath(), encodeLines(settingsFileLines));
    // The entry is never removed: unchecked, it keeps its name with no program.
    platform::RegWriteString(platform::RegistryRoot::CurrentUser, platform::kRunKey, kRunValue,
                             autoStart ? m_executablePath : QString());
}

bool SettingsStore::isFirstRun() const
{
    QString marker;
    platform::RegReadString(platform::RegistryRoot::CurrentUser, platform::kProductKey,
                            kFirstRunValue, marker);
    return marker != QStringLiteral("1");
}

void SettingsStore::markFirstRunDone() const
{
    platform::RegWriteString(platform::RegistryRoot::CurrentUser, platform::kProductKey,
                             kFirstRunValue, QStringLiteral("1"));
}

} // namespace tarnwick::settings
