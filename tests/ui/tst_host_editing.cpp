// Host list editing through the real widgets, modal dialogs answered by the
// test, each result checked against the list and the host list file.

#include "core/app_error.h"
#include "core/product.h"
#include "platform/user_store.h"
#include "support/form_fixture.h"
#include "support/manual_time.h"
#include "support/modal.h"
#include "ui/controls.h"
#include "ui/host_prompt.h"
#include "ui/log_memo.h"
#include "ui/small_windows.h"

#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QtTest>

using namespace tarnwick;
using tarnwick::test::EchoAnswer;
using tarnwick::test::FormFixture;
using tarnwick::test::whenModalShown;

namespace {

QByteArray hostFile(const FormFixture& f)
{
    QFile file(f.file("domains.cfg"));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<not saved>");
}

int selectedRow(const QListWidget* list)
{
    const auto items = list->selectedItems();
    return items.isEmpty() ? -1 : list->row(items.first());
}

} // namespace

class TestHostEditing : public QObject {
    Q_OBJECT
private slots:
    void init();
    void actions_data();
    void actions();
    void saveErrorsAreReportedExceptWhenMoving();
    void deletingAMonitoredHostShiftsTheSlots();
};

void TestHostEditing::init()
{
    platform::RegWriteString(platform::RegistryRoot::CurrentUser, platform::kProductKey,
                             QStringLiteral("fr"), QStringLiteral("1"));
}

// answer: "ok:<text>", "cancel", "close" (limit window), "download" (limit window), "-" (no dialog)
void TestHostEditing::actions_data()
{
    QTest::addColumn<QStringList>("hosts");
    QTest::addColumn<int>("selected");
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("dialog"); // what came up: caption and starting text
    QTest::addColumn<QStringList>("after");
    QTest::addColumn<int>("selectedAfter");
    QTest::addColumn<QByteArray>("saved");

    const QStringList abc{"a", "b", "c"};
    const QStringList five{"a", "b", "c", "d", "e"};
    const QStringList seven{"a", "b", "c", "d", "e", "f", "g"};
    const QByteArray none("<not saved>");

    QTest::newRow("add") << QStringList{"a"} << -1 << "add"
                         << "ok:b"
                         << "Input host|localhost" << QStringList{"a", "b"} << -1
                         << QByteArray("a\r\nb\r\n");
    QTest::newRow("add keeps the default")
        << QStringList{"a"} << -1 << "add"
        << "ok"
        << "Input host|localhost" << QStringList{"a", "localhost"} << -1
        << QByteArray("a\r\nlocalhost\r\n");
    QTest::newRow("add empty") << QStringList{"a"} << -1 << "add"
                               << "ok:"
                               << "Input host|localhost" << QStringList{"a", ""} << -1
                               << QByteArray("a\r\n\r\n");
    QTest::newRow("add duplicate")
        << QStringList{"a"} << 0 << "add"
        << "ok:a"
        << "Input host|localhost" << QStringList{"a", "a"} << 0 << QByteArray("a\r\na\r\n");
    QTest::newRow("add cancelled still saves")
        << QStringList{"a"} << -1 << "add"
        << "cancel"
        << "Input host|localhost" << QStringList{"a"} << -1 << QByteArray("a\r\n");
    QTest::newRow("limit with five")
        << five << -1 << "add"
        << "close"
        << "Error!|" << five << -1 << QByteArray("a\r\nb\r\nc\r\nd\r\ne\r\n");
    QTest::newRow("limit with seven")
        << seven << -1 << "add"
        << "download"
        << "Error!|" << seven << -1 << QByteArray("a\r\nb\r\nc\r\nd\r\ne\r\nf\r\ng\r\n");
    QTest::newRow("edit") << abc << 1 << "edit"
                          << "ok:host.example"
                          << "Input new host|b" << QStringList{"a", "host.example", "c"} << 1
                          << QByteArray("a\r\nhost.example\r\nc\r\n");
    QTest::newRow("edit to empty saves nothing") << abc << 1 << "edit"
                                                 << "ok:"
                                                 << "Input new host|b" << abc << 1 << none;
    QTest::newRow("edit cancelled") << abc << 2 << "edit"
                                    << "cancel"
                                    << "Input new host|c" << abc << 2 << none;
    QTest::newRow("edit without selection") << abc << -1 << "edit"
                                            << "-"
                                            << "" << abc << -1 << none;
    QTest::newRow("double click edits")
        << abc << 0 << "dblclick"
        << "ok:z"
        << "Input new host|a" << QStringList{"z", "b", "c"} << 0 << QByteArray("z\r\nb\r\nc\r\n");
    QTest::newRow("delete") << abc << 1 << "delete"
                            << "-"
                            << "" << QStringList{"a", "c"} << -1 << QByteArray("a\r\nc\r\n");
    QTest::newRow("delete without selection saves")
        << abc << -1 << "delete"
        << "-"
        << "" << abc << -1 << QByteArray("a\r\nb\r\nc\r\n");
    QTest::newRow("delete all") << abc << 0 << "deleteall"
                                << "-"
                                << "" << QStringList{} << -1 << QByteArray("");
    QTest::newRow("up from the top wraps")
        << abc << 0 << "up"
        << "-"
        << "" << QStringList{"b", "c", "a"} << 2 << QByteArray("b\r\nc\r\na\r\n");
    QTest::newRow("up") << abc << 2 << "up"
                        << "-"
                        << "" << QStringList{"a", "c", "b"} << 1 << QByteArray("a\r\nc\r\nb\r\n");
    QTest::newRow("down from the bottom wraps")
        << abc << 2 << "down"
        << "-"
        << "" << QStringList{"c", "a", "b"} << 0 << QByteArray("c\r\na\r\nb\r\n");
    QTest::newRow("down") << abc << 0 << "down"
                          << "-"
                          << "" << QStringList{"b", "a", "c"} << 1 << QByteArray("b\r\na\r\nc\r\n");
    QTest::newRow("one entry up") << QStringList{"a"} << 0 << "up"
                                  << "-"
                                  << "" << QStringList{"a"} << 0 << QByteArray("a\r\n");
    QTest::newRow("one entry down") << QStringList{"a"} << 0 << "down"
                                    << "-"
                                    << "" << QStringList{"a"} << 0 << QByteArray("a\r\n");
    const QString longHost(300, QLatin1Char('x'));
    QTest::newRow("edit offers a long entry whole")
        << QStringList{longHost} << 0 << "edit"
        << "ok"
        << "Input new host|" + longHost << QStringList{longHost} << 0
        << (longHost.toLatin1() + "\r\n");
    QTest::newRow("typing stops at 255 characters")
        << QStringList{"a"} << 0 << "edit"
        << "ok:" + QString(300, QLatin1Char('y')) << "Input new host|a"
        << QStringList{QString(255, QLatin1Char('y'))} << 0 << (QByteArray(255, 'y') + "\r\n");
    QTest::newRow("move without selection") << abc << -1 << "down"
                                            << "-"
                                            << "" << abc << -1 << QByteArray("a\r\nb\r\nc\r\n");
}

