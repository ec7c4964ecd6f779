// The real client against servers that send anything: a chat server that,
// once the user is logged in, streams random bytes, NULs, endless lines,
// bursts and every reply the client knows with broken fields, and a gateway
// whose answers are cut short, oversized or never end. The client must keep
// running, keep its memory bounded, keep its own lines clean and still
// handle an ordinary message afterwards.

#include "app/forms.h"
#include "channel/channel.h"
#include "lobby/game_list.h"
#include "lobby/lobby.h"
#include "login/gateway_http.h"
#include "login/login.h"
#include "platform/controls.h"
#include "platform/listview.h"
#include "platform/service.h"
#include "platform/socket.h"
#include "support/fakes.h"
#include "support/irc_lines_fixture.h"
#include "support/test_session.h"

#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

namespace {

// Every reply the lobby's dispatcher tells apart, the nick refusal aside:
// that one ends the session and has its own test.
const QByteArrayList kNumerics = {"001", "002", "003", "004", "250", "251", "252", "253", "254", "255", "265",
                                  "266", "372", "375", "376", "005", "321", "322", "353", "352", "315", "311",
                                  "401"};

QByteArray randomBytes(QRandomGenerator& random, qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (char& byte : bytes)
        byte = static_cast<char>(random.bounded(256));
    return bytes;
}

// A word as a broken server might put in a field: empty, a number too large
// for anything, colons, markup, control bytes, or printable junk.
QByteArray oddWord(QRandomGenerator& random)
{
    static const QByteArrayList fixed = {"", ":", "::", "*", "#", "-1", "+", "99999999999999999999", "0x1F",
                                         "1e9", ":0", ":05", ":0-5", "\x01", "\t", "<b>x</b>", "&amp;", "%s%n",
                                         "#Help", "Pilot42", "Kite", "~Username", "players.fenmoor.test", "\xff\xfe",
                                         "\xc3", "\xe2\x80\xa9", QByteArray("a\0b", 3), "\r", "\n"};
    if (random.bounded(3) > 0)
        return fixed.at(random.bounded(static_cast<int>(fixed.size())));
    QByteArray word;
    const int length = random.bounded(1, 24);
    for (int i = 0; i < length; ++i)
        word += static_cast<char>(random.bounded(0x21, 0x7f));
    return word;
}

QByteArray oddFields(QRandomGenerator& random, int most)
{
    QByteArray fields;
    const int count = random.bounded(most + 1);
    for (int i = 0; i < count; ++i)
        fields += (i ? " " : "") + oddWord(random);
    return fields;
}

// Every numeric with no fields, missing fields, extra fields and fields
// that are not numbers.
QByteArray numericLines(QRandomGenerator& random)
{
    QByteArray lines;
    for (const QByteArray& numeric : kNumerics) {
        const QByteArray server = ":irc.fenmoor.test " + numeric;
        lines += server + "\r\n";
        lines += server + " \r\n";
        lines += server + " Pilot42\r\n";
        lines += server + " Pilot42 \r\n";
        lines += server + " Pilot42 :\r\n";
        lines += server + " Pilot42 " + QByteArray(300, ' ') + "\r\n";
        lines += server + " Pilot42 #Help notanumber :xx yy\r\n";
        lines += server + " Pilot42 #Help ~Username players.fenmoor.test irc.fenmoor.test Kite H :0 notaflag 0\r\n";
        lines += server + " Pilot42 Kite ~Username players.fenmoor.test * :99999999999 0\r\n";
        lines += server + " Pilot42 = #Help :" + QByteArray("Kite ").repeated(500) + "\r\n";
        lines += server + " Pilot42 " + QByteArray("x ").repeated(2000) + "\r\n";
        lines += server + " " + oddFields(random, 3) + "\r\n";
        for (int i = 0; i < 8; ++i)
            lines += server + " Pilot42 " + oddFields(random, 12) + "\r\n";
    }
    return lines;
}

// Lines from players and the channel service whose source or arguments are
// odd: no nick, no tilde, two masks, our own nick, markup, a huge nick.
QByteArray userLines(QRandomGenerator& random)
{
    static const QByteArrayList prefixes = {
        ":!~Username@players.fenmoor.test",         ":Kite!~Username@players.fenmoor.test",
        ":Kite!Username@players.fenmoor.test",      ":Username@players.fenmoor.test",
        ":a!b!~Username@players.fenmoor.test",      "::!~Username@players.fenmoor.test",
        ":<b>Bold</b>!~Username@players.fenmoor.test", ":Kite!~Username@players.fenmoor.test!~Username@players.fenmoor.test",
        ":" + QByteArray(600, 'N') + "!~Username@players.fenmoor.test", ":K\x01te!~Username@players.fenmoor.test",
        ":Pilot42!~Username@players.fenmoor.test"};
    static const QByteArrayList arguments = {"",        " ",           "#Help",          "#Help :",
                                             "#Help :hi", "Pilot42 :hi", "#Help :/me \\rx\\", "Pilot42 :/me waves",
                                             ":::",     "#Help Kite :reason", "#Help Ghost"};
    QByteArray lines;
    for (const QByteArray& command : {QByteArray("JOIN"), QByteArray("PART"), QByteArray("QUIT"), QByteArray("PRIVMSG")}) {
        for (const QByteArray& prefix : prefixes) {
            for (const QByteArray& argument : arguments)
                lines += prefix + ' ' + command + ' ' + argument + "\r\n";
            lines += prefix + ' ' + command + "\r\n";
            lines += prefix + ' ' + command + ' ' + oddFields(random, 6) + "\r\n";
        }
    }
    static const QByteArrayList services = {":ChanServ!~ChanServ@players.fenmoor.test", ":ChanServ!ChanServ@players.fenmoor.test",
                                            ":ChanServ@players.fenmoor.test", ":x!~ChanServ@players.fenmoor.test"};
    for (const QByteArray& prefix : services) {
        for (const QByteArray& argument : {QByteArray(""), QByteArray("#Help"), QByteArray("#Help Kite"),
                                           QByteArray("#Help Kite :"), QByteArray("#Help Kite :<i>spam</i>"),
                                           QByteArray("#Help  Kite"), QByteArray("#Help Nobody :gone")})
            lines += prefix + " KICK " + argument + "\r\n";
        lines += prefix + " KICK " + oddFields(random, 5) + "\r\n";
    }
    return lines;
}

// One round of the hostile stream, as separate writes, in three phases.
struct HostileRound {
    QByteArrayList garbage;
    // Twenty-four mebibytes without a CR LF: only the bound on an unfinished
    // line keeps the client from holding them all.
    QByteArrayList endlessLine;
    QByteArrayList lines;
};

HostileRound hostileRound(quint32 seed)
{
    QRandomGenerator random(seed);
    HostileRound round;
    for (int i = 0; i < 4; ++i)
        round.garbage.append(randomBytes(random, 64 * 1024));
    round.garbage.append(QByteArray(64 * 1024, '\0'));
    round.garbage.append(QByteArray("\0\0\r\n", 4).repeated(2000));
    round.garbage.append("\r\n");
    for (int i = 0; i < 23; ++i)
        round.endlessLine.append(QByteArray(1024 * 1024, 'A'));
    // Lone CRs and LFs do not end a line either.
    round.endlessLine.append(QByteArray("x\ry\nz").repeated(1024 * 1024 / 5));
    round.lines.append("\r\n");
    round.lines.append(numericLines(random));
    round.lines.append(userLines(random));
    // Thousands of lines in one read.
    QByteArray burst;
    for (int i = 0; i < 3000; ++i) {
        burst += serverReply("372", ":- line " + QByteArray::number(i));
        burst += whoEntry("#Help", "P" + QByteArray::number(i), QByteArray::number(i % 60));
    }
    round.lines.append(burst);
    round.lines.append(randomBytes(random, 16 * 1024) + "\r\n");
    return round;
}

// Sends each piece once the one before has left the server, so that the
// client, not the fake server, is the one holding what was sent. False when
// the client stops reading.
bool stream(QTcpSocket* connection, const QByteArrayList& pieces)
{
    for (const QByteArray& piece : pieces) {
        if (!connection || connection->state() != QAbstractSocket::ConnectedState)
            return false;
        connection->write(piece);
        if (!QTest::qWaitFor([&] { return connection->bytesToWrite() == 0; }, 30000))
            return false;
    }
    return true;
}

// A private message to us is shown whether or not a channel is open.
// A private message shows in the channel window, or in the lobby while no
// channel is open.
bool ordinaryMessageShown(TestSession& session, const QByteArray& text)
{
    session.send(fromPlayer("Kite", "PRIVMSG Pilot42 :" + text));
    return QTest::qWaitFor([&] {
        const QString shown = channel().isVisible() ? channel().chat->toPlainText() : lobby().ircInfo->toPlainText();
        return shown.contains(QStringLiteral("[Kite] ") + QString::fromUtf8(text));
    });
}

const QByteArray kWelcome = "HTTP/1.0 200 OK\r\nSet-Cookie: A=1; path=/\r\n\r\n<FONT>Welcome to the FENMOOR Gateway.<BR></FONT>";
const QByteArray kLoginForm = "HTTP/1.0 200 OK\r\nSet-Cookie: B=2\r\n\r\n<FORM><SHOWLOGIN></FORM>";
const QByteArray kAccepted = "HTTP/1.0 200 OK\r\n\r\n<CONNECT 127.0.0.1>";

QByteArray gameRecords(int count, const QByteArray& pad)
{
    QByteArray page = "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n<GAMELISTSTART>\n";
    for (int i = 0; i < count; ++i)
        page += "3001 Game_" + QByteArray::number(i) + " Host" + QByteArray::number(i % 97) + pad + " 1 2 "
                + QByteArray::number(i % 2) + " 54<BR>\n";
    return page + "<GAMELISTEND>\n";
}

} // namespace

