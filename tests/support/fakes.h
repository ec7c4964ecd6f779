#pragma once

#include "platform/dialogs.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <functional>

class Socket;

// A server on 127.0.0.1 (port chosen by the system) that records every byte
// each connection sends and lets the test answer.
class FakeServer : public QObject {
    Q_OBJECT
public:
    explicit FakeServer(QObject* parent = nullptr);
    ~FakeServer() override;
    quint16 port() const { return server_.serverPort(); }

    // Connections in the order they were accepted.
    int connectionCount() const { return static_cast<int>(connections_.size()); }
    QTcpSocket* connection(int index) const;
    QTcpSocket* last() const;
    QByteArray received(int index) const;
    // All bytes received on all connections, in connection order.
    QByteArray allReceived() const;
    bool closedByClient(int index) const;

    void send(int index, const QByteArray& bytes);
    void sendLast(const QByteArray& bytes) { send(connectionCount() - 1, bytes); }
    void closeConnection(int index);
    // Stops taking bytes from a connection, as a server that no longer
    // reads: what the peer sends then waits in the system's buffers, and
    // once they are full TCP holds the peer back.
    void pauseReading(int index);

    // Called with each newly accepted connection's index.
    std::function<void(int)> onConnection;
    // Called with a connection's index whenever it has received bytes.
    std::function<void(int)> onReceived;

    // Stops listening: connections are refused from then on.
    void stopListening() { server_.close(); }

private:
    QTcpServer server_;
    QList<QPointer<QTcpSocket>> connections_;
    QList<QByteArray> received_;
    QList<bool> closed_;
    QList<bool> paused_;
};

// A port on 127.0.0.1 on which nothing listens.
quint16 refusingPort();

// Records every message box instead of showing it; an optional action runs
// while the "box" is up, as events would in the real modal loop.
class MessageBoxRecorder {
public:
    MessageBoxRecorder();
    ~MessageBoxRecorder();
    QList<MessageRecord> boxes;
    std::function<void(const MessageRecord&)> whileShown;
};

// Records each sendData() call of the sockets with the given name.
class SendRecorder {
public:
    explicit SendRecorder(const QString& socketName);
    ~SendRecorder();
    QList<QByteArray> sends;
    QByteArray joined() const;
};

// Every line the client writes ends with CR LF and carries no other CR, LF
// or NUL: text from a server cannot smuggle a second command onto the wire.
bool wireIsClean(const QByteArray& bytes);

// A value from /proc/self/status in KiB ("VmRSS", "VmHWM"); -1 when unknown.
qint64 statusKiB(const QByteArray& field);

// AddressSanitizer keeps freed memory in quarantine, so resident memory says
// nothing about what the program holds there.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kMemoryIsMeasurable = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kMemoryIsMeasurable = false;
#else
constexpr bool kMemoryIsMeasurable = true;
#endif
#else
constexpr bool kMemoryIsMeasurable = true;
#endif

// Gives each test a private, empty settings store and no other copy of the
// program running.
void useFreshSettings();
