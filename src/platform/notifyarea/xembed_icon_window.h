#pragma once

#include "core/timer_backend.h"
#include "platform/notifyarea/notify_area.h"

#include <QIcon>
#include <QPixmap>
#include <QWidget>

#include <functional>

namespace tarnwick::platform {

// One docked icon: a small window the tray embeds. Mouse traffic becomes
// notifications with screen positions; the picture is drawn over what the
// tray shows behind the socket (or over nothing, in an alpha visual).
class XEmbedIconWindow : public QWidget {
public:
    using Sink = std::function<void(const Notification&)>;

    static constexpr int hoverProofMs = 100;

    XEmbedIconWindow(quint32 id, bool argb, Sink sink);

    quint32 id() const { return m_id; }
    bool isEmbedded() const { return m_embedded; }
    // The tray let go of the window (it is back on the root).
    void unembed() { m_embedded = false; }
    // Whether the cursor was seen over the icon with no button held, and
    // stayed hoverProofMs with no press: the one proof that this tray reports
    // hover (a forwarded click brings the pointer's arrival with it).
    bool hoverSeen() const { return m_hoverSeen; }
    // The icon sits in a container that relays it elsewhere: what reaches it
    // is made up, so nothing counts as hover.
    void setRelayed(bool relayed) { m_relayed = relayed; }
    bool isRelayed() const { return m_relayed; }

    void setState(const IconState& state);
    // The size the tray gave the socket, in device pixels.
    void adoptGeometry(int deviceWidth, int deviceHeight);
    // Reads the tray's backdrop again (after a move, a resize, or when the
    // tray moved the socket).
    void scheduleRegrab();
    // Called once the window is placed or its backdrop re-read.
    std::function<void()> placed;
    // Called the first time hover is seen.
    std::function<void()> hoverFound;

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void enterEvent(QEnterEvent* e) override;
    void leaveEvent(QEvent*) override;
    void resizeEvent(QResizeEvent*) override { scheduleRegrab(); }
    void moveEvent(QMoveEvent*) override { scheduleRegrab(); }
    void showEvent(QShowEvent*) override;
    // The icon goes only when its owner removes it.
    void closeEvent(QCloseEvent* e) override;

private:
    enum class Press { Down, Up, Double };
    void button(Qt::MouseButton which, Press press, QPoint pos);
    void send(NotificationCode code, QPoint pos);
    void moveTo(QPoint pos);
    void noteHover();
    void hoverProven();
    void regrabBackground();
    // Takes away the name Qt gives an untitled window.
    void clearNativeTitle();

    const quint32 m_id;
    const bool m_argb;
    Sink m_sink;
    bool m_embedded = false;
    bool m_relayed = false;
    bool m_hoverSeen = false;
    bool m_regrabQueued = false;
    bool m_hasLastMove = false;
    QPoint m_lastMove;
    QIcon m_image;
    QPixmap m_background;
    core::Timer m_hoverProof;
};

} // namespace tarnwick::platform