class TestHostile : public QObject {
    Q_OBJECT

private slots:
    void chatServerStream_data();
    void chatServerStream();
    void refusedNickAmidGarbage();
    void gatewayLogin_data();
    void gatewayLogin();
    void gameList_data();
    void gameList();
};

void TestHostile::chatServerStream_data()
{
    QTest::addColumn<bool>("inChannel");
    QTest::addColumn<bool>("away");
    QTest::newRow("lobby") << false << false;
    QTest::newRow("channel") << true << false;
    QTest::newRow("channel, away") << true << true;
}

void TestHostile::chatServerStream()
{
    QFETCH(bool, inChannel);
    QFETCH(bool, away);
    MessageBoxRecorder boxes;
    TestSession session;
    if (inChannel)
        QVERIFY(session.enterQuietChannel());
    else
        QVERIFY(session.openLobby());
    lobby().iAmAway = away;
    lobby().myAwayMessage = QStringLiteral("brb");
    SendRecorder sent(QStringLiteral("irc"));

    // Three rounds: the first may fill what the client keeps anyway (lists,
    // the info text's first screens); the later ones must not keep adding.
    constexpr int kRounds = 3;
    qint64 afterFirst = 0;
    QElapsedTimer clock;
    clock.start();
    for (int round = 0; round < kRounds; ++round) {
        const HostileRound bytes = hostileRound(0x7a3e + round);
        QTcpSocket* connection = session.chatConnection();
        QVERIFY2(stream(connection, bytes.garbage), qPrintable(QStringLiteral("round %1").arg(round)));
        QVERIFY(session.sync());
        const qint64 beforeEndless = statusKiB("VmRSS");
        QVERIFY(stream(connection, bytes.endlessLine));
        const qint64 endlessGrowth = statusKiB("VmRSS") - beforeEndless;
        if (kMemoryIsMeasurable)
            QVERIFY2(endlessGrowth < 12 * 1024, qPrintable(QStringLiteral("grew by %1 KiB").arg(endlessGrowth)));
        QVERIFY(stream(connection, bytes.lines));
        QVERIFY(session.sync());
        if (round == 0)
            afterFirst = statusKiB("VmRSS");
        QVERIFY(lobby().isLoaded());
        QVERIFY(lobby().irc->state() == Socket::Connected);
    }
    const qint64 growth = statusKiB("VmRSS") - afterFirst;
    qInfo("%d rounds in %lld ms; resident memory after the first %lld KiB, growth since %lld KiB, peak %lld KiB",
          kRounds, static_cast<long long>(clock.elapsed()), static_cast<long long>(afterFirst),
          static_cast<long long>(growth), static_cast<long long>(statusKiB("VmHWM")));
    if (kMemoryIsMeasurable)
        QVERIFY2(growth < 48 * 1024, qPrintable(QStringLiteral("grew by %1 KiB").arg(growth)));

    QVERIFY(ordinaryMessageShown(session, "still here after the storm"));
    QVERIFY(wireIsClean(session.wire()));
    QVERIFY(wireIsClean(sent.joined()));
    QVERIFY(lobby().irc->state() == Socket::Connected);
}

