// One instance per data folder: the folder's lock (held, taken elsewhere,
// freed by a kill -9, met through a link), where the instance listens, and
// the request to show the window over that socket.

#include "platform/instance_channel.h"
#include "platform/instance_lock.h"
#include "support/foreign_lock.h"

#include <QLocalSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <cstring>
#include <optional>
#include <thread>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace tarnwick::platform;
using State = InstanceLock::State;
using Method = InstanceLock::Method;

Q_DECLARE_METATYPE(State)
Q_DECLARE_METATYPE(Method)

namespace {

// A listening socket that never accepts or answers.
int silentListener(const QString& path)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    const QByteArray p = QFile::encodeName(path);
    std::memcpy(a.sun_path, p.constData(), std::size_t(p.size()));
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 4) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Asks on a thread of its own while the test's event loop serves.
class Asker {
public:
    Asker(const QString& path, int timeoutMs)
        : m_thread([this, path, timeoutMs] {
              m_answer = askInstanceToShow(path, timeoutMs);
              m_done = true;
          })
    {
    }
    ~Asker() { m_thread.join(); }
    bool done() const { return m_done; }
    ShowAnswer answer() const { return m_answer; }

private:
    std::atomic<bool> m_done{false};
    ShowAnswer m_answer = ShowAnswer::NoServer;
    std::thread m_thread;
};

} // namespace

class TestSingleInstance : public QObject {
    Q_OBJECT

private slots:
    void oneHolderPerFolder_data();
    void oneHolderPerFolder();
    void killedHolderFreesTheFolder_data();
    void killedHolderFreesTheFolder();
    void missingFolderGuardsNothing();
    void socketPaths_data();
    void socketPaths();
    void showRequests();

private:
    QTemporaryDir m_dir;
};

void TestSingleInstance::oneHolderPerFolder_data()
{
    QTest::addColumn<Method>("method");
    QTest::newRow("folder lock") << Method::Folder;
    QTest::newRow("lock file") << Method::LockFile;
}

void TestSingleInstance::oneHolderPerFolder()
{
    QFETCH(Method, method);
    const QString data = m_dir.filePath(QStringLiteral("one/data"));
    const QString other = m_dir.filePath(QStringLiteral("two/data"));
    const QString link = m_dir.filePath(QStringLiteral("link-to-data"));
    QVERIFY(QDir().mkpath(data) && QDir().mkpath(other));
    QFile::remove(link);
    QVERIFY(QFile::link(data, link));

    std::optional<InstanceLock> first(std::in_place, data, method);
    QCOMPARE(first->state(), State::Held);
    QCOMPARE(first->folder(), QFileInfo(data).canonicalFilePath());
    // Flocks are per open description: a second lock in this very process
    // meets the first as another program would.
    InstanceLock second(data, method);
    QCOMPARE(second.state(), State::HeldElsewhere);
    InstanceLock throughLink(link + QStringLiteral("/"), method);
    QCOMPARE(throughLink.state(), State::HeldElsewhere);
    QCOMPARE(throughLink.folder(), first->folder());
    InstanceLock elsewhere(other, method);
    QCOMPARE(elsewhere.state(), State::Held);
    QCOMPARE(second.retry(), State::HeldElsewhere);

    first.reset();
    QCOMPARE(second.retry(), State::Held);
    QCOMPARE(throughLink.retry(), State::HeldElsewhere);
    QCOMPARE(QFile::exists(data + QLatin1Char('/') + QLatin1String(InstanceLock::kLockFileName)),
             method == Method::LockFile);
}

void TestSingleInstance::killedHolderFreesTheFolder_data()
{
    oneHolderPerFolder_data();
}

void TestSingleInstance::killedHolderFreesTheFolder()
{
    QFETCH(Method, method);
    const QString data = m_dir.filePath(QStringLiteral("killed/data"));
    QVERIFY(QDir().mkpath(data));
    const QString locked =
        method == Method::Folder
            ? data
            : data + QLatin1Char('/') + QLatin1String(InstanceLock::kLockFileName);
    tarnwick::test::ForeignLock holder(locked);
    QVERIFY(holder.holds());
    InstanceLock lock(data, method);
    QCOMPARE(lock.state(), State::HeldElsewhere);
    holder.killHard();
    QCOMPARE(lock.retry(), State::Held);
}

void TestSingleInstance::missingFolderGuardsNothing()
{
    const InstanceLock lock(m_dir.filePath(QStringLiteral("no-such/data")));
    QCOMPARE(lock.state(), State::Unavailable);
}

void TestSingleInstance::socketPaths_data()
{
    QTest::addColumn<QString>("runtimeMode"); // how the runtime folder is made
    QTest::addColumn<QString>("fallbackMode");
    QTest::addColumn<QString>("expected"); // "runtime", "fallback" or "none"
    QTest::newRow("private runtime folder") << "0700"
                                            << ""
                                            << "runtime";
    QTest::newRow("runtime folder others may read") << "0755"
                                                    << ""
                                                    << "fallback";
    QTest::newRow("no runtime folder") << "missing"
                                       << ""
                                       << "fallback";
    QTest::newRow("relative runtime folder") << "relative"
                                             << ""
                                             << "fallback";
    QTest::newRow("runtime folder too long for a socket") << "long"
                                                          << ""
                                                          << "fallback";
    QTest::newRow("a link as runtime folder") << "link"
                                              << ""
                                              << "fallback";
    QTest::newRow("fallback folder others may enter") << "missing"
                                                      << "0777"
                                                      << "none";
}

