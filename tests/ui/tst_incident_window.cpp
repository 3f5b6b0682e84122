// The incident ledger window and the "Alerts" menu on the real main window:
// incidents newest first, sorted and filtered, updated while open; Copy and
// Export; the menu between File and Help, its switch and thresholds kept in
// the per-user store; results recorded by the window reach the ledger file;
// a click on a notice shows the host's tab.

#include "app/incident_services.h"
#include "core/app_error.h"
#include "engine/incident_monitor.h"
#include "engine/incident_text.h"
#include "platform/desktop_notices.h"
#include "platform/ledger_file.h"
#include "platform/user_store.h"
#include "support/form_fixture.h"
#include "support/manual_time.h"
#include "ui/alert_choices.h"
#include "ui/alerts_menu.h"
#include "ui/incident_model.h"
#include "ui/incident_window.h"
#include "ui/log_memo.h"
#include "ui/main_window.h"

#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QListWidget>
#include <QMenuBar>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QtTest>

using namespace tarnwick;

namespace {

constexpr qint64 kBase = 1'714'744'992'000; // 2024-05-03 14:03:12 UTC

class ManualMoments final : public engine::MomentClock {
public:
    explicit ManualMoments(const test::ManualTime& time) : m_time(time) {}
    engine::Moment now() const override { return {kBase + m_time.elapsed(), m_time.elapsed()}; }

private:
    const test::ManualTime& m_time;
};

const QString kReply = QStringLiteral("Reply from %1 bytes=32 time=%2 ms");
const QString kLost = QStringLiteral("Requested Timed out.");

// A monitor fed by hand: two hosts, one outage of a, then both at once.
struct Fed {
    test::ManualTime time;
    ManualMoments clock{time};
    engine::SlotHosts hosts{QStringLiteral("gw"), QStringLiteral("dns")};
    std::unique_ptr<engine::IncidentMonitor> monitor;

    Fed()
    {
        engine::IncidentMonitor::Dependencies deps;
        deps.clock = &clock;
        deps.hosts = [this] { return hosts; };
        monitor = std::make_unique<engine::IncidentMonitor>(std::move(deps));
    }
    void both(const QString& a, const QString& b)
    {
        time.advance(1000);
        monitor->resultRecorded(0, a);
        time.advance(1000);
        monitor->resultRecorded(1, b);
    }
    void play()
    {
        both(kReply.arg("gw").arg(9), kReply.arg("dns").arg(12));
        both(kReply.arg("gw").arg(11), kReply.arg("dns").arg(14));
        for (int k = 0; k < 3; ++k)
            both(kLost, kReply.arg("dns").arg(20));
        both(kReply.arg("gw").arg(40), kReply.arg("dns").arg(15));
        both(kReply.arg("gw").arg(10), kReply.arg("dns").arg(15));
        for (int k = 0; k < 4; ++k)
            both(kLost, kLost);
        for (int k = 0; k < 2; ++k)
            both(kReply.arg("gw").arg(30), kReply.arg("dns").arg(25));
    }
};

int rowOf(const ui::TIncidentWindow& window, const QString& host)
{
    const QAbstractItemModel* model = window.IncidentTable->model();
    for (int row = 0; row < model->rowCount(); ++row) {
        if (model->index(row, 0).data().toString() == host)
            return row;
    }
    return -1;
}

QStringList column(const ui::TIncidentWindow& window, int col)
{
    QStringList texts;
    const QAbstractItemModel* model = window.IncidentTable->model();
    for (int row = 0; row < model->rowCount(); ++row)
        texts << model->index(row, col).data().toString();
    return texts;
}

} // namespace

class TestIncidentWindow : public QObject {
    Q_OBJECT
private slots:
    void listsSortsAndFilters();
    void copyAndExport();
    void menuKeepsTheChoices();
    void theProgramsWindowFeedsTheLedger();
};

