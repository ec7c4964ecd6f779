#include "devgateway.h"
#include "login/gateway_http.h"
#include "platform/cp1252.h"

#include <QMap>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QtTest>

#include <algorithm>
#include <memory>

using gateway::HeaderSet;

namespace {

const QString kConnectAddress = QStringLiteral("192.0.2.55");
const QString kLobbyFirst = QStringLiteral("1001 Sunday_Skirmish Wanderer Marshfield 3 6 0 42");
const QString kLobbySecond = QStringLiteral("1003 Clan_Practice Thistle Reedholm 4 8 1 120");
const QString kDuel = QStringLiteral("3001 Best_Of_Three Ember Causeway 1 2 0 54");

QString bodyOf(const QString& reply)
{
    const qsizetype end = reply.indexOf(QStringLiteral("\r\n\r\n"));
    return end < 0 ? QString() : reply.mid(end + 4);
}

QString headOf(const QString& reply)
{
    const qsizetype end = reply.indexOf(QStringLiteral("\r\n\r\n"));
    return end < 0 ? reply : reply.left(end + 2);
}

} // namespace

class TestDevGateway : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void sessionCookie_data();
    void sessionCookie();
    void sessionCookieRoundTrip();
    void pages_data();
    void pages();
    void login_data();
    void login();
    void gameList_data();
    void gameList();
    void rawRequests_data();
    void rawRequests();
    void requestLogged_data();
    void requestLogged();
    void parseGames_data();
    void parseGames();
    void gamesLiveAndEnd();
    void churnIsServed();

private:
    // Sends one request and collects everything until the gateway closes.
    bool exchange(const QByteArray& request, QString& reply);
    static bool exchange(const QByteArray& request, QString& reply, quint16 port);
    bool exchange(const QString& page, HeaderSet set, const QString& cookieLine, QString& reply);

    std::unique_ptr<DevGateway> m_gateway;
};

void TestDevGateway::initTestCase()
{
    DevGatewayConfig config;
    config.connectAddress = kConnectAddress;
    config.games = {{"Lobby", kLobbyFirst}, {"Duel", kDuel}, {"Lobby", kLobbySecond}};
    m_gateway = std::make_unique<DevGateway>(config);
    QVERIFY2(m_gateway->listen(QHostAddress::LocalHost, 0), qPrintable(m_gateway->errorString()));
    QVERIFY(m_gateway->port() != 0);
}

bool TestDevGateway::exchange(const QByteArray& request, QString& reply)
{
    return exchange(request, reply, m_gateway->port());
}

bool TestDevGateway::exchange(const QByteArray& request, QString& reply, quint16 port)
{
    QTcpSocket socket;
    gateway::Response response;
    QObject::connect(&socket, &QTcpSocket::connected, &socket, [&socket, &request] { socket.write(request); });
    QObject::connect(&socket, &QTcpSocket::readyRead, &socket,
                     [&socket, &response] { response.append(socket.readAll()); });
    QSignalSpy closed(&socket, &QTcpSocket::disconnected);
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!closed.wait(10000))
        return false;
    response.append(socket.readAll());
    reply = response.text();
    return true;
}

bool TestDevGateway::exchange(const QString& page, HeaderSet set, const QString& cookieLine, QString& reply)
{
    const QString request = gateway::buildRequest(QStringLiteral("127.0.0.1"), page, set, cookieLine);
    const std::optional<QByteArray> bytes = encodeWindows1252(request);
    return !request.isEmpty() && bytes && exchange(*bytes, reply);
}

void TestDevGateway::sessionCookie_data()
{
    QTest::addColumn<HeaderSet>("set");
    QTest::addColumn<QString>("cookieLine");
    QTest::addColumn<bool>("newSession");

    QTest::newRow("first contact") << HeaderSet::Plain << "" << true;
    QTest::newRow("empty cookie line") << HeaderSet::Cookie << "" << true;
    QTest::newRow("other cookie only") << HeaderSet::Cookie << "Cookie: OTHER=1" << true;
    QTest::newRow("session sent back") << HeaderSet::Cookie << "Cookie: FENSESSION=00ff; path=/" << false;
    QTest::newRow("session after another cookie")
        << HeaderSet::CookieAndLevel << "Cookie: OTHER=1; FENSESSION=00ff; path=/" << false;
}