void TestSingleInstance::socketPaths()
{
    QFETCH(QString, runtimeMode);
    QFETCH(QString, fallbackMode);
    QFETCH(QString, expected);
    const QTemporaryDir root;
    const uid_t uid = ::getuid();
    QString runtime = root.filePath(QStringLiteral("runtime"));
    if (runtimeMode == QLatin1String("long"))
        runtime = root.filePath(QString(100, QLatin1Char('r')));
    if (runtimeMode == QLatin1String("relative"))
        runtime = QStringLiteral("runtime");
    if (runtimeMode != QLatin1String("missing") && runtimeMode != QLatin1String("relative")) {
        const QString made = runtimeMode == QLatin1String("link")
                                 ? root.filePath(QStringLiteral("real-runtime"))
                                 : runtime;
        QVERIFY(QDir().mkpath(made));
        ::chmod(QFile::encodeName(made).constData(),
                runtimeMode == QLatin1String("0755") ? 0755 : 0700);
        if (made != runtime)
            QVERIFY(QFile::link(made, runtime));
    }
    const QString fallbackRoot = root.filePath(QStringLiteral("tmp"));
    QVERIFY(QDir().mkpath(fallbackRoot));
    const QString own = fallbackRoot + QStringLiteral("/tarnwick-") + QString::number(uid);
    if (!fallbackMode.isEmpty()) {
        QVERIFY(QDir().mkpath(own));
        ::chmod(QFile::encodeName(own).constData(), 0777);
    }

    const QString a = instanceSocketPath(QStringLiteral("/home/ann/tarnwick/build/data"), runtime,
                                         fallbackRoot, uid);
    const QString b = instanceSocketPath(QStringLiteral("/home/ann/.local/lib/tarnwick/data"),
                                         runtime, fallbackRoot, uid);
    if (expected == QLatin1String("none")) {
        QVERIFY2(a.isEmpty(), qPrintable(a));
        return;
    }
    const QString folder = expected == QLatin1String("runtime") ? runtime : own;
    QVERIFY2(a.startsWith(folder + QStringLiteral("/tarnwick-")) &&
                 a.endsWith(QStringLiteral(".socket")),
             qPrintable(a));
    QVERIFY(a.size() < 108);
    // The same folder always meets at the same place, another never does.
    QCOMPARE(instanceSocketPath(QStringLiteral("/home/ann/tarnwick/build/data"), runtime,
                                fallbackRoot, uid),
             a);
    QVERIFY(b.startsWith(folder) && b != a);
    if (expected == QLatin1String("fallback")) {
        struct stat st {};
        QVERIFY(::lstat(QFile::encodeName(own).constData(), &st) == 0);
        QCOMPARE(st.st_mode & 0777, 0700u);
    }
}

void TestSingleInstance::showRequests()
{
    const QString path = m_dir.filePath(QStringLiteral("show.socket"));
    {
        // Nobody there yet: told at once, not after the time-out.
        QElapsedTimer t;
        t.start();
        QCOMPARE(askInstanceToShow(path, 5000), ShowAnswer::NoServer);
        QVERIFY(t.elapsed() < 2000);
    }
    {
        // A socket file left by a killed holder refuses at once, and the
        // next holder replaces it.
        const int stale = silentListener(path);
        QVERIFY(stale >= 0);
        ::close(stale);
        QCOMPARE(askInstanceToShow(path, 5000), ShowAnswer::NoServer);
    }
    int shown = 0;
    {
        const InstanceServer server(path, [&shown] { ++shown; });
        QVERIFY(server.listening());
        for (int i = 1; i <= 2; ++i) {
            const Asker asker(path, 10000);
            QTRY_VERIFY_WITH_TIMEOUT(asker.done(), 15000);
            QCOMPARE(asker.answer(), ShowAnswer::Shown);
            QCOMPARE(shown, i);
        }
        // Anything but the request shows nothing and is hung up on.
        QLocalSocket garbage;
        garbage.connectToServer(path);
        QVERIFY(garbage.waitForConnected(5000));
        garbage.write("hello, world\n");
        QTRY_COMPARE_WITH_TIMEOUT(garbage.state(), QLocalSocket::UnconnectedState, 10000);
        QCOMPARE(shown, 2);
    }
    // The server's socket goes with it.
    QVERIFY(!QFile::exists(path));
    QCOMPARE(askInstanceToShow(path, 1000), ShowAnswer::NoServer);

    // A listener that never answers is given up on after the time-out.
    const int silent = silentListener(path);
    QVERIFY(silent >= 0);
    QElapsedTimer t;
    t.start();
    QCOMPARE(askInstanceToShow(path, 300), ShowAnswer::Silent);
    QVERIFY(t.elapsed() >= 250);
    ::close(silent);
    QCOMPARE(shown, 2);
}

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_single_instance.moc"
