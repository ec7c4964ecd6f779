// The session against the ways of a real chat server, through the fake one:
// joins it refuses, kicks by operators, names it refuses at registration, a
// welcome that never comes, lines near its 512-byte limit, names in the
// bytes it sent them in, prefixed members, traffic that comes late, floods
// in both directions, a server that stops reading and lines past the bound.
// Each test checks the bytes on the wire and what the user sees.

#include "channel/channel.h"
#include "encryption/encryption.h"
#include "encryption/texts.h"
#include "lobby/chat_outbox.h"
#include "lobby/lobby.h"
#include "login/login.h"
#include "platform/listview.h"
#include "platform/socket.h"
#include "support/fakes.h"
#include "support/irc_lines_fixture.h"
#include "support/test_session.h"

#include <QCheckBox>
#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSet>
#include <QTest>
#include <QTimer>

namespace {

const QByteArray kLobbyRefresh = "LIST\r\nwho\r\n";

// "key|icon" for every member in list order; "key(shown)|icon" where the
// list shows more than the key.
QString members()
{
    QStringList rows;
    const ListView* users = channel().users;
    for (int row = 0; row < users->count(); ++row) {
        const QString key = users->key(row);
        const QString shown = users->text(row);
        rows.append((shown == key ? key : key + u'(' + shown + u')') + u'|' + QString::number(users->iconAt(row)));
    }
    return rows.join(u' ');
}

// Puts the text in the entry line, the caret at its end, and presses Enter.
void typeLine(const QString& text)
{
    channel().message->setPlainText(text);
    channel().message->moveCursor(QTextCursor::End);
    QTest::keyClick(channel().message, Qt::Key_Return);
}

// Pastes the text into the emptied entry line, which keeps what fits, and
// presses Enter.
void pasteLine(const QString& text)
{
    channel().message->clear();
    QGuiApplication::clipboard()->setText(text);
    channel().message->paste();
    QTest::keyClick(channel().message, Qt::Key_Return);
}

QByteArray pong(int probe)
{
    return ":irc.fenmoor.test PONG irc.fenmoor.test :tavimere-" + QByteArray::number(probe) + "\r\n";
}

// Offers one channel in the lobby's list, as `listLine` names it, and
// enters it with no games: for channel names and user names that the
// session's own builders do not write.
bool enterListed(TestSession& session, const QByteArray& listLine, const QString& name)
{
    session.send(listLine);
    if (!QTest::qWaitFor([&name] { return lobby().channels->contains(name); }))
        return false;
    const int scheme = session.gateway.connectionCount();
    if (!session.doubleClick(name) || !session.waitForRequest(scheme))
        return false;
    session.answer(scheme, TestSession::kSchemeAnswer);
    if (!QTest::qWaitFor([] { return channel().isVisible(); }))
        return false;
    if (!session.finishGameList(scheme + 1, TestSession::kNoGames))
        return false;
    session.quietTimers();
    return true;
}

// Words of nine letters, as in a long line of real text.
QString words(QChar letter, int length)
{
    QString text;
    for (int i = 0; i < length; ++i)
        text += i % 10 == 9 ? QChar(u' ') : letter;
    return text;
}

} // namespace

class TestRealServerRules : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void leftByTheServer_data();
    void leftByTheServer();
    void partNeverEchoed();
    void registrationRefused_data();
    void registrationRefused();
    void serverThatNeverWelcomes_data();
    void serverThatNeverWelcomes();
    void longestLinesFit_data();
    void longestLinesFit();
    void namesGoBackAsReceived_data();
    void namesGoBackAsReceived();
    void autoReplierGetsThreeAwayReplies();
    void lateTrafficOfALeftChannel_data();
    void lateTrafficOfALeftChannel();
    void prefixedMembers();
    void typedLineIsCleanOrRefused_data();
    void typedLineIsCleanOrRefused();
    void keepAlive_data();
    void keepAlive();
    void floodsArePaced_data();
    void floodsArePaced();
    void serverThatStopsReadingIsDropped();
    void longLinesAreDroppedWhole_data();
    void longLinesAreDroppedWhole();
};

void TestRealServerRules::initTestCase()
{
    turnBackStoredTexts();
}

// ------------------------------------------------- out of the channel

void TestRealServerRules::leftByTheServer_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("line");
    // Empty: the user stays in the channel.
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");

    const QString refusedTitle = plainText(scrambled::kSchemeFailedTitle);
    const QString refused = plainText(scrambled::kJoinRefusedText) + QStringLiteral("#Help: %1.");
    const std::pair<const char*, const char*> refusals[] = {
        {"403", "No such channel"},
        {"405", "You have joined too many channels"},
        {"437", "Nick/channel is temporarily unavailable"},
        {"471", "Cannot join channel (+l)"},
        {"473", "Cannot join channel (+i)"},
        {"474", "Cannot join channel (+b)"},
        {"475", "Cannot join channel (+k)"},
        {"476", "Bad Channel Mask"},
        {"477", "You need to be identified to a registered account to join this channel"},
        {"479", "Illegal channel name"},
        {"489", "Cannot join channel; SSL users only (+z)"},
        {"520", "Cannot join channel; Opers only"},
    };
    for (const auto& [numeric, reason] : refusals)
        QTest::addRow("join refused with %s", numeric)
            << QByteArray() << serverReply(numeric, QByteArray("#Help :") + reason) << refusedTitle
            << refused.arg(QLatin1String(reason));

    const QByteArray joined = fromPlayer("Pilot42", "JOIN :#Help") + namesOf("Pilot42 Kite Ace") + endOfNames();
    const QString kickedTitle = plainText(scrambled::kKickedTitle);
    const QString kicked =
        plainText(scrambled::kKickedText) + QStringLiteral("%1") + plainText(scrambled::kKickedReason) + "%2.";
    QTest::newRow("kicked by ChanServ") << joined << fromChanServ("KICK #Help Pilot42 :flooding")
                                        << kickedTitle << kicked.arg("ChanServ", "flooding");
    QTest::newRow("kicked by an operator among the players")
        << joined << fromPlayer("Kite", "KICK #Help Pilot42 :mind your words") << kickedTitle
        << kicked.arg("Kite", "mind your words");
    QTest::newRow("kicked by an operator from elsewhere")
        << joined << QByteArray(":Oper!oper@staff.fenmoor.test KICK #Help Pilot42 :closing time\r\n") << kickedTitle
        << kicked.arg("Oper", "closing time");

    QTest::newRow("a refusal of another channel") << QByteArray() << serverReply("474", "#Duel :Cannot join channel (+b)")
                                                  << QString() << QString();
    QTest::newRow("a refusal once the join is echoed")
        << joined << serverReply("474", "#Help :Cannot join channel (+b)") << QString() << QString();
    QTest::newRow("a kick of another member") << joined << fromPlayer("Kite", "KICK #Help Ace :spam") << QString()
                                              << QString();
}