void TestDevGateway::sessionCookie()
{
    QFETCH(HeaderSet, set);
    QFETCH(QString, cookieLine);
    QFETCH(bool, newSession);

    QString reply;
    QVERIFY(exchange(gateway::welcomePage(), set, cookieLine, reply));
    QVERIFY(reply.startsWith(QStringLiteral("HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n")));
    QVERIFY(bodyOf(reply).contains(QStringLiteral("Welcome to the FENMOOR Gateway.<BR></FONT>")));
    static const QRegularExpression setCookie(
        QStringLiteral("\r\nSet-Cookie: FENSESSION=[0-9a-f]{32}; path=/\r\n"));
    QCOMPARE(setCookie.match(headOf(reply)).hasMatch(), newSession);
    QCOMPARE(reply.count(QStringLiteral("Set-Cookie:")), newSession ? 1 : 0);
}

void TestDevGateway::sessionCookieRoundTrip()
{
    QString first;
    QVERIFY(exchange(gateway::welcomePage(), HeaderSet::Plain, QString(), first));
    QString cookieLine;
    gateway::captureCookies(first, cookieLine);
    QVERIFY(cookieLine.startsWith(QStringLiteral("Cookie: FENSESSION=")));

    QString second;
    QVERIFY(exchange(gateway::loginFormPage(), HeaderSet::Cookie, cookieLine, second));
    QVERIFY(second.contains(QStringLiteral("<SHOWLOGIN>")));
    QVERIFY(!second.contains(QStringLiteral("Set-Cookie")));

    QString other;
    QVERIFY(exchange(gateway::welcomePage(), HeaderSet::Plain, QString(), other));
    QString otherCookieLine;
    gateway::captureCookies(other, otherCookieLine);
    QVERIFY(otherCookieLine.startsWith(QStringLiteral("Cookie: FENSESSION=")));
    QVERIFY(otherCookieLine != cookieLine);
}

void TestDevGateway::pages_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<HeaderSet>("set");
    QTest::addColumn<QString>("cookieLine");
    QTest::addColumn<QString>("marker");

    QTest::newRow("welcome") << gateway::welcomePage() << HeaderSet::Plain << ""
                             << "Welcome to the FENMOOR Gateway.<BR></FONT>";
    QTest::newRow("login form") << gateway::loginFormPage() << HeaderSet::Cookie << "Cookie: FENSESSION=1"
                                << "<SHOWLOGIN>";
    QTest::newRow("login form, empty cookie line") << gateway::loginFormPage() << HeaderSet::Cookie << ""
                                                   << "<SHOWLOGIN>";
    QTest::newRow("page names in any case") << "LOGINFORM.ASP" << HeaderSet::Cookie << "" << "<SHOWLOGIN>";
    QTest::newRow("channel scheme") << gateway::channelSchemePage("Duel") << HeaderSet::CookieAndLevel
                                    << "Cookie: FENSESSION=1" << "<SCHEME channel=Duel>";
    QTest::newRow("channel scheme escapes markup") << gateway::channelSchemePage("a<b>") << HeaderSet::CookieAndLevel
                                                   << "" << "<SCHEME channel=a&lt;b&gt;>";
}

void TestDevGateway::pages()
{
    QFETCH(QString, page);
    QFETCH(HeaderSet, set);
    QFETCH(QString, cookieLine);
    QFETCH(QString, marker);

    QString reply;
    QVERIFY(exchange(page, set, cookieLine, reply));
    QVERIFY(reply.startsWith(QStringLiteral("HTTP/1.0 200 OK\r\n")));
    QVERIFY2(bodyOf(reply).contains(marker), qPrintable(reply));
}

