#include "ui/main_window.h"

#include "ui/controls.h"
#include "ui/log_memo.h"
#include "ui/pictures.h"
#include "ui/settings_files.h"
#include "ui/slot_page.h"
#include "ui/stat_label.h"
#include "ui/up_down.h"

#include "core/app_error.h"
#include "platform/atomic_file.h"
#include "engine/monitor_engine.h"
#include "platform/net/echo.h"
#include "platform/page_opener.h"
#include "platform/paths.h"
#include "core/product.h"
#include "platform/user_store.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace tarnwick::ui {

namespace {

constexpr int kSettingsColumnWidth = 185;

const std::array<TSlotPage::Names, engine::kSlotCount> kPageNames = {{
    {"TabSheet1", "Memo1", "Label5", "Label10", "BitBtn9", "BitBtn8", "BitBtn7", "BitBtn6"},
    {"TabSheet2", "Memo2", "Label2", "Label11", "BitBtn10", "BitBtn11", "BitBtn12", "BitBtn23"},
    {"TabSheet3", "Memo3", "Label3", "Label12", "BitBtn13", "BitBtn14", "BitBtn15", "BitBtn24"},
    {"TabSheet4", "Memo4", "Label4", "Label13", "BitBtn16", "BitBtn17", "BitBtn18", "BitBtn25"},
    {"TabSheet5", "Memo5", "Label8", "Label14", "BitBtn19", "BitBtn20", "BitBtn21", "BitBtn26"},
}};

template <typename T>
T* named(T* object, const char* name)
{
    object->setObjectName(QLatin1String(name));
    return object;
}

QPushButton* makeButton(const QString& caption, const char* name, QWidget* parent)
{
    auto* button = named(new QPushButton(caption, parent), name);
    button->setAutoDefault(false);
    return button;
}

} // namespace

TForm1::TForm1(Dependencies deps, QWidget* parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Orlvane Auto Tarnwick  -  ") + product::kMakerWebAddress);
    setWindowIcon(programIcon());
    resize(730, 492);
    m_dataFolder = deps.dataFolder.isEmpty() ? platform::dataFolder() : deps.dataFolder;
    m_executablePath =
        deps.executablePath.isEmpty() ? platform::executablePath() : deps.executablePath;

    std::shared_ptr<net::EchoService> echo = deps.echo;
    if (!echo)
        echo = std::make_shared<net::SystemEchoService>(
            platform::echoHelperPath().toLocal8Bit().toStdString());
    m_engine = std::make_unique<engine::MonitorEngine>(
        [this](int slot, const QString& line) { recordResult(slot, line); }, std::move(echo));
    connect(m_engine.get(), &engine::MonitorEngine::echoNotPermitted, this,
            &TForm1::showEchoNotice);

    buildMenus();
    auto* central = new QWidget(this);
    central->setObjectName(QStringLiteral("CentralArea"));
    PageControl1 = named(new QTabWidget(central), "PageControl1");
    buildPages();
    QWidget* column = buildSettingsColumn();
    column->setParent(central);
    auto* layout = new QHBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(PageControl1, 1);
    layout->addWidget(column, 0);
    setCentralWidget(central);
    buildHiddenControls();
    connectEngineSettings();

    connect(Edit1, &QLineEdit::textChanged, this, &TForm1::Edit1Change);
    connect(Edit1, &TEdit::keyReleased, this, &TForm1::Edit1KeyUp);
    connect(Edit4, &TEdit::keyReleased, this, &TForm1::Edit4KeyUp);
    connect(UpDown1, &TUpDown::mouseReleased, this, &TForm1::UpDown1MouseUp);
    connect(UpDown2, &TUpDown::mouseReleased, this, &TForm1::UpDown2MouseUp);
    connect(CheckBox1, &TCheckBox::mouseReleased, this, &TForm1::CheckBox1MouseUp);
    connectEditingAndLogActions();

    FormCreate();
    buildTimers();
}

TForm1::~TForm1()
{
    shutdownEngine();
    m_engine.reset();
}

void TForm1::shutdownEngine()
{
    if (m_engine)
        m_engine->shutdown();
}

void TForm1::setNoticePresenter(std::function<void(const QString&)> presenter)
{
    m_noticePresenter = std::move(presenter);
}