void TestIncidentWindow::listsSortsAndFilters()
{
    Fed fed;
    ui::TIncidentWindow::Dependencies deps;
    deps.monitor = fed.monitor.get();
    deps.zone = QTimeZone::utc();
    ui::TIncidentWindow window(deps);
    window.show();
    QCOMPARE(window.IncidentTable->model()->rowCount(), 0);
    fed.play();
    // gw alone; then gw and dns and the whole network. Newest first.
    QStringList hosts = column(window, ui::IncidentTableModel::Host);
    QCOMPARE(hosts.takeLast(), QStringLiteral("gw"));
    hosts.sort();
    QCOMPARE(hosts, (QStringList{"dns", "gw", "whole network"}));
    QCOMPARE(column(window, ui::IncidentTableModel::Start).last(),
             QStringLiteral("2024-05-03 14:03:17"));
    QCOMPARE(column(window, ui::IncidentTableModel::End).last(),
             QStringLiteral("2024-05-03 14:03:23"));
    QCOMPARE(column(window, ui::IncidentTableModel::Duration).last(), QStringLiteral("6 s"));
    QCOMPARE(column(window, ui::IncidentTableModel::Lost).last(),
             QStringLiteral("3 requests timed out"));
    QCOMPARE(column(window, ui::IncidentTableModel::WorstRtt).last(), QStringLiteral("40 ms"));
    const int network = rowOf(window, QStringLiteral("whole network"));
    QVERIFY(column(window, ui::IncidentTableModel::Notes)[network].contains(
        QStringLiteral("no host answered: gw, dns")));
    QCOMPARE(column(window, ui::IncidentTableModel::Lost)[network],
             QStringLiteral("8 requests timed out"));

    // Sorted by any column, on its value rather than its text.
    window.IncidentTable->sortByColumn(ui::IncidentTableModel::Duration, Qt::AscendingOrder);
    QCOMPARE(column(window, ui::IncidentTableModel::Duration),
             (QStringList{"6 s", "8 s", "8 s", "8 s"}));
    window.IncidentTable->sortByColumn(ui::IncidentTableModel::Start, Qt::AscendingOrder);
    QCOMPARE(column(window, ui::IncidentTableModel::Start).first(),
             QStringLiteral("2024-05-03 14:03:17"));

    // Filtered by host; the choices follow what the ledger holds.
    QStringList choices;
    for (int i = 0; i < window.HostFilter->count(); ++i)
        choices << window.HostFilter->itemText(i);
    QCOMPARE(choices, (QStringList{"All hosts", "dns", "gw", "whole network"}));
    window.HostFilter->setCurrentIndex(2);
    QCOMPARE(column(window, ui::IncidentTableModel::Host), (QStringList{"gw", "gw"}));

    // Updates while open: a new outage of gw shows at once, ongoing.
    for (int k = 0; k < 3; ++k)
        fed.both(kLost, kReply.arg("dns").arg(9));
    QCOMPARE(window.IncidentTable->model()->rowCount(), 3);
    QVERIFY(column(window, ui::IncidentTableModel::End).contains(QStringLiteral("ongoing")));
    QVERIFY(
        column(window, ui::IncidentTableModel::Duration).contains(QStringLiteral("5 s so far")));
    fed.time.advance(5000);
    QVERIFY(
        column(window, ui::IncidentTableModel::Duration).contains(QStringLiteral("10 s so far")));

    // The route snapshot of the current row shows below the table.
    fed.monitor->routeTaken(fed.monitor->book().openIncident(0), QStringLiteral("  1:  *  x\r\n"));
    window.HostFilter->setCurrentIndex(0);
    window.IncidentTable->sortByColumn(ui::IncidentTableModel::Start, Qt::DescendingOrder);
    window.IncidentTable->selectRow(0);
    QCOMPARE(window.RouteView->toPlainText(), QStringLiteral("  1:  *  x\n"));

    const QString shots =
        qEnvironmentVariable("TARNWICK_BUILD_DIR") + QStringLiteral("/screenshots");
    QDir().mkpath(shots);
    window.IncidentTable->resizeColumnsToContents();
    window.grab().save(shots + QStringLiteral("/incident_window_offscreen.png"));
}

