#include "app/forms.h"
#include "channel/channel.h"
#include "encryption/encryption.h"
#include "encryption/texts.h"
#include "lobby/lobby.h"
#include "login/login.h"
#include "platform/listview.h"
#include "platform/socket.h"
#include "support/fakes.h"
#include "support/irc_lines_fixture.h"
#include "support/test_session.h"

#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

namespace {

const QByteArray kHttpOk = QByteArrayLiteral("HTTP/1.0 200 OK\r\n\r\n");
const QByteArray kTwoGames = kHttpOk
    + QByteArrayLiteral("<GAMELISTSTART>\nx Pro_Duel Kite x x x 0 x<BR>\nx Clan_War Ash x x x 1 x<BR>\n"
                        "<GAMELISTEND>\n");
const QByteArray kSeedGame =
    kHttpOk + QByteArrayLiteral("<GAMELISTSTART>\nx Seed_Game Moss x x x 0 x<BR>\n<GAMELISTEND>\n");

// The game-list request for #Help once the scheme answer added its cookie.
const QByteArray kHelpGameListRequest = QByteArrayLiteral(
    "GET Http://127.0.0.1:80/glimmerfallweb/GameList.asp?Channel=Help HTTP/1.0\r\n"
    "User-Agent: Zx7Client/1.2\r\n"
    "Pragma: No-Cache\r\n"
    "Cookie: FENSESSION=abc; x=1\r\n"
    "UserLevel: 0\r\n"
    "UserServerIdent: 2\r\n"
    "\r\n");

// Each row of the games list as "name|host|icon".
QStringList shownGames()
{
    QStringList rows;
    const ListView* games = channel().games;
    for (int row = 0; row < games->count(); ++row)
        rows << games->text(row) + QLatin1Char('|') + games->subItem(row, 1) + QLatin1Char('|')
                    + QString::number(games->iconAt(row));
    return rows;
}

bool isListOrWho(const QString& line)
{
    return line == unscrambled(scrambled::kChannelListCommand) || line == QLatin1String("who");
}

} // namespace

class TestChannelEntry : public QObject {
    Q_OBJECT

private slots:
    void doubleClickWithoutSelection();
    void entersChannel_data();
    void entersChannel();
    void schemeCookieCutByTheReadIsLeftOut();
    void listReplyDuringEntry();
    void noListOrWhoWhileInChannel();
    void schemeFailure_data();
    void schemeFailure();
    void connectionLostDuringEntry_data();
    void connectionLostDuringEntry();

    void gameListResponses_data();
    void gameListResponses();
    void gameListInSeveralWrites();
    void hangingGameListIsDropped();
    void busyGameListFetchIsNotRepeated();
    void nextChannelGetsItsOwnGameList();
    void noFetchWithoutChannel_data();
    void noFetchWithoutChannel();
};

void TestChannelEntry::doubleClickWithoutSelection()
{
    TestSession session;
    QVERIFY(session.openLobby());
    QVERIFY(session.offerChannels({QStringLiteral("#Help"), QStringLiteral("#Trade")}));
    QVERIFY(!lobby().channels->selectedRow());

    emit lobby().channels->itemDoubleClicked();

    QVERIFY(lobby().isVisible());
    QVERIFY(!channel().isLoaded());
    QCOMPARE(lobby().chanScheme->state(), int(Socket::Closed));
    letEventsRun(100);
    QCOMPARE(session.gateway.connectionCount(), 0);
    QVERIFY(lobby().isVisible());
}

void TestChannelEntry::entersChannel_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("schemeRequest");
    QTest::addColumn<QByteArray>("page");

    // The request line names the channel with its first "#" removed, and
    // only that one.
    QTest::newRow("one hash") << QStringLiteral("#Help")
                              << QByteArrayLiteral(
                                     "GET Http://127.0.0.1:80/glimmerfallweb/RequestChannelScheme.asp?Channel=Help "
                                     "HTTP/1.0\r\nUser-Agent: Zx7Client/1.2\r\nPragma: No-Cache\r\nCookie: "
                                     "FENSESSION=abc\r\nUserLevel: 0\r\nUserServerIdent: 2\r\n\r\n")
                              << QByteArrayLiteral("Help");
    QTest::newRow("two hashes") << QStringLiteral("##Dual")
                                << QByteArrayLiteral(
                                       "GET Http://127.0.0.1:80/glimmerfallweb/RequestChannelScheme.asp?Channel=#Dual "
                                       "HTTP/1.0\r\nUser-Agent: Zx7Client/1.2\r\nPragma: No-Cache\r\nCookie: "
                                       "FENSESSION=abc\r\nUserLevel: 0\r\nUserServerIdent: 2\r\n\r\n")
                                << QByteArrayLiteral("#Dual");
}