// The server refuses the JOIN or takes the user out of the channel: the
// channel window closes without a farewell (there is nobody to say it to),
// the lobby refreshes again, and a box says why. Behind the box the session
// goes on: the server's keep-alive is answered.
void TestRealServerRules::leftByTheServer()
{
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, line);
    QFETCH(QString, title);
    QFETCH(QString, text);

    TestSession session;
    QVERIFY(session.enter(QStringLiteral("#Help"), TestSession::kNoGames));
    session.quietTimers();
    session.send(before);
    QVERIFY(session.sync());
    // The channel's member list is asked for at the pace of the server's
    // count of our requests, some seconds after the join: what follows is
    // read after it.
    if (!before.isEmpty())
        QVERIFY(QTest::qWaitFor([&] { return session.wire().contains("WHO #Help\r\n"); }, 20000));
    const qsizetype from = session.mark();
    MessageBoxRecorder boxes;
    bool channelGone = false;
    bool lobbyRefreshing = false;
    bool pingAnswered = false;
    boxes.whileShown = [&](const MessageRecord&) {
        channelGone = !channel().isLoaded() && !channel().isVisible();
        lobbyRefreshing = lobby().isVisible() && lobby().listTimer->isActive() && lobby().whoTimerX->isActive()
            && lobby().refreshChanButton->isEnabled();
        session.send("PING :behind-the-box\r\n");
        pingAnswered = session.waitForWire("PONG :behind-the-box\r\n");
    };

    session.send(line);
    if (title.isEmpty()) {
        session.send("PING :in-the-channel\r\n");
        QVERIFY(session.waitForWire("PONG :in-the-channel\r\n"));
        QVERIFY(session.sync());
        QCOMPARE(boxes.boxes.size(), 0);
        QVERIFY(channel().isVisible());
        QVERIFY(!lobby().isVisible());
        QTRY_COMPARE(session.wire(from), QByteArray("PONG :in-the-channel\r\n"));
        return;
    }
    QTRY_COMPARE(boxes.boxes.size(), 1);
    QCOMPARE(boxes.boxes.first().title, title);
    QCOMPARE(boxes.boxes.first().text, text);
    QCOMPARE(boxes.boxes.first().icon, MessageIcon::Information);
    QVERIFY(channelGone);
    QVERIFY(lobbyRefreshing);
    QVERIFY(pingAnswered);
    QTRY_COMPARE(session.wire(from), kLobbyRefresh + "PONG :behind-the-box\r\n");
}

// A server that never echoes the PART (it had already parted the user, or
// lost the line) must not leave the lobby empty with its refresh off.
void TestRealServerRules::partNeverEchoed()
{
    TestSession session;
    lobby().setSessionTimeouts(30000, 300);
    QVERIFY(session.enter(QStringLiteral("#Help"), TestSession::kNoGames));
    session.quietTimers();
    const qsizetype from = session.mark();

    channel().exitBtn->click();
    QVERIFY(lobby().isVisible());
    QVERIFY(!lobby().refreshChanButton->isEnabled());
    QVERIFY(!lobby().listTimer->isActive());
    const QByteArray farewell = "privmsg #Help :#me Pilot42 is returning to the Fenmoor lobby\r\nPART #Help\r\n";
    QTRY_COMPARE(session.wire(from), farewell);

    QTRY_VERIFY(lobby().refreshChanButton->isEnabled());
    QVERIFY(lobby().listTimer->isActive());
    QVERIFY(lobby().whoTimerX->isActive());
    QTRY_COMPARE(session.wire(from), farewell + kLobbyRefresh);
}

// ------------------------------------------------------- registration

