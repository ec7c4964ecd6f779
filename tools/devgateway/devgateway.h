#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTimer>

class QTcpSocket;

// One hosted game: the channel it is listed in (without "#") and its record,
// blank-separated fields: id, name, host, three further values (map, players,
// max), "0" open or "1" locked, ping.
struct DevGame {
    QString channel;
    QString record;
};

struct DevGatewayConfig {
    // Handed to accepted users as the chat server to connect to.
    QString connectAddress = QStringLiteral("127.0.0.1");
    // Names the gateway refuses as in use. The simulated players' names are
    // not among them: the chat server refuses those itself.
    QStringList takenNames = {QStringLiteral("Taken")};
    QList<DevGame> games;
    // How often the games change, in ms (see advanceGames); 0 keeps them as
    // they were given.
    int churnMs = 0;
};

// A stand-in for the Fenmoor web gateway, so the client can be developed and
// tested without the real service: HTTP/1.0, one request per connection,
// answered and then closed.
class DevGateway : public QObject {
    Q_OBJECT
public:
    explicit DevGateway(const DevGatewayConfig& config, QObject* parent = nullptr);

    bool listen(const QHostAddress& address, quint16 port);
    quint16 port() const;
    QString errorString() const;

    // Games file: one game a line, "<channel> <record>"; blank lines and
    // lines starting with "#" are ignored. On a malformed line, returns false
    // and names the line in the error.
    static bool parseGames(const QString& text, QList<DevGame>& games, QString& error);
    static bool loadGames(const QString& path, QList<DevGame>& games, QString& error);

    // One step in the life of the hosted games: players join open games, a
    // game that is full locks, a host may lock an open game, locked games
    // end, and new games open in `channels`, at most three to a channel.
    // New games are numbered from `nextId` on.
    static void advanceGames(QList<DevGame>& games, const QStringList& channels, QRandomGenerator& random,
                             int& nextId);

signals:
    // The request line of every request answered, control characters
    // replaced, so it can be logged safely.
    void requestAnswered(const QString& requestLine);

private:
    struct Connection {
        QByteArray received;
        bool answered = false;
    };
    struct Reply {
        QByteArray status;
        QString body;
    };

    void acceptConnections();
    void readFrom(QTcpSocket* socket, Connection& connection);
    void answer(QTcpSocket* socket, const QByteArray& head, bool tooLarge);
    Reply replyTo(const QString& requestLine) const;
    Reply loginReply(const QString& userName) const;
    Reply gameListReply(const QString& channel) const;
    // Why a user name is refused, or an empty string when it is accepted.
    QString refusalReason(const QString& userName) const;

    QTcpServer m_server;
    DevGatewayConfig m_config;
    QStringList m_channels;
    QTimer m_churn;
    QRandomGenerator m_random;
    int m_nextId = 5001;
};