void TForm1::buildMenus()
{
    File1 = named(menuBar()->addMenu(tr("File")), "File1");
    Exit2 = named(File1->addAction(tr("Exit")), "Exit2");
    connect(Exit2, &QAction::triggered, this, &TForm1::Exit2Click);
    Help2 = named(menuBar()->addMenu(tr("Help")), "Help2");
    About1 = named(Help2->addAction(tr("About...")), "About1");
}

QWidget* TForm1::buildSettingsColumn()
{
    Panel1 = named(new QWidget(this), "Panel1");
    Panel1->setFixedWidth(kSettingsColumnWidth);
    auto* column = new QVBoxLayout(Panel1);
    column->setContentsMargins(4, 4, 4, 4);
    column->setSpacing(3);

    BitBtn27 = makeButton(tr("Need more? Try Tarnwick Pro"), "BitBtn27", Panel1);
    column->addWidget(BitBtn27);

    auto numberRow = [&](const QString& caption, const char* labelName, const char* editName,
                         const char* upDownName, int min, int max, int step, int value,
                         QLabel*& label, TEdit*& edit, TUpDown*& upDown) {
        label = named(new QLabel(caption, Panel1), labelName);
        edit = named(new TEdit(Panel1), editName);
        upDown = named(new TUpDown(Panel1), upDownName);
        upDown->setRange(min, max);
        upDown->setIncrement(step);
        upDown->setPosition(value);
        upDown->setAssociate(edit);
        auto* row = new QHBoxLayout;
        row->setSpacing(0);
        row->addWidget(edit, 1);
        row->addWidget(upDown);
        column->addWidget(label);
        column->addLayout(row);
    };
    numberRow(tr("Size of pakets(bytes)"), "Label7", "Edit5", "UpDown3", 1, 30000, 1, 32, Label7,
              Edit5, UpDown3);
    // Stored with the settings, but never shown.
    Label7->hide();
    Edit5->hide();
    UpDown3->hide();
    numberRow(tr("Timeout(ms)"), "Label6", "Edit4", "UpDown2", 50, 10000, 500, 2000, Label6,
              Edit4, UpDown2);
    numberRow(tr("Delay(ms)"), "Label17", "Edit1", "UpDown1", 200, 5000, 100, 1000, Label17,
              Edit1, UpDown1);

    CheckBox1 = named(new TCheckBox(tr("Auto start with system"), Panel1), "CheckBox1");
    CheckBox1->setChecked(true);
    column->addWidget(CheckBox1);

    ListBox1 = named(new QListWidget(Panel1), "ListBox1");
    ListBox1->setSelectionMode(QAbstractItemView::SingleSelection);
    ListBox1->addItem(product::kDefaultHost);
    column->addWidget(ListBox1, 1);

    BitBtn5 = makeButton(QString(), "BitBtn5", Panel1);
    BitBtn1 = makeButton(tr("Add host"), "BitBtn1", Panel1);
    BitBtn4 = makeButton(QString(), "BitBtn4", Panel1);
    BitBtn5->setFixedWidth(26);
    BitBtn4->setFixedWidth(26);
    BitBtn5->setIcon(moveDownArrow());
    BitBtn4->setIcon(moveUpArrow());
    BitBtn5->setToolTip(tr("Move the selected host down"));
    BitBtn4->setToolTip(tr("Move the selected host up"));
    auto* addRow = new QHBoxLayout;
    addRow->setSpacing(2);
    addRow->addWidget(BitBtn5);
    addRow->addWidget(BitBtn1, 1);
    addRow->addWidget(BitBtn4);
    column->addLayout(addRow);

    BitBtn22 = makeButton(tr("Edit host"), "BitBtn22", Panel1);
    BitBtn2 = makeButton(tr("Delete host"), "BitBtn2", Panel1);
    BitBtn3 = makeButton(tr("Delete All"), "BitBtn3", Panel1);
    column->addWidget(BitBtn22);
    column->addWidget(BitBtn2);
    column->addWidget(BitBtn3);

    Button1 = makeButton(tr("Start"), "Button1", Panel1);
    Button1->setMinimumHeight(32);
    Button1->setIcon(startGlyph());
    Button1->setIconSize(QSize(16, 16));
    connect(Button1, &QPushButton::clicked, this, &TForm1::Button1Click);
    column->addWidget(Button1);
    return Panel1;
}

