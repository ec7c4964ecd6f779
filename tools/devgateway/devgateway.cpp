#include "devgateway.h"

#include "platform/cp1252.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <memory>
#include <optional>

namespace {

const QByteArray kCrLf = QByteArrayLiteral("\r\n");
const QByteArray kEndOfHead = QByteArrayLiteral("\r\n\r\n");
const QString kWebFolder = QStringLiteral("/glimmerfallweb/");

// A request whose headers never end is refused instead of filling memory.
constexpr qsizetype kMaxHeadBytes = 64 * 1024;
// A client that connects and never finishes its request is dropped.
constexpr int kIdleLimitMs = 30000;

constexpr qsizetype kMaxNameLength = 15;
constexpr int kRecordFields = 8;
constexpr int kMaxGamesPerChannel = 3;

// Fields of a game record.
enum Field { Id, Name, Host, Map, Players, Max, Locked, Ping };

const QStringList kNewGameNames = QStringLiteral(
    "Evening_Skirmish Marsh_Raid Rematch Capture_The_Reed Team_Brawl Free_For_All Night_Patrol Saltflat_Sprint")
                                      .split(QLatin1Char(' '));
const QStringList kNewGameHosts =
    QStringLiteral("Heron Thistle Ember Frost Sable Lantern Wanderer Guide Moss Briar").split(QLatin1Char(' '));
const QStringList kMaps = QStringLiteral("Marshfield Saltflats Reedholm Causeway").split(QLatin1Char(' '));

const QString& pick(const QStringList& items, QRandomGenerator& random)
{
    return items.at(static_cast<qsizetype>(random.bounded(static_cast<int>(items.size()))));
}

bool isBlankOrControl(QChar ch)
{
    return ch.isSpace() || ch.category() == QChar::Other_Control;
}

QString withControlsReplaced(QString text)
{
    std::replace_if(text.begin(), text.end(), [](QChar ch) { return ch.category() == QChar::Other_Control; },
                    QLatin1Char('?'));
    return text;
}

QString sessionId()
{
    quint32 words[4];
    QRandomGenerator::system()->fillRange(words);
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(words), sizeof words).toHex());
}

QString html(const QString& content)
{
    return QStringLiteral("<HTML><HEAD><TITLE>Fenmoor Gateway</TITLE></HEAD><BODY>") + content
        + QStringLiteral("</BODY></HTML>\n");
}

// Query values arrive as typed, not URL-encoded; a parameter runs from its
// "=" to the next "&".
QString queryValue(const QString& query, const QString& key)
{
    const QStringList parameters = query.split(QLatin1Char('&'));
    for (const QString& parameter : parameters) {
        const qsizetype equals = parameter.indexOf(QLatin1Char('='));
        const QString name = equals < 0 ? parameter : parameter.left(equals);
        if (name.compare(key, Qt::CaseInsensitive) == 0)
            return equals < 0 ? QString() : parameter.mid(equals + 1);
    }
    return {};
}

} // namespace

DevGateway::DevGateway(const DevGatewayConfig& config, QObject* parent)
    : QObject(parent)
    , m_config(config)
{
    connect(&m_server, &QTcpServer::newConnection, this, &DevGateway::acceptConnections);
    for (const DevGame& game : std::as_const(m_config.games)) {
        if (!m_channels.contains(game.channel))
            m_channels.append(game.channel);
    }
    m_random.seed(QRandomGenerator::system()->generate());
    connect(&m_churn, &QTimer::timeout, this,
            [this] { advanceGames(m_config.games, m_channels, m_random, m_nextId); });
    if (m_config.churnMs > 0)
        m_churn.start(m_config.churnMs);
}

void DevGateway::advanceGames(QList<DevGame>& games, const QStringList& channels, QRandomGenerator& random,
                              int& nextId)
{
    QList<DevGame> next;
    for (const DevGame& game : std::as_const(games)) {
        QStringList fields = game.record.split(QLatin1Char(' '));
        if (fields.size() < kRecordFields) {
            next.append(game);
            continue;
        }
        const int roll = random.bounded(100);
        if (fields[Locked] != QLatin1String("0")) {
            // Played out: about four steps on average.
            if (roll < 25)
                continue;
        } else {
            bool playersOk = false;
            bool maxOk = false;
            int players = fields[Players].toInt(&playersOk);
            const int max = fields[Max].toInt(&maxOk);
            if (playersOk && maxOk && roll < 45)
                ++players;
            if (playersOk && maxOk) {
                players = std::min(players, max);
                fields[Players] = QString::number(players);
            }
            // A full game starts and takes nobody else; now and then a host
            // closes a game to keep it among friends.
            if ((playersOk && maxOk && players >= max) || (roll >= 45 && roll < 50))
                fields[Locked] = QStringLiteral("1");
        }
        fields[Ping] = QString::number(20 + random.bounded(130));
        next.append({game.channel, fields.join(QLatin1Char(' '))});
    }
    for (const QString& channel : channels) {
        const auto hosted = std::count_if(next.cbegin(), next.cend(),
                                          [&channel](const DevGame& game) { return game.channel == channel; });
        if (hosted >= kMaxGamesPerChannel || random.bounded(3) != 0)
            continue;
        const int max = 2 * (1 + random.bounded(4));
        const QStringList fields = {QString::number(nextId++), pick(kNewGameNames, random),
                                    pick(kNewGameHosts, random), pick(kMaps, random),
                                    QStringLiteral("1"), QString::number(max), QStringLiteral("0"),
                                    QString::number(20 + random.bounded(130))};
        next.append({channel, fields.join(QLatin1Char(' '))});
    }
    games = next;
}