void TestRealServerRules::registrationRefused_data()
{
    QTest::addColumn<bool>("welcomed");
    QTest::addColumn<QByteArray>("lines");
    // The server hangs up right after the lines, as it does after ERROR.
    QTest::addColumn<bool>("hangUp");
    // Empty: the session goes on.
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    // What the client sends after the lines, when the session goes on.
    QTest::addColumn<QByteArray>("sent");

    const QString nameTitle = plainText(scrambled::kNameRefusedTitle);
    const QString name = plainText(scrambled::kNameRefusedText) + QStringLiteral("Pilot42: %1.");
    const QString ended = plainText(scrambled::kSessionEndedText) + QStringLiteral("%1.");
    const QByteArray error = "ERROR :Closing connection: Pilot42[127.0.0.1] (Bad password)\r\n";
    const QString errorReason = QStringLiteral("Closing connection: Pilot42[127.0.0.1] (Bad password)");

    QTest::newRow("432 erroneous nickname") << false << QByteArray(":irc.fenmoor.test 432 * Pilot42 :Erroneous nickname\r\n")
                                            << false << nameTitle << name.arg("Erroneous nickname") << QByteArray();
    QTest::newRow("461 to NICK") << false << QByteArray(":irc.fenmoor.test 461 * NICK :Syntax error\r\n") << false
                                 << nameTitle << name.arg("Syntax error") << QByteArray();
    QTest::newRow("461 to USER") << false << QByteArray(":irc.fenmoor.test 461 * USER :Not enough parameters\r\n")
                                 << false << nameTitle << name.arg("Not enough parameters") << QByteArray();
    QTest::newRow("431 no nickname") << false << QByteArray(":irc.fenmoor.test 431 * :No nickname given\r\n") << false
                                     << nameTitle << name.arg("No nickname given") << QByteArray();
    QTest::newRow("465 banned") << false << QByteArray(":irc.fenmoor.test 465 * :You are banned from this server\r\n")
                                << false << nameTitle << name.arg("You are banned from this server") << QByteArray();
    QTest::newRow("ERROR") << false << error << false << nameTitle << ended.arg(errorReason) << QByteArray();
    QTest::newRow("ERROR, then the server hangs up") << false << error << true << nameTitle << ended.arg(errorReason)
                                                     << QByteArray();
    // A wrong password, as ngircd answers it: the first reason is the one
    // the user gets, once.
    QTest::newRow("464 and ERROR, then the server hangs up")
        << false << ":irc.fenmoor.test 464 * :Password incorrect\r\n" + error << true << nameTitle
        << name.arg("Password incorrect") << QByteArray();
    QTest::newRow("433 nickname in use") << false << serverReply("433", "* Pilot42 :Nickname already in use") << false
                                         << QStringLiteral("Error")
                                         << QStringLiteral("The username you have selected is already logged on Fenmoor.")
                                         << QByteArray();
    QTest::newRow("lists refused before the welcome are asked again at it")
        << false
        << QByteArray(":irc.fenmoor.test 451 * LIST :You have not registered\r\n"
                      ":irc.fenmoor.test 451 * WHO :You have not registered\r\n")
               + serverReply("001", ":Welcome to the Fenmoor IRC network")
        << false << QString() << QString() << kLobbyRefresh;
    QTest::newRow("432 once welcomed") << true << serverReply("432", "x :Erroneous nickname") << false << QString()
                                       << QString() << QByteArray();
    QTest::newRow("ERROR once welcomed") << true << QByteArray("ERROR :Ping timeout\r\n") << false << QString()
                                         << QString() << QByteArray();
}

// Before its welcome the server may refuse the name or end the session: a
// box gives its reason and the login window comes back. The keep-alive is
// answered while the box is open. Once welcomed, such lines end nothing.
void TestRealServerRules::registrationRefused()
{
    QFETCH(bool, welcomed);
    QFETCH(QByteArray, lines);
    QFETCH(bool, hangUp);
    QFETCH(QString, title);
    QFETCH(QString, text);
    QFETCH(QByteArray, sent);

    TestSession session;
    MessageBoxRecorder boxes;
    QVERIFY(session.openLobby());
    session.quietTimers();
    if (welcomed)
        session.send(serverReply("001", ":Welcome to the Fenmoor IRC network"));
    QVERIFY(session.sync());
    const qsizetype from = session.mark();
    bool lobbyBehind = false;
    bool pingAnswered = false;
    boxes.whileShown = [&](const MessageRecord&) {
        lobbyBehind = lobby().isVisible();
        if (hangUp)
            return;
        session.send("PING :behind-the-box\r\n");
        pingAnswered = session.waitForWire("PONG :behind-the-box\r\n");
    };

    session.send(lines);
    if (hangUp)
        session.closeChat();
    if (title.isEmpty()) {
        QVERIFY(session.sync());
        QTRY_COMPARE(session.wire(from), sent);
        QCOMPARE(boxes.boxes.size(), 0);
        QVERIFY(lobby().isVisible());
        return;
    }
    QTRY_VERIFY(!lobby().isLoaded());
    QVERIFY(login().isVisible());
    QCOMPARE(boxes.boxes.size(), 1);
    QCOMPARE(boxes.boxes.first().title, title);
    QCOMPARE(boxes.boxes.first().text, text);
    QCOMPARE(boxes.boxes.first().icon, MessageIcon::Information);
    if (!hangUp) {
        QVERIFY(lobbyBehind);
        QVERIFY(pingAnswered);
        QTRY_VERIFY(session.chatClosedByClient());
    }
}

void TestRealServerRules::serverThatNeverWelcomes_data()
{
    QTest::addColumn<QByteArray>("lines");
    QTest::addColumn<bool>("welcome");
    QTest::addColumn<QByteArray>("sent");

    QTest::newRow("a silent server") << QByteArray() << false << QByteArray();
    QTest::newRow("a server that talks but never welcomes")
        << QByteArray(":irc.fenmoor.test NOTICE * :*** Looking up your hostname\r\nPING :still-there\r\n") << false
        << QByteArray("PONG :still-there\r\n");
    QTest::newRow("a welcome in time") << serverReply("001", ":Welcome to the Fenmoor IRC network") << true
                                       << QByteArray();
}

// Until the welcome the lobby says it is connecting; without one in time a
// box says the server did not answer and the login window comes back.
void TestRealServerRules::serverThatNeverWelcomes()
{
    QFETCH(QByteArray, lines);
    QFETCH(bool, welcome);
    QFETCH(QByteArray, sent);

    TestSession session;
    MessageBoxRecorder boxes;
    lobby().setSessionTimeouts(400, 5000);
    QVERIFY(session.openLobby());
    session.quietTimers();
    QCOMPARE(lobby().Label4->text(), QStringLiteral("Connecting to the Fenmoor chat server..."));
    session.send(lines);
    QTRY_COMPARE(session.wire(session.registrationEnd()), sent);

    if (welcome) {
        QTRY_COMPARE(lobby().Label4->text(), plainText(scrambled::kGreeting) + QStringLiteral("Pilot42."));
        letEventsRun(800);
        QCOMPARE(boxes.boxes.size(), 0);
        QVERIFY(lobby().isVisible());
        return;
    }
    QTRY_COMPARE(boxes.boxes.size(), 1);
    QCOMPARE(boxes.boxes.first().title, plainText(scrambled::kChatUnreachableTitle));
    QCOMPARE(boxes.boxes.first().text, plainText(scrambled::kNoWelcomeText));
    QCOMPARE(boxes.boxes.first().icon, MessageIcon::Exclamation);
    QVERIFY(!lobby().isLoaded());
    QVERIFY(login().isVisible());
    QTRY_VERIFY(session.chatClosedByClient());
}

