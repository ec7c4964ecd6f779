// Other people's traffic in the channel window, WHOIS replies and the
// refused nick: a fake chat server sends real lines, the tests look at the
// member list, the chat view's lines and colours, the boxes and the bytes
// the client writes back.

#include "channel/channel.h"
#include "encryption/encryption.h"
#include "encryption/texts.h"
#include "lobby/lobby.h"
#include "login/login.h"
#include "platform/listview.h"
#include "support/fakes.h"
#include "support/irc_lines_fixture.h"
#include "support/test_session.h"

#include <QCheckBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>

namespace {

// "nick|icon" for every member, in list order.
QString members()
{
    QStringList rows;
    for (int row = 0; row < channel().users->count(); ++row)
        rows.append(channel().users->key(row) + u'|' + QString::number(channel().users->iconAt(row)));
    return rows.join(u' ');
}

} // namespace

class TestChatTraffic : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void traffic_data();
    void traffic();
    void privateMessageInTheLobby();
    void ownKickReturnsToTheLobby();
    void whois_data();
    void whois();
    void lateWhoisDropsOnlyItself();
    void nickInUse_data();
    void nickInUse();
};

void TestChatTraffic::initTestCase()
{
    turnBackStoredTexts();
}

void TestChatTraffic::traffic_data()
{
    QTest::addColumn<bool>("notify");
    QTest::addColumn<bool>("filter");
    QTest::addColumn<QString>("awayText");
    QTest::addColumn<QByteArray>("lines");
    QTest::addColumn<QStringList>("chat");
    QTest::addColumn<QString>("members");
    QTest::addColumn<Bytes>("sent");

    const QString kicked = plainText(scrambled::kKickNoticeChannel) + "#Help" + plainText(scrambled::kKickNoticeBy);
    const QByteArray whoisOf = bytesOf(scrambled::kJoinRequest);
    const QByteArray word = bytesOf(scrambled::kFilterWord2);
    const QString both = QStringLiteral("Kite|52 Ace|52");
    bool notify = true;
    bool filter = false;
    QString away;
    auto row = [&](const char* name, const QByteArray& lines, const QStringList& chat, const QString& members,
                   const Bytes& sent) {
        QTest::newRow(name) << notify << filter << away << lines << chat << members << sent;
    };

    // The user's own flag (7, from the login) needs no asking.
    row("own join not announced", fromPlayer("Pilot42", "JOIN :#Help"), {}, both + " Pilot42|8", {});
    row("join announced", fromPlayer("Zed", "JOIN :#Help"), {"{palered}** Zed" + plainText(scrambled::kJoinNotice)},
        both + " Zed|52", {whoisOf + "Zed\r\n"});
    row("part announced", fromPlayer("Kite", "PART #Help"), {"{palered}** Kite" + plainText(scrambled::kLeaveNotice)},
        "Ace|52", {"whois *\r\n"});
    row("channel message", fromPlayer("Kite", "PRIVMSG #Help :hello: all"), {"{white}Kite> hello: all"}, both, {});
    row("message for another channel dropped", fromPlayer("Kite", "PRIVMSG #Other :hello"), {}, both, {});
    row("action through the action printer", fromPlayer("Kite", "PRIVMSG #Help :/me is \\rangry"),
        {"{cyan}Kite is {red}angry"}, both, {});
    row("markup shown literally", fromPlayer("Kite", "PRIVMSG #Help :<b>x</b> <img src=x> &amp;"),
        {"{white}Kite> <b>x</b> <img src=x> &amp;"}, both, {});
    row("private message", fromPlayer("Kite", "PRIVMSG Pilot42 :/me psst"), {"{yellow}[Kite] /me psst"}, both, {});
    // Nobody can print what looks like another member's line.
    row("paragraph separator shown as a blank",
        fromPlayer("Kite", "PRIVMSG #Help :hi\xE2\x80\xA9" "Fenmoor> staff here: type your password"),
        {"{white}Kite> hi Fenmoor> staff here: type your password"}, both, {});
    row("a name posing as another", fromPlayer("Ki\xE2\x80\x8Bte", "PRIVMSG #Help :hi"),
        {QStringLiteral("{white}Ki\uFFFDte> hi")}, both, {});
    row("filter off", fromPlayer("Kite", "PRIVMSG #Help :so " + word), {"{white}Kite> so " + word}, both, {});
    filter = true;
    row("filter on", fromPlayer("Kite", "PRIVMSG Pilot42 :so " + word),
        {"{yellow}[Kite] so " + plainText(scrambled::kFilterMask2)}, both, {});
    filter = false;
    away = QStringLiteral("at lunch: back soon");
    const QString reply = QStringLiteral("{orange}Away message sent to Kite: ") + away;
    row("two private messages while away",
        fromPlayer("Kite", "PRIVMSG Pilot42 :hi") + fromPlayer("Kite", "PRIVMSG Pilot42 :there?"),
        {"{yellow}[Kite] hi", reply, "{yellow}[Kite] there?", reply}, both,
        {"PRIVMSG Kite :" + away.toUtf8() + "\r\n", "PRIVMSG Kite :" + away.toUtf8() + "\r\n"});
    away.clear();
    notify = false;
    row("join silent without notify", fromPlayer("Zed", "JOIN :#Help"), {}, both + " Zed|52",
        {whoisOf + "Zed\r\n"});
    row("quit silent without notify", fromPlayer("Kite", "QUIT :gone"), {}, "Ace|52", {"whois *\r\n"});
    row("kick of another announced without notify", fromChanServ("KICK #Help Kite :spam: again"),
        {"{palered}Kite" + kicked + "ChanServ: spam: again"}, "Ace|52", {});
}

