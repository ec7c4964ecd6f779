#include "support/irc_peer.h"

#include <QHostAddress>
#include <QtTest>

#include <algorithm>

namespace {

// Far above any line an IRC server sends; a peer that never ends a line
// cannot grow the buffer further.
constexpr qsizetype kMaxLineBytes = 64 * 1024;

QString registration(const QString& nick, int flag)
{
    return QStringLiteral("PASS MORBADENTILQ \r\nNICK %1 \r\nUSER Username hostname servername :%2 0 \r\n")
        .arg(nick)
        .arg(flag);
}

// Takes the complete lines out of `pending`, keeping an unfinished tail.
QList<QByteArray> takeLines(QByteArray& pending)
{
    QList<QByteArray> lines;
    qsizetype start = 0;
    qsizetype end;
    while ((end = pending.indexOf("\r\n", start)) >= 0) {
        lines.append(pending.mid(start, end - start));
        start = end + 2;
    }
    pending.remove(0, start);
    if (pending.size() > kMaxLineBytes)
        pending.clear();
    return lines;
}

// The numeric of a server line, ":server 001 nick ...", or an empty view.
QByteArrayView numericOf(const QByteArray& line)
{
    if (!line.startsWith(':'))
        return {};
    const qsizetype space = line.indexOf(' ');
    if (space < 0 || line.size() < space + 4)
        return {};
    return QByteArrayView(line).sliced(space + 1, 3);
}

} // namespace

IrcPeer::IrcPeer(const QString& nick, int flag) : nick(nick), flag(flag)
{
    connect(&socket_, &QTcpSocket::readyRead, this, &IrcPeer::readLines);
}

bool IrcPeer::connectTo(quint16 port, int ms)
{
    socket_.connectToHost(QHostAddress::LocalHost, port);
    if (!socket_.waitForConnected(ms))
        return false;
    socket_.write(registration(nick, flag).toUtf8());
    return waitFor(QStringLiteral(" 001 "), 0, ms).has_value();
}

void IrcPeer::send(const QString& line)
{
    socket_.write(line.toUtf8() + "\r\n");
}

void IrcPeer::readLines()
{
    pending_ += socket_.readAll();
    for (const QByteArray& bytes : takeLines(pending_)) {
        if (bytes.startsWith("PING "))
            socket_.write("PONG " + bytes.mid(5) + "\r\n");
        lines.append(QString::fromUtf8(bytes));
    }
}

std::optional<QString> IrcPeer::waitFor(const QString& part, qsizetype from, int ms)
{
    std::optional<QString> found;
    qsizetype next = from;
    [[maybe_unused]] const bool arrived = QTest::qWaitFor(
        [&] {
            for (; next < lines.size() && !found; ++next) {
                if (lines[next].contains(part))
                    found = lines[next];
            }
            return found.has_value();
        },
        ms);
    return found;
}

QStringList IrcPeer::ask(const QString& request, const QStringList& ends, int ms)
{
    const qsizetype from = lines.size();
    send(request);
    qsizetype end = -1;
    [[maybe_unused]] const bool answered = QTest::qWaitFor(
        [&] {
            for (qsizetype i = from; i < lines.size() && end < 0; ++i) {
                if (std::any_of(ends.cbegin(), ends.cend(), [&](const QString& e) { return lines[i].contains(e); }))
                    end = i;
            }
            return end >= 0;
        },
        ms);
    return end < 0 ? QStringList() : lines.mid(from, end - from + 1);
}

bool IrcPeer::waitForMembers(const QString& channel, const QStringList& nicks, int ms)
{
    // Every ask costs the peer flood penalty on a stock server: a few
    // seconds apart at most.
    return QTest::qWaitFor(
        [&] {
            const QStringList answer = ask(QStringLiteral("NAMES ") + channel, {QStringLiteral(" 366 ")}, 2000);
            QStringList present;
            for (const QString& line : answer) {
                if (line.contains(QStringLiteral(" 353 ")))
                    present += line.section(QStringLiteral(" :"), 1).split(QLatin1Char(' '), Qt::SkipEmptyParts);
            }
            for (QString& name : present) {
                while (name.startsWith(QLatin1Char('@')) || name.startsWith(QLatin1Char('+')))
                    name.remove(0, 1);
            }
            const bool all = std::all_of(nicks.cbegin(), nicks.cend(),
                                         [&present](const QString& n) { return present.contains(n); });
            if (!all)
                QTest::qWait(1000);
            return all;
        },
        ms);
}

bool IrcPeer::becomeOperator(const QString& name, const QString& password, int ms)
{
    return !ask(QStringLiteral("OPER %1 %2").arg(name, password), {QStringLiteral(" 381 ")}, ms).isEmpty();
}

bool IrcCrowd::fill(quint16 port, const QString& channel, const QString& prefix, int count, int inFlight, int ms)
{
    port_ = port;
    channel_ = channel;
    prefix_ = prefix;
    inFlight_ = std::max(1, inFlight);
    members_.resize(count);
    while (nextToOpen_ < count && waiting_ < inFlight_)
        open(nextToOpen_++);
    return QTest::qWaitFor([this, count] { return joined_ == count; }, ms);
}

QString IrcCrowd::nick(int index) const
{
    return prefix_ + QStringLiteral("%1").arg(index, 3, 10, QLatin1Char('0'));
}

int IrcCrowd::connected() const
{
    return static_cast<int>(std::count_if(members_.cbegin(), members_.cend(), [](const Member& m) {
        return m.socket && m.socket->state() == QAbstractSocket::ConnectedState;
    }));
}

void IrcCrowd::open(int index)
{
    auto* socket = new QTcpSocket(this);
    members_[index].socket = socket;
    ++waiting_;
    connect(socket, &QTcpSocket::readyRead, this, [this, index] { readLines(members_[index]); });
    connect(socket, &QTcpSocket::connected, this,
            [this, index, socket] { socket->write(registration(nick(index), flagOf(index)).toUtf8()); });
    socket->connectToHost(QHostAddress::LocalHost, port_);
}

void IrcCrowd::readLines(Member& member)
{
    member.pending += member.socket->readAll();
    for (const QByteArray& line : takeLines(member.pending)) {
        if (line.startsWith("PING ")) {
            member.socket->write("PONG " + line.mid(5) + "\r\n");
            continue;
        }
        const QByteArrayView numeric = numericOf(line);
        if (numeric == "001" && !member.welcomed) {
            member.welcomed = true;
            // Servers refuse commands before the welcome (InspIRCd answers
            // a JOIN sent with the registration with 451).
            member.socket->write("JOIN " + channel_.toUtf8() + "\r\n");
            --waiting_;
            while (nextToOpen_ < members_.size() && waiting_ < inFlight_)
                open(nextToOpen_++);
        } else if (numeric == "366" && !member.joined) {
            member.joined = true;
            ++joined_;
        }
    }
}
