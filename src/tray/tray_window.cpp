#include "tray/tray_window.h"

#include "tray/hint_window.h"
#include "tray/popup_menu.h"
#include "tray/text_tray_icon.h"

#include <QAction>
#include <QGuiApplication>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>

namespace tarnwick::tray {

namespace {
const QColor plainHintColor(254, 253, 216);
constexpr int plainHintPointSize = 10;

template <typename T> T* named(T* object, const char* name)
{
    object->setObjectName(QLatin1String(name));
    return object;
}

QScreen* screenUnder(QPoint pos)
{
    QScreen* screen = QGuiApplication::screenAt(pos);
    return screen ? screen : QGuiApplication::primaryScreen();
}
} // namespace

TTimer::TTimer(QObject* owner) : QObject(owner)
{
    m_timer.setOnTimeout([this] {
        if (m_onTimer)
            m_onTimer(this);
    });
}

void TTimer::setEnabled(bool enabled)
{
    m_enabled = enabled;
    apply();
}

void TTimer::setInterval(int ms)
{
    m_timer.setInterval(ms);
    apply();
}

void TTimer::apply()
{
    if (m_enabled && m_timer.interval() > 0)
        m_timer.start();
    else
        m_timer.stop();
}

TForm2::TForm2(MainWindowLink link, QWidget* parent) : QWidget(parent), m_link(std::move(link))
{
    setObjectName(QStringLiteral("Form2"));
    createComponents();
    loadTextTrayIcon();
    FormCreate();
}

TForm2::~TForm2()
{
    FormDestroy();
    // Gone before the window it hooks, while its handlers' target is whole.
    delete TextTrayIcon1;
    TextTrayIcon1 = nullptr;
}

QIcon TForm2::formIcon()
{
    QPixmap pixmap(TTextTrayIcon::iconSize, TTextTrayIcon::iconSize);
    pixmap.fill(clWhite);
    QPainter p(&pixmap);
    p.setPen(clNavy);
    p.drawRect(0, 0, TTextTrayIcon::iconSize - 1, TTextTrayIcon::iconSize - 1);
    p.end();
    return QIcon(pixmap);
}

void TForm2::createComponents()
{
    PopupMenu1 = named(new TPopupMenu(this), "PopupMenu1");
    PopupMenu1->setAutoPopup(true);
    Showmainwindow1 = named(PopupMenu1->addAction(tr("Show main window")), "Showmainwindow1");
    Help1 = named(PopupMenu1->addAction(tr("Help")), "Help1");
    About1 = named(PopupMenu1->addAction(tr("About...")), "About1");
    N1 = named(PopupMenu1->addSeparator(), "N1");
    Exit1 = named(PopupMenu1->addAction(tr("E&xit")), "Exit1");
    connect(Showmainwindow1, &QAction::triggered, this, [this] { Showmainwindow1Click(); });
    connect(Help1, &QAction::triggered, this, [this] { Help1Click(); });
    connect(About1, &QAction::triggered, this, [this] { About1Click(); });
    connect(Exit1, &QAction::triggered, this, [this] { Exit1Click(); });

    Button1 = named(new QPushButton(tr("E&xit"), this), "Button1");
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });

    Timer1 = named(new TTimer(this), "Timer1");
    Timer1->setOnTimer([this](QObject* sender) { Timer1Timer(sender); });
    Timer2 = named(new TTimer(this), "Timer2");
    Timer2->setOnTimer([this](QObject* sender) { Timer2Timer(sender); });
}

