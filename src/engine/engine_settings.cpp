#include "engine/engine_settings.h"

#include <limits>

namespace tarnwick::engine {

std::optional<int> parseWholeNumber(const QString& text)
{
    qsizetype i = 0;
    while (i < text.size() && text[i] == u' ')
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) {
        negative = text[i] == u'-';
        ++i;
    }
    if (i == text.size())
        return std::nullopt;
    long long value = 0;
    for (; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c < u'0' || c > u'9')
            return std::nullopt;
        value = value * 10 + (c.unicode() - u'0');
        if (value > static_cast<long long>(std::numeric_limits<int>::max()) + 1)
            return std::nullopt;
    }
    if (negative)
        value = -value;
    if (value > std::numeric_limits<int>::max() || value < std::numeric_limits<int>::min())
        return std::nullopt;
    return static_cast<int>(value);
}

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
    return parseWholeNumber(m_delayText).value_or(m_delayFallback);
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
