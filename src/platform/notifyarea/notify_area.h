#pragma once

#include <QFlags>
#include <QIcon>
#include <QLoggingCategory>
#include <QObject>
#include <QPoint>
#include <QRect>
#include <QString>

class QMenu;

namespace tarnwick::platform {

// Which area is used and why (QT_LOGGING_RULES="tarnwick.notifyarea.debug=true").
Q_DECLARE_LOGGING_CATEGORY(lcNotifyArea)

// What an icon shows. The backend scales the image to the size the area gives
// and centres it; the tooltip is shown as it is (the owner cuts what it must).
struct IconState {
    QIcon image;
    QString tooltip;
};

// Longest tooltip, in UTF-16 units, any backend shows.
inline constexpr int maxTooltipLength = 127;

// Cuts text to maxTooltipLength UTF-16 units without leaving half a surrogate
// pair at the end.
QString clampTooltip(const QString& text);

enum class NotificationCode {
    LeftDown,
    LeftUp,
    LeftDoubleClick,
    RightDown,
    RightUp,
    MiddleDown,
    MiddleUp,
    Move,
    BalloonShow,
    BalloonHide,
    BalloonTimeout,
    BalloonClick,
};

const char* notificationCodeName(NotificationCode code);

// One piece of mouse (or balloon) traffic for one icon. pos is in logical
// screen pixels, the unit of QCursor::pos(). synthesized is set when the area
// did not report a position and the backend read the cursor instead.
struct Notification {
    quint32 iconId = 0;
    NotificationCode code = NotificationCode::Move;
    QPoint pos;
    bool synthesized = false;
};

enum class Capability {
    ButtonUpDown = 0x01,  // real button-down and button-up, not made up from clicks
    DoubleClick = 0x02,   // double clicks are reported
    Motion = 0x04,        // Move notifications while the cursor is over the icon
    ExactPosition = 0x08, // positions come from the event, not from a later cursor read
    Geometry = 0x10,      // iconGeometry() knows where the icon is
    HostMenu = 0x20,      // the area shows the menu given with setMenu() itself
};
Q_DECLARE_FLAGS(Capabilities, Capability)
Q_DECLARE_OPERATORS_FOR_FLAGS(Capabilities)

// The desktop's notification area. Every request reports success and fails
// quietly; the owner decides whether it cares.
//
// Contract shared by all backends:
// - add() fails when there is no area or the id is in use;
// - after areaLost() or areaRestarted() every id is forgotten, and the owner
//   adds its icons again with their current state;
// - where Motion is reported, a Move comes before a button notification at
//   a new position;
// - a double click arrives as LeftDown, LeftUp, LeftDoubleClick, LeftUp;
// - nothing on the notification path blocks on another process.
class NotifyArea : public QObject {
    Q_OBJECT
public:
    explicit NotifyArea(QObject* parent = nullptr);
    ~NotifyArea() override;

    virtual bool add(quint32 id, const IconState& state) = 0;
    virtual bool modify(quint32 id, const IconState& state) = 0;
    virtual bool remove(quint32 id) = 0;
    // Whether the icon id is in the area now.
    virtual bool hasIcon(quint32 id) const = 0;
    // The owner's protocol version for an icon. No backend changes anything
    // for it; it succeeds for a known icon.
    virtual bool setVersion(quint32 id, int version);
    // Only HostMenu backends take a menu; the others return false.
    virtual bool setMenu(quint32 id, QMenu* menu);
    // Screen rectangle of the icon in logical pixels, empty when unknown.
    virtual QRect iconGeometry(quint32 id) const;
    // Whether the area is known to show the icon now: seen embedded, or
    // registered with a host that is on the bus. Being asked to show it is
    // not enough; the owner hides its window only on this answer.
    virtual bool iconShown(quint32 id) const;
    // Whether an area that is there holds the icon and has not shown it yet
    // (an X11 tray that has not embedded it): its answer may still come.
    virtual bool iconAwaited(quint32 id) const;
    // Takes every icon out of this area (another one shows them now).
    virtual void removeAll() {}
    // The area passes icons on to another host and is not where they show
    // (an X11 tray that relays to a bus host): a direct route is better.
    virtual bool relays() const { return false; }

    virtual bool isAvailable() const = 0;
    virtual Capabilities capabilities() const = 0;
    virtual QString name() const = 0;

signals:
    void notification(const tarnwick::platform::Notification& n);
    // Every icon is gone with the area that showed it.
    void areaLost();
    // A new area is ready; icons must be added again.
    void areaRestarted();
    void availabilityChanged(bool available);
    // The area placed, moved or resized an icon.
    void iconGeometryChanged(quint32 id, const QRect& geometry);
    // What the area can report changed (hover is found out while running).
    void capabilitiesChanged();
    // iconShown(id) may have changed; id 0 stands for every icon.
    void iconShownChanged(quint32 id);

protected:
    // Emits availabilityChanged when the value really changes.
    void updateAvailability(bool available);

private:
    bool m_lastAvailable = false;
};

} // namespace tarnwick::platform

Q_DECLARE_METATYPE(tarnwick::platform::Notification)