void TestDevGateway::login_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("ordinary") << "Wanderer" << true;
    QTest::newRow("fifteen characters") << "abcdefghijklmno" << true;
    QTest::newRow("reserved word inside") << "TheAdmin" << true;
    QTest::newRow("longer than a taken name") << "Takens" << true;
    QTest::newRow("a simulated player's name") << "Kite" << true;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("sixteen characters") << "abcdefghijklmnop" << false;
    QTest::newRow("taken") << "Taken" << false;
    QTest::newRow("taken, other case") << "tAKEN" << false;
    QTest::newRow("reserved admin") << "AdminBob" << false;
    QTest::newRow("reserved chanserv") << "chanserv" << false;
    QTest::newRow("reserved fenmoor") << "FENMOORfan" << false;
    QTest::newRow("reserved gateway") << "Gateway2" << false;
    QTest::newRow("blank") << "two words" << false;
    QTest::newRow("comma") << "a,b" << false;
    QTest::newRow("star") << "a*b" << false;
    QTest::newRow("question mark") << "a?b" << false;
    QTest::newRow("exclamation mark") << "a!b" << false;
    QTest::newRow("at") << "a@b" << false;
    QTest::newRow("hash") << "a#b" << false;
    QTest::newRow("colon") << "a:b" << false;
    QTest::newRow("control character") << QStringLiteral("a") + QChar(0x81) + QStringLiteral("b") << false;
}

void TestDevGateway::login()
{
    QFETCH(QString, name);
    QFETCH(bool, accepted);

    QString reply;
    QVERIFY(exchange(gateway::loginPage(name, QStringLiteral("10.0.0.5")), HeaderSet::Cookie,
                     QStringLiteral("Cookie: FENSESSION=1"), reply));
    const QString body = bodyOf(reply);
    QCOMPARE(body.contains(QStringLiteral("<CONNECT ") + kConnectAddress + QStringLiteral(">")), accepted);
    QCOMPARE(body.contains(QStringLiteral("Your username is invalid")), !accepted);
}

void TestDevGateway::gameList_data()
{
    QTest::addColumn<QString>("channel");
    QTest::addColumn<QString>("body");

    const QString lobby = QStringLiteral("<GAMELISTSTART>\n") + kLobbyFirst + QStringLiteral("<BR>\n") + kLobbySecond
        + QStringLiteral("<BR>\n<GAMELISTEND>\n");
    const QString empty = QStringLiteral("<GAMELISTSTART>\nNo games are hosted in this channel.\n");
    QTest::newRow("two games") << "Lobby" << lobby;
    QTest::newRow("channel in another case") << "lobby" << lobby;
    QTest::newRow("one game") << "Duel" << QStringLiteral("<GAMELISTSTART>\n") + kDuel
            + QStringLiteral("<BR>\n<GAMELISTEND>\n");
    QTest::newRow("no games") << "Chat" << empty;
    QTest::newRow("hash left on") << "#Lobby" << empty;
    QTest::newRow("empty channel") << "" << empty;
}

void TestDevGateway::gameList()
{
    QFETCH(QString, channel);
    QFETCH(QString, body);

    QString reply;
    QVERIFY(exchange(gateway::gameListPage(channel), HeaderSet::CookieAndLevel, QStringLiteral("Cookie: FENSESSION=1"),
                     reply));
    QVERIFY(reply.startsWith(QStringLiteral("HTTP/1.0 200 OK\r\n")));
    QCOMPARE(bodyOf(reply), body);
}

void TestDevGateway::rawRequests_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QString>("statusLine");
    QTest::addColumn<QString>("marker");

    QTest::newRow("origin-form path") << QByteArray("GET /glimmerfallweb/LoginForm.asp HTTP/1.0\r\n\r\n")
                                      << "HTTP/1.0 200 OK" << "<SHOWLOGIN>";
    QTest::newRow("unknown page")
        << gateway::buildRequest("127.0.0.1", "Unknown.asp?Channel=Lobby", HeaderSet::Plain, "").toLatin1()
        << "HTTP/1.0 404 Not Found" << "";
    QTest::newRow("unknown page, origin-form") << QByteArray("GET /glimmerfallweb/ HTTP/1.0\r\n\r\n")
                                               << "HTTP/1.0 404 Not Found" << "";
    QTest::newRow("other folder") << QByteArray("GET /other/welcomeloginform.asp HTTP/1.0\r\n\r\n")
                                  << "HTTP/1.0 404 Not Found" << "";
    QTest::newRow("no path") << QByteArray("GET Http://127.0.0.1:80 HTTP/1.0\r\n\r\n") << "HTTP/1.0 404 Not Found"
                             << "";
    QTest::newRow("not a request") << QByteArray("HELLO\r\n\r\n") << "HTTP/1.0 400 Bad Request" << "";
    QTest::newRow("empty request") << QByteArray("\r\n\r\n") << "HTTP/1.0 400 Bad Request" << "";
    QTest::newRow("headers never end") << QByteArray(70000, 'a') << "HTTP/1.0 400 Bad Request" << "";
    QTest::newRow("blank in the query")
        << QByteArray("GET Http://127.0.0.1:80/glimmerfallweb/Login.asp?UserName=a HTTP/1.0&Password=&IPAddress=1 "
                      "HTTP/1.0\r\n\r\n")
        << "HTTP/1.0 200 OK" << "Your username is invalid";
}

