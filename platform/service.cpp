#include "platform/service.h"

#include <QHostAddress>
#include <QList>

#include <optional>

namespace {
ServiceEndpoint& current()
{
    static ServiceEndpoint endpoint;
    return endpoint;
}

std::optional<quint16> readPort(const QByteArray& text)
{
    bool ok = false;
    const uint port = text.toUInt(&ok);
    if (!ok || port == 0 || port > 65535)
        return std::nullopt;
    return static_cast<quint16>(port);
}
} // namespace

const ServiceEndpoint& service()
{
    return current();
}

bool applyServiceOverride(const QByteArray& value)
{
    if (value.isEmpty())
        return true;
    const QList<QByteArray> parts = value.split(':');
    if (parts.size() != 3)
        return false;
    QHostAddress address;
    if (!address.setAddress(QString::fromLatin1(parts[0])) || address.protocol() != QAbstractSocket::IPv4Protocol)
        return false;
    const auto gatewayPort = readPort(parts[1]);
    const auto chatPort = readPort(parts[2]);
    if (!gatewayPort || !chatPort)
        return false;
    current().gatewayAddress = address.toString();
    current().gatewayPort = *gatewayPort;
    current().chatPort = *chatPort;
    return true;
}

void setService(const ServiceEndpoint& endpoint)
{
    current() = endpoint;
}
