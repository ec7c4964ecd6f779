#pragma once

#include <QByteArray>
#include <QString>

// Where the Fenmoor service lives. The compiled-in gateway address is a
// documentation address, so a build that was never pointed at a real service
// fails cleanly instead of reaching a stranger.
struct ServiceEndpoint {
    QString gatewayAddress = QStringLiteral("192.0.2.80");
    QString chatServerHost = QStringLiteral("irc.fenmoor.test");
    QString maskedHost = QStringLiteral("players.fenmoor.test");
    quint16 gatewayPort = 80;
    quint16 chatPort = 6667;
};

// The endpoint in force. Requests still name port 80 in their request line,
// whatever port the connection uses.
const ServiceEndpoint& service();

// TAVIMERE_SERVICE=address:gatewayPort:chatPort points the program at a
// development service without root. Read once at start-up; an empty value
// keeps the compiled-in endpoint. Returns false (and changes nothing) for a
// value it cannot read.
bool applyServiceOverride(const QByteArray& value);

// Tests point the program at their fake servers.
void setService(const ServiceEndpoint& endpoint);
