#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>

class QTcpSocket;
class QTimer;

// A TCP connection driven by its owner, one connection at a time.
//  - connect() on a socket that is not closed fails: callers rely on this to
//    notice that an earlier request is still running.
//  - close() never drops bytes already handed to sendData(): the old
//    connection finishes writing in the background, and the socket is closed
//    (and may connect again) at once.
//  - bytes of a closed connection are never delivered.
class Socket : public QObject {
    Q_OBJECT
public:
    enum State {
        Closed = 0,
        Connecting = 6,
        Connected = 7,
        PeerClosed = 8,
        Error = 9,
    };

    explicit Socket(const QString& name, QObject* parent = nullptr);
    ~Socket() override;

    bool connect(const QString& host, quint16 port);
    // Connects again to the host and port given last time.
    bool connect();
    // False when the socket is not connected; nothing is sent then.
    bool sendData(const QByteArray& bytes);
    QByteArray getData();
    void close();
    int state() const;
    // Bytes handed to sendData() that the peer has not taken yet.
    qint64 bytesToWrite() const;
    // Bytes received and not read yet.
    qint64 bytesAvailable() const;
    QString localIP() const;
    QString name() const { return objectName(); }

    // Each connection attempt that is not up within this time fails with
    // errorOccurred(). 0 waits as long as the system does.
    void setConnectTimeout(int ms) { connectTimeoutMs_ = ms; }

    // Tests watch every sendData() call as it is made, to check what goes out
    // in one send where the network would merge writes.
    using SendObserver = std::function<void(const Socket&, const QByteArray&)>;
    static void setSendObserver(SendObserver observer);

signals:
    void connected();
    void dataArrival();
    // The peer closed the connection; bytes it sent before are still readable.
    void peerClosed();
    void errorOccurred(const QString& message);

private:
    void detach();

    QPointer<QTcpSocket> tcp_;
    QTimer* connectTimer_;
    QString host_;
    quint16 port_ = 0;
    int state_ = Closed;
    int connectTimeoutMs_ = 0;
};
