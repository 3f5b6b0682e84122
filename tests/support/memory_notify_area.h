#pragma once

#include "platform/notifyarea/notify_area.h"

#include <QHash>
#include <QList>
#include <QMenu>
#include <QPointer>
#include <QSet>

namespace tarnwick::platform {

// A notification area that lives in memory: it records every request, lets a
// test inject notifications and simulates the area going away and coming back.
class MemoryNotifyArea : public NotifyArea {
    Q_OBJECT
public:
    enum class RequestKind { Add, Modify, Remove, SetVersion, SetMenu };
    struct Request {
        RequestKind kind;
        quint32 id;
        IconState state; // for Add and Modify
        int version;     // for SetVersion
        QMenu* menu;     // for SetMenu
        bool succeeded;
    };
    struct Icon {
        IconState state;
        int version = 0;
        QPointer<QMenu> menu;
        QRect geometry;
    };

    explicit MemoryNotifyArea(bool available = true, QObject* parent = nullptr);

    bool add(quint32 id, const IconState& state) override;
    bool modify(quint32 id, const IconState& state) override;
    bool remove(quint32 id) override;
    bool setVersion(quint32 id, int version) override;
    bool hasIcon(quint32 id) const override { return m_icons.contains(id); }
    bool setMenu(quint32 id, QMenu* menu) override;
    QRect iconGeometry(quint32 id) const override;
    bool iconShown(quint32 id) const override
    {
        return m_available && m_icons.contains(id) && !m_hidden.contains(id);
    }
    bool iconAwaited(quint32 id) const override
    {
        return m_available && m_icons.contains(id) && m_hidden.contains(id);
    }
    void removeAll() override;
    bool relays() const override { return m_relays; }
    bool isAvailable() const override { return m_available; }
    Capabilities capabilities() const override { return m_capabilities; }
    QString name() const override { return QStringLiteral("memory"); }

    // Emits a notification for a known id; false (and nothing emitted) otherwise.
    bool inject(quint32 id, NotificationCode code, QPoint pos = {}, bool synthesized = false);
    // false: every icon goes, areaLost. true: a fresh area, areaRestarted.
    void setAvailable(bool available);
    // The area dies and a new one takes its place at once.
    void restart();
    void setCapabilities(Capabilities capabilities)
    {
        m_capabilities = capabilities;
        emit capabilitiesChanged();
    }
    void setIconGeometry(quint32 id, const QRect& geometry);
    // An icon the area holds but does not show (not embedded yet, say).
    void setIconShown(quint32 id, bool shown);
    // Icons added from now on are held but not shown until setIconShown.
    void holdNewIcons(bool hold) { m_holdNew = hold; }
    void setRelays(bool relays)
    {
        m_relays = relays;
        emit capabilitiesChanged();
    }

    const QList<Request>& requests() const { return m_requests; }
    void clearRequests() { m_requests.clear(); }
    const QHash<quint32, Icon>& icons() const { return m_icons; }
    bool contains(quint32 id) const { return m_icons.contains(id); }

private:
    bool record(const Request& request);

    bool m_available;
    Capabilities m_capabilities = Capability::ButtonUpDown | Capability::DoubleClick |
                                  Capability::Motion | Capability::ExactPosition;
    QHash<quint32, Icon> m_icons;
    QSet<quint32> m_hidden;
    bool m_holdNew = false;
    bool m_relays = false;
    QList<Request> m_requests;
};

} // namespace tarnwick::platform