void TestChatTraffic::traffic()
{
    QFETCH(bool, notify);
    QFETCH(bool, filter);
    QFETCH(QString, awayText);
    QFETCH(QByteArray, lines);
    QFETCH(QStringList, chat);
    QFETCH(QString, members);
    QFETCH(Bytes, sent);

    TestSession session;
    QVERIFY(session.enterQuietChannel());
    QCOMPARE(chatLines(), QStringList{});
    channel().notify->setChecked(notify);
    channel().filter->setChecked(filter);
    lobby().iAmAway = !awayText.isEmpty();
    lobby().myAwayMessage = awayText;
    // The channel's members were asked for at the entry; a departure long
    // after it also asks about everyone.
    lobby().gamesTimer->setInterval(1);
    letEventsRun(5);
    SendRecorder sends(QStringLiteral("irc"));

    session.send(lines);
    QVERIFY(session.sync());
    QCOMPARE(chatLines(), chat);
    QCOMPARE(::members(), members);
    QCOMPARE(sends.sends, sent);
}

// A private message that comes while no channel is shown is seen in the
// lobby at once, and is still in the channel window when the user next
// enters a channel, even after an entry that failed.
void TestChatTraffic::privateMessageInTheLobby()
{
    TestSession session;
    QVERIFY(session.openLobby());
    QVERIFY(lobby().refreshChanButton->isEnabled());

    session.send(fromPlayer("Kite", "PRIVMSG #Help :not for us") + fromPlayer("Kite", "PRIVMSG Pilot42 :psst"));
    QVERIFY(session.sync());
    QVERIFY(!channel().isLoaded());
    QVERIFY(lobby().isVisible());
    QVERIFY(lobby().refreshChanButton->isEnabled());
    QCOMPARE(lobby().ircInfo->toPlainText(), QStringLiteral("[Kite] psst"));
    QTextCursor end(lobby().ircInfo->document());
    end.movePosition(QTextCursor::End);
    QCOMPARE(end.charFormat().foreground().color(), chatcolour::yellow);

    // The gateway hangs up on the first entry.
    QVERIFY(session.offerChannels({QStringLiteral("#Help")}));
    MessageBoxRecorder boxes;
    QVERIFY(session.doubleClick(QStringLiteral("#Help")));
    QVERIFY(session.waitForRequest(0));
    session.gateway.closeConnection(0);
    QTRY_COMPARE(boxes.boxes.size(), 1);
    QVERIFY(!channel().isLoaded());

    QVERIFY(session.enter(QStringLiteral("#Help")));
    QCOMPARE(chatLines(), QStringList{"{yellow}[Kite] psst"});
}

void TestChatTraffic::ownKickReturnsToTheLobby()
{
    TestSession session;
    QVERIFY(session.enterQuietChannel());
    SendRecorder sends(QStringLiteral("irc"));
    MessageBoxRecorder boxes;
    // What the user sees behind the box.
    bool channelShown = true;
    bool lobbyRefreshing = false;
    Bytes sentBeforeBox;
    boxes.whileShown = [&](const MessageRecord&) {
        channelShown = channel().isVisible();
        lobbyRefreshing = lobby().isVisible() && lobby().listTimer->isActive() && lobby().whoTimerX->isActive()
            && lobby().refreshChanButton->isEnabled();
        sentBeforeBox = sends.sends;
    };

    session.send(fromChanServ("KICK #Help Pilot42 :flooding: twice"));
    QTRY_COMPARE(boxes.boxes.size(), 1);
    const MessageRecord box = boxes.boxes.first();
    QCOMPARE(box.title, plainText(scrambled::kKickedTitle));
    QCOMPARE(box.text, plainText(scrambled::kKickedText) + "ChanServ" + plainText(scrambled::kKickedReason)
                           + "flooding: twice.");
    QCOMPARE(box.icon, MessageIcon::Information);
    QVERIFY(!channelShown);
    QVERIFY(lobbyRefreshing);
    QVERIFY(!channel().isLoaded());
    const Bytes refresh{bytesOf(scrambled::kChannelListCommand) + "\r\n", "who\r\n"};
    QCOMPARE(sentBeforeBox.mid(sentBeforeBox.size() - 2), refresh);
}

