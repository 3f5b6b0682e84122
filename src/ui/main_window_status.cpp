// The main window's one-second refresh: tab captions and the status picture,
// the Start/Stop button and the results summary; and the echo notice.

#include "ui/main_window.h"

#include "core/product.h"
#include "engine/monitor_engine.h"
#include "ui/log_memo.h"
#include "ui/pictures.h"
#include "core/text_lines.h"

#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>

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
    if (m_engine->isRunning()) {
        Button1->setIcon(stopGlyph());
        Button1->setText(tr("Stop"));
    } else {
        Button1->setIcon(startGlyph());
        Button1->setText(tr("Start"));
    }
    try {
        m_summary = engine::resultsSummary(newestLines());
        Memo6->setPlainText(m_summary.join(QLatin1Char('\n')));
    } catch (...) {
        // Rebuilt from scratch at the next tick.
    }
    emit resultsSummaryRebuilt();
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
    if (m_noticePresenter) {
        m_noticePresenter(text);
        return;
    }
    auto* box = new QMessageBox(QMessageBox::Warning, product::kApplicationTitle, text,
                                QMessageBox::Ok, this);
    box->setObjectName(QStringLiteral("EchoNotice"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

} // namespace tarnwick::ui