// ------------------------------------------------------ 512 bytes a line

void TestRealServerRules::longestLinesFit_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("text");

    const std::pair<const char*, QString> scripts[] = {
        {"Latin", words(QChar(0xE9), 300)},
        {"Cyrillic", words(QChar(0x0416), 300)},
        // CJK text has no blanks to cut at.
        {"CJK", QString(300, QChar(0x6F22))},
    };
    for (const auto& [script, text] : scripts) {
        QTest::addRow("channel line, %s", script) << QString() << text;
        QTest::addRow("action, %s", script) << QStringLiteral("/me ") << text;
        QTest::addRow("whisper, %s", script) << QStringLiteral("/msg Kite ") << text;
        QTest::addRow("away reply, %s", script) << QStringLiteral("/away ") << text;
    }
}

// The longest line the entry line holds, under the longest name, goes out
// in as many messages as it needs: no line over 512 bytes as the server
// relays it, no character cut in half, nothing lost, and one echo.
void TestRealServerRules::longestLinesFit()
{
    QFETCH(QString, command);
    QFETCH(QString, text);

    const QString user = QStringLiteral("LongestName1234");
    TestSession session;
    QVERIFY(session.openLobby(user));
    QVERIFY(enterListed(session, ":irc.fenmoor.test 322 " + user.toUtf8() + " #Help 3 :05 Help\r\n",
                        QStringLiteral("#Help")));
    channel().filter->setChecked(false);
    const qsizetype from = session.mark();
    SendRecorder sends(QStringLiteral("irc"));

    pasteLine(command + text);
    const QString typed = (command + text).left(Channel::kMessageMaxLength).mid(command.size());
    QByteArray target = "PRIVMSG #Help :";
    QStringList echo{QStringLiteral("{white}") + user + QStringLiteral(": ") + typed};
    if (command == QLatin1String("/me ")) {
        echo = QStringList{QStringLiteral("{cyan}") + user + u' ' + typed.trimmed()};
    } else if (command == QLatin1String("/msg Kite ")) {
        target = "privmsg Kite :";
        echo = QStringList{QStringLiteral("{orange}<Kite> ") + typed};
    } else if (command == QLatin1String("/away ")) {
        session.send(fromPlayer("Kite", "PRIVMSG " + user.toUtf8() + " :are you there?"));
        target = "PRIVMSG Kite :";
        echo = QStringList{QStringLiteral("{palered}Away message set to \"") + typed + u'"',
                           QStringLiteral("{yellow}[Kite] are you there?"),
                           QStringLiteral("{orange}Away message sent to Kite: ") + typed};
    }
    QTRY_COMPARE(chatLines(), echo);
    QTRY_COMPARE(session.wire(from), sends.joined());

    const QByteArray relay = ':' + user.toUtf8() + "!~Username@players.fenmoor.test ";
    QByteArrayList lines = session.wire(from).split('\n');
    lines.removeLast();
    QVERIFY2(lines.size() > 1, "the line fits in one message: it is not the longest");
    QString joined;
    for (QByteArray line : lines) {
        line.chop(1);
        QVERIFY2(relay.size() + line.size() + 2 <= kMaxLineBytes, line.constData());
        QVERIFY2(line.startsWith(target), line.constData());
        const QByteArray piece = line.mid(target.size());
        QVERIFY2(QString::fromUtf8(piece).toUtf8() == piece, "a character was cut in half");
        joined += QString::fromUtf8(piece);
    }
    if (command == QLatin1String("/me ")) {
        // Every piece is an action of its own, so a blank where the text was
        // cut may go with the "/me" of the next piece.
        QVERIFY(joined.startsWith(QLatin1String("/me ")));
        QCOMPARE(joined.remove(QStringLiteral("/me")).remove(u' '), QString(typed).remove(u' '));
    } else {
        QCOMPARE(joined, typed);
    }
}

void TestRealServerRules::namesGoBackAsReceived_data()
{
    QTest::addColumn<QByteArray>("e");
    QTest::addColumn<QByteArray>("o");

    QTest::newRow("Windows-1252") << QByteArray("\xE9") << QByteArray("\xF6");
    QTest::newRow("UTF-8") << QByteArray("\xC3\xA9") << QByteArray("\xC3\xB6");
}

