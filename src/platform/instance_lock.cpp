#include "platform/instance_lock.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>

#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace tarnwick::platform {

namespace {

int lockNow(int fd)
{
    int rc;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    return rc == 0 ? 0 : errno;
}

// A folder only this user may enter: anything else could be another's trap.
bool privateFolderOf(const QByteArray& path, uid_t uid)
{
    struct stat st {};
    return ::lstat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == uid &&
           (st.st_mode & 077) == 0;
}

} // namespace

InstanceLock::InstanceLock(const QString& dataFolder, Method method)
    : m_folder(QFileInfo(dataFolder).canonicalFilePath()), m_method(method)
{
    if (!m_folder.isEmpty())
        m_state = acquire();
}

InstanceLock::~InstanceLock()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

InstanceLock::State InstanceLock::acquire()
{
    const QByteArray folder = QFile::encodeName(m_folder);
    if (m_method == Method::Folder) {
        m_fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        const std::optional<State> state = lockOpened();
        if (state)
            return *state;
        // NFS locks only files open for writing, which a folder never is.
        m_method = Method::LockFile;
    }
    const QByteArray file = folder + '/' + kLockFileName;
    m_fd = ::open(file.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
    return lockOpened().value_or(State::Unavailable);
}

std::optional<InstanceLock::State> InstanceLock::lockOpened()
{
    if (m_fd < 0)
        return State::Unavailable;
    const int error = lockNow(m_fd);
    if (error == 0)
        return State::Held;
    if (error == EWOULDBLOCK)
        return State::HeldElsewhere;
    // This file system locks nothing this way.
    ::close(m_fd);
    m_fd = -1;
    return std::nullopt;
}

InstanceLock::State InstanceLock::retry()
{
    if (m_state == State::HeldElsewhere && lockNow(m_fd) == 0)
        m_state = State::Held;
    return m_state;
}

QString instanceSocketPath(const QString& canonicalDataFolder, const QString& runtimeFolder,
                           const QString& fallbackRoot, uid_t uid)
{
    const QByteArray digest =
        QCryptographicHash::hash(QFile::encodeName(canonicalDataFolder), QCryptographicHash::Sha256)
            .toHex()
            .left(16);
    const QByteArray name = "/tarnwick-" + digest + ".socket";
    const auto fits = [&name](const QByteArray& folder) {
        return folder.size() + name.size() < qsizetype(sizeof(sockaddr_un::sun_path));
    };

    const QByteArray runtime = QFile::encodeName(runtimeFolder);
    if (runtime.startsWith('/') && fits(runtime) && privateFolderOf(runtime, uid))
        return QFile::decodeName(runtime + name);

    const QByteArray own = QFile::encodeName(fallbackRoot) + "/tarnwick-" + QByteArray::number(uid);
    if (::mkdir(own.constData(), 0700) != 0 && errno != EEXIST)
        return QString();
    if (!fits(own) || !privateFolderOf(own, uid))
        return QString();
    return QFile::decodeName(own + name);
}

QString instanceSocketPath(const QString& canonicalDataFolder)
{
    return instanceSocketPath(canonicalDataFolder, qEnvironmentVariable("XDG_RUNTIME_DIR"),
                              QStringLiteral("/tmp"), ::getuid());
}

} // namespace tarnwick::platform