void TestChannelEntry::entersChannel()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, schemeRequest);
    QFETCH(QByteArray, page);

    TestSession session;
    QVERIFY(session.openLobby());
    QVERIFY(session.offerChannels({QStringLiteral("#Trade"), name}));
    const qsizetype ircBefore = session.mark();

    QVERIFY(session.doubleClick(name));
    QCOMPARE(channel().Label2->text(), name);
    // Until the channel window takes its place, the lobby stays on screen
    // and says what it is waiting for.
    QVERIFY(lobby().isVisible());
    QVERIFY(!lobby().channels->isEnabled());
    QCOMPARE(lobby().Label4->text(), QStringLiteral("Entering ") + name + QStringLiteral("..."));
    QVERIFY(session.waitForRequest(0));
    QCOMPARE(session.gateway.received(0), schemeRequest);
    QVERIFY(!channel().isVisible());

    session.answer(0, TestSession::kSchemeAnswer);
    QTRY_VERIFY(channel().isVisible());

    QCOMPARE(login().cookieTemText, TestSession::kCookie + QStringLiteral("; x=1"));
    QCOMPARE(channel().windowTitle(), name + unscrambled(scrambled::kCaptionSuffix));
    QCOMPARE(channel().Label2->text(), name);
    QCOMPARE(channel().Label3->text(), TestSession::kUser);
    QVERIFY(!lobby().isVisible());
    QVERIFY(!lobby().listTimer->isActive());
    QVERIFY(!lobby().whoTimerX->isActive());
    QVERIFY(lobby().gamesTimer->isActive());
    QVERIFY(lobby().whoisTimer->isActive());

    // The game list of the channel is asked for at once, with the cookie the
    // scheme answer added.
    QVERIFY(session.waitForRequest(1));
    QByteArray gameListRequest = kHelpGameListRequest;
    gameListRequest.replace("Channel=Help", "Channel=" + page);
    QCOMPARE(session.gateway.received(1), gameListRequest);

    // The names reply the JOIN brings asks for every member's flag, so the
    // first fetch asks nobody about everyone.
    const QString join = unscrambled(scrambled::kChannelEntryCommand) + name;
    QTRY_VERIFY(session.wireLines(ircBefore).contains(join));
    letEventsRun(100);
    const QStringList lines = session.wireLines(ircBefore);
    QCOMPARE(lines.count(join), 1);
    QVERIFY2(!lines.contains(QStringLiteral("whois *")), qPrintable(lines.join(QLatin1Char('/'))));
}

// Only the first read of the scheme answer is taken. A Set-Cookie line that
// read cuts short would be a wrong cookie in every later request.
void TestChannelEntry::schemeCookieCutByTheReadIsLeftOut()
{
    TestSession session;
    QVERIFY(session.openLobby());
    QVERIFY(session.offerChannels({QStringLiteral("#Help")}));
    QVERIFY(session.doubleClick(QStringLiteral("#Help")));
    QVERIFY(session.waitForRequest(0));
    session.gateway.send(0, "HTTP/1.0 200 OK\r\nSet-Cookie: x=1\r\nSet-Cookie: SCH=abcdef");
    QTRY_VERIFY(channel().isVisible());
    session.answer(0, "ghij\r\n\r\nscheme\r\n");
    QVERIFY(session.waitForRequest(1));
    QCOMPARE(login().cookieTemText, TestSession::kCookie + QStringLiteral("; x=1"));
}

void TestChannelEntry::listReplyDuringEntry()
{
    TestSession session;
    QVERIFY(session.openLobby());
    QVERIFY(session.offerChannels({QStringLiteral("#Help")}));
    QVERIFY(session.doubleClick(QStringLiteral("#Help")));
    QVERIFY(session.waitForRequest(0));

    // A LIST reply from before the double-click is still on its way.
    QVERIFY(session.offerChannels({QStringLiteral("#Trade"), QStringLiteral("#Arena")}));
    QCOMPARE(channel().Label2->text(), QStringLiteral("#Help"));

    session.answer(0, TestSession::kSchemeAnswer);
    QTRY_VERIFY(channel().isVisible());
    QCOMPARE(channel().windowTitle(), QStringLiteral("#Help") + unscrambled(scrambled::kCaptionSuffix));
    QCOMPARE(channel().Label2->text(), QStringLiteral("#Help"));
    QVERIFY(session.wireLines().contains(unscrambled(scrambled::kChannelEntryCommand) + QStringLiteral("#Help")));
    QVERIFY(session.waitForRequest(1));
    QCOMPARE(session.gateway.received(1), kHelpGameListRequest);
}