void TestHostEditing::actions()
{
    QFETCH(QStringList, hosts);
    QFETCH(int, selected);
    QFETCH(QString, action);
    QFETCH(QString, answer);

    FormFixture f;
    ui::TForm1& form = *f.form;
    form.Timer6->stop();
    form.Timer7->stop();
    form.show();
    form.ListBox1->clear();
    form.ListBox1->addItems(hosts);
    if (selected >= 0)
        form.ListBox1->setCurrentRow(selected, QItemSelectionModel::ClearAndSelect);
    QFile::remove(f.file("domains.cfg"));

    QString seen;
    if (answer != QStringLiteral("-")) {
        whenModalShown([&](QWidget* dialog) {
            if (auto* prompt = qobject_cast<ui::THostPrompt*>(dialog)) {
                seen = prompt->windowTitle() + QLatin1Char('|') + prompt->Edit->text();
                // The starting text is selected in full, so typing replaces it.
                if (prompt->Edit->selectedText() != prompt->Edit->text())
                    seen += QStringLiteral("|not selected");
                if (answer.startsWith(QStringLiteral("ok:"))) {
                    prompt->Edit->selectAll();
                    QTest::keyClicks(prompt->Edit, answer.mid(3));
                    if (answer.size() == 3)
                        prompt->Edit->clear();
                }
                if (answer.startsWith(QStringLiteral("ok")))
                    QTest::keyClick(prompt->Edit, Qt::Key_Return);
                else
                    QTest::keyClick(prompt->Edit, Qt::Key_Escape);
            } else if (auto* more = qobject_cast<ui::TMore_Form*>(dialog)) {
                seen = more->windowTitle() + QLatin1Char('|');
                QTest::mouseClick(answer == QStringLiteral("download") ? more->BitBtn2
                                                                       : more->BitBtn1,
                                  Qt::LeftButton);
            } else {
                seen = QStringLiteral("unexpected dialog ") + dialog->objectName();
                dialog->close();
            }
        });
    }

    if (action == QStringLiteral("add"))
        QTest::mouseClick(form.BitBtn1, Qt::LeftButton);
    else if (action == QStringLiteral("edit"))
        QTest::mouseClick(form.BitBtn22, Qt::LeftButton);
    else if (action == QStringLiteral("dblclick"))
        QTest::mouseDClick(form.ListBox1->viewport(), Qt::LeftButton, {},
                           form.ListBox1->visualItemRect(form.ListBox1->item(selected)).center());
    else if (action == QStringLiteral("delete"))
        QTest::mouseClick(form.BitBtn2, Qt::LeftButton);
    else if (action == QStringLiteral("deleteall"))
        QTest::mouseClick(form.BitBtn3, Qt::LeftButton);
    else if (action == QStringLiteral("up"))
        QTest::mouseClick(form.BitBtn4, Qt::LeftButton);
    else if (action == QStringLiteral("down"))
        QTest::mouseClick(form.BitBtn5, Qt::LeftButton);

    QTEST(seen, "dialog");
    QTEST(form.hostList(), "after");
    QTEST(selectedRow(form.ListBox1), "selectedAfter");
    QTEST(hostFile(f), "saved");
    QCOMPARE(form.engine().settings().hosts(), form.hostList());
    if (answer == QStringLiteral("download"))
        QCOMPARE(f.pages->opened, QStringList{product::kProPageFromLimit});
}

