#include "ui/main_window.h"

#include "core/product.h"
#include "core/timer_backend.h"
#include "engine/monitor_engine.h"
#include "platform/net/echo.h"
#include "settings/settings_store.h"
#include "tray/tray_icon.h"
#include "ui/controls.h"
#include "ui/log_memo.h"
#include "ui/pictures.h"
#include "ui/settings_column.h"
#include "ui/slot_page.h"
#include "ui/stat_label.h"
#include "ui/up_down.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QWindow>

namespace tarnwick::ui {

namespace {

const std::array<TSlotPage::Names, engine::kSlotCount> kPageNames = {{
    {"TabSheet1", "Memo1", "Label5", "Label10", "BitBtn9", "BitBtn8", "BitBtn7", "BitBtn6"},
    {"TabSheet2", "Memo2", "Label2", "Label11", "BitBtn10", "BitBtn11", "BitBtn12", "BitBtn23"},
    {"TabSheet3", "Memo3", "Label3", "Label12", "BitBtn13", "BitBtn14", "BitBtn15", "BitBtn24"},
    {"TabSheet4", "Memo4", "Label4", "Label13", "BitBtn16", "BitBtn17", "BitBtn18", "BitBtn25"},
    {"TabSheet5", "Memo5", "Label8", "Label14", "BitBtn19", "BitBtn20", "BitBtn21", "BitBtn26"},
}};

// A longer entry is no host name, and the tab shows a few words of it at
// most; a 100 MB entry made the caption cost a core.
constexpr int kCaptionHostChars = 255;

template <typename T> T* named(T* object, const char* name)
{
    object->setObjectName(QLatin1String(name));
    return object;
}

} // namespace

TForm1::TForm1(Dependencies deps, QWidget* parent)
    : QMainWindow(parent), m_engine(deps.engine), m_writeLog(std::move(deps.writeLog)),
      m_presentNotice(std::move(deps.presentNotice)), m_traceLauncher(*deps.traceLauncher),
      m_pageOpener(*deps.pages), m_smallWindows(*deps.smallWindows),
      m_trayIconShown(std::move(deps.trayIconShown)), m_store(*deps.store),
      m_echoNoticeText(std::move(deps.echoNotice))
{
    Q_ASSERT(m_engine && m_writeLog && m_presentNotice && m_trayIconShown && m_echoNoticeText);
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Orlvane Auto Tarnwick  -  ") + product::kMakerWebAddress);
    setWindowIcon(programIcon());
    resize(730, 492);
    connect(m_engine, &engine::MonitorEngine::echoNotPermitted, this, &TForm1::showEchoNotice);

    buildMenus();
    TrayIcon1 = new tray::TTrayIcon(*deps.desktop, this);
    TrayIcon1->setObjectName(QStringLiteral("TrayIcon1"));
    TrayIcon1->setIcon(programIcon());
    TrayIcon1->setHint(product::kApplicationTitle);
    TrayIcon1->Loaded();
    auto* central = new QWidget(this);
    central->setObjectName(QStringLiteral("CentralArea"));
    PageControl1 = named(new QTabWidget(central), "PageControl1");
    buildPages();
    auto* column = new TSettingsColumn(*this, central);
    Panel1 = column;
    connect(Button1, &QPushButton::clicked, this, &TForm1::Button1Click);
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
    for (auto& timer : m_timers)
        timer.reset();
    shutdownEngine();
    // The engine outlives the window: its widgets, torn down from here on,
    // must not tell it anything (a list box going empties its model).
    for (QObject* sender : {static_cast<QObject*>(ListBox1->model()), static_cast<QObject*>(Edit1),
                            static_cast<QObject*>(UpDown1), static_cast<QObject*>(UpDown2)})
        sender->disconnect(m_engine);
    m_engine->disconnect(this);
    waitForSaves();
}

void TForm1::shutdownEngine()
{
    m_engine->shutdown();
}

void TForm1::buildMenus()
{
    File1 = named(menuBar()->addMenu(tr("File")), "File1");
    Exit2 = named(File1->addAction(tr("Exit")), "Exit2");
    connect(Exit2, &QAction::triggered, this, &TForm1::Exit2Click);
    Help2 = named(menuBar()->addMenu(tr("Help")), "Help2");
    About1 = named(Help2->addAction(tr("About...")), "About1");
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
    // Never shown, so its lines need no wrapping to a width.
    Memo6->setLineWrapMode(QPlainTextEdit::NoWrap);
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
    const std::array<std::pair<int, void (TForm1::*)()>, 4> timers = {{
        {1000, &TForm1::Timer6Timer},
        {2000, &TForm1::Timer7Timer},
        {1000, &TForm1::Timer_1Timer},
        {1000, &TForm1::Timer5Timer},
    }};
    for (std::size_t i = 0; i < timers.size(); ++i) {
        const auto handler = timers[i].second;
        m_timers[i] = std::make_unique<core::Timer>([this, handler] { (this->*handler)(); });
        m_timers[i]->setInterval(timers[i].first);
        m_timers[i]->start();
    }
    Timer6 = m_timers[0].get();
    Timer7 = m_timers[1].get();
    Timer_1 = m_timers[2].get();
    Timer5 = m_timers[3].get();
}

void TForm1::connectEngineSettings()
{
    // The engine is the context of these connections, so they end with it;
    // the window ends them itself before its widgets go.
    engine::MonitorEngine* engine = m_engine;
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
    closeMainWindow();
}

void TForm1::closeMainWindow()
{
    m_exiting = true;
    close();
    // Not quit(): that asks every window again, and the tray's icon window
    // refuses, so the program would go on running without its window.
    QCoreApplication::exit(0);
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
    emit resultRecorded(slotIndex, line);
}

void TForm1::resetSlotStatistics(int slotIndex)
{
    engine::resetStats(m_stats.at(slotIndex), UpDown2->position());
}

void TForm1::refreshTabCaptions()
{
    const int n = std::min(ListBox1->count(), engine::kSlotCount);
    for (int k = 0; k < n; ++k) {
        // Setting a caption lays the tab bar out again, even an unchanged one.
        const QString caption =
            QStringLiteral("Ping ") + ListBox1->item(k)->text().left(kCaptionHostChars);
        if (PageControl1->tabText(k) != caption)
            PageControl1->setTabText(k, caption);
    }
}

void TForm1::rewriteStatisticsLabels()
{
    // A label whose figures have not changed since it was last written would
    // get the same text again; only the others are formatted and set.
    const QLocale locale;
    for (int k = 0; k < engine::kSlotCount; ++k) {
        if (m_shownStats[k] == m_stats[k])
            continue;
        m_shownStats[k] = m_stats[k];
        packetLabel(k)->setCaption(engine::packetSummary(m_stats[k], locale));
        timingLabel(k)->setCaption(engine::timingSummary(m_stats[k]));
    }
}

void TForm1::closeEvent(QCloseEvent* event)
{
    if (m_exiting) {
        event->accept();
        return;
    }
    // The close box hides the window while its icon is in a notification
    // area, and monitoring goes on. Without one, the program must not run
    // out of reach: the window is minimised instead.
    event->ignore();
    if (m_trayIconShown())
        hide();
    else
        showMinimized();
}

void TForm1::setVisible(bool visible)
{
    if (!visible && isVisible()) {
        // A window manager places an unmapped window anew when it is mapped
        // again, unless the program asks for a position. The inside's position
        // is kept and given back as such: the frame's offset is not known
        // while the window is unmapped, so a frame position would come back
        // shifted by it.
        m_hiddenAt = geometry().topLeft();
        m_hiddenMinimized = isMinimized();
    } else if (visible && !isVisible()) {
        if (m_hiddenAt) {
            // Also when Qt believes the window is there already: only a
            // position set on the native window reaches the manager.
            const QRect place(*m_hiddenAt, size());
            setGeometry(place);
            if (QWindow* window = windowHandle())
                window->setGeometry(place);
        }
        // Hidden while minimised, it would come back as a taskbar entry only.
        if (m_hiddenMinimized && isMinimized())
            setWindowState(windowState() & ~Qt::WindowMinimized);
        m_hiddenMinimized = false;
    }
    QMainWindow::setVisible(visible);
}

void TForm1::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    if (event->type() != QEvent::ActivationChange || !isActiveWindow())
        return;
    // Shown from the tray while its dialog is up, the window is activated by
    // the window manager once mapped, after the dialog was brought forward;
    // the dialog is what takes the keyboard.
    QWidget* modal = QApplication::activeModalWidget();
    if (modal && modal != this && modal->isVisible() && modal->parentWidget() &&
        modal->parentWidget()->window() == this) {
        QPointer<QWidget> target(modal);
        QTimer::singleShot(0, this, [target] {
            if (target && target->isVisible()) {
                target->raise();
                target->activateWindow();
            }
        });
    }
}

std::array<engine::NewestLines, engine::kSlotCount> TForm1::newestLines() const
{
    std::array<engine::NewestLines, engine::kSlotCount> lines;
    for (int k = 0; k < engine::kSlotCount; ++k)
        lines[k] = {slotLog(k)->lineFromEnd(0), slotLog(k)->lineFromEnd(1)};
    return lines;
}

} // namespace tarnwick::ui
