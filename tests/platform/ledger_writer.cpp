// Appends numbered records to a ledger file for tst_ledger_file, printing each
// number once its record is on the disk, so that the test can kill it at any
// moment and know what must be in the file.
//   ledger_writer PATH FIRST [--replace-every N]  appends FIRST, FIRST+1, ...
//     for ever; every N records the whole file is rewritten (replace).
//   ledger_writer PATH FIRST --fsize BYTES  the file may grow to BYTES only
//     (a full disk): appends until one fails, lifts the limit and appends
//     once more, then fills the disk again and tries a larger replace.

#include "platform/ledger_file.h"

#include <QByteArray>
#include <QCoreApplication>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <sys/resource.h>

using tarnwick::platform::LedgerFile;

namespace {

QByteArray record(long i)
{
    const int pad = 50 + static_cast<int>(i * 37 % 200);
    return "rec " + QByteArray::number(i) + ' ' + QByteArray(pad, 'x') + ' ' +
           QByteArray::number(pad);
}

void say(const char* what, long i)
{
    std::printf("%s %ld\n", what, i);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 3)
        return 2;
    const QString path = QString::fromLocal8Bit(argv[1]);
    long i = std::atol(argv[2]);
    long replaceEvery = 0;
    long fsize = 0;
    for (int a = 3; a + 1 < argc; a += 2) {
        if (std::strcmp(argv[a], "--replace-every") == 0)
            replaceEvery = std::atol(argv[a + 1]);
        else if (std::strcmp(argv[a], "--fsize") == 0)
            fsize = std::atol(argv[a + 1]);
    }
    LedgerFile file(path);

    if (fsize > 0) {
        // Past the limit a write fails with EFBIG, as on a full disk.
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{};
        getrlimit(RLIMIT_FSIZE, &limit);
        const rlimit full = limit;
        limit.rlim_cur = static_cast<rlim_t>(fsize);
        setrlimit(RLIMIT_FSIZE, &limit);
        for (;; ++i) {
            file.append(record(i));
            file.flush();
            if (!file.lastError().isEmpty())
                break;
            say("ok", i);
        }
        say("failed", i);
        // Room again: the record that failed goes first.
        setrlimit(RLIMIT_FSIZE, &full);
        file.append(record(i + 1));
        file.flush();
        say(file.lastError().isEmpty() ? "ok" : "failed", i + 1);
        // Full again: a rewrite that does not fit leaves the file alone.
        limit.rlim_cur = static_cast<rlim_t>(file.load().bytes);
        setrlimit(RLIMIT_FSIZE, &limit);
        QList<QByteArray> more = file.load().records;
        more += more;
        file.replace(more);
        file.flush();
        say(file.lastError().isEmpty() ? "replaced" : "replace-failed", i + 1);
        return 0;
    }

    for (;; ++i) {
        file.append(record(i));
        if (replaceEvery > 0 && i % replaceEvery == 0) {
            file.flush();
            file.replace(file.load().records);
        }
        file.flush();
        say("ok", i);
    }
}