void TestIncidentWindow::copyAndExport()
{
    Fed fed;
    fed.play();
    QTemporaryDir dir;
    QString csvPath = dir.filePath(QStringLiteral("out.csv"));
    ui::TIncidentWindow::Dependencies deps;
    deps.monitor = fed.monitor.get();
    deps.zone = QTimeZone::utc();
    deps.chooseExportFile = [&csvPath](QWidget*) { return csvPath; };
    ui::TIncidentWindow window(deps);
    window.show();

    // Nothing selected: Copy leaves the clipboard alone.
    QGuiApplication::clipboard()->setText(QStringLiteral("before"));
    window.CopyButton->click();
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("before"));

    // The network's row and the oldest, in the order shown.
    window.IncidentTable->selectRow(rowOf(window, QStringLiteral("whole network")));
    window.IncidentTable->selectionModel()->select(window.IncidentTable->model()->index(3, 0),
                                                   QItemSelectionModel::Select |
                                                       QItemSelectionModel::Rows);
    window.CopyButton->click();
    const QString ticket = QString::fromLocal8Bit(
        QGuiApplication::clipboard()->mimeData()->data(QStringLiteral("text/plain")));
    QCOMPARE(ticket,
             engine::ticketText({*fed.monitor->book().find(4), *fed.monitor->book().find(1)},
                                QTimeZone::utc()));
    const QString shots =
        qEnvironmentVariable("TARNWICK_BUILD_DIR") + QStringLiteral("/screenshots");
    QDir().mkpath(shots);
    QFile saved(shots + QStringLiteral("/ticket_offscreen.txt"));
    if (saved.open(QIODevice::WriteOnly))
        saved.write(ticket.toUtf8());
    QVERIFY(ticket.contains(QStringLiteral("Host:       all monitored hosts (gw, dns)\r\n")));
    QVERIFY(
        ticket.contains(QStringLiteral("Host:       gw\r\nDown from:  2024-05-03 14:03:17\r\n")));
    QCOMPARE(ticket.count(QStringLiteral("Host: ")), 2);

    // Export: every row shown, in the order shown.
    window.HostFilter->setCurrentIndex(window.HostFilter->findText(QStringLiteral("gw")));
    window.ExportButton->click();
    QFile csv(csvPath);
    QVERIFY(csv.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = csv.readAll().split('\n');
    QCOMPARE(lines.size(), 4); // header, two rows, and what follows the last CR LF
    QVERIFY(lines[1].startsWith("host,gw,2024-05-03T14:03:2"));
    QVERIFY(lines[2].startsWith(
        "host,gw,2024-05-03T14:03:17+00:00,2024-05-03T14:03:23+00:00,6,3,0,40,"));

    // A file that cannot be written is reported, not lost in silence.
    QStringList reported;
    setTopLevelErrorReporter([&reported](const QString& m) { reported << m; });
    csvPath = dir.filePath(QStringLiteral("missing/out.csv"));
    window.ExportButton->click();
    setTopLevelErrorReporter(nullptr);
    QCOMPARE(reported.size(), 1);
    QVERIFY(reported[0].startsWith(QStringLiteral("Cannot create file \"")));
}