void TestChatTraffic::whois_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("members");

    const QByteArray marker = bytesOf(scrambled::kWhoisIgnoreMarker);
    QTest::newRow("flag 0") << whoisReply("Kite", "0 0") << "Kite|1 Ace|52";
    QTest::newRow("flag 12") << whoisReply("Kite", "12 0") << "Kite|13 Ace|52";
    QTest::newRow("flag word not a number") << whoisReply("Kite", "x12 0") << "Kite|52 Ace|52";
    QTest::newRow("ignore marker as the flag word") << whoisReply("Kite", marker + " 0") << "Kite|52 Ace|52";
    // Only the flag word counts: later words of the real name are the
    // player's own.
    QTest::newRow("ignore marker after the flag") << whoisReply("Kite", "4 " + marker) << "Kite|5 Ace|52";
    QTest::newRow("401 changes nothing") << serverReply("401", "Kite :No such nick/channel") << "Kite|52 Ace|52";
}

void TestChatTraffic::whois()
{
    QFETCH(QByteArray, line);
    QFETCH(QString, members);

    TestSession session;
    QVERIFY(session.enterQuietChannel());
    SendRecorder sends(QStringLiteral("irc"));
    session.send(line);
    QVERIFY(session.sync());
    QCOMPARE(::members(), members);
    QCOMPARE(chatLines(), QStringList{});
    QCOMPARE(sends.sends, Bytes{});
}

// A reply to a whois of a channel already left is dropped, and only it.
void TestChatTraffic::lateWhoisDropsOnlyItself()
{
    TestSession session;
    QVERIFY(session.openLobby());
    session.send(whoisReply("Kite", "12 0") + serverReply("372", ":- Welcome to Fenmoor")
                 + listEntry("#Zone", "3", "05 Zone"));
    QTRY_VERIFY(lobby().channels->contains(QStringLiteral("#Zone")));
    QVERIFY(lobby().ircInfo->toPlainText().contains(QStringLiteral("- Welcome to Fenmoor")));
    QVERIFY(!channel().isLoaded());
}

void TestChatTraffic::nickInUse_data()
{
    QTest::addColumn<bool>("connectionLostMeanwhile");
    QTest::addColumn<QStringList>("boxTitles");

    QTest::newRow("user closes the box") << false << QStringList{"Error"};
    // The box already says why the session ends: no second one follows.
    QTest::newRow("connection lost while the box is open") << true << QStringList{"Error"};
}

// The session ends without trying another name; the login window is back
// once, whatever happened while the box was open.
void TestChatTraffic::nickInUse()
{
    QFETCH(bool, connectionLostMeanwhile);
    QFETCH(QStringList, boxTitles);

    TestSession session;
    QVERIFY(session.openLobby());
    SendRecorder sends(QStringLiteral("irc"));
    MessageBoxRecorder boxes;
    bool lobbyBehindBox = false;
    boxes.whileShown = [&](const MessageRecord& box) {
        if (box.title != QLatin1String("Error"))
            return;
        lobbyBehindBox = lobby().isVisible();
        if (connectionLostMeanwhile) {
            session.closeChat();
            QVERIFY(QTest::qWaitFor([] { return !lobby().isLoaded(); }));
        }
    };

    session.send(serverReply("433", "Pilot42 :Nickname is already in use"));
    QTRY_VERIFY(!lobby().isLoaded());
    QVERIFY(login().isVisible());
    QVERIFY(lobbyBehindBox);
    QStringList titles;
    for (const MessageRecord& box : std::as_const(boxes.boxes))
        titles.append(box.title);
    QCOMPARE(titles, boxTitles);
    const MessageRecord first = boxes.boxes.first();
    QCOMPARE(first.text, QStringLiteral("The username you have selected is already logged on Fenmoor."));
    QCOMPARE(first.icon, MessageIcon::Information);
    const Bytes farewell{bytesOf(scrambled::kFinalLine) + "\r\n"};
    QCOMPARE(sends.sends, connectionLostMeanwhile ? Bytes{} : farewell);
}

QTEST_MAIN(TestChatTraffic)
#include "test_chat_traffic.moc"
