// The log actions of each tab: Clear, Save to file and Copy.

#include "ui/main_window.h"

#include "ui/log_memo.h"
#include "ui/settings_files.h"
#include "ui/slot_page.h"

#include "platform/files.h"
#include "platform/clipboard.h"
#include "core/product.h"

#include <QAction>
#include <QFileDialog>
#include <QFileInfo>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>

namespace tarnwick::ui {

void TForm1::connectEditingAndLogActions()
{
    SaveDialog1 = new QFileDialog(this);
    SaveDialog1->setObjectName(QStringLiteral("SaveDialog1"));
    SaveDialog1->setAcceptMode(QFileDialog::AcceptSave);
    SaveDialog1->setFileMode(QFileDialog::AnyFile);
    SaveDialog1->setNameFilter(QStringLiteral("*.txt (*.txt)"));
    // The replace question is asked once the final name is known.
    SaveDialog1->setOption(QFileDialog::DontConfirmOverwrite, true);

    connect(BitBtn1, &QPushButton::clicked, this, &TForm1::BitBtn1Click);
    connect(BitBtn22, &QPushButton::clicked, this, &TForm1::BitBtn22Click);
    connect(BitBtn2, &QPushButton::clicked, this, &TForm1::BitBtn2Click);
    connect(BitBtn3, &QPushButton::clicked, this, &TForm1::BitBtn3Click);
    connect(BitBtn4, &QPushButton::clicked, this, &TForm1::BitBtn4Click);
    connect(BitBtn5, &QPushButton::clicked, this, &TForm1::BitBtn5Click);
    // A double click anywhere on the list acts on the entry selected then.
    ListBox1->viewport()->installEventFilter(this);
    connect(About1, &QAction::triggered, this, &TForm1::About1Click);
    connect(BitBtn27, &QPushButton::clicked, this, &TForm1::BitBtn27Click);

    for (int k = 0; k < engine::kSlotCount; ++k) {
        TSlotPage* page = m_pages[k];
        connect(page->clearButton(), &QPushButton::clicked, this, [this, k] { clearLog(k); });
        connect(page->saveButton(), &QPushButton::clicked, this, [this, k] { saveLog(k); });
        connect(page->copyButton(), &QPushButton::clicked, this, [this, k] { copyLog(k); });
    }
}

QStringList TForm1::logWithStatistics(int slotIndex) const
{
    const TLogMemo* log = slotLog(slotIndex);
    QStringList lines;
    lines.reserve(log->lineCount() + 4);
    lines << splitLines(log->textWithCrLf());
    lines << engine::packetLines(m_stats.at(slotIndex), QLocale());
    return lines;
}

void TForm1::clearLog(int slotIndex)
{
    try {
        slotLog(slotIndex)->clear();
        resetSlotStatistics(slotIndex);
    } catch (...) {
        // Log actions never report errors.
    }
}

bool TForm1::confirmReplace(const QString& path)
{
    QMessageBox box(QMessageBox::Question, product::kApplicationTitle,
                    tr("\"%1\" already exists.\nDo you want to replace it?").arg(path),
                    QMessageBox::Yes | QMessageBox::No, this);
    box.setObjectName(QStringLiteral("ReplaceQuestion"));
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

void TForm1::saveLog(int slotIndex)
{
    try {
        // The text is taken now: lines recorded while the dialog is open are
        // not in the file.
        const QStringList lines = logWithStatistics(slotIndex);
        buffer_memo->setPlainText(lines.join(QLatin1Char('\n')));
        if (!m_lastSaveName.isEmpty())
            SaveDialog1->selectFile(m_lastSaveName);
        if (SaveDialog1->exec() != QDialog::Accepted)
            return;
        const QStringList chosen = SaveDialog1->selectedFiles();
        if (chosen.isEmpty() || chosen.first().isEmpty())
            return;
        m_lastSaveName = chosen.first();
        QString path = m_lastSaveName;
        if (!path.endsWith(QStringLiteral(".txt"), Qt::CaseInsensitive))
            path += QStringLiteral(".txt");
        if (QFileInfo::exists(path) && !confirmReplace(path))
            return;
        platform::writeFileAtomically(path, encodeLines(lines));
    } catch (...) {
        // A file that cannot be written is not reported.
    }
}

void TForm1::copyLog(int slotIndex)
{
    try {
        const QStringList lines = logWithStatistics(slotIndex);
        buffer_memo->setPlainText(lines.join(QLatin1Char('\n')));
        QString text;
        for (const QString& line : lines)
            text += line + QStringLiteral("\r\n");
        platform::CopyTextToClipboard(this, text);
    } catch (...) {
        // A clipboard that cannot be had is not reported.
    }
}

} // namespace tarnwick::ui