void TestDevGateway::rawRequests()
{
    QFETCH(QByteArray, request);
    QFETCH(QString, statusLine);
    QFETCH(QString, marker);

    QString reply;
    QVERIFY(exchange(request, reply));
    QCOMPARE(reply.section(QStringLiteral("\r\n"), 0, 0), statusLine);
    QVERIFY(bodyOf(reply).contains(marker));
}

void TestDevGateway::requestLogged_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QString>("logged");

    QTest::newRow("request line") << gateway::buildRequest("127.0.0.1", "GameList.asp?Channel=Duel",
                                                           HeaderSet::CookieAndLevel, "Cookie: A=1")
                                         .toLatin1()
                                  << "GET Http://127.0.0.1:80/glimmerfallweb/GameList.asp?Channel=Duel HTTP/1.0";
    QTest::newRow("terminal escape replaced") << QByteArray("GET /glimmerfallweb/x\x1b[2J.asp HTTP/1.0\r\n\r\n")
                                              << "GET /glimmerfallweb/x?[2J.asp HTTP/1.0";
}

void TestDevGateway::requestLogged()
{
    QFETCH(QByteArray, request);
    QFETCH(QString, logged);

    QSignalSpy spy(m_gateway.get(), &DevGateway::requestAnswered);
    QString reply;
    QVERIFY(exchange(request, reply));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.first().first().toString(), logged);
}

void TestDevGateway::parseGames_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QStringList>("channels");
    QTest::addColumn<QStringList>("records");
    QTest::addColumn<QString>("errorPart");

    QTest::newRow("comments and blank lines skipped")
        << "# sample\n\nLobby 1 a b c 2 4 0 30\r\n   \n\tDuel  2 d   e f 1 2 1 40  \n"
        << true << QStringList{"Lobby", "Duel"} << QStringList{"1 a b c 2 4 0 30", "2 d e f 1 2 1 40"} << "";
    QTest::newRow("empty file") << "" << true << QStringList{} << QStringList{} << "";
    QTest::newRow("too few fields") << "Lobby 1 a b c 2 4 0 30\nDuel 2 d e\n" << false << QStringList{}
                                    << QStringList{} << "line 2";
    QTest::newRow("locked field not 0 or 1") << "# x\nLobby 1 a b c 2 4 open 30\n" << false << QStringList{}
                                             << QStringList{} << "line 2";
    QTest::newRow("character the pages cannot carry") << QStringLiteral("Lobby 1 \u4e2d b c 2 4 0 30") << false
                                                       << QStringList{} << QStringList{} << "line 1";
}

void TestDevGateway::parseGames()
{
    QFETCH(QString, text);
    QFETCH(bool, ok);
    QFETCH(QStringList, channels);
    QFETCH(QStringList, records);
    QFETCH(QString, errorPart);

    const QList<DevGame> previous{{"Keep", "9 k k k 1 1 0 1"}};
    QList<DevGame> games = previous;
    QString error;
    QCOMPARE(DevGateway::parseGames(text, games, error), ok);
    if (!ok) {
        QVERIFY2(error.contains(errorPart), qPrintable(error));
        QCOMPARE(games.size(), previous.size());
        QCOMPARE(games.first().channel, previous.first().channel);
        return;
    }
    QStringList parsedChannels;
    QStringList parsedRecords;
    for (const DevGame& game : games) {
        parsedChannels << game.channel;
        parsedRecords << game.record;
    }
    QCOMPARE(parsedChannels, channels);
    QCOMPARE(parsedRecords, records);
}