void TestIncidentWindow::menuKeepsTheChoices()
{
    QCOMPARE(ui::loadAlertChoices(), ui::AlertChoices{});
    bool service = false;
    QList<ui::AlertChoices> changes;
    ui::TAlertsMenu::Dependencies deps;
    deps.initial = ui::loadAlertChoices();
    deps.serviceAvailable = [&service] { return service; };
    deps.changed = [&changes](const ui::AlertChoices& c) {
        changes << c;
        ui::saveAlertChoices(c);
    };
    deps.askThresholds = [](engine::Thresholds) { return engine::Thresholds{5, 4}; };
    ui::TAlertsMenu menu(deps);
    // Off by default; without a service the switch says so.
    QVERIFY(!menu.Notices1->isChecked());
    QCOMPARE(menu.Notices1->text(), ui::TAlertsMenu::kNoServiceText);
    service = true;
    menu.refresh();
    QCOMPARE(menu.Notices1->text(), ui::TAlertsMenu::kNoticesText);

    menu.Notices1->trigger();
    menu.Thresholds1->trigger();
    QCOMPARE(changes.size(), 2);
    const ui::AlertChoices stored = ui::loadAlertChoices();
    QCOMPARE(stored.notices, true);
    QCOMPARE(stored.thresholds, (engine::Thresholds{5, 4}));

    // Values out of range or not numbers in the store.
    platform::RegWriteString(platform::RegistryRoot::CurrentUser, platform::kProductKey,
                             ui::kDownAfterValue, QStringLiteral("900"));
    platform::RegWriteString(platform::RegistryRoot::CurrentUser, platform::kProductKey,
                             ui::kUpAfterValue, QStringLiteral("two"));
    QCOMPARE(ui::loadAlertChoices().thresholds,
             (engine::Thresholds{engine::Thresholds::kMax, engine::Thresholds{}.upAfter}));

    // The dialog holds its spin boxes to the same range.
    ui::TThresholdsDialog dialog;
    dialog.setThresholds({0, 99});
    QCOMPARE(dialog.thresholds(), (engine::Thresholds{1, engine::Thresholds::kMax}));
}

void TestIncidentWindow::theProgramsWindowFeedsTheLedger()
{
    ui::saveAlertChoices({});
    test::ManualTime time;
    auto clock = std::make_shared<ManualMoments>(time);
    test::FormFixture fixture;
    ui::TForm1& form = *fixture.form;
    // Results come from the test, not from workers.
    form.Timer7->stop();
    form.ListBox1->clear();
    form.ListBox1->addItems({QStringLiteral("gw"), QStringLiteral("dns"), QStringLiteral("ntp")});
    {
        app::IncidentServices::Dependencies deps;
        deps.form = &form;
        deps.echo = fixture.echo;
        deps.dataFolder = fixture.dataFolder();
        deps.sessionBus = QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent"),
                                                        QStringLiteral("none"));
        deps.systemBus = deps.sessionBus;
        deps.clock = clock;
        app::IncidentServices services(deps);

        QStringList menus;
        for (QAction* action : form.menuBar()->actions())
            menus << action->text();
        QCOMPARE(menus, (QStringList{"File", "&Alerts", "Help"}));
        QCOMPARE(services.menu().Notices1->text(), ui::TAlertsMenu::kNoServiceText);

        for (int k = 0; k < 3; ++k) {
            time.advance(1000);
            form.recordResult(2, kLost);
        }
        QCOMPARE(form.slotLog(2)->lineCount(), 3);
        const engine::Incident* incident =
            services.monitor().book().find(services.monitor().book().openIncident(2));
        QVERIFY(incident);
        QCOMPARE(incident->host, QStringLiteral("ntp"));

        // A click on a notice shows the window on that host's tab.
        emit services.notices().activated(2);
        QVERIFY(form.isVisible());
        QCOMPARE(form.PageControl1->currentIndex(), 2);

        services.menu().Ledger1->trigger();
        QVERIFY(services.window().isVisible());
        QCOMPARE(services.window().IncidentTable->model()->rowCount(), 1);
    }
    // Ended with the program, and in the file beside the settings.
    platform::LedgerFile file(fixture.file(app::IncidentServices::kLedgerFileName));
    const std::vector<engine::Incident> kept = engine::incidentsFromRecords(file.load().records);
    QCOMPARE(kept.size(), std::size_t(1));
    QCOMPARE(kept[0].end, engine::Incident::End::Stopped);
    QCOMPARE(kept[0].timedOut, 3);
}

QTEST_MAIN(TestIncidentWindow)
#include "tst_incident_window.moc"
