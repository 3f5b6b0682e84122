#include "platform/user_store.h"

#include "core/app_error.h"
#include "platform/files.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QStandardPaths>

namespace tarnwick::platform {

namespace {

std::unique_ptr<QSettings> productStore()
{
    return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                       QStringLiteral("Orlvane"),
                                       QStringLiteral("Orlvane_Tarnwick"));
}

QString entryPath(const QString& valueName)
{
    return autostartFolder() + QLatin1Char('/') + valueName + QStringLiteral(".desktop");
}

// General string escapes of desktop entry values.
QString escapeString(const QString& text)
{
    QString out;
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '\\':
            out += QStringLiteral("\\\\");
            break;
        case '\n':
            out += QStringLiteral("\\n");
            break;
        case '\t':
            out += QStringLiteral("\\t");
            break;
        case '\r':
            out += QStringLiteral("\\r");
            break;
        default:
            out += c;
        }
    }
    if (out.startsWith(QLatin1Char(' ')))
        out.replace(0, 1, QStringLiteral("\\s"));
    return out;
}

QString unescapeString(const QString& text)
{
    QString out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('\\') && i + 1 < text.size()) {
            const QChar n = text[++i];
            switch (n.unicode()) {
            case 's':
                out += QLatin1Char(' ');
                break;
            case 'n':
                out += QLatin1Char('\n');
                break;
            case 't':
                out += QLatin1Char('\t');
                break;
            case 'r':
                out += QLatin1Char('\r');
                break;
            case '\\':
                out += QLatin1Char('\\');
                break;
            default:
                out += QLatin1Char('\\');
                out += n;
            }
        } else {
            out += text[i];
        }
    }
    return out;
}

struct DesktopEntry {
    bool exists = false;
    bool hidden = false;
    QString exec;
};

DesktopEntry readEntry(const QString& path)
{
    DesktopEntry entry;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return entry;
    entry.exists = true;
    bool inMain = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).chopped(0).trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inMain = line == QStringLiteral("[Desktop Entry]");
            continue;
        }
        if (!inMain)
            continue;
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq < 0)
            continue;
        const QString key = line.left(eq).trimmed();
        const QString value = line.mid(eq + 1).trimmed();
        if (key == QStringLiteral("Exec"))
            entry.exec = value;
        else if (key == QStringLiteral("Hidden"))
            entry.hidden = value == QStringLiteral("true");
    }
    return entry;
}

} // namespace

QString autostartFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/autostart");
}

QString desktopExecValue(const QString& programPath)
{
    QString quoted = QStringLiteral("\"");
    for (const QChar c : programPath) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') ||
            c == QLatin1Char('\\'))
            quoted += QLatin1Char('\\');
        if (c == QLatin1Char('%'))
            quoted += QLatin1Char('%');
        quoted += c;
    }
    quoted += QLatin1Char('"');
    return escapeString(quoted);
}

QString programPathFromExec(const QString& execValue)
{
    const QString exec = unescapeString(execValue);
    QString path;
    qsizetype i = 0;
    if (exec.startsWith(QLatin1Char('"'))) {
        for (i = 1; i < exec.size() && exec[i] != QLatin1Char('"'); ++i) {
            // A backslash escapes the next character, and "%%" is one "%".
            const bool escaped = exec[i] == QLatin1Char('\\') ||
                                 (exec[i] == QLatin1Char('%') && i + 1 < exec.size() &&
                                  exec[i + 1] == QLatin1Char('%'));
            if (escaped && i + 1 < exec.size())
                ++i;
            path += exec[i];
        }
        return path;
    }
    // An unquoted entry written by someone else: the first word.
    const qsizetype space = exec.indexOf(QLatin1Char(' '));
    return space < 0 ? exec : exec.left(space);
}

bool RegReadString(RegistryRoot, const StoreKey& key, const QString& valueName, QString& value)
{
    value.clear();
    if (key.backend == StoreKey::Backend::AutostartEntries) {
        const DesktopEntry entry = readEntry(entryPath(valueName));
        if (!entry.exists)
            return false;
        if (!entry.hidden)
            value = programPathFromExec(entry.exec);
        return true;
    }
    auto store = productStore();
    store->beginGroup(key.group);
    const QVariant stored = store->value(valueName);
    if (!stored.isValid() || stored.typeId() != QMetaType::QString)
        return false;
    value = stored.toString();
    return true;
}

bool RegWriteString(RegistryRoot, const StoreKey& key, const QString& valueName,
                    const QString& value)
{
    if (key.backend == StoreKey::Backend::AutostartEntries) {
        const QString path = entryPath(valueName);
        if (!QDir().mkpath(autostartFolder()))
            return false;
        QString exec = value.isEmpty() ? readEntry(path).exec : desktopExecValue(value);
        QString text = QStringLiteral("[Desktop Entry]\nType=Application\nName=Tarnwick\n"
                                      "Comment=Pings your hosts and shows their state\n");
        if (!exec.isEmpty())
            text += QStringLiteral("Exec=") + exec + QLatin1Char('\n');
        text += QStringLiteral("Terminal=false\nHidden=") +
                (value.isEmpty() ? QStringLiteral("true") : QStringLiteral("false")) +
                QLatin1Char('\n');
        try {
            writeFileAtomically(path, text.toUtf8());
        } catch (const AppError&) {
            return false;
        }
        return true;
    }
    auto store = productStore();
    store->beginGroup(key.group);
    store->setValue(valueName, value);
    store->endGroup();
    store->sync();
    return store->status() == QSettings::NoError;
}

} // namespace tarnwick::platform
