#pragma once

#include <QProcess>
#include <QString>

#include <csignal>

#include <sys/types.h>

namespace tarnwick::test {

// Another process holding an flock on a folder or a file (created when
// missing), the way any program can, until it is killed however the test
// likes: the kernel frees the lock then.
class ForeignLock {
public:
    explicit ForeignLock(const QString& path)
    {
        // A folder opens for reading only; a file for both, made if missing.
        m_process.start(
            QStringLiteral("sh"),
            {QStringLiteral("-c"),
             QStringLiteral("if [ -d \"$1\" ]; then exec 9<\"$1\"; else exec 9<>\"$1\"; fi"
                            " && flock -n 9 && echo held && exec sleep 60"),
             QStringLiteral("sh"), path});
    }
    ForeignLock(const ForeignLock&) = delete;
    ForeignLock& operator=(const ForeignLock&) = delete;
    ~ForeignLock()
    {
        if (m_process.state() != QProcess::NotRunning)
            killHard();
    }

    // Whether it holds the lock now (it says so once it does).
    bool holds()
    {
        return m_process.waitForReadyRead(10000) && m_process.readAll().startsWith("held");
    }
    void killHard()
    {
        ::kill(pid_t(m_process.processId()), SIGKILL);
        m_process.waitForFinished(10000);
    }

private:
    QProcess m_process;
};

} // namespace tarnwick::test
