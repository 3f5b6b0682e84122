#include "engine/engine_settings.h"

#include "core/numbers.h"

namespace tarnwick::engine {

void EngineSettings::setHosts(const QStringList& hosts)
{
    std::lock_guard lock(m_mutex);
    m_hosts = hosts;
}

void EngineSettings::setHost(int index, const QString& host)
{
    std::lock_guard lock(m_mutex);
    if (index >= 0 && index < m_hosts.size())
        m_hosts[index] = host;
}

void EngineSettings::setDelayText(const QString& text)
{
    std::lock_guard lock(m_mutex);
    m_delayText = text;
}

void EngineSettings::setDelayFallback(int ms)
{
    std::lock_guard lock(m_mutex);
    m_delayFallback = ms;
}

void EngineSettings::setTimeout(int ms)
{
    std::lock_guard lock(m_mutex);
    m_timeout = ms;
}

std::optional<QString> EngineSettings::hostAt(int index) const
{
    std::lock_guard lock(m_mutex);
    if (index < 0 || index >= m_hosts.size())
        return std::nullopt;
    return m_hosts.at(index);
}

int EngineSettings::delayMs() const
{
    std::lock_guard lock(m_mutex);
    return core::parseWholeNumber(m_delayText).value_or(m_delayFallback);
}

int EngineSettings::timeoutMs() const
{
    std::lock_guard lock(m_mutex);
    return m_timeout;
}

QStringList EngineSettings::hosts() const
{
    std::lock_guard lock(m_mutex);
    return m_hosts;
}

} // namespace tarnwick::engine