void TestChannelEntry::noListOrWhoWhileInChannel()
{
    TestSession session;
    QVERIFY(session.openLobby());
    // Short intervals so that timers left running would fire many times
    // while the test watches.
    lobby().listTimer->setInterval(10);
    lobby().whoTimerX->setInterval(10);
    QVERIFY(session.offerChannels({QStringLiteral("#Help")}));
    QVERIFY(session.doubleClick(QStringLiteral("#Help")));
    QVERIFY(session.waitForRequest(0));
    session.answer(0, TestSession::kSchemeAnswer);
    QTRY_VERIFY(channel().isVisible());
    QVERIFY(!lobby().listTimer->isActive());
    QVERIFY(!lobby().whoTimerX->isActive());

    letEventsRun(150);
    const QStringList lines = session.wireLines();
    const QString join = unscrambled(scrambled::kChannelEntryCommand) + QStringLiteral("#Help");
    QVERIFY(lines.contains(join));
    const QStringList afterJoin = lines.mid(lines.indexOf(join) + 1);
    QVERIFY2(std::none_of(afterJoin.cbegin(), afterJoin.cend(), isListOrWho),
             qPrintable(afterJoin.join(QLatin1Char('/'))));
}

void TestChannelEntry::schemeFailure_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("why");

    const QString help = QStringLiteral("#Help");
    QTest::newRow("no answer") << QStringLiteral("silent") << help << unscrambled(scrambled::kSchemeFailedText);
    QTest::newRow("connection refused") << QStringLiteral("refused") << help
                                        << unscrambled(scrambled::kSchemeUnreachableText);
    QTest::newRow("closed without answer") << QStringLiteral("closed") << help
                                           << unscrambled(scrambled::kSchemeUnexpectedText);
    // No request can carry these names: the user hears so at once, and that
    // trying again will not help.
    QTest::newRow("name in Greek") << QStringLiteral("unsendable") << QStringLiteral("#\u03A9mega")
                                   << unscrambled(scrambled::kChannelUnrequestableText);
    QTest::newRow("name the gateway cannot read") << QStringLiteral("unsendable") << QStringLiteral("#\u65e5\u672c")
                                                  << unscrambled(scrambled::kChannelUnrequestableText);
}

void TestChannelEntry::schemeFailure()
{
    QFETCH(QString, how);
    QFETCH(QString, name);
    QFETCH(QString, why);

    const bool refused = how == QLatin1String("refused");
    const bool unsendable = how == QLatin1String("unsendable");
    TestSession session;
    if (refused)
        session.pointGatewayAt(refusingPort());
    MessageBoxRecorder boxes;
    QVERIFY(session.openLobby());
    // Only the silent gateway needs the time limit; the other rows must fail
    // on their own account, well before the usual limit.
    if (how == QLatin1String("silent"))
        lobby().setGatewayTimeout(200);
    QVERIFY(session.offerChannels({name}));
    const qsizetype ircBefore = session.mark();

    const QString greeting = lobby().Label4->text();
    QVERIFY(session.doubleClick(name));
    QVERIFY(lobby().isVisible());
    QCOMPARE(boxes.boxes.size(), unsendable ? 1 : 0);
    if (!refused && !unsendable)
        QVERIFY(session.waitForRequest(0));
    if (how == QLatin1String("closed"))
        session.gateway.closeConnection(0);

    QTRY_COMPARE(boxes.boxes.size(), 1);
    QCOMPARE(boxes.boxes.at(0).title, unscrambled(scrambled::kSchemeFailedTitle));
    QCOMPARE(boxes.boxes.at(0).text, why);
    QCOMPARE(boxes.boxes.at(0).icon, MessageIcon::Exclamation);
    QVERIFY(lobby().isVisible());
    QVERIFY(lobby().channels->isEnabled());
    QCOMPARE(lobby().Label4->text(), greeting);
    QVERIFY(lobby().refreshChanButton->isEnabled());
    QVERIFY(lobby().listTimer->isActive());
    QVERIFY(lobby().whoTimerX->isActive());
    QVERIFY(!channel().isVisible());
    QVERIFY(!channel().isLoaded());
    QVERIFY(channel().Label2->text().isEmpty());

    letEventsRun(100);
    for (const QString& line : session.wireLines(ircBefore)) {
        QVERIFY2(!line.startsWith(unscrambled(scrambled::kChannelEntryCommand), Qt::CaseInsensitive), qPrintable(line));
        QVERIFY2(!line.startsWith(QLatin1String("PART"), Qt::CaseInsensitive), qPrintable(line));
        QVERIFY2(!line.startsWith(QLatin1String("privmsg"), Qt::CaseInsensitive), qPrintable(line));
    }
    QCOMPARE(boxes.boxes.size(), 1);
    QCOMPARE(session.gateway.connectionCount(), refused || unsendable ? 0 : 1);
}

