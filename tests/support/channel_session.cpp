#include "support/channel_session.h"

#include "channel/channel.h"
#include "lobby/lobby.h"
#include "login/login.h"
#include "platform/listview.h"
#include "platform/service.h"
#include "platform/socket.h"

#include <QSignalSpy>
#include <QTest>
#include <QTimer>

ChannelSession::ChannelSession(std::optional<quint16> gatewayPort)
{
    useFreshSettings();
    ServiceEndpoint endpoint;
    endpoint.gatewayAddress = QStringLiteral("127.0.0.1");
    endpoint.chatServerHost = QStringLiteral("irc.fenmoor.test");
    endpoint.maskedHost = QStringLiteral("players.fenmoor.test");
    endpoint.gatewayPort = gatewayPort.value_or(gateway.port());
    endpoint.chatPort = irc.port();
    setService(endpoint);
    forms_.emplace();
}

ChannelSession::~ChannelSession()
{
    forms_.reset();
}

bool ChannelSession::openLobby()
{
    login().ensureLoaded();
    login().show();
    login().cookieTemText = kCookie;
    lobby().ircConnect(kUser, 7);
    return QTest::qWaitFor([this] { return irc.connectionCount() == 1 && lobby().isVisible(); });
}

bool ChannelSession::offerChannels(const QStringList& names)
{
    QByteArray reply = QByteArrayLiteral(":irc.fenmoor.test 321 Pilot42 Channel :Users  Name\r\n");
    for (const QString& name : names)
        reply += ":irc.fenmoor.test 322 Pilot42 " + name.toUtf8() + " 3 :05 A channel\r\n";
    reply += QByteArrayLiteral(":irc.fenmoor.test 323 Pilot42 :End of /LIST\r\n");
    irc.send(0, reply);
    return QTest::qWaitFor([&names] {
        for (const QString& name : names) {
            if (!lobby().channels->contains(name))
                return false;
        }
        return true;
    });
}

bool ChannelSession::doubleClick(const QString& name)
{
    const std::optional<int> row = lobby().channels->row(name);
    if (!row)
        return false;
    lobby().channels->selectRow(*row);
    emit lobby().channels->itemDoubleClicked();
    return true;
}

bool ChannelSession::enter(const QString& name)
{
    if (!openLobby() || !offerChannels({name}) || !doubleClick(name) || !waitForRequest(0))
        return false;
    answer(0, kSchemeAnswer);
    return QTest::qWaitFor([] { return channel().isVisible(); }) && waitForRequest(1);
}

bool ChannelSession::waitForRequest(int connection)
{
    return QTest::qWaitFor([this, connection] { return gateway.received(connection).endsWith("\r\n\r\n"); });
}

void ChannelSession::answer(int connection, const QByteArray& bytes)
{
    gateway.send(connection, bytes);
    gateway.closeConnection(connection);
}

bool ChannelSession::finishGameList(int connection, const QByteArray& bytes)
{
    if (!waitForRequest(connection))
        return false;
    answer(connection, bytes);
    return QTest::qWaitFor([] { return lobby().http->state() == Socket::Closed; });
}

QStringList ChannelSession::ircLinesFrom(qsizetype from) const
{
    QStringList lines = QString::fromUtf8(irc.received(0).mid(from)).split(QStringLiteral("\r\n"));
    if (!lines.isEmpty() && lines.constLast().isEmpty())
        lines.removeLast();
    return lines;
}

void letEventsRun(int ms)
{
    QTimer probe;
    probe.setSingleShot(true);
    QSignalSpy fired(&probe, &QTimer::timeout);
    probe.start(ms);
    fired.wait(ms * 10 + 1000);
}
