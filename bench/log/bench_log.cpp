// What a slot log that has grown for days costs, measured on the real main
// window, shown, with its event loop painting as the running program's does:
//
// - recording one result (append, statistics, labels, captions) with the
//   window hidden, shown in a burst (events processed after every result) and
//   shown at a pace of one result per 20 ms (CPU of the whole process per
//   result, paints and Qt's helper threads included);
// - CPU spent by Qt's pooled helper threads while the window was shown;
// - the line count and the two newest lines (what every status tick reads);
// - Copy, Save to file and Clear: how long a worker's blocking handover waited
//   at worst while each ran (that is how long monitoring paused), the time
//   until the save dialog was up and until the file was complete;
// - memory: resident growth per line while the log filled, and what stays
//   after Copy / Save and after Clear.
//
// Run it under a display (tests/support/with-xvfb.sh) or offscreen.

#include "app/main_window_root.h"
#include "core/blocking_handover.h"
#include "core/timer_backend.h"
#include "platform/net/echo.h"
#include "platform/page_opener.h"
#include "ui/log_memo.h"
#include "ui/main_window.h"
#include "ui/slot_page.h"
#include "ui/stat_label.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <functional>
#include <thread>

#include <unistd.h>

using namespace tarnwick;

namespace {

class NoEcho : public net::EchoService {
public:
    std::unique_ptr<net::EchoHandle> open() override { return nullptr; }
};

class NoPages : public platform::PageOpener {
public:
    bool openPage(const QString&) override { return true; }
};

double residentMiB()
{
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / 1048576.0;
}

double cpuMs(clockid_t clock)
{
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

// CPU time of Qt's pooled helper threads (the raster engine's parallel fills
// and image conversions run there).
double pooledThreadCpuMs()
{
    double ms = 0;
    const long ticks = sysconf(_SC_CLK_TCK);
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString& tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks.filePath(tid + QStringLiteral("/comm")));
        if (!comm.open(QIODevice::ReadOnly) || !comm.readAll().startsWith("Thread (pooled)"))
            continue;
        QFile stat(tasks.filePath(tid + QStringLiteral("/stat")));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 12)
            ms += (fields[11].toDouble() + fields[12].toDouble()) * 1000.0 / ticks;
    }
    return ms;
}

void waitMs(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

// Runs the event loop until `done` holds (checked every millisecond).
double waitUntilMs(const std::function<bool()>& done, int limitMs = 120000)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < limitMs)
        waitMs(1);
    return static_cast<double>(t.nsecsElapsed()) / 1e6;
}

