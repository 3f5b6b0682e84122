#include "platform/notifyarea/xembed_icon_window.h"

#include <QCloseEvent>
#include <QCursor>
#include <QEnterEvent>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <QToolTip>
#include <QWindow>
#include <QtGui/qguiapplication_platform.h>

#include <array>
#include <cstdlib>

#include <xcb/xcb.h>

namespace tarnwick::platform {

namespace {

struct ButtonCodes {
    Qt::MouseButton button;
    NotificationCode down;
    NotificationCode up;
    // There is no double click of the other buttons: their second press
    // counts as a press.
    NotificationCode doubled;
};

constexpr std::array<ButtonCodes, 3> kButtons = {{
    {Qt::LeftButton, NotificationCode::LeftDown, NotificationCode::LeftUp,
     NotificationCode::LeftDoubleClick},
    {Qt::RightButton, NotificationCode::RightDown, NotificationCode::RightUp,
     NotificationCode::RightDown},
    {Qt::MiddleButton, NotificationCode::MiddleDown, NotificationCode::MiddleUp,
     NotificationCode::MiddleDown},
}};

} // namespace

XEmbedIconWindow::XEmbedIconWindow(quint32 id, bool argb, Sink sink)
    : m_id(id), m_argb(argb), m_sink(std::move(sink))
{
    m_hoverProof.setSingleShot(true);
    m_hoverProof.setOnTimeout([this] { hoverProven(); });
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::BypassWindowManagerHint |
                   Qt::WindowDoesNotAcceptFocus);
    setAttribute(Qt::WA_AlwaysShowToolTips);
    // Only a tray that advertises an alpha visual composites us; forcing one
    // on any other tray shows a black box.
    setAttribute(Qt::WA_TranslucentBackground, argb);
    setMouseTracking(true);
    // Without a minimum size in WM_NORMAL_HINTS some trays make the icon one
    // pixel wide.
    setMinimumSize(16, 16);
    resize(16, 16);
}

void XEmbedIconWindow::setState(const IconState& state)
{
    m_image = state.image;
    // Trays that relay icons elsewhere show the window's title as the
    // tooltip: it says what the tooltip says, and nothing where there is none.
    setWindowTitle(state.tooltip);
    if (state.tooltip.isEmpty())
        clearNativeTitle();
    if (toolTip() != state.tooltip) {
        setToolTip(state.tooltip);
        // A tooltip on screen follows its text.
        if (QToolTip::isVisible() && underMouse())
            QToolTip::showText(QCursor::pos(), state.tooltip, this);
    }
    update();
}

void XEmbedIconWindow::clearNativeTitle()
{
    // Qt never leaves a window untitled: an empty title becomes the
    // application's name, which a relaying tray would show as a tooltip.
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* c = x11 ? x11->connection() : nullptr;
    if (!c || !windowHandle() || !windowHandle()->handle())
        return;
    const auto window = static_cast<xcb_window_t>(winId());
    const char name[] = "_NET_WM_NAME";
    xcb_intern_atom_reply_t* atom =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, sizeof name - 1, name), nullptr);
    if (atom) {
        xcb_delete_property(c, window, atom->atom);
        free(atom);
    }
    xcb_delete_property(c, window, XCB_ATOM_WM_NAME);
    xcb_flush(c);
}

void XEmbedIconWindow::showEvent(QShowEvent*)
{
    if (windowTitle().isEmpty())
        clearNativeTitle();
    scheduleRegrab();
}

void XEmbedIconWindow::adoptGeometry(int deviceWidth, int deviceHeight)
{
    // X reports device pixels, the widget lives in logical ones; mixing them
    // made the window larger than its socket and clicks missed it.
    const qreal ratio = devicePixelRatioF();
    resize(qMax(1, qRound(deviceWidth / ratio)), qMax(1, qRound(deviceHeight / ratio)));
    m_embedded = true;
}

void XEmbedIconWindow::regrabBackground()
{
    if (m_argb || !m_embedded || !isVisible())
        return;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* c = x11 ? x11->connection() : nullptr;
    if (!c)
        return;
    // ParentRelative makes the server paint the tray's background into the
    // window when cleared; reading it back gives the backdrop.
    xcb_clear_area(c, 0, static_cast<xcb_window_t>(winId()), 0, 0, 0, 0);
    xcb_flush(c);
    if (QScreen* s = screen())
        m_background = s->grabWindow(winId());
    update();
}

