// Clear, Save to file and Copy on the tabs of the main window.

#include "core/app_error.h"
#include "core/blocking_handover.h"
#include "platform/files.h"
#include "platform/user_store.h"
#include "support/form_fixture.h"
#include "support/modal.h"
#include "support/test_files.h"
#include "ui/log_memo.h"
#include "ui/slot_page.h"
#include "ui/stat_label.h"
#include "ui/up_down.h"

#include <QClipboard>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QtTest>

#include <atomic>
#include <semaphore>
#include <thread>

using namespace tarnwick;
using tarnwick::test::FormFixture;
using tarnwick::test::whenModalShown;

namespace {

using test::readAll;

const QByteArray kEmptyStatistics(
    "Packets send = 0\r\nPackets recived = 0\r\nPackets lost = 0\r\nLoss = 0 %\r\n");

// Types the name as a user would: selectFile() leaves a focused name box
// alone, and the dialog then takes its folder for the answer.
void chooseFile(QFileDialog* dialog, const QString& path)
{
    auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    QVERIFY(edit);
    edit->setText(path);
    static_cast<QDialog*>(dialog)->accept();
}

// Answers the save dialog with a file name, or cancels it for an empty one.
void answerSaveDialog(const QString& path, QStringList* offered = nullptr)
{
    whenModalShown([path, offered](QWidget* w) {
        auto* dialog = qobject_cast<QFileDialog*>(w);
        if (!dialog) {
            w->close();
            return;
        }
        if (offered)
            *offered << dialog->selectedFiles();
        if (path.isEmpty()) {
            dialog->reject();
            return;
        }
        chooseFile(dialog, path);
    });
}

void answerReplaceQuestion(QMessageBox::StandardButton answer, bool* asked)
{
    whenModalShown([answer, asked](QWidget* w) {
        auto* box = qobject_cast<QMessageBox*>(w);
        if (!box)
            return;
        *asked = true;
        box->button(answer)->click();
    });
}

} // namespace

class TestLogActions : public QObject {
    Q_OBJECT
private slots:
    void init();
    void savingAnEmptyLog();
    void txtIsAddedOnlyWhenMissing_data();
    void txtIsAddedOnlyWhenMissing();
    void existingFileIsReplacedOnlyWhenAgreed();
    void cancelAndUnwritableWriteNothing();
    void textIsTakenWhenClicked();
    void copyGivesTheSameFormOnEveryTab_data();
    void copyGivesTheSameFormOnEveryTab();
    void clearResetsWithTheTimeOut();
    void largeLogIsSavedAndCopiedWhileResultsGoOn();

private:
    QTemporaryDir m_dir;
};

void TestLogActions::init()
{
    platform::RegWriteString(platform::RegistryRoot::CurrentUser, platform::kProductKey,
                             QStringLiteral("fr"), QStringLiteral("1"));
}

void TestLogActions::savingAnEmptyLog()
{
    FormFixture f;
    const QString path = m_dir.filePath(QStringLiteral("empty.txt"));
    answerSaveDialog(path);
    QTest::mouseClick(f.form->slotPage(0)->saveButton(), Qt::LeftButton);
    f.form->waitForSaves();
    QCOMPARE(readAll(path), kEmptyStatistics);
}

void TestLogActions::txtIsAddedOnlyWhenMissing_data()
{
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QString>("written");
    QTest::newRow("no extension") << "ping"
                                  << "ping.txt";
    QTest::newRow("already .txt") << "ping2.txt"
                                  << "ping2.txt";
    QTest::newRow("upper case .TXT") << "PING3.TXT"
                                     << "PING3.TXT";
    QTest::newRow("other extension") << "ping4.log"
                                     << "ping4.log.txt";
}

void TestLogActions::txtIsAddedOnlyWhenMissing()
{
    QFETCH(QString, chosen);
    QFETCH(QString, written);
    FormFixture f;
    f.form->recordResult(3, QStringLiteral("Reply from h bytes=32 time=4 ms"));
    answerSaveDialog(m_dir.filePath(chosen));
    QTest::mouseClick(f.form->slotPage(3)->saveButton(), Qt::LeftButton);
    f.form->waitForSaves();
    QCOMPARE(
        readAll(m_dir.filePath(written)),
        QByteArray("Reply from h bytes=32 time=4 ms\r\nPackets send = 1\r\nPackets recived = 1\r\n"
                   "Packets lost = 0\r\nLoss = 0 %\r\n"));
    if (chosen != written)
        QVERIFY(!QFile::exists(m_dir.filePath(chosen + QStringLiteral(".txt.txt"))));
    QVERIFY(!QFile::exists(m_dir.filePath(written + QStringLiteral(".txt"))));
}

