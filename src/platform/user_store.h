#pragma once

#include <QString>

namespace tarnwick::platform {

// The per-user store of string values, addressed by key and value name.
enum class RegistryRoot { CurrentUser };

// A key says where its values live:
//  - AutostartEntries (kRunKey): the start-with-the-system entries. A value
//    becomes an XDG autostart entry "<name>.desktop" whose Exec is the stored
//    path; the empty value keeps the entry but hides it, so nothing starts at
//    logon.
//  - ProductFile (kProductKey): an INI file of the product, its values in
//    `group` (empty: the top level).
struct StoreKey {
    enum class Backend { AutostartEntries, ProductFile };
    Backend backend;
    QString group;
};

inline const StoreKey kRunKey{StoreKey::Backend::AutostartEntries, {}};
inline const StoreKey kProductKey{StoreKey::Backend::ProductFile, {}};

// The value's text; false (and an empty text) when the key or value is missing
// or not a plain string.
bool RegReadString(RegistryRoot root, const StoreKey& key, const QString& valueName,
                   QString& value);
// Creates the key when needed; true when the value was stored.
bool RegWriteString(RegistryRoot root, const StoreKey& key, const QString& valueName,
                    const QString& value);

// Where autostart entries live ($XDG_CONFIG_HOME/autostart).
QString autostartFolder();

// Exec= value for one program path: quoted, with the characters the desktop
// entry rules reserve escaped, then escaped once more as a string value.
QString desktopExecValue(const QString& programPath);
// The program path back from an Exec= value written by desktopExecValue.
QString programPathFromExec(const QString& execValue);

} // namespace tarnwick::platform
