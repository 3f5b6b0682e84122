#include "platform/net/canceller.h"

#include "platform/net/deadline_poll.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <system_error>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace tarnwick::net {

Canceller::Canceller() : m_fd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
    if (m_fd < 0) {
        throw std::system_error(errno, std::generic_category(), "eventfd");
    }
}

Canceller::~Canceller()
{
    ::close(m_fd);
}

void Canceller::cancel()
{
    const std::uint64_t one = 1;
    // A full counter (EAGAIN) still reads as cancelled, so the result does not matter.
    [[maybe_unused]] const auto n = ::write(m_fd, &one, sizeof one);
}

void Canceller::reset()
{
    std::uint64_t value = 0;
    [[maybe_unused]] const auto n = ::read(m_fd, &value, sizeof value);
}

bool Canceller::isCancelled() const
{
    pollfd p{m_fd, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0;
}

bool Canceller::waitFor(int ms) const
{
    DeadlinePoll waiter(DeadlinePoll::Clock::now() + std::chrono::milliseconds(ms < 0 ? 0 : ms));
    for (;;) {
        pollfd p{m_fd, POLLIN, 0};
        const int r = waiter.wait(&p, 1);
        if (r > 0) {
            return true;
        }
        if (r == 0 || errno != EINTR) {
            return false;
        }
    }
}

} // namespace tarnwick::net
