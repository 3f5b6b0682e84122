#include "platform/files.h"

#include "core/app_error.h"
#include "platform/net/resolver.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnwick::platform {

QString systemErrorText(int error)
{
    return QString::fromLocal8Bit(net::errnoText(error).c_str());
}

namespace {

// The suffix mkostemp replaces: six characters of [A-Za-z0-9].
const QString kTemporaryTail = QStringLiteral(".XXXXXX");

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
    QByteArray temp = QFile::encodeName(info.absolutePath() + QStringLiteral("/.") +
                                        info.fileName() + kTemporaryTail);
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        fail(shown, errno);

    // Keep the permissions and owner of the file being replaced; a new file
    // gets the usual rw-r--r--.
    ::fchmod(fd, exists ? (old.st_mode & 07777) : 0644);
    if (exists && (old.st_uid != ::geteuid() || old.st_gid != ::getegid())) [[maybe_unused]]
        const int ignored = ::fchown(fd, old.st_uid, old.st_gid);

    if (!writeAll(fd, bytes) || ::fsync(fd) != 0) {
        const int error = errno;
        ::close(fd);
        ::unlink(temp.constData());
        fail(shown, error);
    }
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(temp.constData());
        fail(shown, error);
    }
    if (::rename(temp.constData(), targetName.constData()) != 0) {
        const int error = errno;
        ::unlink(temp.constData());
        fail(shown, error);
    }
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
    for (const QString& name : fileNames) {
        const QString prefix = QStringLiteral(".") + name + QLatin1Char('.');
        const QStringList found =
            dir.entryList({prefix + QStringLiteral("??????")}, QDir::Files | QDir::Hidden);
        for (const QString& candidate : found) {
            const QString tail = candidate.mid(prefix.size());
            bool ours = tail.size() == 6;
            for (const QChar c : tail)
                ours = ours && c.unicode() < 128 && c.isLetterOrNumber();
            const QString full = dir.filePath(candidate);
            struct stat st {};
            if (!ours || ::lstat(QFile::encodeName(full).constData(), &st) != 0 ||
                !S_ISREG(st.st_mode) || st.st_uid != ::geteuid())
                continue;
            if (::unlink(QFile::encodeName(full).constData()) == 0)
                ++removed;
        }
    }
    return removed;
}

} // namespace tarnwick::platform
