// The log actions of each tab: Clear, Save to file and Copy.

#include "core/product.h"
#include "platform/clipboard.h"
#include "platform/files.h"
#include "platform/memory.h"
#include "settings/settings_files.h"
#include "ui/log_memo.h"
#include "ui/main_window.h"
#include "ui/slot_page.h"

#include <QAction>
#include <QFileDialog>
#include <QFileInfo>
#include <QListWidget>
#include <QLocale>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>

#include <chrono>
#include <future>

namespace tarnwick::ui {

void TForm1::connectEditingAndLogActions()
{
    SaveDialog1 = new QFileDialog(this);
    SaveDialog1->setObjectName(QStringLiteral("SaveDialog1"));
    // exec() alone would make it application modal and block the tray icon.
    SaveDialog1->setWindowModality(Qt::WindowModal);
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

namespace {

// A log's text as Save and Copy give it: every line, then the four
// statistics lines, each ended by CR LF, in the 8-bit encoding. The log part
// is a frozen view of the log, so the bytes can be put together on any thread.
// Throws when older lines cannot be read back: then nothing is saved or
// copied, rather than a log with a hole in it replacing a whole one.
struct LogWithStatistics {
    engine::LogStore::Snapshot log;
    QByteArray statistics;
    QByteArray bytes() const
    {
        QByteArray text = log.localBytes(statistics.size());
        text += statistics;
        return text;
    }
};

LogWithStatistics takeLog(const TLogMemo* log, const engine::SlotStats& stats)
{
    return {log->store().snapshot(), settings::encodeLines(engine::packetLines(stats, QLocale()))};
}

} // namespace

void TForm1::clearLog(int slotIndex)
{
    try {
        slotLog(slotIndex)->clear();
        platform::releaseFreedMemory();
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
    box.setWindowModality(Qt::WindowModal);
    return box.exec() == QMessageBox::Yes;
}

void TForm1::waitForSaves()
{
    for (std::future<void>& save : m_saves)
        save.wait();
    m_saves.clear();
}

void TForm1::saveLog(int slotIndex)
{
    try {
        // The text is taken now: lines recorded while the dialog is open are
        // not in the file. Taking it copies nothing, so the dialog comes up at
        // once whatever the size of the log.
        buffer_memo->clear();
        LogWithStatistics text = takeLog(slotLog(slotIndex), m_stats.at(slotIndex));
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
        // Encoding and writing a log of days takes seconds; the workers hand
        // their results to this thread meanwhile, so it is done elsewhere.
        std::erase_if(m_saves, [](const std::future<void>& save) {
            return save.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
        });
        const LogWriter write = m_writeLog;
        m_saves.push_back(
            std::async(std::launch::async, [text = std::move(text), path, write]() mutable {
                try {
                    write(path, text.bytes());
                } catch (...) {
                    // A file that cannot be written is not reported.
                }
                // The finished task lives on until the next save: it must not keep
                // a log that Clear has emptied in the meantime.
                text = {};
            }));
    } catch (...) {
        // A file that cannot be written is not reported.
    }
}

void TForm1::copyLog(int slotIndex)
{
    try {
        // The log's bytes are the clipboard's text already: one copy of them,
        // no conversion line by line, and nothing kept in the buffer box.
        buffer_memo->clear();
        const QByteArray text = takeLog(slotLog(slotIndex), m_stats.at(slotIndex)).bytes();
        platform::CopyBytesToClipboard(this, text);
    } catch (...) {
        // A clipboard that cannot be had is not reported.
    }
}

} // namespace tarnwick::ui
