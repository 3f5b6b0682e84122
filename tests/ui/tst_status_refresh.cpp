// The one-second status refresh and the results summary, driven through real
// slot logs of the main window.

#include "core/timer_backend.h"
#include "engine/status.h"
#include "support/form_fixture.h"
#include "support/manual_time.h"
#include "ui/log_memo.h"
#include "ui/pictures.h"

#include <QAbstractItemDelegate>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QStyleOptionViewItem>
#include <QTabWidget>
#include <QTextDocument>
#include <QTimer>
#include <QtTest>

using namespace tarnwick;
using engine::StatusPicture;
using tarnwick::test::FormFixture;

Q_DECLARE_METATYPE(StatusPicture)

namespace {
const QString kReply = QStringLiteral("Reply from h bytes=32 time=3 ms");
const QString kLost = QStringLiteral("Requested Timed out.");
const QString kUnreachable = QStringLiteral("Destination host unreachable.");

void stopTimers(ui::TForm1& form)
{
    for (core::Timer* t : {form.Timer6, form.Timer7, form.Timer_1, form.Timer5})
        t->stop();
}
} // namespace

class TestStatusRefresh : public QObject {
    Q_OBJECT
private slots:
    void statusPicture_data();
    void statusPicture();
    void captionsFollowTheFirstFiveEntries();
    void buttonFollowsTheRunFlagWithinASecond();
    void summaryLayout_data();
    void summaryLayout();
    void summaryIsRebuiltEveryTick();
};

// How the window gathers the logs for the rule (the rule itself is tested on
// plain data). Each log is given as its lines separated by '|'; "" is an empty
// log.
void TestStatusRefresh::statusPicture_data()
{
    QTest::addColumn<int>("hosts");
    QTest::addColumn<QStringList>("logs");
    QTest::addColumn<StatusPicture>("picture");

    const QString ok = kReply;
    const QString bad = kLost + "|" + kLost;
    QTest::newRow("five hosts, none failing")
        << 5 << QStringList{ok, ok, ok, ok, ok} << StatusPicture::Image1;
    QTest::newRow("five hosts, one failing")
        << 5 << QStringList{bad, ok, ok, ok, ok} << StatusPicture::Image5;
    QTest::newRow("five hosts, all failing")
        << 5 << QStringList{bad, bad, bad, bad, bad} << StatusPicture::Image2;
    QTest::newRow("two hosts, one failing")
        << 2 << QStringList{ok, bad, "", "", ""} << StatusPicture::Image5;
    QTest::newRow("three hosts, all failing")
        << 3 << QStringList{bad, bad, bad, ok, ok} << StatusPicture::Image2;
    QTest::newRow("empty list") << 0 << QStringList{ok, ok, ok, ok, ok} << StatusPicture::Image2;
    QTest::newRow("before any result")
        << 3 << QStringList{"", "", "", "", ""} << StatusPicture::Image2;
    QTest::newRow("one line, not a reply")
        << 1 << QStringList{kUnreachable, "", "", "", ""} << StatusPicture::Image2;
    QTest::newRow("time-out after a reply is not failing")
        << 2 << QStringList{kReply + "|" + kLost, bad, "", "", ""} << StatusPicture::Image5;
    QTest::newRow("slots beyond the list do not count")
        << 4 << QStringList{ok, ok, ok, ok, bad} << StatusPicture::Image1;
}

void TestStatusRefresh::statusPicture()
{
    QFETCH(int, hosts);
    QFETCH(QStringList, logs);
    FormFixture f;
    ui::TForm1& form = *f.form;
    stopTimers(form);
    form.ListBox1->clear();
    for (int i = 0; i < hosts; ++i)
        form.ListBox1->addItem(QStringLiteral("h%1").arg(i));
    for (int k = 0; k < 5; ++k) {
        if (!logs[k].isEmpty())
            for (const QString& line : logs[k].split(QLatin1Char('|')))
                form.recordResult(k, line);
    }
    QSignalSpy spy(&form, &ui::TForm1::statusIconChosen);
    form.Timer_1Timer();
    QTEST(form.statusPicture(), "picture");
    QCOMPARE(spy.count(), 1);
    QFETCH(StatusPicture, picture);
    QCOMPARE(spy.at(0).at(0).value<QIcon>().cacheKey(), ui::statusIcon(picture).cacheKey());
    // Chosen again on the next tick, changed or not.
    form.Timer_1Timer();
    QCOMPARE(spy.count(), 2);
}