namespace {

struct GameState {
    QString channel;
    int players;
    int max;
    bool locked;
};

// The games by id; false when a record breaks the rules a client relies on.
bool readGames(const QList<DevGame>& games, const QStringList& channels, QMap<QString, GameState>& byId)
{
    byId.clear();
    for (const DevGame& game : games) {
        const QStringList fields = game.record.split(QLatin1Char(' '));
        bool playersOk = false;
        bool maxOk = false;
        const GameState state{game.channel, fields.value(4).toInt(&playersOk), fields.value(5).toInt(&maxOk),
                              fields.value(6) == QLatin1String("1")};
        if (fields.size() != 8 || !playersOk || !maxOk || !channels.contains(game.channel)
            || (fields[6] != QLatin1String("0") && fields[6] != QLatin1String("1")) || state.players > state.max
            || (state.players == state.max && !state.locked) || byId.contains(fields[0]))
            return false;
        byId.insert(fields[0], state);
    }
    return true;
}

} // namespace

void TestDevGateway::gamesLiveAndEnd()
{
    const QStringList channels = {QStringLiteral("Lobby"), QStringLiteral("Duel")};
    QList<DevGame> games = {{"Lobby", kLobbyFirst}, {"Duel", kDuel}, {"Lobby", kLobbySecond}};
    QRandomGenerator random(20240601);
    int nextId = 5001;
    QMap<QString, GameState> before;
    QVERIFY(readGames(games, channels, before));

    bool joined = false, filledAndLocked = false, lockedEarly = false, ended = false, opened = false;
    for (int step = 0; step < 200; ++step) {
        DevGateway::advanceGames(games, channels, random, nextId);
        QMap<QString, GameState> after;
        QVERIFY2(readGames(games, channels, after), qPrintable(QStringLiteral("step %1").arg(step)));
        for (const DevGame& game : std::as_const(games)) {
            const auto inChannel = std::count_if(games.cbegin(), games.cend(),
                                                 [&game](const DevGame& other) { return other.channel == game.channel; });
            QVERIFY(inChannel <= 3);
        }
        for (auto it = before.cbegin(); it != before.cend(); ++it) {
            if (!after.contains(it.key())) {
                // Only a locked game ends.
                QVERIFY(it->locked);
                ended = true;
                continue;
            }
            const GameState& now = after[it.key()];
            QCOMPARE(now.channel, it->channel);
            QCOMPARE(now.max, it->max);
            QVERIFY(now.players >= it->players);
            if (it->locked) {
                // A locked game takes nobody else and stays locked.
                QVERIFY(now.locked);
                QCOMPARE(now.players, it->players);
            }
            joined = joined || now.players > it->players;
            if (!it->locked && now.locked)
                (now.players == now.max ? filledAndLocked : lockedEarly) = true;
        }
        for (auto it = after.cbegin(); it != after.cend(); ++it) {
            if (!before.contains(it.key())) {
                QVERIFY(it.key().toInt() >= 5001);
                QCOMPARE(it->players, 1);
                QVERIFY(!it->locked);
                opened = true;
            }
        }
        before = after;
    }
    QVERIFY(joined);
    QVERIFY(filledAndLocked);
    QVERIFY(lockedEarly);
    QVERIFY(ended);
    QVERIFY(opened);
}

void TestDevGateway::churnIsServed()
{
    DevGatewayConfig config;
    config.games = {{"Duel", kDuel}};
    config.churnMs = 20;
    DevGateway gateway(config);
    QVERIFY(gateway.listen(QHostAddress::LocalHost, 0));
    const QString first = QStringLiteral("<GAMELISTSTART>\n") + kDuel + QStringLiteral("<BR>\n<GAMELISTEND>\n");
    const QByteArray request =
        gateway::buildRequest(QStringLiteral("127.0.0.1"), gateway::gameListPage(QStringLiteral("Duel")),
                              HeaderSet::CookieAndLevel, QString())
            .toLatin1();
    // The list changes while the gateway runs, with no restart.
    QString reply;
    QTRY_VERIFY_WITH_TIMEOUT(exchange(request, reply, gateway.port()) && bodyOf(reply).startsWith("<GAMELISTSTART>\n")
                                 && bodyOf(reply) != first,
                             10000);
}

QTEST_GUILESS_MAIN(TestDevGateway)
#include "test_devgateway.moc"