void TestHostile::refusedNickAmidGarbage()
{
    MessageBoxRecorder boxes;
    TestSession session;
    QVERIFY(session.openLobby());
    QRandomGenerator random(433);
    // A refusal without text is no refusal; one with broken fields still is.
    session.send(":irc.fenmoor.test 433\r\n" + randomBytes(random, 4096) + "\r\n"
                 + ":irc.fenmoor.test 433 * :::\r\n" + numericLines(random));
    QTRY_COMPARE(boxes.boxes.size(), 1);
    QTRY_VERIFY(!lobby().isLoaded());
    QVERIFY(login().isVisible());
    QTRY_VERIFY(session.chatClosedByClient());

    // A new session on the same program works as the first would have.
    QVERIFY(session.openLobby());
    QCOMPARE(session.chat.connectionCount(), 2);
    QVERIFY(ordinaryMessageShown(session, "welcome back"));
    QCOMPARE(boxes.boxes.size(), 1);
}

void TestHostile::gatewayLogin_data()
{
    QTest::addColumn<QByteArray>("welcome");
    // Whether the welcome page still carries its marker, so that the
    // exchange goes on to the next page.
    QTest::addColumn<bool>("goesOn");

    QTest::newRow("cut short in the status line") << QByteArray("HTTP/1.0 2") << false;
    QTest::newRow("cut short in a cookie") << QByteArray("HTTP/1.0 200 OK\r\nSet-Coo") << false;
    QTest::newRow("closed mid-response") << kWelcome.left(kWelcome.size() / 2) << false;
    QTest::newRow("enormous header")
        << "HTTP/1.0 200 OK\r\nX-Padding: " + QByteArray(6 * 1024 * 1024, 'p') + "\r\n\r\n" + kWelcome << false;
    QTest::newRow("NULs and random bytes") << QByteArray(4096, '\0') + QByteArray("\xff\xfe\r\r\n\n") << false;
    QTest::newRow("huge cookie")
        << "HTTP/1.0 200 OK\r\nSet-Cookie: big=" + QByteArray(1024 * 1024, 'c') + "\r\n" + kWelcome.mid(17) << true;
    QTest::newRow("a hundred thousand cookies")
        << "HTTP/1.0 200 OK\r\n" + QByteArray("Set-Cookie: k=v\r\n").repeated(100000) + "\r\n" + kWelcome.mid(17) << true;
    static const char smuggling[] = "HTTP/1.0 200 OK\r\nSet-Cookie: a=1\rX-Injected: 1\r\n"
                                    "Set-Cookie: b=2\nX-Injected: 2\r\nSet-Cookie: c=3\0X-Injected: 3\r\n";
    QTest::newRow("cookie smuggling a header") << QByteArray(smuggling, sizeof smuggling - 1) + kWelcome.mid(17)
                                               << true;
}

