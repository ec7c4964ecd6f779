#include "platform/socket.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QTcpSocket>
#include <QTimer>

namespace {
Socket::SendObserver& sendObserver()
{
    static Socket::SendObserver observer;
    return observer;
}

// How long a closed connection may take to hand its last bytes to the peer.
constexpr int kLingerMs = 10000;
// What one connection holds unread. A peer that sends faster than we read
// is held back by TCP instead of filling our memory.
constexpr qint64 kReadBufferBytes = 1024 * 1024;
} // namespace

Socket::Socket(const QString& name, QObject* parent)
    : QObject(parent)
    , connectTimer_(new QTimer(this))
{
    setObjectName(name);
    connectTimer_->setSingleShot(true);
    QObject::connect(connectTimer_, &QTimer::timeout, this, [this] {
        if (state_ != Connecting)
            return;
        detach();
        state_ = Error;
        emit errorOccurred(QStringLiteral("Connection timed out"));
    });
}

Socket::~Socket()
{
    detach();
}

void Socket::setSendObserver(SendObserver observer)
{
    sendObserver() = std::move(observer);
}

bool Socket::connect(const QString& host, quint16 port)
{
    if (state_ != Closed)
        return false;
    host_ = host;
    port_ = port;
    tcp_ = new QTcpSocket(this);
    QTcpSocket* tcp = tcp_;
    tcp->setReadBufferSize(kReadBufferBytes);
    QObject::connect(tcp, &QTcpSocket::connected, this, [this] {
        connectTimer_->stop();
        state_ = Connected;
        emit connected();
    });
    QObject::connect(tcp, &QTcpSocket::readyRead, this, [this] { emit dataArrival(); });
    QObject::connect(tcp, &QTcpSocket::disconnected, this, [this] {
        if (state_ == Connected) {
            state_ = PeerClosed;
            emit peerClosed();
        }
    });
    QObject::connect(tcp, &QTcpSocket::errorOccurred, this, [this, tcp](QAbstractSocket::SocketError error) {
        if (error == QAbstractSocket::RemoteHostClosedError)
            return; // reported by disconnected()
        connectTimer_->stop();
        const bool wasUp = state_ == Connected;
        state_ = Error;
        if (wasUp && tcp->bytesAvailable() > 0)
            emit dataArrival();
        emit errorOccurred(tcp->errorString());
    });
    state_ = Connecting;
    if (connectTimeoutMs_ > 0)
        connectTimer_->start(connectTimeoutMs_);
    tcp->connectToHost(host, port);
    return true;
}

bool Socket::connect()
{
    return connect(host_, port_);
}

bool Socket::sendData(const QByteArray& bytes)
{
    if (sendObserver())
        sendObserver()(*this, bytes);
    if (state_ != Connected || !tcp_)
        return false;
    return tcp_->write(bytes) == bytes.size();
}

QByteArray Socket::getData()
{
    return tcp_ ? tcp_->readAll() : QByteArray();
}

void Socket::close()
{
    connectTimer_->stop();
    detach();
    state_ = Closed;
}

int Socket::state() const
{
    return state_;
}

qint64 Socket::bytesToWrite() const
{
    return tcp_ ? tcp_->bytesToWrite() : 0;
}

qint64 Socket::bytesAvailable() const
{
    return tcp_ ? tcp_->bytesAvailable() : 0;
}

QString Socket::localIP() const
{
    return tcp_ ? tcp_->localAddress().toString() : QString();
}

void Socket::detach()
{
    if (!tcp_)
        return;
    QTcpSocket* tcp = tcp_;
    tcp_ = nullptr;
    tcp->disconnect(this);
    // Owned by the application while it lingers, so that a program ending
    // first still frees it.
    tcp->setParent(QCoreApplication::instance());
    if (tcp->state() == QAbstractSocket::ConnectedState) {
        // Let the last bytes reach the peer, then let go of the connection.
        QObject::connect(tcp, &QTcpSocket::disconnected, tcp, &QObject::deleteLater);
        QTimer::singleShot(kLingerMs, tcp, [tcp] { tcp->abort(); tcp->deleteLater(); });
        tcp->disconnectFromHost();
        return;
    }
    tcp->abort();
    tcp->deleteLater();
}
