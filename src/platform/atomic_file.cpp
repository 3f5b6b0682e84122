#include "platform/atomic_file.h"

#include "core/app_error.h"

#include "platform/net/resolver.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnwick::platform {

QString systemErrorText(int error)
{
    return QString::fromLocal8Bit(net::errnoText(error).c_str());
}

namespace {

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

} // namespace

void writeFileAtomically(const QString& path, const QByteArray& bytes)
{
    const QString absolute = QFileInfo(path).absoluteFilePath();
    const QFileInfo info(absolute);
    QByteArray temp = QFile::encodeName(info.absolutePath() + QStringLiteral("/.") +
                                        info.fileName() + QStringLiteral(".XXXXXX"));
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        fail(absolute, errno);

    // Keep the permissions of the file being replaced; a new file gets the
    // usual rw-r--r--.
    struct stat old {};
    const mode_t mode =
        ::stat(QFile::encodeName(absolute).constData(), &old) == 0 ? (old.st_mode & 07777) : 0644;
    ::fchmod(fd, mode);

    if (!writeAll(fd, bytes) || ::fsync(fd) != 0) {
        const int error = errno;
        ::close(fd);
        ::unlink(temp.constData());
        fail(absolute, error);
    }
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(temp.constData());
        fail(absolute, error);
    }
    if (::rename(temp.constData(), QFile::encodeName(absolute).constData()) != 0) {
        const int error = errno;
        ::unlink(temp.constData());
        fail(absolute, error);
    }
}

} // namespace tarnwick::platform
