// Measures what every recorded result and every status tick costs on a slot
// log that has grown for days: recording a result (append, statistics and all
// ten labels), the log's line count, and reading its two newest lines.
// Prints microseconds per operation for logs of 10, 100 000 and 1 000 000 lines.

#include "ui/log_memo.h"
#include "core/timer_backend.h"
#include "ui/main_window.h"

#include "platform/net/echo.h"
#include "platform/page_opener.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

using namespace tarnwick;

namespace {

class NoEcho : public net::EchoService {
public:
    std::unique_ptr<net::EchoHandle> open() override { return nullptr; }
};

QString bulkLog(int lines)
{
    QString text;
    text.reserve(lines * 40);
    for (int i = 0; i < lines; ++i) {
        if (i)
            text += QLatin1Char('\n');
        text += QStringLiteral("Reply from localhost bytes=32 time=%1 ms").arg(i % 7);
    }
    return text;
}

template <typename F>
double microsecondsPer(int repetitions, F&& f)
{
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < repetitions; ++i)
        f(i);
    return static_cast<double>(t.nsecsElapsed()) / 1000.0 / repetitions;
}

} // namespace

class NoPages : public platform::PageOpener {
public:
    bool openPage(const QString&) override { return true; }
};

int main(int argc, char** argv)
{
    // Keep the benchmark away from the user's own settings and browser.
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.path().toLocal8Bit());
    NoPages pages;
    QApplication app(argc, argv);
    std::printf("%-10s %18s %18s %18s\n", "lines", "record result us", "line count us",
                "two newest us");
    for (const int size : {10, 100000, 1000000}) {
        QTemporaryDir data;
        ui::TForm1::Dependencies deps;
        deps.echo = std::make_shared<NoEcho>();
        deps.pages = &pages;
        deps.dataFolder = data.path();
        ui::TForm1 form(deps);
        form.Timer6->stop();
        form.Timer7->stop();
        form.show();
        ui::TLogMemo* log = form.Memo1;
        log->setPlainText(bulkLog(size));
        QCoreApplication::processEvents();

        const QString line = QStringLiteral("Reply from localhost bytes=32 time=3 ms");
        const double record = microsecondsPer(2000, [&](int i) {
            form.recordResult(0, line);
            if (i % 50 == 0)
                QCoreApplication::processEvents(); // let it paint as the running program does
        });
        volatile int sink = 0;
        const double count = microsecondsPer(100000, [&](int) { sink = sink + log->lineCount(); });
        const double newest = microsecondsPer(100000, [&](int) {
            sink = sink + static_cast<int>(log->lineFromEnd(0).size() + log->lineFromEnd(1).size());
        });
        std::printf("%-10d %18.2f %18.3f %18.3f\n", size, record, count, newest);
        std::fflush(stdout);
    }
    return 0;
}
