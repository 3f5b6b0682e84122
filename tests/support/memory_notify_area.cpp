#include "support/memory_notify_area.h"

#include <QMenu>

namespace tarnwick::platform {

MemoryNotifyArea::MemoryNotifyArea(bool available, QObject* parent)
    : NotifyArea(parent), m_available(available)
{
    updateAvailability(available);
}

bool MemoryNotifyArea::record(const Request& request)
{
    m_requests.append(request);
    return request.succeeded;
}

bool MemoryNotifyArea::add(quint32 id, const IconState& state)
{
    const bool ok = m_available && !m_icons.contains(id);
    if (ok) {
        m_icons.insert(id, Icon{state, 0, nullptr, {}});
        if (m_holdNew)
            m_hidden.insert(id);
    }
    return record({RequestKind::Add, id, state, 0, nullptr, ok});
}

bool MemoryNotifyArea::modify(quint32 id, const IconState& state)
{
    const auto it = m_icons.find(id);
    const bool ok = it != m_icons.end();
    if (ok)
        it->state = state;
    return record({RequestKind::Modify, id, state, 0, nullptr, ok});
}

bool MemoryNotifyArea::remove(quint32 id)
{
    const bool ok = m_icons.remove(id) > 0;
    return record({RequestKind::Remove, id, {}, 0, nullptr, ok});
}

bool MemoryNotifyArea::setVersion(quint32 id, int version)
{
    const auto it = m_icons.find(id);
    const bool ok = it != m_icons.end();
    if (ok)
        it->version = version;
    return record({RequestKind::SetVersion, id, {}, version, nullptr, ok});
}

bool MemoryNotifyArea::setMenu(quint32 id, QMenu* menu)
{
    const auto it = m_icons.find(id);
    const bool ok = it != m_icons.end() && m_capabilities.testFlag(Capability::HostMenu);
    if (ok)
        it->menu = menu;
    return record({RequestKind::SetMenu, id, {}, 0, menu, ok});
}

QRect MemoryNotifyArea::iconGeometry(quint32 id) const
{
    return m_icons.value(id).geometry;
}

void MemoryNotifyArea::setIconGeometry(quint32 id, const QRect& geometry)
{
    const auto it = m_icons.find(id);
    if (it == m_icons.end())
        return;
    it->geometry = geometry;
    emit iconGeometryChanged(id, geometry);
}

bool MemoryNotifyArea::inject(quint32 id, NotificationCode code, QPoint pos, bool synthesized)
{
    if (!m_icons.contains(id))
        return false;
    emit notification(Notification{id, code, pos, synthesized});
    return true;
}

void MemoryNotifyArea::setAvailable(bool available)
{
    m_icons.clear();
    m_available = available;
    updateAvailability(available);
    if (available)
        emit areaRestarted();
    else
        emit areaLost();
}

void MemoryNotifyArea::removeAll()
{
    const QList<quint32> ids = m_icons.keys();
    m_icons.clear();
    for (const quint32 id : ids)
        emit iconShownChanged(id);
}

void MemoryNotifyArea::setIconShown(quint32 id, bool shown)
{
    if (shown)
        m_hidden.remove(id);
    else
        m_hidden.insert(id);
    emit iconShownChanged(id);
}

void MemoryNotifyArea::restart()
{
    setAvailable(false);
    setAvailable(true);
}

} // namespace tarnwick::platform