// A channel and a nick that came in Windows-1252 go back out in it: sent as
// UTF-8 they would name another channel and another player.
void TestRealServerRules::namesGoBackAsReceived()
{
    QFETCH(QByteArray, e);
    QFETCH(QByteArray, o);
    const QByteArray cafe = "#Caf" + e;
    const QByteArray jorg = 'J' + o + "rg";

    TestSession session;
    QVERIFY(session.openLobby());
    session.quietTimers();
    QVERIFY(enterListed(session, listEntry(cafe, "3", "05 Coffee"), QStringLiteral("#Caf\u00E9")));
    channel().notify->setChecked(true);
    QCOMPARE(channel().Label2->text(), QStringLiteral("#Caf\u00E9"));
    QVERIFY(session.wire(session.registrationEnd()).endsWith("JOIN " + cafe + "\r\n"));

    const qsizetype from = session.mark();
    session.send(fromPlayer("Pilot42", "JOIN :" + cafe) + namesOf("Pilot42 Kite", cafe) + endOfNames(cafe)
                 + fromPlayer(jorg, "JOIN :" + cafe) + fromPlayer("Kite", "PRIVMSG " + cafe + " :salut"));
    QVERIFY(session.sync());
    QCOMPARE(members(), QStringLiteral("Pilot42|8 Kite|52 J\u00F6rg|52"));
    typeLine(QStringLiteral("hi"));
    typeLine(QStringLiteral("/me waves"));
    typeLine(QStringLiteral("/msg J\u00F6rg hallo"));
    QCOMPARE(chatLines(), (QStringList{"{palered}** J\u00F6rg" + plainText(scrambled::kJoinNotice), "{white}Kite> salut",
                                       "{white}Pilot42: hi", "{cyan}Pilot42 waves", "{orange}<J\u00F6rg> hallo"}));
    channel().exitBtn->click();
    QTRY_COMPARE(session.wire(from), "WHO " + cafe + "\r\nwhois " + jorg + "\r\nPRIVMSG " + cafe + " :hi\r\nPRIVMSG "
                                         + cafe + " :/me waves\r\nprivmsg " + jorg + " :hallo\r\nprivmsg " + cafe
                                         + " :#me Pilot42 is returning to the Fenmoor lobby\r\nPART " + cafe + "\r\n");
}

// ------------------------------------------------------ other people

// A peer that answers every private message automatically gets three away
// replies in one away period, not an endless exchange; a person who writes
// twice gets two; a new away period starts the count again.
void TestRealServerRules::autoReplierGetsThreeAwayReplies()
{
    TestSession session;
    QVERIFY(session.enterQuietChannel());
    typeLine(QStringLiteral("/away lunch"));
    const qsizetype from = session.mark();
    const QByteArray reply = "PRIVMSG Kite :lunch\r\n";
    const QByteArray automatic = fromPlayer("Kite", "PRIVMSG Pilot42 :Kite is away: gone fishing");
    qsizetype answered = 0;
    session.chat.onReceived = [&](int) {
        for (const qsizetype replies = session.wire(from).count(reply); answered < replies; ++answered)
            session.send(automatic);
    };

    session.send(fromPlayer("Kite", "PRIVMSG Pilot42 :hello?"));
    const QString fromKite = QStringLiteral("{yellow}[Kite] Kite is away: gone fishing");
    QTRY_COMPARE(chatLines().count(fromKite), 3);
    QVERIFY(session.sync());
    session.chat.onReceived = nullptr;
    QCOMPARE(answered, 3);
    session.send(fromPlayer("Wren", "PRIVMSG Pilot42 :hi") + fromPlayer("Wren", "PRIVMSG Pilot42 :still there?"));
    QVERIFY(session.sync());
    typeLine(QStringLiteral("/away back at two"));
    session.send(automatic);
    QVERIFY(session.sync());

    const QString sentKite = QStringLiteral("{orange}Away message sent to Kite: lunch");
    const QString sentWren = QStringLiteral("{orange}Away message sent to Wren: lunch");
    QCOMPARE(chatLines(),
             (QStringList{"{palered}Away message set to \"lunch\"", "{yellow}[Kite] hello?", sentKite, fromKite,
                          sentKite, fromKite, sentKite, fromKite, "{yellow}[Wren] hi", sentWren,
                          "{yellow}[Wren] still there?", sentWren, "{palered}Away message set to \"back at two\"",
                          fromKite, "{orange}Away message sent to Kite: back at two"}));
    QTRY_COMPARE(session.wire(from), reply.repeated(3) + QByteArray("PRIVMSG Wren :lunch\r\n").repeated(2)
                                     + "PRIVMSG Kite :back at two\r\n");
}

void TestRealServerRules::lateTrafficOfALeftChannel_data()
{
    QTest::addColumn<QByteArray>("line");
    // Whether it comes while the lobby shows, or once the next channel is open.
    QTest::addColumn<bool>("inNextChannel");

    const std::pair<const char*, QByteArray> lines[] = {
        {"a join", fromPlayer("Zed", "JOIN :#Help")},
        {"a part", fromPlayer("Kite", "PART #Help :bye")},
        {"a quit", fromPlayer("Kite", "QUIT :bye")},
        {"a kick of a member", fromChanServ("KICK #Help Ace :spam")},
        {"a kick of the user", fromChanServ("KICK #Help Pilot42 :late")},
        {"a message", fromPlayer("Kite", "PRIVMSG #Help :still there?")},
        {"a names reply", namesOf("Pilot42 Kite Ghost") + endOfNames()},
        {"a whois reply", whoisReply("Kite", "12 0")},
    };
    for (const auto& [name, line] : lines) {
        QTest::addRow("%s, in the lobby", name) << line << false;
        QTest::addRow("%s, in the next channel", name) << line << true;
    }
    QTest::newRow("the echo of the part, in the next channel") << fromPlayer("Pilot42", "PART #Help") << true;
}

// Lines for a channel just left, which the server sends before it has taken
// the PART, change no window: the closed one stays closed, and none of its
// members turns up in the next channel.
void TestRealServerRules::lateTrafficOfALeftChannel()
{
    QFETCH(QByteArray, line);
    QFETCH(bool, inNextChannel);

    TestSession session;
    MessageBoxRecorder boxes;
    QVERIFY(session.enter(QStringLiteral("#Help"), TestSession::kNoGames));
    session.quietTimers();
    session.send(fromPlayer("Pilot42", "JOIN :#Help") + namesOf("Pilot42 Kite Ace") + endOfNames());
    QVERIFY(session.sync());
    channel().exitBtn->click();
    QVERIFY(!channel().isLoaded());

    const auto enterDuel = [&session] {
        return session.enter(QStringLiteral("#Duel"), TestSession::kNoGames);
    };
    if (inNextChannel)
        QVERIFY(enterDuel());
    session.send(line);
    QVERIFY(session.sync());
    if (!inNextChannel) {
        QVERIFY(!channel().isLoaded());
        QVERIFY(lobby().isVisible());
        QVERIFY(enterDuel());
    }
    session.quietTimers();
    session.send(namesOf("Pilot42 Marlow", "#Duel"));
    QVERIFY(session.sync());

    QCOMPARE(channel().Label2->text(), QStringLiteral("#Duel"));
    QVERIFY(channel().isVisible());
    QCOMPARE(members(), QStringLiteral("Pilot42|8 Marlow|52"));
    QCOMPARE(chatLines(), QStringList());
    QCOMPARE(boxes.boxes.size(), 0);
}