void TForm2::loadTextTrayIcon()
{
    TextTrayIcon1 = named(new TTextTrayIcon(this), "TextTrayIcon1");
    TTextTrayIcon* icon = TextTrayIcon1;
    // In the order a form file sets them: the icon goes into the area with
    // its stored picture, and the text painting replaces that at once.
    icon->setCycleInterval(0);
    icon->setShowHint(false);
    icon->setIcon(formIcon());
    icon->setIconVisible(true);
    icon->setIconIndex(0);
    icon->setPopupMenu(PopupMenu1);
    icon->setWantEnterExitEvents(true);
    icon->setOnClick([this](QObject* sender) { TextTrayIcon1Click(sender); });
    icon->setOnMouseMove([this](QObject* sender, TShiftState shift, int x, int y) {
        TextTrayIcon1MouseMove(sender, shift, x, y);
    });
    icon->setOnMouseEnter([this](QObject* sender) { TextTrayIcon1MouseEnter(sender); });
    icon->setOnMouseExit([this](QObject* sender) { TextTrayIcon1MouseExit(sender); });
    icon->setText(QStringLiteral("OO"));
    // The character set of the design becomes whatever the desktop's font
    // matching gives; a missing Tahoma falls back to a sans-serif face.
    TFont font;
    font.font = QFont(QStringLiteral("Tahoma"));
    font.font.setStyleHint(QFont::SansSerif);
    font.font.setPixelSize(24);
    font.color = clNavy;
    icon->setFont(font);
    icon->setColor(clWhite);
    icon->setBorder(true);
    icon->Loaded();

    connect(icon, &TTrayIcon::hoverReportedChanged, this, [this](bool reported) {
        if (!reported)
            resultsSummaryChanged();
    });
}

void TForm2::FormCreate()
{
    if (m_link.statusIconImage1)
        TextTrayIcon1->setIcon(m_link.statusIconImage1());

    PlainHint = named(new THintWindow(this), "PlainHint");
    PlainHint->setColor(plainHintColor);
    QFont hintFont = PlainHint->font();
    hintFont.setPointSize(plainHintPointSize);
    PlainHint->setFont(hintFont);

    TiledHint = named(new TTiledHintWindow(this), "TiledHint");
    TiledHint->setFontColor(clWhite);

    Timer1->setInterval(hintPauseMs);
    Timer2->setInterval(hintHidePauseMs);
    ActiveHint = PlainHint;
}

void TForm2::FormDestroy()
{
    ActiveHint = nullptr;
    delete PlainHint;
    PlainHint = nullptr;
    delete TiledHint;
    TiledHint = nullptr;
}

void TForm2::resultsSummaryChanged()
{
    if (!TextTrayIcon1 || TextTrayIcon1->hoverReported() || !m_link.resultsSummaryText)
        return;
    TextTrayIcon1->setAreaTooltip(THintWindow::displayText(m_link.resultsSummaryText()));
}

void TForm2::TextTrayIcon1MouseMove(QObject*, TShiftState, int x, int y)
{
    CursorPos = QPoint(x, y);
}

void TForm2::TextTrayIcon1MouseEnter(QObject*)
{
    if (!Timer1->enabled())
        Timer1->setEnabled(true);
}

void TForm2::Timer1Timer(QObject*)
{
    HintText = m_link.resultsSummaryText ? m_link.resultsSummaryText() : QString();
    Timer1->setEnabled(false);
    if (CursorPos != ShownPos) {
        if (!Timer2->enabled()) {
            QScreen* screen = screenUnder(CursorPos);
            const QRect screenRect = screen ? screen->geometry() : QRect();
            const QRect work = screen ? screen->availableGeometry() : QRect();
            const QRect size = ActiveHint->CalcHintRect(screenRect.width(), HintText);
            ActiveHint->ActivateHint(placeHint(CursorPos, size.size(), work), HintText);
        }
        ShownPos = CursorPos;
    }
    Timer2->setEnabled(true);
}

void TForm2::Timer2Timer(QObject*)
{
    ActiveHint->hide();
    Timer2->setEnabled(false);
}

void TForm2::TextTrayIcon1MouseExit(QObject*)
{
    ActiveHint->hide();
    Timer1->setEnabled(false);
    Timer2->setEnabled(false);
    Timer1->setInterval(hintPauseMs);
    Timer2->setInterval(laterHintHidePauseMs);
}

void TForm2::TextTrayIcon1Click(QObject*)
{
    Showmainwindow1Click();
}

void TForm2::Showmainwindow1Click()
{
    // Showing a visible window changes nothing, not even its minimised state.
    if (m_link.mainWindowVisible && m_link.mainWindowVisible())
        return;
    if (m_link.showMainWindow)
        m_link.showMainWindow();
}

void TForm2::Help1Click()
{
    if (m_link.openHelp)
        m_link.openHelp();
}

void TForm2::About1Click()
{
    if (m_link.about)
        m_link.about();
}

void TForm2::Exit1Click()
{
    if (m_link.closeMainWindow)
        m_link.closeMainWindow();
}

void TForm2::Button1Click()
{
    Exit1Click();
}

} // namespace tarnwick::tray
