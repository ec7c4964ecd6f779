#pragma once

#include "platform/service.h"
#include "support/fakes.h"

#include <QByteArray>
#include <QString>

// A lobby session against two fake servers on 127.0.0.1: `chat` plays the
// IRC server, `gateway` the web gateway. While the object lives, the
// program's endpoint points at both. The windows are those of the test's
// own Forms object.
class LobbySession {
public:
    LobbySession();
    ~LobbySession();
    LobbySession(const LobbySession&) = delete;
    LobbySession& operator=(const LobbySession&) = delete;

    FakeServer chat;
    FakeServer gateway;

    // The endpoint naming the fakes, for tests that change one port and hand
    // it to setService() themselves.
    ServiceEndpoint endpoint() const;

    // Loads and shows the login window, connects the lobby to the chat
    // server as `name` with flag `flag`, and waits until the fake server has
    // the whole registration and the lobby is on screen. False (with a
    // warning saying what is missing) when that does not happen in time.
    bool start(const QString& name = QStringLiteral("Pilot42"), quint8 flag = 7, int timeoutMs = 5000);

    // The chat connection of the session: what the server received on it,
    // and bytes sent to the client on it.
    QByteArray chatReceived() const;
    void chatSends(const QByteArray& bytes);
    // The chat server hangs up on the session.
    void closeChat();
    // Whether the chat connection has ended; when the server did not hang
    // up, the client closed it.
    bool chatClosedByClient() const;

    // Waits until the chat server has received `bytes` on the session's
    // connection (anywhere since the connection started).
    bool waitForChat(const QByteArray& bytes, int timeoutMs = 5000) const;

    // The chat server lists a channel (a LIST reply line; the topic is the
    // server's, a two-digit picture number and the description) and waits
    // until the lobby shows it.
    bool listChannel(const QString& name, int users = 1, const QString& topic = QStringLiteral("05 Channel"),
                     int timeoutMs = 5000);

private:
    int chatIndex_ = -1;
};