// A stand-in worker: hands over an empty call every millisecond and notes the
// longest wait, which is how long monitoring would have paused.
class HandoverProbe {
public:
    explicit HandoverProbe(QObject* context) : m_handover(context)
    {
        m_thread = std::thread([this] {
            while (!m_stop) {
                const auto start = std::chrono::steady_clock::now();
                if (!m_handover.call([] {}))
                    break;
                const double ms = std::chrono::duration<double, std::milli>(
                                      std::chrono::steady_clock::now() - start)
                                      .count();
                double seen = m_worst.load();
                while (ms > seen && !m_worst.compare_exchange_weak(seen, ms)) {
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
    }
    ~HandoverProbe()
    {
        m_stop = true;
        m_handover.cancel();
        m_thread.join();
    }
    double takeWorst() { return m_worst.exchange(0.0); }

private:
    core::BlockingHandover m_handover;
    std::atomic<bool> m_stop{false};
    std::atomic<double> m_worst{0.0};
    std::thread m_thread;
};

// Accepts the next save dialog with `path` and notes when it came up.
void answerSaveDialog(const QString& path, QElapsedTimer* since, double* shownAfterMs)
{
    auto* timer = new QTimer;
    timer->setInterval(1);
    QObject::connect(timer, &QTimer::timeout, [=] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible())
            return;
        *shownAfterMs = static_cast<double>(since->nsecsElapsed()) / 1e6;
        timer->stop();
        timer->deleteLater();
        if (auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
            edit->setText(path);
        static_cast<QDialog*>(dialog)->accept();
    });
    timer->start();
}

const QString kLine = QStringLiteral("Reply from localhost bytes=32 time=3 ms");

struct Row {
    int lines = 0;
    double perLineBytes = 0, hiddenUs = 0, burstUs = 0, pacedUs = 0, pooledMs = 0, labelPoolMs = 0;
    double countNs = 0, newestNs = 0;
    double copyStallMs = 0, copyMs = 0, afterCopyMiB = 0;
    double saveDialogMs = 0, saveStallMs = 0, saveDoneMs = 0, afterSaveMiB = 0;
    double clearStallMs = 0, clearKeptMiB = 0;
};

Row measure(int size, const std::shared_ptr<NoPages>& pages, const QString& outFolder)
{
    Row row;
    row.lines = size;
    QTemporaryDir data;
    app::Environment environment;
    environment.dataFolder = data.path();
    environment.echo = std::make_shared<NoEcho>();
    environment.pages = pages;
    environment.notices = [](const QString&) {};
    environment.echoNotice = [] { return QString(); };
    const app::MainWindowRoot root(environment, [] { return false; });
    ui::TForm1& form = root.mainWindow();
    form.Timer6->stop();
    form.Timer7->stop();
    form.PageControl1->setCurrentIndex(0);
    // The first run of a fresh profile shows the window; start hidden anyway.
    form.hide();
    QCoreApplication::processEvents();

    // The log fills while the window is hidden, as it does in the tray
    // (straight into the log: the statistics do not matter here).
    ui::TLogMemo* log = form.slotLog(0);
    const double before = residentMiB();
    for (int i = 0; i < size; ++i)
        log->appendLine(kLine);
    QCoreApplication::processEvents();
    row.perLineBytes = (residentMiB() - before) * 1048576.0 / size;

    const int burst = 500;
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < burst; ++i) {
        form.recordResult(0, kLine);
        QCoreApplication::processEvents();
    }
    row.hiddenUs = static_cast<double>(t.nsecsElapsed()) / 1e3 / burst;

    form.show();
    waitUntilMs([&] { return form.isVisible(); });
    waitMs(300);
    const double pooledBefore = pooledThreadCpuMs();
    t.restart();
    for (int i = 0; i < burst; ++i) {
        form.recordResult(0, kLine);
        QCoreApplication::processEvents();
    }
    row.burstUs = static_cast<double>(t.nsecsElapsed()) / 1e3 / burst;

    const int paced = 100;
    const double cpuBefore = cpuMs(CLOCK_PROCESS_CPUTIME_ID);
    for (int i = 0; i < paced; ++i) {
        form.recordResult(0, kLine);
        waitMs(20);
    }
    row.pacedUs = (cpuMs(CLOCK_PROCESS_CPUTIME_ID) - cpuBefore) * 1e3 / paced;
    row.pooledMs = pooledThreadCpuMs() - pooledBefore;

    // A label alone changing, as the statistics of a slot do.
    const double labelBefore = pooledThreadCpuMs();
    for (int i = 0; i < paced; ++i) {
        form.packetLabel(0)->setCaption(QStringLiteral("Packets send = %1").arg(i));
        waitMs(20);
    }
    row.labelPoolMs = pooledThreadCpuMs() - labelBefore;

    volatile qint64 sink = 0;
    const int reads = 100000;
    t.restart();
    for (int i = 0; i < reads; ++i)
        sink = sink + log->lineCount();
    row.countNs = static_cast<double>(t.nsecsElapsed()) / reads;
    t.restart();
    for (int i = 0; i < reads; ++i)
        sink = sink + log->lineFromEnd(0).size() + log->lineFromEnd(1).size();
    row.newestNs = static_cast<double>(t.nsecsElapsed()) / reads;

    HandoverProbe probe(&form);
    waitMs(50);
    probe.takeWorst();

    QGuiApplication::clipboard()->clear();
    t.restart();
    form.slotPage(0)->copyButton()->click();
    waitUntilMs([] {
        const QMimeData* m = QGuiApplication::clipboard()->mimeData();
        return m && !m->data(QStringLiteral("text/plain")).isEmpty();
    });
    row.copyMs = static_cast<double>(t.nsecsElapsed()) / 1e6;
    waitMs(50);
    row.copyStallMs = probe.takeWorst();
    QGuiApplication::clipboard()->clear();
    waitMs(50);
    row.afterCopyMiB = residentMiB() - before;

    const QString path = QStringLiteral("%1/log-%2.txt").arg(outFolder).arg(size);
    QFile::remove(path);
    const qint64 expected = qint64(log->lineCount()) * (kLine.size() + 2);
    t.restart();
    answerSaveDialog(path, &t, &row.saveDialogMs);
    form.slotPage(0)->saveButton()->click();
    waitUntilMs([&] { return QFileInfo(path).size() > expected; });
    row.saveDoneMs = static_cast<double>(t.nsecsElapsed()) / 1e6;
    waitMs(50);
    row.saveStallMs = probe.takeWorst();
    row.afterSaveMiB = residentMiB() - before;

    form.slotPage(0)->clearButton()->click();
    waitMs(100);
    row.clearStallMs = probe.takeWorst();
    row.clearKeptMiB = residentMiB() - before;
    form.hide();
    QFile::remove(path);
    return row;
}

} // namespace

int main(int argc, char** argv)
{
    // Keep the benchmark away from the user's own settings and browser.
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.path().toLocal8Bit());
    qputenv("HOME", home.path().toLocal8Bit());
    const auto pages = std::make_shared<NoPages>();
    QApplication app(argc, argv);
    QTemporaryDir out;
    std::printf("platform %s\n", qPrintable(QGuiApplication::platformName()));
    std::printf("%-8s %7s | %8s %8s %8s %8s %8s | %6s %7s | %s\n", "lines", "B/line", "hid us",
                "burst us", "paced us", "pool ms", "lbl pool", "cnt ns", "new ns",
                "copy: stall ms, done ms, kept MiB | save: dialog ms, stall ms, done ms, kept "
                "MiB | clear: stall ms, kept MiB");
    // Sizes to measure may be given on the command line.
    QList<int> sizes{10, 100000, 1000000};
    if (argc > 1) {
        sizes.clear();
        for (int i = 1; i < argc; ++i)
            sizes << QByteArray(argv[i]).toInt();
    }
    for (const int size : sizes) {
        const Row r = measure(size, pages, out.path());
        std::printf(
            "%-8d %7.0f | %8.1f %8.1f %8.1f %8.1f %8.1f | %6.0f %7.0f | copy %7.1f %7.1f %6.1f "
            "| save %7.1f %7.1f %7.1f %6.1f | clear %7.1f %6.1f\n",
            r.lines, r.lines >= 100000 ? r.perLineBytes : 0.0, r.hiddenUs, r.burstUs, r.pacedUs,
            r.pooledMs, r.labelPoolMs, r.countNs, r.newestNs, r.copyStallMs, r.copyMs,
            r.afterCopyMiB, r.saveDialogMs, r.saveStallMs, r.saveDoneMs, r.afterSaveMiB,
            r.clearStallMs, r.clearKeptMiB);
        std::fflush(stdout);
    }
    return 0;
}
