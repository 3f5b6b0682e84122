#include "trace/trace_addresses.h"

#include "platform/net/resolver.h"

#include <QByteArray>

namespace tarnwick::trace {

namespace {
// 255 characters and a terminator: the most a host name may take.
constexpr qsizetype kMaxHostNameLength = 255;
constexpr std::uint32_t kAllOnes = 0xFFFFFFFFu;
} // namespace

QString FormatIPv4(std::uint32_t address)
{
    return QString::fromStdString(net::formatIPv4(address));
}

bool ResolveHostAddress(const QString& name, QString& address, const net::Canceller* cancel)
{
    const QByteArray bytes = name.toLocal8Bit();
    if (bytes.size() > kMaxHostNameLength)
        return false;
    const net::LookupResult result = net::resolveIPv4(bytes.toStdString(), cancel);
    if (!result.address)
        return false;
    address = FormatIPv4(*result.address);
    return true;
}

QString ResolveAddressName(const QString& addressText, const net::Canceller* cancel)
{
    const auto parsed = net::parseIPv4(addressText.trimmed().toLocal8Bit().toStdString());
    const auto name = net::reverseLookup(parsed.value_or(kAllOnes), cancel);
    return name ? QString::fromLocal8Bit(name->data(), static_cast<qsizetype>(name->size()))
                : QString();
}

} // namespace tarnwick::trace
