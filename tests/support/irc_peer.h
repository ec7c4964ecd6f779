#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTcpSocket>

#include <optional>

// How long the peer waits for the server unless told otherwise.
constexpr int kPeerWaitMs = 20000;

// A chat connection of the test's own on a real chat server at 127.0.0.1,
// registered the way the program registers (server password, "Username",
// the flag in the real name). It shows what the other users see: it joins
// channels, sends lines, keeps every line it receives (decoded as UTF-8)
// and answers PING. As an IRC operator it can kick and set modes where the
// server lets operators do so.
class IrcPeer : public QObject {
public:
    IrcPeer(const QString& nick, int flag);

    // Connects and registers; true once the server has welcomed the peer.
    bool connectTo(quint16 port, int ms = kPeerWaitMs);
    bool isConnected() const { return socket_.state() == QAbstractSocket::ConnectedState; }

    void send(const QString& line);

    // The first line received since line `from` that contains `part`.
    std::optional<QString> waitFor(const QString& part, qsizetype from = 0, int ms = kPeerWaitMs);

    // Sends `request` and returns the lines received from then on up to the
    // first that contains one of `ends` (included); empty when none came.
    QStringList ask(const QString& request, const QStringList& ends, int ms = kPeerWaitMs);

    // Asks for the names in a channel until all of `nicks` are there.
    bool waitForMembers(const QString& channel, const QStringList& nicks, int ms = kPeerWaitMs);

    // OPER with the server's operator account `name`.
    bool becomeOperator(const QString& name, const QString& password, int ms = kPeerWaitMs);

    const QString nick;
    const int flag;
    QStringList lines;

private:
    void readLines();

    QTcpSocket socket_;
    QByteArray pending_;
};

// Many registered connections of the test's own sitting in one channel, to
// make it crowded: nicks `prefix` + a three-digit number, flag number % 51.
// They answer PING and drop everything else they receive.
class IrcCrowd : public QObject {
public:
    // Opens `count` connections, at most `inFlight` of them waiting for the
    // server's welcome at a time (a server accepts only so many connections
    // at once: ngircd queues ten), and has each join `channel`. True once
    // every one has joined.
    bool fill(quint16 port, const QString& channel, const QString& prefix, int count, int inFlight, int ms);

    int size() const { return static_cast<int>(members_.size()); }
    QString nick(int index) const;
    static int flagOf(int index) { return index % 51; }
    // How many members are still connected.
    int connected() const;

private:
    struct Member {
        QTcpSocket* socket = nullptr;
        QByteArray pending;
        bool welcomed = false;
        bool joined = false;
    };
    void open(int index);
    void readLines(Member& member);

    quint16 port_ = 0;
    QString channel_;
    QString prefix_;
    QList<Member> members_;
    int nextToOpen_ = 0;
    int waiting_ = 0;
    int joined_ = 0;
    int inFlight_ = 1;
};
