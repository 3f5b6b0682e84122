// The main window's ways into the traceroute window.

#include "ui/main_window.h"

#include "core/app_error.h"

#include <QEventLoop>
#include <QLineEdit>
#include <QListWidget>
#include <QTabWidget>
#include <QTimer>

namespace tarnwick::ui {

namespace {

QLineEdit* hostBox(QWidget* traceWindow)
{
    return traceWindow ? traceWindow->findChild<QLineEdit*>(QStringLiteral("edAddr")) : nullptr;
}

void showTraceWindow(QWidget* traceWindow)
{
    traceWindow->show();
    traceWindow->raise();
    traceWindow->activateWindow();
}

// Waits while the window keeps being painted and everything else goes on.
// A nested loop sleeps between events; processEvents() with a time limit
// ignores WaitForMoreEvents and would spin the processor for the whole wait.
void waitProcessingMessages(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

// The error goes to the top-level display as any error escaping a handler
// would, without unwinding through the toolkit's signal delivery.
template <typename F>
void reportingErrors(F&& f)
{
    try {
        f();
    } catch (const AppError& error) {
        reportToTopLevel(error.message());
    }
}

} // namespace

void TForm1::openTraceFromLog(int slotIndex)
{
    if (!m_traceWindow)
        return;
    showTraceWindow(m_traceWindow);
    if (slotIndex >= ListBox1->count())
        throw ListIndexError(slotIndex);
    if (QLineEdit* edit = hostBox(m_traceWindow))
        edit->setText(ListBox1->item(slotIndex)->text());
    waitProcessingMessages(250);
    // Pressed even while the button is disabled by a running trace.
    QMetaObject::invokeMethod(m_traceWindow, "btnStartClick", Qt::DirectConnection);
}

void TForm1::Memo1DblClick() { reportingErrors([this] { openTraceFromLog(0); }); }
void TForm1::Memo2DblClick() { reportingErrors([this] { openTraceFromLog(1); }); }
void TForm1::Memo3DblClick() { reportingErrors([this] { openTraceFromLog(2); }); }
void TForm1::Memo4DblClick() { reportingErrors([this] { openTraceFromLog(3); }); }
void TForm1::Memo5DblClick() { reportingErrors([this] { openTraceFromLog(4); }); }

void TForm1::BitBtn6Click()
{
    if (!m_traceWindow)
        return;
    showTraceWindow(m_traceWindow);
    const int index = PageControl1->currentIndex();
    if (index >= 0 && index < ListBox1->count()) {
        if (QLineEdit* edit = hostBox(m_traceWindow))
            edit->setText(ListBox1->item(index)->text());
    }
}

} // namespace tarnwick::ui