void TForm1::buildPages()
{
    for (int k = 0; k < engine::kSlotCount; ++k) {
        auto* page = new TSlotPage(k, kPageNames[k], PageControl1);
        m_pages[k] = page;
        PageControl1->addTab(page, tr("Ping"));
    }
    using Handler = void (TForm1::*)();
    const std::array<Handler, engine::kSlotCount> memoHandlers = {
        &TForm1::Memo1DblClick, &TForm1::Memo2DblClick, &TForm1::Memo3DblClick,
        &TForm1::Memo4DblClick, &TForm1::Memo5DblClick};
    for (int k = 0; k < engine::kSlotCount; ++k) {
        connect(m_pages[k]->memo(), &TLogMemo::doubleClicked, this, memoHandlers[k]);
        // All five Trace Route buttons share one handler.
        connect(m_pages[k]->traceButton(), &QPushButton::clicked, this, &TForm1::BitBtn6Click);
    }
    TabSheet1 = m_pages[0];
    TabSheet2 = m_pages[1];
    TabSheet3 = m_pages[2];
    TabSheet4 = m_pages[3];
    TabSheet5 = m_pages[4];
    Memo1 = m_pages[0]->memo();
    Memo2 = m_pages[1]->memo();
    Memo3 = m_pages[2]->memo();
    Memo4 = m_pages[3]->memo();
    Memo5 = m_pages[4]->memo();
}

void TForm1::buildHiddenControls()
{
    // Buffers the window keeps out of sight.
    Memo_2 = named(new QPlainTextEdit(this), "Memo_2");
    buffer_memo = named(new QPlainTextEdit(this), "buffer_memo");
    buffer_memo->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo6 = named(new QPlainTextEdit(this), "Memo6");
    for (QPlainTextEdit* memo : {Memo_2, buffer_memo, Memo6}) {
        memo->document()->setUndoRedoEnabled(false);
        memo->hide();
    }
    // Picture stores: the status pictures and the two Start/Stop glyphs.
    auto image = [this](const char* name, const QIcon& icon) {
        auto* label = named(new QLabel(this), name);
        label->setPixmap(icon.pixmap(16, 16));
        label->hide();
        return label;
    };
    Image1 = image("Image1", statusIcon(engine::StatusPicture::Image1));
    Image2 = image("Image2", statusIcon(engine::StatusPicture::Image2));
    Image4 = image("Image4", statusIcon(engine::StatusPicture::Image4));
    Image5 = image("Image5", statusIcon(engine::StatusPicture::Image5));
    Im1 = image("Im1", stopGlyph());
    Im2 = image("Im2", startGlyph());
}

void TForm1::buildTimers()
{
    auto makeTimer = [this](const char* name, int interval) {
        auto* timer = named(new QTimer(this), name);
        timer->setInterval(interval);
        return timer;
    };
    Timer6 = makeTimer("Timer6", 1000);
    Timer7 = makeTimer("Timer7", 2000);
    Timer_1 = makeTimer("Timer_1", 1000);
    Timer5 = makeTimer("Timer5", 1000);
    connect(Timer6, &QTimer::timeout, this, &TForm1::Timer6Timer);
    connect(Timer7, &QTimer::timeout, this, &TForm1::Timer7Timer);
    connect(Timer_1, &QTimer::timeout, this, &TForm1::Timer_1Timer);
    connect(Timer5, &QTimer::timeout, this, &TForm1::Timer5Timer);
    for (QTimer* timer : {Timer6, Timer7, Timer_1, Timer5})
        timer->start();
}

void TForm1::connectEngineSettings()
{
    // The engine is the context of these connections, so they end with it and
    // no signal of a widget torn down later reaches a destroyed engine.
    engine::MonitorEngine* engine = m_engine.get();
    engine::EngineSettings& settings = engine->settings();
    auto syncHosts = [this, engine] { engine->settings().setHosts(hostList()); };
    QAbstractItemModel* model = ListBox1->model();
    connect(model, &QAbstractItemModel::rowsInserted, engine, syncHosts);
    connect(model, &QAbstractItemModel::rowsRemoved, engine, syncHosts);
    connect(model, &QAbstractItemModel::rowsMoved, engine, syncHosts);
    connect(model, &QAbstractItemModel::dataChanged, engine, syncHosts);
    connect(model, &QAbstractItemModel::modelReset, engine, syncHosts);
    connect(model, &QAbstractItemModel::layoutChanged, engine, syncHosts);
    syncHosts();

    settings.setDelayText(Edit1->text());
    settings.setDelayFallback(UpDown1->position());
    settings.setTimeout(UpDown2->position());
    connect(Edit1, &QLineEdit::textChanged, engine,
            [engine](const QString& text) { engine->settings().setDelayText(text); });
    connect(UpDown1, &TUpDown::positionChanged, engine,
            [engine](int ms) { engine->settings().setDelayFallback(ms); });
    connect(UpDown2, &TUpDown::positionChanged, engine,
            [engine](int ms) { engine->settings().setTimeout(ms); });
}

