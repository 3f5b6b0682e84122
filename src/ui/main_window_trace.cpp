// The main window's ways into the traceroute window.

#include "main_window.h"

#include "app_error.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListWidget>
#include <QTabWidget>

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
void waitProcessingMessages(int ms)
{
    QElapsedTimer clock;
    clock.start();
    for (qint64 left = ms; left > 0; left = ms - clock.elapsed())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents,
                                        static_cast<int>(left));
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