void XEmbedIconWindow::scheduleRegrab()
{
    if (m_regrabQueued)
        return;
    m_regrabQueued = true;
    QTimer::singleShot(0, this, [this] {
        m_regrabQueued = false;
        regrabBackground();
        if (placed)
            placed();
    });
}

void XEmbedIconWindow::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    if (m_argb) {
        p.setCompositionMode(QPainter::CompositionMode_Source);
        p.fillRect(rect(), Qt::transparent);
        p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    } else if (!m_background.isNull()) {
        p.drawPixmap(0, 0, m_background);
    } else {
        p.fillRect(rect(), palette().window());
    }
    if (m_image.isNull())
        return;
    // The drawing made for the socket's smaller side (the icon holds one for
    // each size a tray uses), centred: asked for the whole 16 x 22 slot a
    // tray gives, the icon picks its 22 px drawing and shrinks it, blurred.
    const int side = qMin(width(), height());
    const QPixmap pm = m_image.pixmap(QSize(side, side), devicePixelRatioF());
    const QSize s = pm.deviceIndependentSize().toSize();
    p.drawPixmap((width() - s.width()) / 2, (height() - s.height()) / 2, pm);
}

void XEmbedIconWindow::button(Qt::MouseButton which, Press press, QPoint pos)
{
    if (press != Press::Up)
        m_hoverProof.stop();
    for (const ButtonCodes& codes : kButtons) {
        if (codes.button != which)
            continue;
        if (press != Press::Up)
            moveTo(pos);
        send(press == Press::Down ? codes.down
             : press == Press::Up ? codes.up
                                  : codes.doubled,
             pos);
        return;
    }
}

void XEmbedIconWindow::mousePressEvent(QMouseEvent* e)
{
    button(e->button(), Press::Down, e->globalPosition().toPoint());
}

void XEmbedIconWindow::mouseReleaseEvent(QMouseEvent* e)
{
    button(e->button(), Press::Up, e->globalPosition().toPoint());
}

void XEmbedIconWindow::mouseDoubleClickEvent(QMouseEvent* e)
{
    button(e->button(), Press::Double, e->globalPosition().toPoint());
}

void XEmbedIconWindow::mouseMoveEvent(QMouseEvent* e)
{
    // While a button is held X keeps reporting motion outside the window.
    if (!rect().contains(e->position().toPoint()))
        return;
    if (e->buttons() == Qt::NoButton)
        noteHover();
    moveTo(e->globalPosition().toPoint());
}

void XEmbedIconWindow::enterEvent(QEnterEvent* e)
{
    if (QGuiApplication::mouseButtons() == Qt::NoButton)
        noteHover();
    moveTo(e->globalPosition().toPoint());
}

void XEmbedIconWindow::leaveEvent(QEvent*)
{
    m_hasLastMove = false;
    m_hoverProof.stop();
}

void XEmbedIconWindow::closeEvent(QCloseEvent* e)
{
    e->ignore();
}

void XEmbedIconWindow::noteHover()
{
    if (m_hoverSeen || m_relayed || m_hoverProof.isActive())
        return;
    // A tray that forwards only clicks (GNOME's) makes the pointer arrive
    // together with the press: only a stay with no press proves hover.
    m_hoverProof.start(hoverProofMs);
}

void XEmbedIconWindow::hoverProven()
{
    m_hoverProof.stop();
    if (m_hoverSeen || m_relayed)
        return;
    m_hoverSeen = true;
    if (hoverFound)
        hoverFound();
}

void XEmbedIconWindow::send(NotificationCode code, QPoint pos)
{
    if (m_sink)
        m_sink({m_id, code, pos, false});
}

// Qt can deliver an enter and then a press without a move in between; the
// owner relies on a Move announcing each new position, once. A relayed icon
// reports no moves at all: its cursor positions are made up by the relay.
void XEmbedIconWindow::moveTo(QPoint pos)
{
    if (m_relayed || (m_hasLastMove && pos == m_lastMove))
        return;
    m_hasLastMove = true;
    m_lastMove = pos;
    send(NotificationCode::Move, pos);
}

} // namespace tarnwick::platform
