#include "platform/net/resolver.h"

#include "platform/net/canceller.h"

#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netdb.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace tarnwick::net {

namespace {

std::string trimmedError(std::string text)
{
    while (!text.empty()) {
        const auto c = static_cast<unsigned char>(text.back());
        if (c == ' ' || c == '.' || c < 0x20 || c == 0x7f) {
            text.pop_back();
        } else {
            break;
        }
    }
    return text;
}

// strerror_r comes in two flavours; take whichever this libc offers.
[[maybe_unused]] const char* strerrorResult(const char* result, const char*)
{
    return result;
}
[[maybe_unused]] const char* strerrorResult(int result, const char* buffer)
{
    return result == 0 ? buffer : "Unknown error";
}

std::string trimmedInput(const std::string& text)
{
    const char* blanks = " \t\r\n\v\f";
    const auto first = text.find_first_not_of(blanks);
    if (first == std::string::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

// Numbers in the older forms ("10.1", "0x7f000001", "2130706433") and runs of
// digits and dots that are no valid address: refused rather than guessed at.
bool isLooseNumericForm(const std::string& text)
{
    in_addr ignored{};
    if (::inet_aton(text.c_str(), &ignored) != 0) {
        return true;
    }
    return text.find_first_not_of("0123456789.") == std::string::npos;
}

LookupResult failure(std::string text)
{
    LookupResult r;
    r.errorText = std::move(text);
    return r;
}

LookupResult forwardNow(const std::string& name)
{
    hostent entry{};
    hostent* found = nullptr;
    int hostError = 0;
    std::vector<char> buffer(1024);
    for (;;) {
        const int rc = ::gethostbyname_r(name.c_str(), &entry, buffer.data(), buffer.size(), &found,
                                         &hostError);
        if (rc == ERANGE && buffer.size() < (1u << 20)) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (rc != 0) {
            return failure(errnoText(rc));
        }
        break;
    }
    if (found == nullptr) {
        return failure(hostErrorText(hostError));
    }
    if (found->h_addrtype != AF_INET || found->h_length != 4 || found->h_addr_list == nullptr ||
        found->h_addr_list[0] == nullptr) {
        return failure(hostErrorText(NO_DATA));
    }
    // The first address as the resolver answered it; no re-sorting.
    std::uint32_t address = 0;
    std::memcpy(&address, found->h_addr_list[0], sizeof address);
    LookupResult r;
    r.address = address;
    return r;
}

std::optional<std::string> reverseNow(std::uint32_t address)
{
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = address;
    char host[NI_MAXHOST];
    if (::getnameinfo(reinterpret_cast<const sockaddr*>(&sa), sizeof sa, host, sizeof host, nullptr,
                      0, NI_NAMEREQD) != 0) {
        return std::nullopt;
    }
    return std::string(host);
}

// Runs work on a detached thread that owns everything it touches, and waits
// for it or for the canceller, whichever comes first. A cancelled lookup goes
// on to its end by itself; its result is dropped with the shared state.
template <typename T>
std::optional<T> runCancellable(std::function<T()> work, const Canceller& cancel)
{
    struct State {
        std::mutex mutex;
        std::optional<T> value;
        int doneFd = -1;
        ~State()
        {
            if (doneFd >= 0) {
                ::close(doneFd);
            }
        }
    };
    if (cancel.isCancelled()) {
        return std::nullopt;
    }
    auto state = std::make_shared<State>();
    state->doneFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (state->doneFd < 0) {
        return work();
    }
    try {
        std::thread([state, work] {
            T value = work();
            {
                std::lock_guard lock(state->mutex);
                state->value = std::move(value);
            }
            const std::uint64_t one = 1;
            [[maybe_unused]] const auto n = ::write(state->doneFd, &one, sizeof one);
        }).detach();
    } catch (const std::system_error&) {
        return work();
    }
    for (;;) {
        pollfd fds[2] = {{state->doneFd, POLLIN, 0}, {cancel.fd(), POLLIN, 0}};
        const int ready = ::poll(fds, 2, -1);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready > 0 && fds[0].revents != 0) {
            std::lock_guard lock(state->mutex);
            return std::move(state->value);
        }
        return std::nullopt;
    }
}

} // namespace

std::string errnoText(int error)
{
    char buffer[256] = {};
    return trimmedError(strerrorResult(::strerror_r(error, buffer, sizeof buffer), buffer));
}

std::string lookupErrorText(int gaiError)
{
    return trimmedError(::gai_strerror(gaiError));
}

std::string hostErrorText(int hostError)
{
    return trimmedError(::hstrerror(hostError));
}

std::string formatIPv4(std::uint32_t address)
{
    unsigned char b[4];
    std::memcpy(b, &address, sizeof b);
    return std::to_string(b[0]) + '.' + std::to_string(b[1]) + '.' + std::to_string(b[2]) + '.' +
           std::to_string(b[3]);
}

std::optional<std::uint32_t> parseIPv4(const std::string& text)
{
    in_addr a{};
    if (::inet_pton(AF_INET, text.c_str(), &a) != 1) {
        return std::nullopt;
    }
    return a.s_addr;
}

LookupResult resolveIPv4(const std::string& host, const Canceller* cancel)
{
    const std::string name = trimmedInput(host);
    if (name.empty() || name.size() > kMaxHostNameLength || name.find('\0') != std::string::npos) {
        return failure(hostErrorText(HOST_NOT_FOUND));
    }
    if (const auto literal = parseIPv4(name)) {
        LookupResult r;
        r.address = *literal;
        return r;
    }
    if (isLooseNumericForm(name)) {
        return failure(hostErrorText(HOST_NOT_FOUND));
    }
    if (cancel == nullptr) {
        return forwardNow(name);
    }
    auto result = runCancellable<LookupResult>([name] { return forwardNow(name); }, *cancel);
    if (!result) {
        LookupResult r;
        r.cancelled = true;
        r.errorText = errnoText(ECANCELED);
        return r;
    }
    return *result;
}

std::optional<std::string> reverseLookup(std::uint32_t address, const Canceller* cancel)
{
    if (cancel == nullptr) {
        return reverseNow(address);
    }
    auto result = runCancellable<std::optional<std::string>>(
        [address] { return reverseNow(address); }, *cancel);
    return result ? *result : std::nullopt;
}

} // namespace tarnwick::net
