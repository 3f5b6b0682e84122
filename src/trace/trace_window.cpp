#include "trace/trace_window.h"

#include "core/app_error.h"
#include "platform/net/canceller.h"
#include "platform/net/echo.h"
#include "platform/net/resolver.h"
#include "trace/trace_addresses.h"
#include "trace/trace_controls.h"
#include "trace/trace_text.h"
#include "trace/trace_thread.h"

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionButton>

#include <algorithm>
#include <system_error>

namespace tarnwick::trace {

struct TForm3::Lookup {
    std::uint64_t id = 0;
    net::Canceller cancel;
    std::thread thread;
};

namespace {

constexpr int kClientWidth = 468;
constexpr int kClientHeight = 325;

// A push button's caption with the style's margins and frame, without the
// minimum width styles give buttons.
int captionWidth(QPushButton* button)
{
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = button->text();
    const QStyle* style = button->style();
    return button->fontMetrics().horizontalAdvance(button->text()) +
           style->pixelMetric(QStyle::PM_ButtonMargin, &option, button) +
           2 * style->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, button);
}

template <typename T>
T* place(T* widget, const char* name, int left, int top, int width, int height)
{
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(left, top, width, height);
    return widget;
}

} // namespace

TForm3::TForm3(QWidget* mainWindow, Dependencies deps)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                           Qt::WindowCloseButtonHint),
      m_mainWindow(mainWindow), m_echo(std::move(deps.echo)),
      m_showNames(std::make_shared<std::atomic<bool>>(false))
{
    Q_ASSERT(m_echo);
    setObjectName(QStringLiteral("Form3"));
    setWindowTitle(QStringLiteral("TraceRoute"));
    setFixedSize(kClientWidth, kClientHeight);
    buildControls();
}

TForm3::~TForm3()
{
    shutdownTraces();
}

void TForm3::buildControls()
{
    GroupBox1 = place(new QGroupBox(QStringLiteral("Trace"), this), "GroupBox1", 3, 0, 462, 233);
    Label2 = place(new QLabel(QStringLiteral("Max hops"), GroupBox1), "Label2", 8, 17, 46, 13);
    sedCount = place(new TSpinEdit(GroupBox1), "sedCount", 7, 32, 41, 22);
    sedCount->setValue(32);
    Label1 = place(new QLabel(QStringLiteral("Host"), GroupBox1), "Label1", 64, 16, 22, 13);
    edAddr =
        place(new QLineEdit(QStringLiteral("localhost"), GroupBox1), "edAddr", 63, 32, 121, 21);
    btnStart = place(new QPushButton(QStringLiteral("traceroute"), GroupBox1), "btnStart", 195, 30,
                     75, 25);
    CheckBox1 = place(new QCheckBox(QStringLiteral("Get host name from IP"), GroupBox1),
                      "CheckBox1", 332, 40, 124, 17);
    memShowTracert = place(new TTraceMemo(GroupBox1), "memShowTracert", 5, 61, 452, 165);

    GroupBox2 =
        place(new QGroupBox(QStringLiteral("Host name from IP address / IP address from host name"),
                            this),
              "GroupBox2", 4, 234, 461, 91);
    Label3 = place(new QLabel(QStringLiteral("IP address:"), GroupBox2), "Label3", 10, 20, 53, 13);
    Edit1 = place(new QLineEdit(GroupBox2), "Edit1", 8, 35, 121, 21);
    Button1 = place(new QPushButton(QStringLiteral("Get host name from IP"), GroupBox2), "Button1",
                    8, 60, 121, 25);
    Label4 = place(new QLabel(QStringLiteral("Host name:"), GroupBox2), "Label4", 137, 20, 54, 13);
    Edit2 = place(new QLineEdit(GroupBox2), "Edit2", 136, 35, 121, 21);
    Button2 = place(new QPushButton(QStringLiteral("Get IP from host name"), GroupBox2), "Button2",
                    137, 60, 121, 25);

    fitCaptionsToPlaces();

    connect(btnStart, &QPushButton::clicked, this, &TForm3::btnStartClick);
    connect(Button1, &QPushButton::clicked, this, &TForm3::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TForm3::Button2Click);
    connect(CheckBox1, &QCheckBox::toggled, this,
            [flag = m_showNames](bool on) { flag->store(on); });
    edAddr->installEventFilter(this);
}