void TestHostEditing::saveErrorsAreReportedExceptWhenMoving()
{
    FormFixture f;
    ui::TForm1& form = *f.form;
    form.ListBox1->clear();
    form.ListBox1->addItems({"a", "b"});
    QStringList reported;
    setTopLevelErrorReporter([&](const QString& m) { reported << m; });
    QVERIFY(QDir(f.dataFolder()).removeRecursively());

    form.ListBox1->setCurrentRow(0, QItemSelectionModel::ClearAndSelect);
    QTest::mouseClick(form.BitBtn5, Qt::LeftButton);
    QTest::mouseClick(form.BitBtn4, Qt::LeftButton);
    QTest::mouseClick(form.BitBtn4, Qt::LeftButton);
    QCOMPARE(form.hostList(), (QStringList{"b", "a"}));
    QVERIFY(reported.isEmpty());

    QTest::mouseClick(form.BitBtn2, Qt::LeftButton);
    QCOMPARE(form.hostList(), QStringList{"b"});
    QCOMPARE(reported.size(), 1);
    QCOMPARE(reported[0],
             QStringLiteral("Cannot create file \"%1/domains.cfg\". No such file or directory")
                 .arg(f.dataFolder()));
    QTest::mouseClick(form.BitBtn3, Qt::LeftButton);
    QCOMPARE(form.hostList(), QStringList{});
    QCOMPARE(reported.size(), 2);
    setTopLevelErrorReporter(nullptr);
}

void TestHostEditing::deletingAMonitoredHostShiftsTheSlots()
{
    test::ManualTime time; // the window's start-up timers; the workers' waits are real
    FormFixture f;
    ui::TForm1& form = *f.form;
    const QStringList hosts{"h0", "h1", "h2", "h3", "h4"};
    for (const QString& h : hosts)
        f.echo->addHost(h.toStdString(), {EchoAnswer::Reply, 1, 0, 0});
    form.ListBox1->clear();
    form.ListBox1->addItems(hosts);
    form.Edit1->setText(QStringLiteral("200"));
    time.advance(2000);
    QTRY_VERIFY_WITH_TIMEOUT(form.slotLog(4)->lineCount() >= 1, 5000);

    form.ListBox1->setCurrentRow(1, QItemSelectionModel::ClearAndSelect);
    QTest::mouseClick(form.BitBtn2, Qt::LeftButton);
    QCOMPARE(form.hostList(), (QStringList{"h0", "h2", "h3", "h4"}));
    // Give every slot time for one attempt that may still name the old host.
    QTest::qWait(400);
    const int slot4 = form.slotLog(4)->lineCount();
    const int slot1 = form.slotLog(1)->lineCount();
    QTRY_VERIFY_WITH_TIMEOUT(form.slotLog(1)->lineCount() >= slot1 + 2, 3000);
    QCOMPARE(form.slotLog(1)->lineFromEnd(0), QStringLiteral("Reply from h2 bytes=32 time=1 ms"));
    QCOMPARE(form.slotLog(3)->lineFromEnd(0), QStringLiteral("Reply from h4 bytes=32 time=1 ms"));
    QCOMPARE(form.slotLog(4)->lineCount(), slot4); // idle, its log kept
    QCOMPARE(form.slotLog(4)->lineFromEnd(0), QStringLiteral("Reply from h4 bytes=32 time=1 ms"));
}

QTEST_MAIN(TestHostEditing)
#include "tst_host_editing.moc"