void TestChannelEntry::connectionLostDuringEntry_data()
{
    QTest::addColumn<bool>("withNames");
    QTest::newRow("with the scheme answer") << false;
    QTest::newRow("with the first names reply") << true;
}

// The chat server goes away at the moment a step of the entry runs. In
// whatever order the two reach the client, the session ends whole: no
// window of it stays on screen, and the next login starts clean.
void TestChannelEntry::connectionLostDuringEntry()
{
    QFETCH(bool, withNames);

    TestSession session;
    MessageBoxRecorder boxes;
    QVERIFY(session.openLobby());
    QVERIFY(session.offerChannels({QStringLiteral("#Help")}));
    QVERIFY(session.doubleClick(QStringLiteral("#Help")));
    QVERIFY(session.waitForRequest(0));
    session.answer(0, TestSession::kSchemeAnswer);
    if (withNames) {
        QTRY_VERIFY(channel().isVisible());
        session.send(namesOf("Pilot42 Kite"));
    }
    session.closeChat();

    QTRY_COMPARE(boxes.boxes.size(), 1);
    QCOMPARE(boxes.boxes.at(0).title, unscrambled(scrambled::kChatLostTitle));
    letEventsRun(100);
    QVERIFY(login().isVisible());
    QVERIFY(!lobby().isLoaded());
    QVERIFY(!channel().isLoaded());
    QVERIFY(!channel().isVisible());
    for (const QTimer* timer : {lobby().gamesTimer, lobby().whoisTimer, lobby().listTimer, lobby().whoTimerX})
        QVERIFY(!timer->isActive());

    lobby().ircConnect(TestSession::kUser, 7);
    QTRY_VERIFY(session.chat.connectionCount() == 2 && lobby().isVisible());
    QVERIFY(lobby().refreshChanButton->isEnabled());
    QVERIFY(!channel().isVisible());
    QCOMPARE(channel().users->count(), 0);
    QCOMPARE(boxes.boxes.size(), 1);
}

void TestChannelEntry::gameListResponses_data()
{
    QTest::addColumn<QByteArray>("response");
    QTest::addColumn<QStringList>("expected");

    const QStringList seed = {QStringLiteral("Seed_Game|Moss|1")};
    QTest::newRow("two games") << kTwoGames
                               << QStringList{QStringLiteral("Pro_Duel|Kite|1"), QStringLiteral("Clan_War|Ash|2")};
    QTest::newRow("no games") << kHttpOk + QByteArrayLiteral("<GAMELISTSTART>\n")
            + unscrambled(scrambled::kEmptyGameList).toUtf8() + "\n"
                              << QStringList();
    QTest::newRow("no start marker") << kHttpOk + QByteArrayLiteral("Server busy\r\n") << seed;
    QTest::newRow("empty answer") << QByteArray() << seed;
    // What follows the end marker stays with the last record's last field,
    // which no column shows.
    QTest::newRow("text after the end marker")
        << kTwoGames + QByteArrayLiteral("<!-- served by node 7 -->\n")
        << QStringList{QStringLiteral("Pro_Duel|Kite|1"), QStringLiteral("Clan_War|Ash|2")};
}

void TestChannelEntry::gameListResponses()
{
    QFETCH(QByteArray, response);
    QFETCH(QStringList, expected);

    TestSession session;
    QVERIFY(session.enter(QStringLiteral("#Help"), kSeedGame));
    QCOMPARE(shownGames(), QStringList{QStringLiteral("Seed_Game|Moss|1")});

    lobby().gamesTimer_Timer();
    QVERIFY(session.waitForRequest(2));
    QCOMPARE(session.gateway.received(2), kHelpGameListRequest);
    QVERIFY(session.finishGameList(2, response));
    QCOMPARE(shownGames(), expected);
}

