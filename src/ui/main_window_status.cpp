// The main window's one-second refresh: tab captions and the status picture,
// the Start/Stop button and the results summary; and the echo notice.

#include "core/product.h"
#include "core/text_lines.h"
#include "engine/monitor_engine.h"
#include "ui/log_memo.h"
#include "ui/main_window.h"
#include "ui/pictures.h"

#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextDocument>

namespace tarnwick::ui {

void TForm1::Timer_1Timer()
{
    refreshTabCaptions();
    try {
        const auto lines = newestLines();
        const int withHost = std::min(ListBox1->count(), engine::kSlotCount);
        int failing = 0;
        for (int k = 0; k < withHost; ++k)
            failing += engine::isFailing(lines[k]) ? 1 : 0;
        m_statusPicture = engine::chooseStatusPicture(failing, withHost);
        emit statusIconChosen(statusIcon(m_statusPicture));
    } catch (...) {
        // The icon stays as it was for this tick.
    }
}

void TForm1::Timer5Timer()
{
    // Set anew only when it flips: a button given an icon is laid out again.
    const bool running = m_engine->isRunning();
    const QString label = running ? tr("Stop") : tr("Start");
    if (Button1->text() != label) {
        Button1->setIcon(running ? stopGlyph() : startGlyph());
        Button1->setText(label);
    }
    try {
        QStringList summary = engine::resultsSummary(newestLines());
        // Rebuilding the box every second was most of what the idle program
        // did of its own; the newest lines mostly stay as they were.
        if (summary != m_summary) {
            m_summary = std::move(summary);
            // Straight into the document: the box is never shown, so the
            // cursor and scroll work of the editor's own setter is wasted.
            Memo6->document()->setPlainText(m_summary.join(QLatin1Char('\n')));
            emit resultsSummaryRebuilt();
        }
    } catch (...) {
        // Tried again at the next tick.
    }
}

QString TForm1::resultsSummaryText() const
{
    return core::joinCrLf(m_summary);
}

void TForm1::showEchoNotice()
{
    const QString text = m_echoNoticeText ? m_echoNoticeText() : QString();
    if (text.isEmpty())
        return;
    m_presentNotice(text);
}

void presentNoticeBox(QWidget* window, const QString& text)
{
    auto* box = new QMessageBox(QMessageBox::Warning, product::kApplicationTitle, text,
                                QMessageBox::Ok, window);
    box->setObjectName(QStringLiteral("EchoNotice"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

} // namespace tarnwick::ui