QStringList TForm1::hostList() const
{
    QStringList hosts;
    hosts.reserve(ListBox1->count());
    for (int i = 0; i < ListBox1->count(); ++i)
        hosts << ListBox1->item(i)->text();
    return hosts;
}

TLogMemo* TForm1::slotLog(int slotIndex) const
{
    return m_pages.at(slotIndex)->memo();
}

TSlotPage* TForm1::slotPage(int slotIndex) const
{
    return m_pages.at(slotIndex);
}

TStatLabel* TForm1::packetLabel(int slotIndex) const
{
    return m_pages.at(slotIndex)->packetLabel();
}

TStatLabel* TForm1::timingLabel(int slotIndex) const
{
    return m_pages.at(slotIndex)->timingLabel();
}

void TForm1::Button1Click()
{
    m_engine->toggleRun();
}

void TForm1::Timer6Timer()
{
    Button1Click();
    Timer6->stop();
}

void TForm1::Timer7Timer()
{
    m_engine->startWorkers();
    Timer7->stop();
}

void TForm1::Exit2Click()
{
    m_exiting = true;
    close();
    QCoreApplication::quit();
}

void TForm1::recordResult(int slotIndex, const QString& line)
{
    if (slotIndex < 0 || slotIndex >= engine::kSlotCount)
        return;
    TLogMemo* log = slotLog(slotIndex);
    log->appendLine(line);
    engine::applyResult(m_stats[slotIndex], line, log->lineCount());
    refreshTabCaptions();
    rewriteStatisticsLabels();
}

void TForm1::resetSlotStatistics(int slotIndex)
{
    engine::resetStats(m_stats.at(slotIndex), UpDown2->position());
}

void TForm1::refreshTabCaptions()
{
    const int n = std::min(ListBox1->count(), engine::kSlotCount);
    for (int k = 0; k < n; ++k)
        PageControl1->setTabText(k, QStringLiteral("Ping ") + ListBox1->item(k)->text());
}

void TForm1::rewriteStatisticsLabels()
{
    const QLocale locale;
    for (int k = 0; k < engine::kSlotCount; ++k) {
        packetLabel(k)->setCaption(engine::packetSummary(m_stats[k], locale));
        timingLabel(k)->setCaption(engine::timingSummary(m_stats[k]));
    }
}

