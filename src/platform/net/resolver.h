#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace tarnwick::net {

class Canceller;

// The longest name a lookup is made for: no DNS name has more characters.
inline constexpr std::size_t kMaxHostNameLength = 253;

struct LookupResult {
    std::optional<std::uint32_t> address; // first IPv4 address, network byte order
    bool cancelled = false;
    std::string errorText; // readable reason when address is empty (trimmed)
};

// Forward lookup, thread-safe. Blanks around the host are ignored. A strict
// dotted literal ("a.b.c.d") is taken as it is; other numeric forms ("10.1",
// "0x7f000001") and names longer than kMaxHostNameLength are refused; names go
// to the system resolver, keeping its answer order. With a canceller the call
// returns as soon as it is cancelled, leaving the lookup to finish on its own.
LookupResult resolveIPv4(const std::string& host, const Canceller* cancel = nullptr);

// Reverse lookup, thread-safe: the official name, or nothing.
std::optional<std::string> reverseLookup(std::uint32_t address, const Canceller* cancel = nullptr);

// "a.b.c.d" from an address in network byte order.
std::string formatIPv4(std::uint32_t address);
// Strict dotted-quad parse (inet_pton); network byte order.
std::optional<std::uint32_t> parseIPv4(const std::string& text);

// Readable text for an errno value or a getaddrinfo/h_errno code, with trailing
// blanks, control characters and full stops removed.
std::string errnoText(int error);
std::string lookupErrorText(int gaiError);
// The same for an h_errno value (HOST_NOT_FOUND, TRY_AGAIN, ...).
std::string hostErrorText(int hostError);

} // namespace tarnwick::net