void TestHostile::gatewayLogin()
{
    QFETCH(QByteArray, welcome);
    QFETCH(bool, goesOn);
    TestSession session;
    FakeServer& gateway = session.gateway;
    // The first request gets the hostile page; every later one the ordinary
    // exchange, so a second attempt can succeed.
    gateway.onReceived = [&](int index) {
        if (!gateway.received(index).endsWith("\r\n\r\n"))
            return;
        const QList<QByteArray> pages = goesOn ? QList<QByteArray>{welcome, kLoginForm, kAccepted}
                                               : QList<QByteArray>{welcome, kWelcome, kLoginForm, kAccepted};
        gateway.send(index, pages.value(index, kAccepted));
        gateway.closeConnection(index);
    };
    MessageBoxRecorder boxes;
    session.showLogin();
    login().setExchangeTimeout(5000);
    login().userTxt->setText(QStringLiteral("Ash"));
    const qint64 before = statusKiB("VmRSS");
    login().Command1->click();

    if (!goesOn) {
        QTRY_COMPARE_WITH_TIMEOUT(boxes.boxes.size(), 1, 20000);
        QTRY_VERIFY(login().Command1->isVisible());
        login().Command1->click();
    }
    QTRY_COMPARE_WITH_TIMEOUT(session.chat.connectionCount(), 1, 20000);
    const QByteArray requests = gateway.allReceived();
    QVERIFY(wireIsClean(requests));
    QVERIFY(!requests.contains("X-Injected"));
    // No request carries more than its fixed lines and a bounded cookie line.
    for (int i = 0; i < gateway.connectionCount(); ++i)
        QVERIFY2(gateway.received(i).size() < gateway::kMaxCookieLineLength + 512, qPrintable(QString::number(i)));
    if (kMemoryIsMeasurable)
        QVERIFY2(statusKiB("VmRSS") - before < 96 * 1024, qPrintable(QString::number(statusKiB("VmRSS") - before)));
}