// Channel operators and voiced members come in the names reply with their
// mark: the list shows it, everything else uses the bare nick.
void TestRealServerRules::prefixedMembers()
{
    TestSession session;
    QVERIFY(session.enter(QStringLiteral("#Help"), TestSession::kNoGames));
    session.quietTimers();
    channel().notify->setChecked(true);
    const qsizetype from = session.mark();

    session.send(serverReply("005", "CHANTYPES=# PREFIX=(qaohv)~&@%+ :are supported by this server")
                 + namesOf("Pilot42 @Marlow +Ash %Pell ~Quinn Kite") + endOfNames());
    QVERIFY(session.sync());
    QCOMPARE(members(),
             QStringLiteral("Pilot42|8 Marlow(@Marlow)|52 Ash(+Ash)|52 Pell(%Pell)|52 Quinn(~Quinn)|52 Kite|52"));
    session.send(whoEntry("#Help", "Pilot42", "7") + whoEntry("#Help", "Marlow", "3") + whoEntry("#Help", "Ash", "4")
                 + whoEntry("#Help", "Quinn", "5") + whoEntry("#Help", "Kite", "6") + endOfWho()
                 + whoisReply("Pell", "12 0") + fromPlayer("Rook", "JOIN :#Help"));
    QVERIFY(session.sync());
    QCOMPARE(members(), QStringLiteral(
                            "Pilot42|8 Marlow(@Marlow)|4 Ash(+Ash)|5 Pell(%Pell)|13 Quinn(~Quinn)|6 Kite|7 Rook|52"));

    channel().users->selectRow(*channel().users->row(QStringLiteral("Marlow")));
    emit channel().users->itemDoubleClicked();
    QCOMPARE(channel().message->toPlainText(), QStringLiteral("/msg Marlow "));

    session.send(fromPlayer("Marlow", "PART #Help") + fromPlayer("Ash", "QUIT :gone")
                 + fromChanServ("KICK #Help Pell :spam"));
    QVERIFY(session.sync());
    QCOMPARE(members(), QStringLiteral("Pilot42|8 Quinn(~Quinn)|6 Kite|7 Rook|52"));
    QCOMPARE(chatLines(),
             (QStringList{"{palered}** Rook" + plainText(scrambled::kJoinNotice),
                          "{palered}** Marlow" + plainText(scrambled::kLeaveNotice),
                          "{palered}** Ash" + plainText(scrambled::kLeaveNotice),
                          "{palered}Pell" + plainText(scrambled::kKickNoticeChannel) + "#Help"
                              + plainText(scrambled::kKickNoticeBy) + "ChanServ: spam"}));
    QTRY_COMPARE(session.wire(from), QByteArray("WHO #Help\r\nwhois Pell\r\nwhois Rook\r\n"));
}

// ------------------------------------------------------ what is typed

void TestRealServerRules::typedLineIsCleanOrRefused_data()
{
    QTest::addColumn<QString>("typed");
    // A whisper that comes afterwards.
    QTest::addColumn<QByteArray>("then");
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<QStringList>("chat");

    const QString notAName = QStringLiteral("{palered}Not sent: \"%1\" cannot be the name of a player.");
    const QString noName = QStringLiteral("{palered}Not sent: the name of a player must follow \"/msg \".");
    QTest::newRow("/msg to a name starting with a colon")
        << "/msg :Kite hello" << QByteArray() << QByteArray() << QStringList{notAName.arg(":Kite")};
    QTest::newRow("/msg to a name ending with a colon")
        << "/msg Kite: hi" << QByteArray() << QByteArray() << QStringList{notAName.arg("Kite:")};
    QTest::newRow("/msg to a name holding a colon")
        << "/msg Ki:te hi" << QByteArray() << QByteArray() << QStringList{notAName.arg("Ki:te")};
    QTest::newRow("/msg to a colon") << "/msg : hi" << QByteArray() << QByteArray() << QStringList{notAName.arg(":")};
    QTest::newRow("/msg to nobody") << "/msg  hello" << QByteArray() << QByteArray() << QStringList{noName};
    // A whisper goes to the name as typed or nowhere: without its control
    // character, the name may be another player's.
    QTest::newRow("/msg to a control character")
        << "/msg \x01 hello" << QByteArray() << QByteArray() << QStringList{notAName.arg(QStringLiteral("\uFFFD"))};

    QTest::newRow("SOH, ESC, TAB and DEL in a chat line")
        << "hi\x01" "ACTION\x1B[31m\tx\x7F" << QByteArray() << QByteArray("PRIVMSG #Help :hiACTION[31mx\r\n")
        << QStringList{"{white}Pilot42: hiACTION[31mx"};
    QTest::newRow("C1 controls in a chat line")
        << QStringLiteral("a\u0085b\u009B" "c") << QByteArray() << QByteArray("PRIVMSG #Help :abc\r\n")
        << QStringList{"{white}Pilot42: abc"};
    QTest::newRow("in an action") << "/me \x01waves\x01" << QByteArray() << QByteArray("PRIVMSG #Help :/me waves\r\n")
                                  << QStringList{"{cyan}Pilot42 waves"};
    QTest::newRow("in a whisper's name")
        << "/msg Ki\x1Bte h\ti" << QByteArray() << QByteArray() << QStringList{notAName.arg(QStringLiteral("Ki\uFFFDte"))};
    QTest::newRow("in a whisper's text")
        << "/msg Kite h\ti" << QByteArray() << QByteArray("privmsg Kite :hi\r\n") << QStringList{"{orange}<Kite> hi"};
    QTest::newRow("in the away text")
        << "/away \x01out\x7F to lunch" << fromPlayer("Kite", "PRIVMSG Pilot42 :psst")
        << QByteArray("PRIVMSG Kite :out to lunch\r\n")
        << QStringList{"{palered}Away message set to \"out to lunch\"", "{yellow}[Kite] psst",
                       "{orange}Away message sent to Kite: out to lunch"};
}