void TForm1::showEchoNotice()
{
    const QString helper = platform::echoHelperPath();
    const QString text =
        tr("Tarnwick cannot send echo requests (ping) on this system, so every host "
           "will show \"Requested Timed out.\".\n\n"
           "To allow it, run once:\n"
           "    sudo setcap cap_net_raw+ep \"%1\"\n"
           "or allow unprivileged ping for all users:\n"
           "    sudo sysctl -w net.ipv4.ping_group_range=\"0 2147483647\"\n"
           "(put that setting in /etc/sysctl.d/ to keep it after a restart).")
            .arg(helper);
    if (m_noticePresenter) {
        m_noticePresenter(text);
        return;
    }
    auto* box = new QMessageBox(QMessageBox::Warning, product::kApplicationTitle, text,
                                QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void TForm1::closeEvent(QCloseEvent* event)
{
    if (m_exiting) {
        event->accept();
        return;
    }
    // Without a notification area to come back from, closing must not leave
    // the program running out of reach: the window is minimised instead.
    event->ignore();
    showMinimized();
}

QString TForm1::settingsFilePath() const
{
    return m_dataFolder + QStringLiteral("/config.cfg");
}

QString TForm1::hostListFilePath() const
{
    return m_dataFolder + QStringLiteral("/domains.cfg");
}

void TForm1::FormCreate()
{
    m_loading = true;
    // Initial statistics: every minimum at -1 (no round trip yet), the packet
    // summaries at zero and the timing summaries empty.
    for (int k = 0; k < engine::kSlotCount; ++k) {
        m_stats[k] = engine::SlotStats{};
        m_stats[k].minimum = -1;
    }
    packetLabel(0)->setCaption(engine::initialPacketSummary());
    for (int k = 1; k < engine::kSlotCount; ++k)
        packetLabel(k)->setCaption(packetLabel(0)->caption());
    for (int k = 0; k < engine::kSlotCount; ++k)
        timingLabel(k)->setCaption(QString());

    loadSettingsFile();
    loadHostListFile();
    m_loading = false;
    firstRunCheck();
}

void TForm1::loadSettingsFile()
{
    QFile file(settingsFilePath());
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QStringList lines = splitLines(decodeText(file.readAll()));
    Memo_2->setPlainText(lines.join(QLatin1Char('\n')));
    // Applied in order; the first line that does not read ends the step.
    const SettingsLines loaded = parseSettingsLines(lines);
    if (!loaded.delay)
        return;
    UpDown1->setPosition(*loaded.delay);
    if (!loaded.autoStart)
        return;
    CheckBox1->setChecked(*loaded.autoStart);
    if (!loaded.timeout)
        return;
    UpDown2->setPosition(*loaded.timeout);
    if (!loaded.packetSize)
        return;
    UpDown3->setPosition(*loaded.packetSize);
}

void TForm1::loadHostListFile()
{
    QFile file(hostListFilePath());
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return;
    ListBox1->clear();
    ListBox1->addItems(splitLines(decodeText(bytes)));
}

void TForm1::firstRunCheck()
{
    QString marker;
    platform::RegReadString(platform::RegistryRoot::CurrentUser, platform::kProductKey,
                            QStringLiteral("fr"), marker);
    if (marker == QStringLiteral("1"))
        return;
    platform::openWebPage(product::kMakerHomePage);
    show();
    platform::RegWriteString(platform::RegistryRoot::CurrentUser, platform::kProductKey,
                             QStringLiteral("fr"), QStringLiteral("1"));
}

void TForm1::SaveSettings()
{
    const QStringList lines = formatSettingsLines(UpDown1->position(), CheckBox1->isChecked(),
                                                  UpDown2->position(), UpDown3->position());
    Memo_2->clear();
    Memo_2->setPlainText(lines.join(QLatin1Char('\n')));
    platform::writeFileAtomically(hostListFilePath(), encodeLines(hostList()));
    platform::writeFileAtomically(settingsFilePath(), encodeLines(lines));
    platform::RegWriteString(platform::RegistryRoot::CurrentUser, platform::kRunKey,
                             QStringLiteral("Orlvane_Tarnwick"),
                             CheckBox1->isChecked() ? m_executablePath : QString());
}

void TForm1::saveFromHandler()
{
    if (m_loading)
        return;
    try {
        SaveSettings();
    } catch (const AppError& error) {
        reportToTopLevel(error.message());
    }
}

void TForm1::Edit1Change() { saveFromHandler(); }
void TForm1::Edit1KeyUp() { saveFromHandler(); }
void TForm1::Edit4KeyUp() { saveFromHandler(); }
void TForm1::UpDown1MouseUp() { saveFromHandler(); }
void TForm1::UpDown2MouseUp() { saveFromHandler(); }
void TForm1::CheckBox1MouseUp() { saveFromHandler(); }

std::array<engine::NewestLines, engine::kSlotCount> TForm1::newestLines() const
{
    std::array<engine::NewestLines, engine::kSlotCount> lines;
    for (int k = 0; k < engine::kSlotCount; ++k)
        lines[k] = {slotLog(k)->lineFromEnd(0), slotLog(k)->lineFromEnd(1)};
    return lines;
}

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
        const QIcon icon = statusIcon(m_statusPicture);
        // Until the notification area shows it, the window carries it.
        setWindowIcon(icon);
        emit statusIconChosen(icon);
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
}

QString TForm1::resultsSummaryText() const
{
    QString text;
    for (const QString& line : m_summary)
        text += line + QStringLiteral("\r\n");
    return text;
}

} // namespace tarnwick::ui
