#include "ui/small_windows.h"

#include "core/product.h"
#include "platform/page_opener.h"

#include <QEvent>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>

#include <algorithm>

namespace tarnwick::ui {

namespace {

// Places are the designed ones; a desktop font larger than the designed one
// only makes a control taller or wider, never cuts its text.
QLabel* label(QWidget* parent, const char* name, const QString& text, const QRect& place,
              Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignTop, bool wrap = false)
{
    auto* l = new QLabel(text, parent);
    l->setObjectName(QLatin1String(name));
    l->setAlignment(alignment);
    l->setWordWrap(wrap);
    QRect fitted = place;
    if (wrap) {
        // Wrapping never breaks a word: a word wider than the place (a web
        // address) widens the label within its parent, then takes a smaller
        // font.
        const int room = std::max(place.width(), parent->width() - 6);
        auto widestWord = [l, &text] {
            int widest = 0;
            for (const QString& word : text.split(QLatin1Char(' '), Qt::SkipEmptyParts))
                widest = std::max(widest, l->fontMetrics().horizontalAdvance(word) + 2);
            return widest;
        };
        while (widestWord() > room && l->font().pointSizeF() > 6) {
            QFont smaller = l->font();
            smaller.setPointSizeF(smaller.pointSizeF() - 0.5);
            l->setFont(smaller);
        }
        const int needed = std::min(room, widestWord());
        if (needed > place.width()) {
            const int grow = needed - place.width();
            fitted.adjust(-grow / 2, 0, grow - grow / 2, 0);
            if (fitted.right() > parent->width() - 4)
                fitted.moveRight(parent->width() - 4);
            if (fitted.left() < 3)
                fitted.moveLeft(3);
        }
        fitted.setHeight(std::max(place.height(), l->heightForWidth(fitted.width())));
    } else {
        const QSize hint = l->sizeHint();
        fitted.setHeight(std::max(place.height(), hint.height()));
        if (hint.width() > place.width()) {
            // Centred text grows to both sides, other text to the right.
            const int grow = hint.width() - place.width();
            if (alignment & Qt::AlignHCenter)
                fitted.adjust(-grow / 2, 0, grow - grow / 2, 0);
            else
                fitted.setWidth(hint.width());
        }
    }
    l->setGeometry(fitted);
    return l;
}

QPushButton* button(QWidget* parent, const char* name, const QString& text, const QRect& place)
{
    auto* b = new QPushButton(text, parent);
    b->setObjectName(QLatin1String(name));
    QRect fitted = place;
    fitted.setWidth(std::max(place.width(), b->sizeHint().width()));
    b->setGeometry(fitted);
    return b;
}

// Dialog border: no minimise or maximise box, not resizable. Modal to its
// window only: the tray icon's window must keep answering meanwhile.
void dialogBorder(QDialog* dialog, const QSize& clientSize)
{
    dialog->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint);
    dialog->setFixedSize(clientSize);
    dialog->setWindowModality(Qt::WindowModal);
}

} // namespace

