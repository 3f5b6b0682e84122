#include "app/ending_signals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <unistd.h>

namespace tarnwick::app {

namespace {

// Made once and never closed: a signal may come at any moment until the
// process ends, and its handler must never write into a descriptor that has
// been closed and perhaps reused.
int pipeFds[2] = {-1, -1};
constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

extern "C" void onEndingSignal(int)
{
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(pipeFds[1], &byte, 1);
    errno = saved;
}

void drain(int fd)
{
    char buffer[16];
    while (::read(fd, buffer, sizeof buffer) > 0) {
    }
}

} // namespace

EndingSignals::EndingSignals(std::function<void()> end, QObject* parent)
    : QObject(parent), m_end(std::move(end))
{
    if (pipeFds[0] < 0 && ::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    // A signal that came while nothing watched belongs to no one.
    drain(pipeFds[0]);
    m_notifier = new QSocketNotifier(pipeFds[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        drain(pipeFds[0]);
        if (m_end)
            m_end();
    });
    struct sigaction action {};
    action.sa_handler = onEndingSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int s : kSignals)
        ::sigaction(s, &action, nullptr);
}

// The handler stays: a second signal while the workers are joined and the
// last saves finish, or later, must not end the process by the default
// action (status 143). Nothing reads the pipe any more, and a full pipe
// drops what more comes.
EndingSignals::~EndingSignals() = default;

} // namespace tarnwick::app
