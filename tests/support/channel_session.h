#pragma once

#include "app/forms.h"
#include "support/fakes.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

// A lobby session against a fake chat server and a fake gateway, for tests
// of entering a channel and of the channel window. Each object starts from
// empty settings and fresh windows; make one per test function.
class ChannelSession {
public:
    static inline const QString kUser = QStringLiteral("Pilot42");
    static inline const QString kCookie = QStringLiteral("Cookie: FENSESSION=abc");
    // A scheme answer with one cookie for the session.
    static inline const QByteArray kSchemeAnswer =
        QByteArrayLiteral("HTTP/1.0 200 OK\r\nSet-Cookie: x=1\r\n\r\nscheme\r\n");

    // gatewayPort: where the gateway is reached; the fake gateway's own port
    // when not given.
    explicit ChannelSession(std::optional<quint16> gatewayPort = std::nullopt);
    ~ChannelSession();
    ChannelSession(const ChannelSession&) = delete;
    ChannelSession& operator=(const ChannelSession&) = delete;

    FakeServer irc;
    FakeServer gateway;

    // Logs kUser in against the fake chat server and waits for the lobby.
    bool openLobby();
    // Sends a LIST reply naming the channels and waits until the lobby lists
    // them all.
    bool offerChannels(const QStringList& names);
    // Selects the channel's row and double-clicks the list.
    bool doubleClick(const QString& name);
    // The whole entry: lobby, list, double-click, scheme answer; waits until
    // the channel window is shown and its game-list request has arrived.
    bool enter(const QString& name);
    // Waits for the gateway connection to carry a whole request.
    bool waitForRequest(int connection);
    // Answers a gateway connection and closes it, as an HTTP/1.0 server does.
    void answer(int connection, const QByteArray& bytes);
    // Waits for the game-list request on the connection, answers it and waits
    // until the lobby is done with it.
    bool finishGameList(int connection, const QByteArray& bytes);

    // The chat lines the client sent from byte `from` on, without CR LF.
    QStringList ircLinesFrom(qsizetype from = 0) const;

private:
    std::optional<Forms> forms_;
};

// Lets events run for the given time: for checking that something does not
// happen. Uses a timer's signal, not a sleep.
void letEventsRun(int ms);