TAboutBox::TAboutBox(QWidget* mainWindow, platform::PageOpener& pages)
    : QDialog(mainWindow), m_mainWindow(mainWindow), m_pages(pages)
{
    setObjectName(QStringLiteral("AboutBox"));
    setWindowTitle(tr("About..."));
    dialogBorder(this, QSize(183, 195));

    Panel1 = new QFrame(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setGeometry(4, 8, 177, 153);
    Panel1->setFrameShape(QFrame::Panel);
    Panel1->setFrameShadow(QFrame::Sunken);
    Panel1->setLineWidth(2);

    const Qt::Alignment centred = Qt::AlignHCenter | Qt::AlignTop;
    ProductName =
        label(Panel1, "ProductName", tr("Orlvane Auto Tarnwick"), {15, 7, 150, 13}, centred);
    Version = label(Panel1, "Version", tr("Version 1.5"), {15, 31, 150, 13}, centred);
    Copyright = label(Panel1, "Copyright", QString(), {15, 51, 150, 13}, centred);
    Comments = label(Panel1, "Comments", tr("Auto Tarnwick is a small auto ping utility."),
                     {8, 75, 161, 26}, centred, true);
    Label1 = label(Panel1, "Label1", tr("Our website: ") + product::kMakerWebAddress,
                   {37, 123, 97, 28}, centred, true);
    // The link may need more room than designed: keep it inside the panel.
    if (Label1->geometry().bottom() > Panel1->height() - 3)
        Label1->move(Label1->x(), Panel1->height() - 3 - Label1->height());
    QPalette linkPalette = Label1->palette();
    linkPalette.setColor(QPalette::WindowText, Qt::blue);
    Label1->setPalette(linkPalette);
    Label1->setCursor(Qt::PointingHandCursor);
    Label1->installEventFilter(this);

    OKButton = button(this, "OKButton", tr("OK"), {4, 169, 75, 25});
    OKButton->setDefault(true);
    connect(OKButton, &QPushButton::clicked, this, &TAboutBox::OKButtonClick);
}

void TAboutBox::Label1Click()
{
    m_pages.openPage(product::kUtilityPage);
    close();
}

void TAboutBox::OKButtonClick()
{
    accept();
}

bool TAboutBox::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == Label1 && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        Label1Click();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void TAboutBox::showEvent(QShowEvent* event)
{
    if (m_mainWindow) {
        QRect frame = frameGeometry();
        frame.moveCenter(m_mainWindow->frameGeometry().center());
        move(frame.topLeft());
    }
    QDialog::showEvent(event);
}

TMore_Form::TMore_Form(QWidget* parent, platform::PageOpener& pages)
    : QDialog(parent), m_pages(pages)
{
    setObjectName(QStringLiteral("More_Form"));
    setWindowTitle(tr("Error!"));
    dialogBorder(this, QSize(285, 105));

    GroupBox1 = new QGroupBox(tr("The maximum number of hosts!"), this);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    GroupBox1->setGeometry(0, 0, 285, 105);
    Label1 = label(GroupBox1, "Label1", tr("Maximum count of hosts is 5!"), {64, 24, 136, 13});
    Label2 =
        label(GroupBox1, "Label2", tr("If you need more - use Tarnwick Pro"), {48, 40, 180, 13});
    if (Label2->geometry().top() < Label1->geometry().bottom() + 1)
        Label2->move(Label2->x(), Label1->geometry().bottom() + 1);
    BitBtn1 = button(GroupBox1, "BitBtn1", tr("Close"), {3, 77, 75, 25});
    BitBtn2 = button(GroupBox1, "BitBtn2", tr("Download Pro"), {80, 77, 75, 25});
    if (BitBtn2->x() < BitBtn1->geometry().right() + 2)
        BitBtn2->move(BitBtn1->geometry().right() + 2, BitBtn2->y());
    connect(BitBtn1, &QPushButton::clicked, this, &TMore_Form::BitBtn1Click);
    connect(BitBtn2, &QPushButton::clicked, this, &TMore_Form::BitBtn2Click);
}

void TMore_Form::BitBtn1Click()
{
    close();
}

void TMore_Form::BitBtn2Click()
{
    m_pages.openPage(product::kProPageFromLimit);
    close();
}

void TMore_Form::showEvent(QShowEvent* event)
{
    move(kDesignedPosition);
    QDialog::showEvent(event);
}

SmallWindows::~SmallWindows()
{
    // Gone already when the main window went first.
    delete m_moreForm.data();
    delete m_aboutBox.data();
}

void SmallWindows::create(QWidget* mainWindow)
{
    m_aboutBox = new TAboutBox(mainWindow, m_pages);
    m_moreForm = new TMore_Form(mainWindow, m_pages);
}

void SmallWindows::showAbout()
{
    if (!m_aboutBox)
        return;
    if (m_aboutBox->isVisible()) {
        m_aboutBox->raise();
        m_aboutBox->activateWindow();
        return;
    }
    m_aboutBox->exec();
}

void SmallWindows::showHostLimit()
{
    if (m_moreForm)
        m_moreForm->exec();
}

} // namespace tarnwick::ui