void TestChannelEntry::gameListInSeveralWrites()
{
    TestSession session;
    QVERIFY(session.enter(QStringLiteral("#Help"), kSeedGame));
    lobby().gamesTimer_Timer();
    QVERIFY(session.waitForRequest(2));

    // The pieces cut the start marker and a record in two.
    const QList<QByteArray> pieces = {kTwoGames.left(kHttpOk.size() + 8), kTwoGames.mid(kHttpOk.size() + 8, 40),
                                      kTwoGames.mid(kHttpOk.size() + 48)};
    QCOMPARE(pieces.join(), kTwoGames);
    QSignalSpy arrived(lobby().http, &Socket::dataArrival);
    for (const QByteArray& piece : pieces) {
        session.gateway.send(2, piece);
        QVERIFY(arrived.wait());
        // Nothing is shown before the gateway has closed the answer.
        QCOMPARE(shownGames(), QStringList{QStringLiteral("Seed_Game|Moss|1")});
    }
    session.gateway.closeConnection(2);
    QTRY_COMPARE(lobby().http->state(), int(Socket::Closed));
    QCOMPARE(shownGames(), (QStringList{QStringLiteral("Pro_Duel|Kite|1"), QStringLiteral("Clan_War|Ash|2")}));
}

void TestChannelEntry::hangingGameListIsDropped()
{
    TestSession session;
    QVERIFY(session.enter(QStringLiteral("#Help"), kSeedGame));
    lobby().setGatewayTimeout(200);
    lobby().gamesTimer_Timer();
    QVERIFY(session.waitForRequest(2));

    // The gateway never answers: the fetch is given up...
    QTRY_COMPARE(lobby().http->state(), int(Socket::Closed));
    QTRY_VERIFY(session.gateway.closedByClient(2));
    QCOMPARE(shownGames(), QStringList{QStringLiteral("Seed_Game|Moss|1")});

    // ...so that the next tick asks again.
    lobby().gamesTimer_Timer();
    QVERIFY(session.waitForRequest(3));
    QCOMPARE(session.gateway.received(3), kHelpGameListRequest);
    QVERIFY(session.finishGameList(3, kTwoGames));
    QCOMPARE(shownGames().size(), 2);
}

void TestChannelEntry::busyGameListFetchIsNotRepeated()
{
    TestSession session;
    QVERIFY(session.enter(QStringLiteral("#Help"), kSeedGame));
    const int connectionsBefore = session.gateway.connectionCount();

    // Long after the entry's WHO, a fetch also asks about everyone, once.
    lobby().gamesTimer->setInterval(1);
    lobby().gamesTimer->stop();
    letEventsRun(5);
    SendRecorder ircSends(QStringLiteral("irc"));
    lobby().gamesTimer_Timer();
    lobby().gamesTimer_Timer();
    QCOMPARE(ircSends.sends, QList<QByteArray>{QByteArrayLiteral("whois *\r\n")});

    QVERIFY(session.waitForRequest(connectionsBefore));
    letEventsRun(100);
    QCOMPARE(session.gateway.connectionCount(), connectionsBefore + 1);
    QCOMPARE(session.gateway.received(connectionsBefore), kHelpGameListRequest);
}

void TestChannelEntry::nextChannelGetsItsOwnGameList()
{
    TestSession session;
    QVERIFY(session.enter(QStringLiteral("#Help")));
    // The channel is left while its game list is still on the way.
    channel().exitBtn->click();
    QTRY_VERIFY(lobby().isVisible());

    QVERIFY(session.enter(QStringLiteral("#Trade")));
    QVERIFY2(session.gateway.received(3).startsWith(
                 "GET Http://127.0.0.1:80/glimmerfallweb/GameList.asp?Channel=Trade HTTP/1.0\r\n"),
             session.gateway.received(3).constData());

    // The late answer for the channel left is not shown in this one.
    session.answer(1, kTwoGames);
    QVERIFY(session.finishGameList(3, kSeedGame));
    QTRY_VERIFY(session.gateway.closedByClient(1));
    QCOMPARE(shownGames(), QStringList{QStringLiteral("Seed_Game|Moss|1")});
}

void TestChannelEntry::noFetchWithoutChannel_data()
{
    QTest::addColumn<bool>("channelLoaded");

    QTest::newRow("channel window not loaded") << false;
    QTest::newRow("channel window loaded, no channel entered") << true;
}

void TestChannelEntry::noFetchWithoutChannel()
{
    QFETCH(bool, channelLoaded);

    TestSession session;
    QVERIFY(session.openLobby());
    if (channelLoaded)
        channel().ensureLoaded();
    QVERIFY(channel().Label2->text().isEmpty());

    SendRecorder ircSends(QStringLiteral("irc"));
    lobby().gamesTimer_Timer();
    QVERIFY(ircSends.sends.isEmpty());
    QCOMPARE(lobby().http->state(), int(Socket::Closed));
    letEventsRun(100);
    QCOMPARE(session.gateway.connectionCount(), 0);
}

QTEST_MAIN(TestChannelEntry)
#include "test_channel_entry.moc"