// Control characters a paste brings along never reach the server; a
// whisper to a name no server could read sends nothing and says why.
void TestRealServerRules::typedLineIsCleanOrRefused()
{
    QFETCH(QString, typed);
    QFETCH(QByteArray, then);
    QFETCH(QByteArray, sent);
    QFETCH(QStringList, chat);

    TestSession session;
    QVERIFY(session.enterQuietChannel());
    const qsizetype from = session.mark();
    pasteLine(typed);
    session.send(then);
    QVERIFY(session.sync());
    QCOMPARE(chatLines(), chat);
    QTRY_COMPARE(session.wire(from), sent);
}

// ------------------------------------------------------ the outgoing path

void TestRealServerRules::keepAlive_data()
{
    QTest::addColumn<QByteArray>("pings");
    QTest::addColumn<QByteArray>("pongs");

    QTest::newRow("a token") << QByteArray("PING :irc.fenmoor.test\r\n") << QByteArray("PONG :irc.fenmoor.test\r\n");
    QTest::newRow("a token without a colon") << QByteArray("PING 1234567\r\n") << QByteArray("PONG 1234567\r\n");
    QTest::newRow("a token that is not UTF-8") << QByteArray("PING :caf\xE9\r\n") << QByteArray("PONG :caf\xE9\r\n");
    const QByteArray longest(504, 't');
    QTest::newRow("the longest token a line holds")
        << "PING :" + longest + "\r\n" << "PONG :" + longest + "\r\n";
    QTest::newRow("a token one byte longer") << "PING :" + longest + "t\r\n" << QByteArray();
    QTest::newRow("a 60 KB token") << "PING :" + QByteArray(60 * 1024, 't') + "\r\n" << QByteArray();
    QByteArray pings;
    QByteArray pongs;
    for (int i = 0; i < 100000; ++i) {
        const QByteArray token = "flood-" + QByteArray::number(i) + "\r\n";
        pings += "PING :" + token;
        if (i < ChatOutbox::kMostPingAnswers)
            pongs += "PONG :" + token;
    }
    QTest::newRow("100,000 pings") << pings << pongs;
}

// The answer carries the token's very bytes, and only a line a server can
// take; a server that pings without end gets a few answers.
void TestRealServerRules::keepAlive()
{
    QFETCH(QByteArray, pings);
    QFETCH(QByteArray, pongs);

    TestSession session;
    MessageBoxRecorder boxes;
    QVERIFY(session.openLobby());
    session.quietTimers();
    const qsizetype from = session.mark();
    session.send(pings);
    QVERIFY(session.sync());
    QTRY_COMPARE(session.wire(from), pongs);
    QCOMPARE(boxes.boxes.size(), 0);
}

void TestRealServerRules::floodsArePaced_data()
{
    QTest::addColumn<QByteArray>("flood");
    QTest::addColumn<int>("members");
    // The first two requests that go out.
    QTest::addColumn<QStringList>("requests");

    QByteArray joins;
    for (int i = 0; i < 20000; ++i)
        joins += fromPlayer("j" + QByteArray::number(i), "JOIN :#Help");
    QTest::newRow("20,000 joins") << joins << 20002 << QStringList{"whois j0", "whois j1"};

    QByteArray crowd;
    QByteArray nicks;
    for (int i = 0; i < 50000; ++i) {
        nicks += (nicks.isEmpty() ? "m" : " m") + QByteArray::number(i);
        if (nicks.size() > 400 || i == 49999) {
            crowd += namesOf(nicks);
            nicks.clear();
        }
    }
    crowd += endOfNames();
    // Nobody's real name gives a flag: each is asked about, once.
    for (int i = 0; i < 50000; ++i)
        crowd += whoEntry("#Help", "m" + QByteArray::number(i), "Guest");
    crowd += endOfWho().repeated(3);
    QTest::newRow("a names and a who of 50,000 members, the who ended three times")
        << crowd << 50002 << QStringList{"WHO #Help", "whois Kite"};
}

