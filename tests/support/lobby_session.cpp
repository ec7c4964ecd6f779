#include "support/lobby_session.h"

#include "app/forms.h"
#include "lobby/lobby.h"
#include "login/login.h"
#include "platform/listview.h"

#include <QTest>

LobbySession::LobbySession()
{
    setService(endpoint());
}

LobbySession::~LobbySession()
{
    setService(ServiceEndpoint{});
}

ServiceEndpoint LobbySession::endpoint() const
{
    ServiceEndpoint fakes;
    fakes.gatewayAddress = QStringLiteral("127.0.0.1");
    fakes.gatewayPort = gateway.port();
    fakes.chatPort = chat.port();
    fakes.chatServerHost = QStringLiteral("irc.fenmoor.test");
    fakes.maskedHost = QStringLiteral("players.fenmoor.test");
    return fakes;
}

bool LobbySession::start(const QString& name, quint8 flag, int timeoutMs)
{
    const int before = chat.connectionCount();
    login().ensureLoaded();
    login().show();
    lobby().ircConnect(name, flag);
    if (!QTest::qWaitFor([&] { return chat.connectionCount() > before; }, timeoutMs)) {
        qWarning("LobbySession: the chat server got no connection");
        return false;
    }
    chatIndex_ = before;
    // The last line of the registration: everything before it is there too.
    if (!waitForChat(QByteArrayLiteral("who\r\n"), timeoutMs)) {
        qWarning("LobbySession: the chat server got no registration");
        return false;
    }
    if (!QTest::qWaitFor([] { return lobby().isVisible(); }, timeoutMs)) {
        qWarning("LobbySession: the lobby is not shown");
        return false;
    }
    return true;
}

QByteArray LobbySession::chatReceived() const
{
    return chat.received(chatIndex_);
}

void LobbySession::chatSends(const QByteArray& bytes)
{
    chat.send(chatIndex_, bytes);
}

void LobbySession::closeChat()
{
    chat.closeConnection(chatIndex_);
}

bool LobbySession::chatClosedByClient() const
{
    return chat.closedByClient(chatIndex_);
}

bool LobbySession::waitForChat(const QByteArray& bytes, int timeoutMs) const
{
    return QTest::qWaitFor([&] { return chatReceived().contains(bytes); }, timeoutMs);
}

bool LobbySession::listChannel(const QString& name, int users, const QString& topic, int timeoutMs)
{
    const QString line = QStringLiteral(":irc.fenmoor.test 322 %1 %2 %3 :%4\r\n")
                             .arg(lobby().username, name, QString::number(users), topic);
    chatSends(line.toUtf8());
    return QTest::qWaitFor([&] { return lobby().channels->contains(name); }, timeoutMs);
}