void TestLogActions::existingFileIsReplacedOnlyWhenAgreed()
{
    FormFixture f;
    const QString path = m_dir.filePath(QStringLiteral("existing.txt"));
    {
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("old content\r\n");
    }
    bool asked = false;
    answerSaveDialog(m_dir.filePath(QStringLiteral("existing")));
    answerReplaceQuestion(QMessageBox::No, &asked);
    QTest::mouseClick(f.form->slotPage(1)->saveButton(), Qt::LeftButton);
    f.form->waitForSaves();
    QVERIFY(asked);
    QCOMPARE(readAll(path), QByteArray("old content\r\n"));

    asked = false;
    QStringList offered;
    answerSaveDialog(path, &offered);
    answerReplaceQuestion(QMessageBox::Yes, &asked);
    QTest::mouseClick(f.form->slotPage(1)->saveButton(), Qt::LeftButton);
    f.form->waitForSaves();
    QVERIFY(asked);
    QCOMPARE(readAll(path), kEmptyStatistics);
    // The dialog offered the name chosen last time.
    QCOMPARE(offered.value(0), m_dir.filePath(QStringLiteral("existing")));
}

void TestLogActions::cancelAndUnwritableWriteNothing()
{
    FormFixture f;
    QStringList reported;
    setTopLevelErrorReporter([&](const QString& m) { reported << m; });
    const QStringList before = QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden);
    answerSaveDialog(QString());
    QTest::mouseClick(f.form->slotPage(2)->saveButton(), Qt::LeftButton);
    QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden), before);

    // A folder that is not there (a file stands in its way): nothing shown,
    // nothing written, the program goes on.
    const QString blocker = m_dir.filePath(QStringLiteral("not-a-folder"));
    QFile(blocker).open(QIODevice::WriteOnly);
    answerSaveDialog(blocker + QStringLiteral("/out.txt"));
    QTest::mouseClick(f.form->slotPage(2)->saveButton(), Qt::LeftButton);
    f.form->waitForSaves();
    QVERIFY(!QApplication::activeModalWidget());
    QVERIFY(reported.isEmpty());
    QCOMPARE(readAll(blocker), QByteArray());
    setTopLevelErrorReporter(nullptr);
}

void TestLogActions::textIsTakenWhenClicked()
{
    FormFixture f;
    f.form->recordResult(0, QStringLiteral("Requested Timed out."));
    const QString path = m_dir.filePath(QStringLiteral("taken.txt"));
    whenModalShown([&](QWidget* w) {
        // A result arrives while the dialog is open.
        f.form->recordResult(0, QStringLiteral("Reply from h bytes=32 time=9 ms"));
        chooseFile(qobject_cast<QFileDialog*>(w), path);
    });
    QTest::mouseClick(f.form->slotPage(0)->saveButton(), Qt::LeftButton);
    f.form->waitForSaves();
    QCOMPARE(readAll(path),
             QByteArray("Requested Timed out.\r\nPackets send = 1\r\nPackets recived = 0\r\n"
                        "Packets lost = 1\r\nLoss = 100 %\r\n"));
    QCOMPARE(f.form->Memo1->lineCount(), 2);
}

void TestLogActions::copyGivesTheSameFormOnEveryTab_data()
{
    QTest::addColumn<int>("slot");
    for (int slot = 0; slot < 5; ++slot)
        QTest::addRow("slot %d", slot) << slot;
}

void TestLogActions::copyGivesTheSameFormOnEveryTab()
{
    QFETCH(int, slot);
    FormFixture f;
    QByteArray expected;
    for (int i = 0; i < 10; ++i) {
        const QString line = i == 4 ? QStringLiteral("Requested Timed out.")
                                    : QStringLiteral("Reply from h bytes=32 time=%1 ms").arg(i);
        f.form->recordResult(slot, line);
        expected += line.toLatin1() + "\r\n";
    }
    expected += "Packets send = 10\r\nPackets recived = 9\r\nPackets lost = 1\r\nLoss = 10 %\r\n";
    QGuiApplication::clipboard()->clear();
    QTest::mouseClick(f.form->slotPage(slot)->copyButton(), Qt::LeftButton);
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    QVERIFY(data);
    QCOMPARE(data->data(QStringLiteral("text/plain")), expected);
}

