#pragma once

#include <QString>

#include <optional>

#include <sys/types.h>

namespace tarnwick::platform {

// One running program per data folder: two would each save their own host
// list over the other's. The lock is an flock on the folder itself, so the
// kernel frees it when the holder ends, however it ends, and it leaves no
// file behind. Where the file system refuses to lock a folder (NFS), a lock
// file in it takes its place.
class InstanceLock {
public:
    enum class State {
        Held,          // this program is the folder's one instance
        HeldElsewhere, // another running program holds it
        Unavailable,   // no folder, or a file system without locks: nothing to guard
    };
    enum class Method { Folder, LockFile };

    explicit InstanceLock(const QString& dataFolder, Method method = Method::Folder);
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    State state() const { return m_state; }
    // Tries again after HeldElsewhere: the holder may have ended meanwhile.
    State retry();
    // The folder as the lock knows it: links followed, so every path to it
    // meets the same lock.
    QString folder() const { return m_folder; }

    static constexpr const char* kLockFileName = ".tarnwick.lock";

private:
    State acquire();
    // The state after locking m_fd; nothing when the file system cannot
    // lock it (m_fd is closed then).
    std::optional<State> lockOpened();

    QString m_folder;
    Method m_method;
    int m_fd = -1;
    State m_state = State::Unavailable;
};

// Where the instance of a data folder listens for a later start's request:
// a socket named after the folder in the user's private runtime folder
// (runtimeFolder, usually $XDG_RUNTIME_DIR), or in a private folder of the
// user's under fallbackRoot (usually /tmp) when that is missing, not private
// or too long for a socket name. Empty when neither can be had.
QString instanceSocketPath(const QString& canonicalDataFolder, const QString& runtimeFolder,
                           const QString& fallbackRoot, uid_t uid);
// The same for this process's user, $XDG_RUNTIME_DIR and /tmp.
QString instanceSocketPath(const QString& canonicalDataFolder);

} // namespace tarnwick::platform