bool DevGateway::listen(const QHostAddress& address, quint16 port)
{
    return m_server.listen(address, port);
}

quint16 DevGateway::port() const
{
    return m_server.serverPort();
}

QString DevGateway::errorString() const
{
    return m_server.errorString();
}

bool DevGateway::parseGames(const QString& text, QList<DevGame>& games, QString& error)
{
    QList<DevGame> parsed;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString line = lines[i].trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const QString where = QStringLiteral("line %1: ").arg(i + 1);
        const QStringList fields = line.simplified().split(QLatin1Char(' '));
        if (fields.size() < kRecordFields + 1) {
            error = where
                + QStringLiteral("expected a channel and at least %1 blank-separated fields, found %2")
                      .arg(kRecordFields)
                      .arg(fields.size() - 1);
            return false;
        }
        const QString& locked = fields[1 + 6];
        if (locked != QLatin1String("0") && locked != QLatin1String("1")) {
            error = where + QStringLiteral("the seventh field must be 0 (open) or 1 (locked), not \"%1\"").arg(locked);
            return false;
        }
        DevGame game{fields[0], fields.mid(1).join(QLatin1Char(' '))};
        if (!encodeWindows1252(game.record)) {
            error = where + QStringLiteral("the record has characters Windows-1252 cannot carry");
            return false;
        }
        parsed.append(game);
    }
    games = parsed;
    return true;
}

bool DevGateway::loadGames(const QString& path, QList<DevGame>& games, QString& error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    if (!parseGames(QString::fromUtf8(file.readAll()), games, error)) {
        error = path + QLatin1Char(' ') + error;
        return false;
    }
    return true;
}

void DevGateway::acceptConnections()
{
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        // The state lives with the socket's handlers, so nothing here refers
        // to a socket that is already gone.
        auto connection = std::make_shared<Connection>();
        connect(socket, &QTcpSocket::readyRead, socket,
                [this, socket, connection] { readFrom(socket, *connection); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        QTimer::singleShot(kIdleLimitMs, socket, [socket] {
            socket->abort();
            socket->deleteLater();
        });
    }
}

void DevGateway::readFrom(QTcpSocket* socket, Connection& connection)
{
    const QByteArray bytes = socket->readAll();
    // Whatever follows an answered request is read and dropped: closing a
    // socket with unread bytes resets the connection, and the client could
    // lose the response.
    if (connection.answered)
        return;
    const qsizetype searchFrom = std::max<qsizetype>(0, connection.received.size() - (kEndOfHead.size() - 1));
    connection.received += bytes;
    const qsizetype end = connection.received.indexOf(kEndOfHead, searchFrom);
    if (end < 0 && connection.received.size() <= kMaxHeadBytes)
        return;
    connection.answered = true;
    const bool tooLarge = end < 0;
    const QByteArray head = tooLarge ? connection.received.left(kMaxHeadBytes) : connection.received.left(end);
    connection.received.clear();
    answer(socket, head, tooLarge);
}

void DevGateway::answer(QTcpSocket* socket, const QByteArray& head, bool tooLarge)
{
    // Only the first header block counts: a request with an empty cookie line
    // ends its headers early, and what follows is ignored.
    const QStringList lines = decodeWindows1252(head).split(QString::fromLatin1(kCrLf));
    const QString requestLine = lines.first();
    bool hasSession = false;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QString& line = lines[i];
        if (line.startsWith(QLatin1String("Cookie:"), Qt::CaseInsensitive)
            && line.contains(QLatin1String("FENSESSION=")))
            hasSession = true;
    }

    Reply reply = tooLarge ? Reply{"400 Bad Request", html(QStringLiteral("Request too large."))}
                                 : replyTo(requestLine);
    std::optional<QByteArray> body = encodeWindows1252(reply.body);
    if (!body) {
        reply.status = "500 Internal Server Error";
        body = encodeWindows1252(html(QStringLiteral("The page has characters Windows-1252 cannot carry.")));
    }

    QByteArray response = "HTTP/1.0 " + reply.status + kCrLf;
    response += "Content-Type: text/html" + kCrLf;
    if (!hasSession)
        response += "Set-Cookie: FENSESSION=" + sessionId().toLatin1() + "; path=/" + kCrLf;
    response += kCrLf;
    response += *body;

    emit requestAnswered(withControlsReplaced(requestLine));
    socket->write(response);
    // Closes once everything written has been sent.
    socket->disconnectFromHost();
}

