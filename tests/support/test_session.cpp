#include "support/test_session.h"

#include "channel/channel.h"
#include "lobby/lobby.h"
#include "login/login.h"
#include "platform/listview.h"
#include "platform/socket.h"
#include "support/irc_lines_fixture.h"

#include <QLabel>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

TestSession::TestSession()
{
    useFreshSettings();
    endpoint_.gatewayAddress = QStringLiteral("127.0.0.1");
    endpoint_.chatServerHost = QStringLiteral("irc.fenmoor.test");
    endpoint_.maskedHost = QStringLiteral("players.fenmoor.test");
    endpoint_.gatewayPort = gateway.port();
    endpoint_.chatPort = chat.port();
    setService(endpoint_);
    forms_.emplace();
    // A fake server charges nothing: requests go out as soon as they are
    // made. The tests of the pace turn it back on.
    lobby().setRequestPacing(false);
}

TestSession::~TestSession()
{
    forms_.reset();
    setService(ServiceEndpoint{});
}

void TestSession::pointChatAt(quint16 port)
{
    endpoint_.chatPort = port;
    setService(endpoint_);
}

void TestSession::pointGatewayAt(quint16 port)
{
    endpoint_.gatewayPort = port;
    setService(endpoint_);
}

// ----------------------------------------------------------------- stages

void TestSession::showLogin()
{
    login().ensureLoaded();
    login().show();
}

bool TestSession::openLobby(const QString& name, quint8 flag)
{
    const int before = chat.connectionCount();
    showLogin();
    login().cookieTemText = kCookie;
    lobby().ircConnect(name, flag);
    if (!QTest::qWaitFor([&] { return chat.connectionCount() > before; })) {
        qWarning("TestSession: the chat server got no connection");
        return false;
    }
    // The last line of the registration: everything before it is there too.
    const QByteArray last = QByteArrayLiteral("who\r\n");
    if (!waitForWire(last)) {
        qWarning("TestSession: the chat server got no registration");
        return false;
    }
    registrationEnd_ = wire().indexOf(last) + last.size();
    if (!QTest::qWaitFor([] { return lobby().isVisible(); })) {
        qWarning("TestSession: the lobby is not shown");
        return false;
    }
    return true;
}

void TestSession::quietTimers()
{
    for (QTimer* timer : {lobby().listTimer, lobby().whoTimerX, lobby().gamesTimer, lobby().whoisTimer})
        timer->stop();
}

bool TestSession::offerChannels(const QStringList& names)
{
    QByteArray reply = serverReply("321", "Channel :Users  Name");
    for (const QString& name : names)
        reply += listEntry(name.toUtf8(), "3", "05 A channel");
    reply += serverReply("323", ":End of /LIST");
    send(reply);
    return QTest::qWaitFor([&names] {
        for (const QString& name : names) {
            if (!lobby().channels->contains(name))
                return false;
        }
        return true;
    });
}

bool TestSession::doubleClick(const QString& name)
{
    const std::optional<int> row = lobby().channels->row(name);
    if (!row)
        return false;
    lobby().channels->selectRow(*row);
    emit lobby().channels->itemDoubleClicked();
    return true;
}

bool TestSession::enter(const QString& name)
{
    if (!lobby().isLoaded() && !openLobby())
        return false;
    const int scheme = gateway.connectionCount();
    if (!offerChannels({name}) || !doubleClick(name) || !waitForRequest(scheme))
        return false;
    answer(scheme, kSchemeAnswer);
    return QTest::qWaitFor([] { return channel().isVisible(); }) && waitForRequest(scheme + 1);
}

bool TestSession::enter(const QString& name, const QByteArray& firstGameList)
{
    return enter(name) && finishGameList(gateway.connectionCount() - 1, firstGameList);
}

bool TestSession::enterQuietChannel()
{
    if (!enter(QStringLiteral("#Help"), kNoGames))
        return false;
    quietTimers();
    for (const QString& nick : {QStringLiteral("Kite"), QStringLiteral("Ace")}) {
        channel().users->add(nick, nick);
        channel().users->setIcon(nick, Channel::kFlagUnknown);
    }
    return true;
}

void TestSession::loadChannel(const QString& name)
{
    channel().ensureLoaded();
    channel().Label2->setText(name);
    lobby().hide();
}

// ---------------------------------------------------------- the chat wire

void TestSession::send(const QByteArray& bytes)
{
    chat.send(chatIndex(), bytes);
}

bool TestSession::sendPieces(const QByteArrayList& pieces)
{
    QSignalSpy reads(lobby().irc, &Socket::dataArrival);
    for (const QByteArray& piece : pieces) {
        const qsizetype before = reads.count();
        send(piece);
        if (!QTest::qWaitFor([&] { return reads.count() > before; }))
            return false;
    }
    return true;
}

bool TestSession::sync()
{
    const QString marker = QStringLiteral("#sync-%1").arg(++syncs_);
    send(listEntry(marker.toUtf8(), "1", "00 marker"));
    if (!QTest::qWaitFor([&] { return lobby().channels->contains(marker); }))
        return false;
    lobby().channels->remove(marker);
    return true;
}

QByteArray TestSession::wire(qsizetype from) const
{
    return chat.received(chatIndex()).mid(from);
}

QStringList TestSession::wireLines(qsizetype from) const
{
    QStringList lines = QString::fromUtf8(wire(from)).split(QStringLiteral("\r\n"));
    if (!lines.isEmpty() && lines.constLast().isEmpty())
        lines.removeLast();
    return lines;
}

bool TestSession::waitForWire(const QByteArray& bytes) const
{
    return QTest::qWaitFor([&] { return wire().contains(bytes); });
}

QTcpSocket* TestSession::chatConnection() const
{
    return chat.connection(chatIndex());
}

void TestSession::closeChat()
{
    chat.closeConnection(chatIndex());
}

bool TestSession::chatClosedByClient() const
{
    return chat.closedByClient(chatIndex());
}

// ------------------------------------------------------------ the gateway

bool TestSession::waitForRequest(int connection)
{
    return QTest::qWaitFor([this, connection] { return gateway.received(connection).endsWith("\r\n\r\n"); });
}

void TestSession::answer(int connection, const QByteArray& bytes)
{
    gateway.send(connection, bytes);
    gateway.closeConnection(connection);
}

bool TestSession::finishGameList(int connection, const QByteArray& bytes)
{
    if (!waitForRequest(connection))
        return false;
    answer(connection, bytes);
    return QTest::qWaitFor([] { return lobby().http->state() == Socket::Closed; });
}

void letEventsRun(int ms)
{
    QTimer probe;
    probe.setSingleShot(true);
    QSignalSpy fired(&probe, &QTimer::timeout);
    probe.start(ms);
    fired.wait(ms * 10 + 1000);
}
