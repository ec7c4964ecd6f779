#pragma once

#include "app/forms.h"
#include "platform/service.h"
#include "support/fakes.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QString>
#include <QStringList>
#include <optional>

class QTcpSocket;

// One session of the program against a fake chat server and a fake gateway
// on 127.0.0.1, made once per test function: empty private settings, fresh
// windows, the endpoint pointed at the fakes. A test goes through the stages
// as far as it needs (login window, lobby, channel list, a channel) and
// reads what the client wrote on the chat connection.
class TestSession {
public:
    static inline const QString kUser = QStringLiteral("Pilot42");
    // The cookie the login exchange leaves for the session.
    static inline const QString kCookie = QStringLiteral("Cookie: FENSESSION=abc");
    // A scheme answer that adds one cookie.
    static inline const QByteArray kSchemeAnswer =
        QByteArrayLiteral("HTTP/1.0 200 OK\r\nSet-Cookie: x=1\r\n\r\nscheme\r\n");
    static inline const QByteArray kNoGames =
        QByteArrayLiteral("HTTP/1.0 200 OK\r\n\r\n<GAMELISTSTART>\n<GAMELISTEND>\n");

    TestSession();
    ~TestSession();
    TestSession(const TestSession&) = delete;
    TestSession& operator=(const TestSession&) = delete;

    FakeServer chat;
    FakeServer gateway;

    // Points the program at another chat server or gateway port (one that
    // refuses, one that never completes a connection).
    void pointChatAt(quint16 port);
    void pointGatewayAt(quint16 port);

    // ------------------------------------------------------------ stages
    // The login window loaded and shown.
    void showLogin();
    // Logs `name` in with `flag` as the login exchange would and waits until
    // the chat server has the whole registration and the lobby is shown.
    // False, with a warning, when that does not happen.
    bool openLobby(const QString& name = kUser, quint8 flag = 7);
    // Stops the periodic list, who, game-list and whois refreshes, whose
    // requests would mix with what a test expects on the wire.
    void quietTimers();
    // The chat server sends a whole channel list naming these channels; waits
    // until the lobby lists them all.
    bool offerChannels(const QStringList& names);
    // Selects the channel's row and double-clicks the list.
    bool doubleClick(const QString& name);
    // Enters the channel from the lobby (opening the lobby first when none
    // is loaded): double-click, scheme answered; waits until the channel
    // window is shown and its game-list request has arrived.
    bool enter(const QString& name);
    // The same, and the first game list answered with `firstGameList`.
    bool enter(const QString& name, const QByteArray& firstGameList);
    // #Help entered with no games, the timers quiet, and Kite and Ace as its
    // members with the unknown flag, so that what the client sends
    // afterwards is only what the test caused.
    bool enterQuietChannel();
    // The channel window loaded for `name` and the lobby hidden, as entering
    // leaves them, without the gateway; the window is not shown (showing it
    // starts the game-list fetch).
    void loadChannel(const QString& name);

    // ---------------------------------------------------- the chat wire
    // Bytes from the chat server to the client, in one write.
    void send(const QByteArray& bytes);
    // The bytes as separate writes, each one only after the client has read
    // the one before, so that no two reach it in one read.
    bool sendPieces(const QByteArrayList& pieces);
    // Lines are handled in order: once a marker sent after everything so
    // far has been handled, so has the rest. The marker is taken out again.
    bool sync();
    // What the client wrote on the session's chat connection from a mark
    // on, as bytes and as lines without CR LF.
    QByteArray wire(qsizetype from = 0) const;
    QStringList wireLines(qsizetype from = 0) const;
    // Where the wire stands now, and where it stood right after the
    // registration.
    qsizetype mark() const { return wire().size(); }
    qsizetype registrationEnd() const { return registrationEnd_; }
    // Waits until the client has written `bytes` anywhere on the connection.
    bool waitForWire(const QByteArray& bytes) const;
    // The server's end of the session's chat connection: the last one the
    // chat server accepted.
    QTcpSocket* chatConnection() const;
    // The chat server hangs up on the session.
    void closeChat();
    // Whether the chat connection has ended; when the server did not hang
    // up, the client closed it.
    bool chatClosedByClient() const;

    // ------------------------------------------------------- the gateway
    // Waits for the gateway connection to carry a whole request.
    bool waitForRequest(int connection);
    // Answers a gateway connection and closes it, as an HTTP/1.0 server does.
    void answer(int connection, const QByteArray& bytes);
    // Waits for the game-list request on the connection, answers it and waits
    // until the lobby is done with it.
    bool finishGameList(int connection, const QByteArray& bytes);

private:
    int chatIndex() const { return chat.connectionCount() - 1; }

    ServiceEndpoint endpoint_;
    std::optional<Forms> forms_;
    qsizetype registrationEnd_ = 0;
    int syncs_ = 0;
};

// Lets events run for the given time: for checking that something does not
// happen. Uses a timer's signal, not a sleep.
void letEventsRun(int ms);
