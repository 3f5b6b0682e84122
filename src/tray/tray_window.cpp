#include "tray/tray_window.h"

#include "tray/hint_window.h"
#include "tray/popup_menu.h"
#include "tray/text_tray_icon.h"

#include <QAction>
#include <QApplication>
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

TForm2::TForm2(MainWindowLink link, const TDesktopSource& desktop, QWidget* parent)
    : QWidget(parent), m_link(std::move(link))
{
    setObjectName(QStringLiteral("Form2"));
    createComponents();
    loadTextTrayIcon(desktop);
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

void TForm2::loadTextTrayIcon(const TDesktopSource& desktop)
{
    TextTrayIcon1 = named(new TTextTrayIcon(desktop, this), "TextTrayIcon1");
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
    icon->setOnMouseDown([this](QObject* sender, TMouseButton button, TShiftState shift, int x,
                                int y) { TextTrayIcon1MouseDown(sender, button, shift, x, y); });
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

    // The summary's routes open and close with hover.
    connect(icon, &TTrayIcon::hoverReportedChanged, this, [this] { resultsSummaryChanged(); });
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

    // The hint never lies over the menu; the menu shows the newest summary.
    connect(PopupMenu1, &QMenu::aboutToShow, this, [this] {
        endHover();
        updateMenuSummary();
    });
    updateMenuSummary();
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
    updateMenuSummary();
    if (!TextTrayIcon1 || TextTrayIcon1->hoverReported() || !m_link.resultsSummaryText)
        return;
    TextTrayIcon1->setAreaTooltip(THintWindow::displayText(m_link.resultsSummaryText()));
}

QStringList TForm2::menuSummaryLines() const
{
    QStringList lines;
    for (const QAction* item : m_summaryItems)
        lines << item->text().replace(QLatin1String("&&"), QLatin1String("&"));
    return lines;
}

void TForm2::updateMenuSummary()
{
    // Some areas show neither our hint nor a tooltip (GNOME's extension):
    // where hover is not reported, the summary heads the menu, as lines that
    // cannot be chosen, so it is one right click away.
    const bool wanted =
        TextTrayIcon1 && !TextTrayIcon1->hoverReported() && m_link.resultsSummaryText;
    QStringList lines;
    if (wanted) {
        lines = m_link.resultsSummaryText().split(QLatin1String("\r\n"));
        // The line break after the last line ends it; it starts none.
        if (!lines.isEmpty() && lines.last().isEmpty())
            lines.removeLast();
    }
    if (lines.size() != m_summaryItems.size()) {
        qDeleteAll(m_summaryItems);
        m_summaryItems.clear();
        delete m_summarySeparator;
        m_summarySeparator = nullptr;
        if (lines.isEmpty())
            return;
        QAction* first = PopupMenu1->actions().value(0);
        for (qsizetype i = 0; i < lines.size(); ++i) {
            auto* item = new QAction(PopupMenu1);
            item->setEnabled(false);
            PopupMenu1->insertAction(first, item);
            m_summaryItems << item;
        }
        m_summarySeparator = new QAction(PopupMenu1);
        m_summarySeparator->setSeparator(true);
        PopupMenu1->insertAction(first, m_summarySeparator);
    }
    for (qsizetype i = 0; i < lines.size(); ++i) {
        // Shown as they are: no mnemonic, no shortcut column.
        QString text = lines.at(i);
        text.replace(QLatin1Char('&'), QLatin1String("&&"))
            .replace(QLatin1Char('\t'), QLatin1Char(' '));
        m_summaryItems.at(i)->setText(text);
    }
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
    // Nothing over an open menu.
    if (PopupMenu1->isVisible())
        return;
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

void TForm2::TextTrayIcon1MouseDown(QObject*, TMouseButton, TShiftState, int, int)
{
    // A press right after the cursor arrived was a click, not a rest on the
    // icon: no hint flashes up, and one on screen goes.
    endHover();
}

void TForm2::endHover()
{
    ActiveHint->hide();
    Timer1->setEnabled(false);
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
    const bool visible = m_link.mainWindowVisible && m_link.mainWindowVisible();
    if (!visible && m_link.showMainWindow)
        m_link.showMainWindow();
    // A dialog waiting for an answer comes to the front, above the window it
    // belongs to: it is what the user has to deal with first.
    if (QWidget* modal = QApplication::activeModalWidget()) {
        modal->raise();
        modal->activateWindow();
    }
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
