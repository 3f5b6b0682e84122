// The main window's ways into the traceroute window.

#include "core/app_error.h"
#include "ui/main_window.h"
#include "ui/trace_launcher.h"

#include <QEventLoop>
#include <QListWidget>
#include <QTabWidget>
#include <QTimer>

namespace tarnwick::ui {

namespace {

// Waits while the window keeps being painted and everything else goes on.
// A nested loop sleeps between events; processEvents() with a time limit
// ignores WaitForMoreEvents and would spin the processor for the whole wait.
void waitProcessingMessages(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

void TForm1::openTraceFromLog(int slotIndex)
{
    m_traceLauncher.show();
    if (slotIndex >= ListBox1->count())
        throw ListIndexError(slotIndex);
    m_traceLauncher.setHost(ListBox1->item(slotIndex)->text());
    waitProcessingMessages(250);
    // Pressed even while the button is disabled by a running trace.
    m_traceLauncher.start();
}

void TForm1::Memo1DblClick()
{
    reportingErrors([this] { openTraceFromLog(0); });
}
void TForm1::Memo2DblClick()
{
    reportingErrors([this] { openTraceFromLog(1); });
}
void TForm1::Memo3DblClick()
{
    reportingErrors([this] { openTraceFromLog(2); });
}
void TForm1::Memo4DblClick()
{
    reportingErrors([this] { openTraceFromLog(3); });
}
void TForm1::Memo5DblClick()
{
    reportingErrors([this] { openTraceFromLog(4); });
}

void TForm1::BitBtn6Click()
{
    m_traceLauncher.show();
    const int index = PageControl1->currentIndex();
    if (index >= 0 && index < ListBox1->count())
        m_traceLauncher.setHost(ListBox1->item(index)->text());
}

} // namespace tarnwick::ui
