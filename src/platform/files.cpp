#include "platform/files.h"

#include "core/app_error.h"
#include "platform/net/resolver.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnwick::platform {

QString systemErrorText(int error)
{
    return QString::fromLocal8Bit(net::errnoText(error).c_str());
}

namespace {

// The suffix mkostemp replaces: six characters of [A-Za-z0-9].
const char kTemporaryTail[] = ".XXXXXX";

[[noreturn]] void fail(const QString& path, int error)
{
    throw FileCreateError(QDir::toNativeSeparators(path), systemErrorText(error));
}

bool writeAll(int fd, const QByteArray& bytes)
{
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, static_cast<size_t>(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        left -= n;
    }
    return true;
}

// Where a write to path really goes: through any chain of symbolic links,
// also to a target that does not exist yet.
QString writeTarget(const QString& path)
{
    QString target = QFileInfo(path).absoluteFilePath();
    for (int hops = 0; hops < 40; ++hops) {
        const QFileInfo info(target);
        if (!info.isSymLink())
            return target;
        const QString next = info.symLinkTarget();
        if (next.isEmpty())
            return target;
        target = QFileInfo(next).absoluteFilePath();
    }
    fail(path, ELOOP);
}

// The file at path is still the one open as fd.
bool sameFile(int fd, const QByteArray& path)
{
    struct stat open {};
    struct stat named {};
    return ::fstat(fd, &open) == 0 && ::lstat(path.constData(), &named) == 0 &&
           open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

// A writer holds its temporary locked from creation to rename, and the lock
// goes with the process however it ends; so an unlocked temporary is one
// that nobody writes any more. Where the file system has no locks, nothing
// is held and nothing is ever taken for stale.
bool holdAsOwnTemporary(int fd, const QByteArray& path)
{
    int rc;
    do {
        rc = ::flock(fd, LOCK_EX);
    } while (rc != 0 && errno == EINTR);
    return rc == 0 ? sameFile(fd, path) : errno == ENOLCK || errno == EOPNOTSUPP || errno == EINVAL;
}

bool removeIfUnlocked(const QByteArray& path)
{
    int fd = ::open(path.constData(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        fd = ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    bool removed = false;
    // Under its lock and still under its name, it can be nobody's but ours.
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
        ::flock(fd, LOCK_EX | LOCK_NB) == 0 && sameFile(fd, path))
        removed = ::unlink(path.constData()) == 0;
    ::close(fd);
    return removed;
}

// pattern with its last six characters made up of [A-Za-z0-9] at random.
QByteArray randomName(const QByteArray& pattern)
{
    static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    QByteArray name = pattern;
    for (qsizetype i = name.size() - 6; i < name.size(); ++i)
        name[i] = kLetters[QRandomGenerator::global()->bounded(int(sizeof kLetters) - 1)];
    return name;
}

// Gives the unnamed file open as fd a temporary name after pattern; false
// with errno set when it cannot have one.
bool linkUnderTemporaryName(int fd, const QByteArray& pattern, QByteArray& name)
{
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(fd);
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = randomName(pattern);
        if (::linkat(AT_FDCWD, self.constData(), AT_FDCWD, name.constData(), AT_SYMLINK_FOLLOW) ==
            0)
            return true;
        if (errno != EEXIST)
            break;
    }
    name.clear();
    return false;
}

// A temporary made under its name at once (where the file system has no
// unnamed files), then locked; made again when a clean-up took it between.
int namedTemporary(const QByteArray& pattern, QByteArray& name, const QString& shown)
{
    for (int attempt = 0; attempt < 16; ++attempt) {
        name = pattern;
        const int fd = ::mkostemp(name.data(), O_CLOEXEC);
        if (fd < 0)
            fail(shown, errno);
        if (holdAsOwnTemporary(fd, name))
            return fd;
        ::close(fd);
    }
    fail(shown, EAGAIN);
}

} // namespace

void writeFileAtomically(const QString& path, const QByteArray& bytes)
{
    const QString shown = QFileInfo(path).absoluteFilePath();
    const QString target = writeTarget(path);
    const QByteArray targetName = QFile::encodeName(target);

    struct stat old {};
    const bool exists = ::stat(targetName.constData(), &old) == 0;
    if (exists) {
        if (!S_ISREG(old.st_mode))
            fail(shown, S_ISDIR(old.st_mode) ? EISDIR : EINVAL);
        // A read-only file stays what it is, for every user: replacing it by
        // a rename would not even ask the file.
        if ((old.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 ||
            ::access(targetName.constData(), W_OK) != 0)
            fail(shown, EACCES);
    }

    const QFileInfo info(target);
    // What an earlier write of this file left when it was killed goes first:
    // on a full disk it may be what fills it.
    removeStaleTemporaries(info.absolutePath(), {info.fileName()});

    const QByteArray folder = QFile::encodeName(info.absolutePath());
    const QByteArray pattern = folder + "/." + QFile::encodeName(info.fileName()) + kTemporaryTail;
    QByteArray temp; // the temporary's name, once it has one

    // Unnamed until it is written and locked (O_TMPFILE): a kill before that
    // leaves nothing, and no clean-up ever meets it unlocked. Naming it later
    // goes through /proc; where either is missing, it is named from the start.
    int fd = ::access("/proc/self/fd", X_OK) == 0
                 ? ::open(folder.constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600)
                 : -1;
    const bool unnamed = fd >= 0;
    if (unnamed)
        ::flock(fd, LOCK_EX); // nobody else can open it to contend
    else
        fd = namedTemporary(pattern, temp, shown);

    // Keep the permissions and owner of the file being replaced; a new file
    // gets the usual rw-r--r--.
    ::fchmod(fd, exists ? (old.st_mode & 07777) : 0644);
    if (exists && (old.st_uid != ::geteuid() || old.st_gid != ::getegid())) [[maybe_unused]]
        const int ignored = ::fchown(fd, old.st_uid, old.st_gid);

    const auto giveUp = [&](int error) {
        if (!temp.isEmpty())
            ::unlink(temp.constData());
        ::close(fd);
        fail(shown, error);
    };
    if (!writeAll(fd, bytes) || ::fsync(fd) != 0)
        giveUp(errno);
    if (unnamed && !linkUnderTemporaryName(fd, pattern, temp))
        giveUp(errno);
    // Renamed while still locked, so that no clean-up ever sees it unlocked
    // under its temporary name.
    if (::rename(temp.constData(), targetName.constData()) != 0)
        giveUp(errno);
    // The bytes are on disk already (fsync): nothing a close could report
    // undoes that.
    ::close(fd);
}

std::optional<QByteArray> readRegularFile(const QString& path)
{
    // Non-blocking open: opening a FIFO for reading would wait for a writer.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return std::nullopt;
    }
    QByteArray bytes;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0)
            break;
        bytes.append(buffer, n);
    }
    ::close(fd);
    return bytes;
}

int removeStaleTemporaries(const QString& folder, const QStringList& fileNames)
{
    int removed = 0;
    const QDir dir(folder);
    // Compared as text, not through a name filter: a file's name may hold the
    // filter's wildcards.
    const QStringList present = dir.entryList(QDir::Files | QDir::Hidden);
    for (const QString& name : fileNames) {
        const QString prefix = QStringLiteral(".") + name + QLatin1Char('.');
        for (const QString& candidate : present) {
            if (candidate.size() != prefix.size() + 6 || !candidate.startsWith(prefix))
                continue;
            bool ours = true;
            for (const QChar c : candidate.mid(prefix.size()))
                ours = ours && c.unicode() < 128 && c.isLetterOrNumber();
            if (ours && removeIfUnlocked(QFile::encodeName(dir.filePath(candidate))))
                ++removed;
        }
    }
    return removed;
}

} // namespace tarnwick::platform
