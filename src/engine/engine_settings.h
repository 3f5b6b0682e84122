#pragma once

#include <QString>
#include <QStringList>

#include <mutex>
#include <optional>

namespace tarnwick::engine {

// The values the ping workers need from the main window, kept current by the
// GUI thread and read by the workers under a lock: workers never touch a widget.
class EngineSettings {
public:
    void setHosts(const QStringList& hosts);
    void setHost(int index, const QString& host);
    void setDelayText(const QString& text);
    void setDelayFallback(int ms);
    void setTimeout(int ms);

    // The host list entry at index, or nothing when the list is shorter.
    std::optional<QString> hostAt(int index) const;
    // The Delay text as a whole number; the up-down's position when the text
    // is not one (for instance while the user is retyping it).
    int delayMs() const;
    int timeoutMs() const;
    QStringList hosts() const;

private:
    mutable std::mutex m_mutex;
    QStringList m_hosts;
    QString m_delayText = QStringLiteral("1000");
    int m_delayFallback = 1000;
    int m_timeout = 2000;
};

} // namespace tarnwick::engine