// The places are fixed, the font is the desktop's: where a caption would be
// cut off in its box, the window's font steps down (not below 7 points) until
// every caption fits. Labels take the size of their text, as captions that
// size themselves.
void TForm3::fitCaptionsToPlaces()
{
    constexpr qreal kSmallestPointSize = 7.0;
    QFont font = QApplication::font(this);
    for (;;) {
        setFont(font);
        bool fits = CheckBox1->sizeHint().width() <= CheckBox1->width();
        for (QPushButton* button : {btnStart, Button1, Button2})
            fits = fits && captionWidth(button) <= button->width();
        if (fits || font.pointSizeF() <= kSmallestPointSize)
            break;
        font.setPointSizeF(std::max(kSmallestPointSize, font.pointSizeF() - 0.5));
    }
    for (QLabel* label : {Label1, Label2, Label3, Label4})
        label->resize(label->sizeHint());
}

bool TForm3::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == edAddr && event->type() == QEvent::KeyPress) {
        const QString text = static_cast<QKeyEvent*>(event)->text();
        if (text == QLatin1String("\r")) {
            edAddrKeyPress(text.front());
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TForm3::edAddrKeyPress(QChar key)
{
    // Enter presses the trace button even while a trace keeps it disabled.
    if (key == QLatin1Char('\r'))
        btnStartClick();
}

void TForm3::setVisible(bool visible)
{
    if (visible && !isVisible())
        centreOverMainWindow();
    // Shown from the main window, it must come up where the user sees it.
    if (visible && isMinimized())
        setWindowState(windowState() & ~Qt::WindowMinimized);
    QWidget::setVisible(visible);
}

void TForm3::centreOverMainWindow()
{
    QRect over;
    if (m_mainWindow)
        over = m_mainWindow->frameGeometry();
    QScreen* screen = m_mainWindow ? m_mainWindow->screen() : QGuiApplication::primaryScreen();
    if (!over.isValid() && screen)
        over = screen->availableGeometry();
    if (!over.isValid())
        return;
    const QSize frame = frameGeometry().size().expandedTo(size());
    QPoint topLeft = over.center() - QPoint(frame.width() / 2, frame.height() / 2);
    if (screen) {
        // Wholly on the screen, title bar first, even over a main window at its edge.
        const QRect area = screen->availableGeometry();
        topLeft.setX(std::clamp(topLeft.x(), area.left(),
                                std::max(area.left(), area.right() + 1 - frame.width())));
        topLeft.setY(std::clamp(topLeft.y(), area.top(),
                                std::max(area.top(), area.bottom() + 1 - frame.height())));
    }
    move(topLeft);
}

void TForm3::btnStartClick()
{
    reportingErrors([this] { startTrace(); });
}

void TForm3::startTrace()
{
    if (m_shutDown)
        return;
    btnStart->setEnabled(false);
    // The earlier trace, if any, writes nothing more and ends at its next probe.
    for (const auto& trace : m_traces)
        trace->stop();
    m_currentTrace = 0;
    memShowTracert->clear();

    const std::uint64_t id = ++m_nextId;
    TraceSink sink;
    sink.context = this;
    sink.append = [this](std::uint64_t traceId, const QString& piece) {
        appendTraceOutput(traceId, piece);
    };
    sink.ended = [this](std::uint64_t traceId) { traceEnded(traceId); };
    auto worker = std::make_unique<TTraceThread>(id, std::move(sink), m_echo, m_showNames,
                                                 edAddr->text(), maxHopsFromText(sedCount->text()));
    try {
        worker->start();
    } catch (const std::system_error& error) {
        btnStart->setEnabled(true);
        throw AppError(QString::fromStdString(net::errnoText(error.code().value())));
    }
    m_currentTrace = id;
    m_traces.push_back(std::move(worker));
}

void TForm3::appendTraceOutput(std::uint64_t traceId, const QString& piece)
{
    if (traceId == m_currentTrace && !m_shutDown)
        memShowTracert->appendPiece(piece);
}

void TForm3::traceEnded(std::uint64_t traceId)
{
    if (traceId == m_currentTrace) {
        m_currentTrace = 0;
        if (!m_shutDown)
            btnStart->setEnabled(true);
    }
    // The worker has reported its end as its last act: joining is immediate.
    const auto it = std::find_if(m_traces.begin(), m_traces.end(),
                                 [traceId](const auto& t) { return t->id() == traceId; });
    if (it != m_traces.end())
        m_traces.erase(it);
}

void TForm3::Button1Click()
{
    const QString text = Edit1->text();
    reportingErrors([&] {
        startLookup(ReverseLookup, [this, text](const net::Canceller& cancel) -> Landing {
            const QString name = ResolveAddressName(text, &cancel);
            return [this, name] { Edit2->setText(name); };
        });
    });
}

void TForm3::Button2Click()
{
    const QString name = Edit2->text();
    reportingErrors([&] {
        startLookup(ForwardLookup, [this, name](const net::Canceller& cancel) -> Landing {
            QString address;
            if (!ResolveHostAddress(name, address, &cancel))
                return {};
            return [this, address] { Edit1->setText(address); };
        });
    });
}

void TForm3::startLookup(LookupKind kind, LookupWork work)
{
    if (m_shutDown)
        return;
    // Only the newest click's answer is written; an older lookup still
    // waiting on a silent name server is let go.
    for (const auto& lookup : m_lookups) {
        if (lookup->id == m_latestLookup[kind])
            lookup->cancel.cancel();
    }
    auto lookup = std::make_unique<Lookup>();
    const std::uint64_t id = ++m_nextId;
    lookup->id = id;
    const net::Canceller* cancel = &lookup->cancel;
    try {
        lookup->thread = std::thread([this, id, kind, cancel, work = std::move(work)] {
            Landing landing;
            try {
                landing = work(*cancel);
            } catch (...) {
                landing = {};
            }
            QMetaObject::invokeMethod(
                this, [this, id, kind, landing] { lookupEnded(id, kind, landing); },
                Qt::QueuedConnection);
        });
    } catch (const std::system_error& error) {
        throw AppError(QString::fromStdString(net::errnoText(error.code().value())));
    }
    m_latestLookup[kind] = id;
    m_lookups.push_back(std::move(lookup));
}

void TForm3::lookupEnded(std::uint64_t lookupId, LookupKind kind, const Landing& landing)
{
    const auto it = std::find_if(m_lookups.begin(), m_lookups.end(),
                                 [lookupId](const auto& l) { return l->id == lookupId; });
    if (it == m_lookups.end())
        return;
    (*it)->thread.join();
    m_lookups.erase(it);
    if (lookupId == m_latestLookup[kind] && !m_shutDown && landing)
        landing();
    emit lookupLanded();
}

void TForm3::shutdownTraces()
{
    m_shutDown = true;
    m_currentTrace = 0;
    for (const auto& trace : m_traces)
        trace->stop();
    for (const auto& lookup : m_lookups)
        lookup->cancel.cancel();
    for (const auto& trace : m_traces)
        trace->join();
    for (const auto& lookup : m_lookups) {
        if (lookup->thread.joinable())
            lookup->thread.join();
    }
    m_traces.clear();
    m_lookups.clear();
}

} // namespace tarnwick::trace
