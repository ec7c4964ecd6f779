#include "support/fakes.h"

#include "platform/socket.h"

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

FakeServer::FakeServer(QObject* parent)
    : QObject(parent)
{
    server_.listen(QHostAddress::LocalHost, 0);
    connect(&server_, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = server_.nextPendingConnection()) {
            const int index = static_cast<int>(connections_.size());
            connections_.append(socket);
            received_.append(QByteArray());
            closed_.append(false);
            paused_.append(false);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket, index] {
                if (paused_[index])
                    return;
                received_[index] += socket->readAll();
                if (onReceived)
                    onReceived(index);
            });
            connect(socket, &QTcpSocket::disconnected, this, [this, socket, index] {
                received_[index] += socket->readAll();
                closed_[index] = true;
            });
            if (onConnection)
                onConnection(index);
        }
    });
}

FakeServer::~FakeServer()
{
    // The connections' last signals must not reach the lists, which go first.
    for (const QPointer<QTcpSocket>& socket : std::as_const(connections_)) {
        if (socket) {
            socket->disconnect(this);
            socket->abort();
        }
    }
    server_.close();
}

QTcpSocket* FakeServer::connection(int index) const
{
    return index >= 0 && index < connections_.size() ? connections_[index].data() : nullptr;
}

QTcpSocket* FakeServer::last() const
{
    return connection(connectionCount() - 1);
}

QByteArray FakeServer::received(int index) const
{
    return index >= 0 && index < received_.size() ? received_[index] : QByteArray();
}

QByteArray FakeServer::allReceived() const
{
    QByteArray all;
    for (const QByteArray& bytes : received_)
        all += bytes;
    return all;
}

bool FakeServer::closedByClient(int index) const
{
    return index >= 0 && index < closed_.size() && closed_[index];
}

void FakeServer::send(int index, const QByteArray& bytes)
{
    if (QTcpSocket* socket = connection(index)) {
        socket->write(bytes);
        socket->flush();
    }
}

void FakeServer::closeConnection(int index)
{
    if (QTcpSocket* socket = connection(index))
        socket->disconnectFromHost();
}

void FakeServer::pauseReading(int index)
{
    QTcpSocket* socket = connection(index);
    if (!socket)
        return;
    paused_[index] = true;
    // Qt stops reading from the system once its own buffer is full; the
    // system's buffer is kept small so that the peer is held back soon.
    socket->setReadBufferSize(1);
    socket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 4096);
}

quint16 refusingPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

MessageBoxRecorder::MessageBoxRecorder()
{
    setMessageBoxHandler([this](const MessageRecord& record) {
        boxes.append(record);
        if (whileShown)
            whileShown(record);
    });
}

MessageBoxRecorder::~MessageBoxRecorder()
{
    setMessageBoxHandler({});
}

SendRecorder::SendRecorder(const QString& socketName)
{
    Socket::setSendObserver([this, socketName](const Socket& socket, const QByteArray& bytes) {
        if (socket.name() == socketName)
            sends.append(bytes);
    });
}

SendRecorder::~SendRecorder()
{
    Socket::setSendObserver({});
}

QByteArray SendRecorder::joined() const
{
    QByteArray all;
    for (const QByteArray& bytes : sends)
        all += bytes;
    return all;
}

void useFreshSettings()
{
    // A folder of this process's own, so that test programs running side by
    // side never share a store.
    static QTemporaryDir folder;
    if (qgetenv("XDG_CONFIG_HOME") != folder.path().toLocal8Bit())
        qputenv("XDG_CONFIG_HOME", folder.path().toLocal8Bit());
    QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Tavimere1.3")).clear();
    setPreviousInstance(false);
}

bool wireIsClean(const QByteArray& bytes)
{
    if (!bytes.isEmpty() && !bytes.endsWith("\r\n"))
        return false;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const char c = bytes.at(i);
        if (c == '\0')
            return false;
        if (c == '\r' && (i + 1 == bytes.size() || bytes.at(i + 1) != '\n'))
            return false;
        if (c == '\n' && (i == 0 || bytes.at(i - 1) != '\r'))
            return false;
    }
    return true;
}

qint64 statusKiB(const QByteArray& field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field + ':'))
            return line.mid(field.size() + 1).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}