// The client's own requests go out one at a time, each followed by a PING;
// the next waits for the server's answer to it. What waits has a bound and
// asks about each member once. The user's own line goes out at once.
void TestRealServerRules::floodsArePaced()
{
    QFETCH(QByteArray, flood);
    QFETCH(int, members);
    QFETCH(QStringList, requests);

    TestSession session;
    MessageBoxRecorder boxes;
    QVERIFY(session.enterQuietChannel());
    lobby().setRequestPacing(true);
    const qsizetype from = session.mark();
    SendRecorder sends(QStringLiteral("irc"));
    session.send(flood);
    QVERIFY(QTest::qWaitFor([members] { return channel().users->count() == members; }, 60000));
    QVERIFY(session.sync());

    const QStringList first{requests.at(0), QStringLiteral("PING :tavimere-1")};
    QTRY_COMPARE_WITH_TIMEOUT(session.wireLines(from), first, 10000);
    typeLine(QStringLiteral("still here"));
    QTRY_COMPARE(session.wireLines(from), first + QStringList{"PRIVMSG #Help :still here"});
    // The server would have room for more, but without its answer nothing
    // more goes.
    letEventsRun(1500);
    QCOMPARE(session.wireLines(from).size(), 3);

    session.send(pong(1));
    QTRY_COMPARE_WITH_TIMEOUT(session.wireLines(from).size(), 5, 10000);
    QCOMPARE(session.wireLines(from).mid(3), (QStringList{requests.at(1), "PING :tavimere-2"}));

    // Without the pace, everything still waiting goes at once: a bounded
    // number of whois, none of a member asked about before.
    lobby().setRequestPacing(false);
    session.send(pong(2));
    QVERIFY(session.sync());
    QTRY_COMPARE(session.wire(from), sends.joined());
    const QStringList rest = session.wireLines(from).mid(5);
    QVERIFY(!rest.isEmpty());
    QVERIFY2(rest.size() <= ChatOutbox::kMostWaiting, qPrintable(QString::number(rest.size())));
    QSet<QString> asked{requests.at(1)};
    for (const QString& whois : rest) {
        QVERIFY2(whois.startsWith(QLatin1String("whois ")), qPrintable(whois));
        QVERIFY2(!asked.contains(whois), qPrintable(whois));
        asked.insert(whois);
    }
    QCOMPARE(boxes.boxes.size(), 0);
}

// A server that stops reading while the user goes on typing: past a bound
// of unsent bytes the connection counts as lost, and memory stops growing.
void TestRealServerRules::serverThatStopsReadingIsDropped()
{
    TestSession session;
    MessageBoxRecorder boxes;
    QVERIFY(session.enterQuietChannel());
    session.chat.pauseReading(session.chat.connectionCount() - 1);

    const QString line(Channel::kMessageMaxLength, QChar(0x6F22));
    const qint64 bound = 1024 * 1024;
    qint64 mostUnsent = 0;
    int typed = 0;
    while (lobby().isLoaded() && typed < 30000) {
        QString message = line;
        lobby().parseMessage(message);
        ++typed;
        mostUnsent = std::max(mostUnsent, lobby().irc->bytesToWrite());
        QCoreApplication::processEvents();
    }
    QVERIFY2(!lobby().isLoaded(), qPrintable(QStringLiteral("%1 lines typed").arg(typed)));
    QVERIFY2(mostUnsent <= bound + 2 * kMaxLineBytes, qPrintable(QString::number(mostUnsent)));
    QVERIFY(login().isVisible());
    QCOMPARE(boxes.boxes.size(), 1);
    QCOMPARE(boxes.boxes.first().title, plainText(scrambled::kChatLostTitle));
    QCOMPARE(boxes.boxes.first().text, plainText(scrambled::kChatLostText));
}

// ------------------------------------------------------ lines received

void TestRealServerRules::longLinesAreDroppedWhole_data()
{
    QTest::addColumn<QByteArrayList>("pieces");
    QTest::addColumn<QStringList>("chat");

    const QByteArray prefix = fromPlayer("Kite", "PRIVMSG #Help :").chopped(2);
    const QByteArray after = fromPlayer("Kite", "PRIVMSG #Help :after");
    const QString shownAfter = QStringLiteral("{white}Kite> after");
    const int bound = 8 * 1024;
    QByteArray text;
    while (text.size() < bound - prefix.size())
        text += "0123456789";
    text.truncate(bound - prefix.size());
    const QByteArray longest = prefix + text + "\r\n";
    const QStringList kept{"{white}Kite> " + text, shownAfter};
    QTest::newRow("8 KiB, in one write") << QByteArrayList{longest + after} << kept;
    QTest::newRow("8 KiB, across reads")
        << QByteArrayList{longest.left(3000), longest.mid(3000, 5000), longest.mid(8000) + after} << kept;

    const QByteArray over = prefix + text + "x\r\n";
    QTest::newRow("a byte more, in one write") << QByteArrayList{over + after} << QStringList{shownAfter};
    QTest::newRow("a byte more, across reads")
        << QByteArrayList{over.left(8000), over.mid(8000) + after} << QStringList{shownAfter};
    QTest::newRow("a byte more, split between CR and LF")
        << QByteArrayList{over.chopped(1), '\n' + after} << QStringList{shownAfter};

    QByteArray crowd;
    for (int i = 0; i < 50000; ++i)
        crowd += (crowd.isEmpty() ? "m" : " m") + QByteArray::number(i);
    const QByteArray names = namesOf(crowd);
    const QByteArray message = prefix + QByteArray(900 * 1000, 'x') + "\r\n";
    for (const auto& [what, line] : {std::pair{"a names reply of 50,000 members", names}, {"a 900 KB message", message}}) {
        QTest::addRow("%s, in one write", what) << QByteArrayList{line + after} << QStringList{shownAfter};
        QByteArrayList pieces;
        for (qsizetype at = 0; at < line.size(); at += 64 * 1024)
            pieces.append(line.mid(at, 64 * 1024));
        pieces.last() += after;
        QTest::addRow("%s, across reads", what) << pieces << QStringList{shownAfter};
    }
}

// A line past the 8 KiB bound is dropped whole however it arrives, and the
// line after it is handled; one at the bound is kept.
void TestRealServerRules::longLinesAreDroppedWhole()
{
    QFETCH(QByteArrayList, pieces);
    QFETCH(QStringList, chat);

    TestSession session;
    MessageBoxRecorder boxes;
    QVERIFY(session.enterQuietChannel());
    SendRecorder sends(QStringLiteral("irc"));
    QVERIFY(session.sendPieces(pieces));
    QVERIFY(session.sync());
    QCOMPARE(chatLines(), chat);
    QCOMPARE(members(), QStringLiteral("Kite|52 Ace|52"));
    QCOMPARE(sends.sends, Bytes{});
    QCOMPARE(boxes.boxes.size(), 0);
}

QTEST_MAIN(TestRealServerRules)
#include "test_real_server_rules.moc"
