#include "ui/settings_store.h"

#include "platform/files.h"
#include "platform/user_store.h"

namespace tarnwick::ui {

namespace {
const QString kSettingsFile = QStringLiteral("config.cfg");
const QString kHostListFile = QStringLiteral("domains.cfg");
const QString kFirstRunValue = QStringLiteral("fr");
const QString kRunValue = QStringLiteral("Orlvane_Tarnwick");
} // namespace

QList<HostEntry> decodeHostList(const QByteArray& bytes)
{
    QList<HostEntry> entries;
    qsizetype start = 0;
    const qsizetype n = bytes.size();
    const auto take = [&](qsizetype end) {
        const QByteArrayView line(bytes.constData() + start, end - start);
        QString text = QString::fromLocal8Bit(line);
        const bool givesThemBack = text.toLocal8Bit() == line;
        entries.append({std::move(text), givesThemBack ? QByteArray() : line.toByteArray()});
    };
    for (qsizetype i = 0; i < n; ++i) {
        const char c = bytes[i];
        if (c != '\r' && c != '\n')
            continue;
        take(i);
        if (c == '\r' && i + 1 < n && bytes[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < n)
        take(n);
    return entries;
}

QByteArray encodeHostList(const QList<HostEntry>& entries)
{
    QByteArray out;
    for (const HostEntry& entry : entries) {
        const bool unchanged =
            !entry.bytes.isNull() && QString::fromLocal8Bit(entry.bytes) == entry.text;
        out += unchanged ? entry.bytes : entry.text.toLocal8Bit();
        out += "\r\n";
    }
    return out;
}

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
    return splitLines(decodeText(*bytes));
}

std::optional<QList<HostEntry>> SettingsStore::readHostList() const
{
    const std::optional<QByteArray> bytes = platform::readRegularFile(hostListFilePath());
    if (!bytes)
        return std::nullopt;
    return decodeHostList(*bytes);
}

void SettingsStore::save(const QList<HostEntry>& hosts, const SettingsValues& values) const
{
    platform::writeFileAtomically(hostListFilePath(), encodeHostList(hosts));
    platform::writeFileAtomically(
        settingsFilePath(), encodeLines(formatSettingsLines(values.delay, values.autoStart,
                                                            values.timeout, values.packetSize)));
    // The entry is never removed: unchecked, it keeps its name with no program.
    platform::RegWriteString(platform::RegistryRoot::CurrentUser, platform::kRunKey, kRunValue,
                             values.autoStart ? m_executablePath : QString());
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

} // namespace tarnwick::ui