void TestLogActions::clearResetsWithTheTimeOut()
{
    FormFixture f;
    ui::TForm1& form = *f.form;
    form.recordResult(4, QStringLiteral("Reply from h bytes=32 time=5 ms"));
    form.recordResult(4, QStringLiteral("Reply from h bytes=32 time=15 ms"));
    const QString timingBefore = form.timingLabel(4)->caption();
    form.UpDown2->setPosition(3000);
    QTest::mouseClick(form.slotPage(4)->clearButton(), Qt::LeftButton);
    QCOMPARE(form.Memo5->lineCount(), 0);
    QCOMPARE(form.Memo5->toPlainText(), QString());
    // The labels keep the old figures until any slot records a result.
    QCOMPARE(form.timingLabel(4)->caption(), timingBefore);
    form.recordResult(0, QStringLiteral("Requested Timed out."));
    QCOMPARE(form.timingLabel(4)->caption(),
             QStringLiteral("Minimum = 3000 ms\rMaximum = 0 ms\rAverage = 0 ms"));
    QCOMPARE(form.packetLabel(4)->caption(),
             QStringLiteral("Packets send = 0\rPackets recived = 0\rPackets lost = 0\rLoss = 0 %"));
    // A lost result does not bring back the "no time yet" minimum.
    form.recordResult(4, QStringLiteral("Requested Timed out."));
    QCOMPARE(form.slotStats(4).minimum, 3000);
    form.recordResult(4, QStringLiteral("Reply from h bytes=32 time=35 ms"));
    QCOMPARE(form.slotStats(4).minimum, 35);
    QCOMPARE(form.slotStats(4).maximum, 35);
}

// Saving writes the file elsewhere: while it is being written, a worker's
// blocking handover is served (monitoring goes on), and the file still holds
// the text as it was at the click. Copy and Clear of the same log follow.
void TestLogActions::largeLogIsSavedAndCopiedWhileResultsGoOn()
{
    FormFixture f;
    ui::TForm1& form = *f.form;
    // Only the lines below reach the log: no worker starts while they go in.
    form.Timer6->stop();
    form.Timer7->stop();
    const int lines = 300000;
    QByteArray expected;
    expected.reserve(lines * 40);
    for (int i = 0; i < lines; ++i) {
        const QString line = QStringLiteral("Reply from h%1 bytes=32 time=%2 ms").arg(i).arg(i % 9);
        form.recordResult(0, line);
        expected += line.toLatin1() + "\r\n";
    }
    const QByteArray statistics = QByteArray("Packets send = 300000\r\nPackets recived = 300000\r\n"
                                             "Packets lost = 0\r\nLoss = 0 %\r\n");

    std::atomic<bool> writing{false};
    std::binary_semaphore mayWrite(0);
    f.writeLog = [&](const QString& path, const QByteArray& bytes) {
        writing = true;
        mayWrite.acquire();
        platform::writeFileAtomically(path, bytes);
    };
    // A failing check must not leave the save waiting for ever.
    const auto letItWrite = qScopeGuard([&] { mayWrite.release(); });
    const QString path = m_dir.filePath(QStringLiteral("large.txt"));
    answerSaveDialog(path);
    QTest::mouseClick(form.slotPage(0)->saveButton(), Qt::LeftButton);
    QTRY_VERIFY(writing);

    // The file is being written; a worker hands a result over meanwhile.
    const QString later = QStringLiteral("Requested Timed out.");
    core::BlockingHandover handover(&form);
    std::atomic<bool> recorded{false};
    std::thread worker([&] { recorded = handover.call([&] { form.recordResult(0, later); }); });
    QTRY_VERIFY(recorded);
    worker.join();
    QCOMPARE(form.Memo1->lineCount(), lines + 1);
    mayWrite.release();
    form.waitForSaves();
    mayWrite.try_acquire();
    QCOMPARE(readAll(path), expected + statistics);
    QVERIFY(form.buffer_memo->toPlainText().isEmpty());

    QTest::mouseClick(form.slotPage(0)->copyButton(), Qt::LeftButton);
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    QVERIFY(data);
    QCOMPARE(data->data(QStringLiteral("text/plain")),
             expected + later.toLatin1() +
                 "\r\nPackets send = 300001\r\nPackets recived = 300000\r\n"
                 "Packets lost = 1\r\nLoss = 0 %\r\n");
    QVERIFY(form.buffer_memo->toPlainText().isEmpty());
    QGuiApplication::clipboard()->clear();

    QTest::mouseClick(form.slotPage(0)->clearButton(), Qt::LeftButton);
    QCOMPARE(form.Memo1->lineCount(), 0);
    QCOMPARE(form.Memo1->store().memoryUse(), 0);
}

QTEST_MAIN(TestLogActions)
#include "tst_log_actions.moc"
