#pragma once

#include <QString>

#include <cstdint>

namespace tarnwick::net {
class Canceller;
}

// The address routines the trace worker and the two lookup buttons share.
// All are thread-safe and none touches a widget. With a canceller, a lookup
// returns as soon as it is cancelled (and then counts as failed).
namespace tarnwick::trace {

// Dotted form of an IPv4 address in network byte order.
QString FormatIPv4(std::uint32_t address);

// Forward lookup of a host name or dotted address. On success address is the
// dotted form of the first address found and the result is true; otherwise
// address is left as it was. A name over 255 characters fails.
bool ResolveHostAddress(const QString& name, QString& address,
                        const net::Canceller* cancel = nullptr);

// Reverse lookup of a dotted address: the official host name, or empty text
// when there is none. Text that is not a dotted address is looked up as
// 255.255.255.255.
QString ResolveAddressName(const QString& addressText, const net::Canceller* cancel = nullptr);

} // namespace tarnwick::trace
