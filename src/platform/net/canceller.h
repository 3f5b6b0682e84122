#pragma once

namespace tarnwick::net {

// A wake-up another thread can trigger to cut a wait short (for exit).
// Backed by an eventfd so that it can sit in the same poll() as a socket.
// Once cancelled it stays cancelled until reset().
class Canceller {
public:
    Canceller();
    ~Canceller();
    Canceller(const Canceller&) = delete;
    Canceller& operator=(const Canceller&) = delete;

    void cancel();
    void reset();
    bool isCancelled() const;
    // Waits up to ms milliseconds (rounded up); true when cancelled meanwhile.
    bool waitFor(int ms) const;
    int fd() const { return m_fd; }

private:
    int m_fd = -1;
};

} // namespace tarnwick::net