void TestStatusRefresh::captionsFollowTheFirstFiveEntries()
{
    FormFixture f;
    ui::TForm1& form = *f.form;
    stopTimers(form);
    form.ListBox1->clear();
    form.Timer_1Timer();
    for (int k = 0; k < 5; ++k)
        QCOMPARE(form.PageControl1->tabText(k), QStringLiteral("Ping"));
    form.ListBox1->addItems({"a", "b", "c"});
    form.Timer_1Timer();
    QCOMPARE(form.PageControl1->tabText(2), QStringLiteral("Ping c"));
    QCOMPARE(form.PageControl1->tabText(3), QStringLiteral("Ping"));
    // The tab of a deleted last host keeps its caption.
    delete form.ListBox1->takeItem(2);
    form.Timer_1Timer();
    QCOMPARE(form.PageControl1->tabText(2), QStringLiteral("Ping c"));
    form.ListBox1->addItems({"d", "e", "f", "g", "h"});
    form.Timer_1Timer();
    QCOMPARE(form.PageControl1->tabText(4), QStringLiteral("Ping f"));
    // An entry no prompt lets anyone type (a hand-edited file) shows its
    // first 255 characters; a 100 MB caption held a core.
    form.ListBox1->item(0)->setText(QString(1 << 20, QLatin1Char('x')));
    form.Timer_1Timer();
    QCOMPARE(form.PageControl1->tabText(0),
             QStringLiteral("Ping ") + QString(255, QLatin1Char('x')));
    // The host box measures and draws as much of it, not the whole entry.
    const QStyleOptionViewItem option;
    QAbstractItemDelegate* delegate = form.ListBox1->itemDelegate();
    const QModelIndex huge = form.ListBox1->model()->index(0, 0);
    form.ListBox1->item(1)->setText(QString(255, QLatin1Char('x')));
    const QModelIndex shown = form.ListBox1->model()->index(1, 0);
    QCOMPARE(delegate->sizeHint(option, huge), delegate->sizeHint(option, shown));
}

void TestStatusRefresh::buttonFollowsTheRunFlagWithinASecond()
{
    test::ManualTime time;
    FormFixture f;
    ui::TForm1& form = *f.form;
    form.Timer6->stop();
    form.Timer7->stop();
    QCOMPARE(form.Button1->text(), QStringLiteral("Start"));
    QTest::mouseClick(form.Button1, Qt::LeftButton);
    // The caption is only ever set by the refresh tick.
    QCOMPARE(form.Button1->text(), QStringLiteral("Start"));
    time.advance(999);
    QCOMPARE(form.Button1->text(), QStringLiteral("Start"));
    time.advance(1);
    QCOMPARE(form.Button1->text(), QStringLiteral("Stop"));
    QCOMPARE(form.Button1->icon().cacheKey(), ui::stopGlyph().cacheKey());
    QTest::mouseClick(form.Button1, Qt::LeftButton);
    time.advance(1000);
    QCOMPARE(form.Button1->text(), QStringLiteral("Start"));
    QCOMPARE(form.Button1->icon().cacheKey(), ui::startGlyph().cacheKey());
}

void TestStatusRefresh::summaryLayout_data()
{
    QTest::addColumn<QStringList>("logs");
    QTest::addColumn<QStringList>("summary");
    QTest::newRow("all empty") << QStringList{"", "", "", "", ""}
                               << QStringList{"", "",      "-----", "", "",      "-----", "",
                                              "", "-----", "",      "", "-----", "",      ""};
    QTest::newRow("one line and long logs")
        << QStringList{"only", "a|b|c|d", "", "x|y", "1|2|3"}
        << QStringList{"only", "",      "-----", "d", "c",     "-----", "",
                       "",     "-----", "y",     "x", "-----", "3",     "2"};
}

void TestStatusRefresh::summaryLayout()
{
    QFETCH(QStringList, logs);
    FormFixture f;
    ui::TForm1& form = *f.form;
    stopTimers(form);
    for (int k = 0; k < 5; ++k)
        if (!logs[k].isEmpty())
            for (const QString& line : logs[k].split(QLatin1Char('|')))
                form.recordResult(k, line);
    form.Timer5Timer();
    QTEST(form.resultsSummaryLines(), "summary");
    QFETCH(QStringList, summary);
    QCOMPARE(form.Memo6->toPlainText(), summary.join(QLatin1Char('\n')));
    QCOMPARE(form.resultsSummaryText(),
             summary.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n"));
}

void TestStatusRefresh::summaryIsRebuiltEveryTick()
{
    test::ManualTime time;
    FormFixture f;
    ui::TForm1& form = *f.form;
    form.Timer6->stop();
    form.Timer7->stop();
    form.recordResult(1, kLost);
    form.recordResult(1, kReply);
    QCOMPARE(form.resultsSummaryLines().value(3), QString());
    QSignalSpy rebuilt(&form, &ui::TForm1::resultsSummaryRebuilt);
    QSignalSpy boxChanged(form.Memo6->document(), &QTextDocument::contentsChanged);
    time.advance(1000);
    QCOMPARE(form.resultsSummaryLines().value(3), kReply);
    QCOMPARE(form.resultsSummaryLines().value(4), kLost);
    QCOMPARE(rebuilt.count(), 1);
    const int boxChanges = boxChanged.count();
    QVERIFY(boxChanges > 0);
    // Ticks that find the same newest lines leave the box and the tray alone.
    time.advance(3000);
    QCOMPARE(rebuilt.count(), 1);
    QCOMPARE(boxChanged.count(), boxChanges);
    // A line that changes the slot's newest two rebuilds it.
    form.recordResult(1, kReply);
    time.advance(1000);
    QCOMPARE(form.resultsSummaryLines().value(4), kReply);
    QCOMPARE(rebuilt.count(), 2);
    // A cleared log has no lines to summarise.
    form.Memo2->clear();
    time.advance(1000);
    QCOMPARE(form.resultsSummaryLines().value(3), QString());
    QCOMPARE(form.resultsSummaryLines().size(), 14);
    QCOMPARE(rebuilt.count(), 3);
    QCOMPARE(form.Memo6->toPlainText(), form.resultsSummaryLines().join(QLatin1Char('\n')));
}

QTEST_MAIN(TestStatusRefresh)
#include "tst_status_refresh.moc"