void TestHostile::gameList_data()
{
    QTest::addColumn<QByteArray>("page");
    // Rows on screen afterwards; -1: the list before the fetch stays; -2: the
    // complete records that arrived.
    QTest::addColumn<int>("rows");

    QTest::newRow("100,000 records") << gameRecords(100000, "") << int(kMaxGameRows);
    QTest::newRow("100,000 records beyond the size bound") << gameRecords(100000, QByteArray(40, 'x')) << -1;
    QTest::newRow("closed mid-record") << gameRecords(10, "").left(200) << -2;
    QTest::newRow("enormous header")
        << "HTTP/1.0 200 OK\r\nX-Padding: " + QByteArray(6 * 1024 * 1024, 'p') + "\r\n\r\n" + gameRecords(3, "") << -1;
    QTest::newRow("cut short in the headers") << QByteArray("HTTP/1.0 200 OK\r\nContent-Ty") << -1;
    QTest::newRow("NULs and random bytes") << QByteArray(70000, '\0') + "<GAMELISTSTART>\n\xff\xfe\x01<BR>\n" << 0;
    QTest::newRow("one enormous record")
        << "HTTP/1.0 200 OK\r\n\r\n<GAMELISTSTART>\n3001 " + QByteArray(1024 * 1024, 'g') + " Host 1 2 0 54<BR>\n" << 0;
}

void TestHostile::gameList()
{
    QFETCH(QByteArray, page);
    QFETCH(int, rows);
    MessageBoxRecorder boxes;
    TestSession session;
    QVERIFY(session.enterQuietChannel());
    channel().games->appendItem(QStringLiteral("Before"));
    const qint64 before = statusKiB("VmRSS");

    lobby().gamesTimer_Timer();
    const int connection = 2;
    QVERIFY(session.waitForRequest(connection));
    session.answer(connection, page);
    QTRY_VERIFY_WITH_TIMEOUT(lobby().http->state() == Socket::Closed, 20000);
    letEventsRun(50);

    if (rows == -2)
        rows = static_cast<int>(parseGameList(QString::fromLatin1(page), QString())->size());
    if (rows == -1) {
        QCOMPARE(channel().games->count(), 1);
        QCOMPARE(channel().games->text(0), QStringLiteral("Before"));
    } else {
        QCOMPARE(channel().games->count(), rows);
    }
    QVERIFY(boxes.boxes.isEmpty());
    if (kMemoryIsMeasurable)
        QVERIFY2(statusKiB("VmRSS") - before < 96 * 1024, qPrintable(QString::number(statusKiB("VmRSS") - before)));
    // The session goes on: the next fetch is an ordinary one.
    lobby().gamesTimer_Timer();
    QVERIFY(session.finishGameList(connection + 1, gameRecords(2, "")));
    QTRY_COMPARE(channel().games->count(), 2);
    QVERIFY(ordinaryMessageShown(session, "games are back"));
}

QTEST_MAIN(TestHostile)
#include "test_hostile.moc"