DevGateway::Reply DevGateway::replyTo(const QString& requestLine) const
{
    const Reply badRequest{"400 Bad Request", html(QStringLiteral("Bad request."))};
    const Reply notFound{"404 Not Found", html(QStringLiteral("Not found."))};

    // The query is not URL-encoded and may hold blanks, so the version is
    // found from the end of the line.
    const qsizetype version = requestLine.lastIndexOf(QLatin1String(" HTTP/1."));
    if (!requestLine.startsWith(QLatin1String("GET ")) || version < 4 || version + 9 != requestLine.size())
        return badRequest;
    QString target = requestLine.mid(4, version - 4);
    if (target.startsWith(QLatin1String("http://"), Qt::CaseInsensitive)) {
        const qsizetype pathStart = target.indexOf(QLatin1Char('/'), 7);
        if (pathStart < 0)
            return notFound;
        target = target.mid(pathStart);
    }
    if (!target.startsWith(kWebFolder, Qt::CaseInsensitive))
        return notFound;
    target = target.mid(kWebFolder.size());
    const qsizetype questionMark = target.indexOf(QLatin1Char('?'));
    const QString page = questionMark < 0 ? target : target.left(questionMark);
    const QString query = questionMark < 0 ? QString() : target.mid(questionMark + 1);

    const auto is = [&page](const char* name) { return page.compare(QLatin1String(name), Qt::CaseInsensitive) == 0; };
    if (is("welcomeloginform.asp"))
        return {"200 OK", html(QStringLiteral("<FONT FACE=\"Arial\" SIZE=\"2\">Welcome to the FENMOOR Gateway.<BR></FONT>"))};
    if (is("LoginForm.asp"))
        return {"200 OK", html(QStringLiteral("<SHOWLOGIN>"))};
    if (is("Login.asp"))
        return loginReply(queryValue(query, QStringLiteral("UserName")));
    if (is("GameList.asp"))
        return gameListReply(queryValue(query, QStringLiteral("Channel")));
    if (is("RequestChannelScheme.asp")) {
        const QString channel = queryValue(query, QStringLiteral("Channel")).toHtmlEscaped();
        return {"200 OK", html(QStringLiteral("<SCHEME channel=%1><COLORS text=000000 background=FFFFFF></SCHEME>")
                                   .arg(channel))};
    }
    return notFound;
}

DevGateway::Reply DevGateway::loginReply(const QString& userName) const
{
    const QString reason = refusalReason(userName);
    if (!reason.isEmpty())
        return {"200 OK", html(QStringLiteral("Your username is invalid: ") + reason + QStringLiteral("<BR>"))};
    return {"200 OK", html(QStringLiteral("<CONNECT ") + m_config.connectAddress + QStringLiteral(">"))};
}

DevGateway::Reply DevGateway::gameListReply(const QString& channel) const
{
    QString body = QStringLiteral("<GAMELISTSTART>\n");
    bool any = false;
    for (const DevGame& game : m_config.games) {
        if (game.channel.compare(channel, Qt::CaseInsensitive) != 0)
            continue;
        body += game.record + QStringLiteral("<BR>\n");
        any = true;
    }
    body += any ? QStringLiteral("<GAMELISTEND>\n") : QStringLiteral("No games are hosted in this channel.\n");
    return {"200 OK", body};
}

QString DevGateway::refusalReason(const QString& userName) const
{
    if (userName.isEmpty())
        return QStringLiteral("a name is needed.");
    if (userName.size() > kMaxNameLength)
        return QStringLiteral("names have at most %1 characters.").arg(kMaxNameLength);
    if (std::any_of(userName.cbegin(), userName.cend(), isBlankOrControl))
        return QStringLiteral("names cannot contain blanks.");
    const QString forbidden = QStringLiteral(",*?!@#:");
    if (std::any_of(userName.cbegin(), userName.cend(), [&forbidden](QChar ch) { return forbidden.contains(ch); }))
        return QStringLiteral("names cannot contain any of ") + forbidden.toHtmlEscaped() + QLatin1Char('.');
    const QStringList reservedPrefixes = {QStringLiteral("admin"), QStringLiteral("chanserv"),
                                          QStringLiteral("fenmoor"), QStringLiteral("gateway")};
    for (const QString& prefix : reservedPrefixes) {
        if (userName.startsWith(prefix, Qt::CaseInsensitive))
            return QStringLiteral("that name is reserved.");
    }
    if (m_config.takenNames.contains(userName, Qt::CaseInsensitive))
        return QStringLiteral("that name is taken.");
    return {};
}
