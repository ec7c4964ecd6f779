// What a received or typed line does, rule by rule: a line in, the session
// as the windows show it, the steps out. No window and no socket.

#include "encryption/scramble.h"
#include "encryption/texts.h"
#include "lobby/session_rules.h"

#include <QTest>

namespace {

QVector<FilterPair> gFilter;

// The session a row runs in, in a few words:
//   "lobby"   the lobby is shown, no channel window
//   "channel" the channel window is shown for #Help, the lobby hidden
//   "hidden"  the channel window is loaded, not shown, the lobby shown
// followed by any of "quiet" (no enter/exit notices), "unfiltered",
// "away" (away text "lunch"), "offline" (no chat connection).
SessionView sessionOf(const QString& words)
{
    const QStringList w = words.split(u' ');
    SessionView s;
    s.username = QStringLiteral("Pilot42");
    s.chatServerHost = QStringLiteral("irc.fenmoor.test");
    s.maskedHost = QStringLiteral("players.fenmoor.test");
    s.filterPairs = &gFilter;
    s.lobbyShown = !w.contains(QLatin1String("channel"));
    s.channelLoaded = !w.contains(QLatin1String("lobby"));
    s.channelShown = w.contains(QLatin1String("channel"));
    if (s.channelShown)
        s.channel = QStringLiteral("#Help");
    s.notify = !w.contains(QLatin1String("quiet"));
    s.filter = !w.contains(QLatin1String("unfiltered"));
    s.away = w.contains(QLatin1String("away"));
    if (s.away)
        s.awayMessage = QStringLiteral("lunch");
    s.connected = !w.contains(QLatin1String("offline"));
    return s;
}

QByteArray server(const QByteArray& numeric, const QByteArray& rest)
{
    return ":irc.fenmoor.test " + numeric + " Pilot42 " + rest;
}

QByteArray player(const QByteArray& nick, const QByteArray& rest)
{
    return ':' + nick + "!~Username@players.fenmoor.test " + rest;
}

QByteArray chanServ(const QByteArray& rest)
{
    return ":ChanServ!~ChanServ@players.fenmoor.test " + rest;
}

QByteArray who(const QByteArray& channel, const QByteArray& nick, const QByteArray& flag)
{
    return server("352", channel + " ~Username players.fenmoor.test irc.fenmoor.test " + nick + " H :0 " + flag + " 0");
}

void addColumns()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("session");
    QTest::addColumn<QStringList>("steps");
}

void checkLine()
{
    QFETCH(QByteArray, line);
    QFETCH(QString, session);
    QFETCH(QStringList, steps);
    Steps out;
    decideLine(line, sessionOf(session), out);
    QCOMPARE(describe(out), steps);
}

using L = QStringList;

} // namespace

class TestSessionRules : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void lists_data();
    void lists() { checkLine(); }
    void traffic_data();
    void traffic() { checkLine(); }
    void whoisAndErrors_data();
    void whoisAndErrors() { checkLine(); }
    void typed_data();
    void typed();
    void builders();
    void wireRefusesBrokenLines_data();
    void wireRefusesBrokenLines();
};

void TestSessionRules::initTestCase()
{
    turnBackStoredTexts({});
    for (const scrambled::FilterText& pair : scrambled::kFilter)
        gFilter.append({plainText(pair.word), plainText(pair.mask)});
}

void TestSessionRules::lists_data()
{
    addColumns();
    QTest::newRow("start of list") << server("321", "Channel :Users  Name") << "lobby" << L{"channels cleared"};
    QTest::newRow("list entry") << server("322", "#Help 12 :05 Help and questions") << "lobby"
                                << L{"channel #Help icon 6 count 12 about Help and questions"};
    QTest::newRow("topic :00 is the first picture") << server("322", "#A 1 :00 x") << "lobby"
                                                    << L{"channel #A icon 1 count 1 about x"};
    QTest::newRow("topic :12 has no picture") << server("322", "#A 1 :12 x") << "lobby"
                                              << L{"channel #A icon - count 1 about x"};
    QTest::newRow("one-word topic has no description") << server("322", "#A 1 :05") << "lobby"
                                                       << L{"channel #A icon 6 count 1 about -"};
    QTest::newRow("channel with a NUL is not offered") << server("322", QByteArray("#A\0B 1 :05 x", 12)) << "lobby"
                                                      << L{};
    QTest::newRow("names in a channel") << server("353", "= #Help :Ace Zed @Fenmoor") << "channel"
                                        << L{"member+ Ace 52", "member+ Zed 52", "member+ Fenmoor 51", "send \"who\"",
                                             "focus entry"};
    QTest::newRow("names trimmed") << server("353", " = #Help :Ace ") << "channel"
                                   << L{"member+ Ace 52", "send \"who\"", "focus entry"};
    QTest::newRow("names while the lobby shows are late") << server("353", "= #Help :Ace") << "lobby" << L{};
    QTest::newRow("who entry, lobby") << who("#Help", "Kite", "12") << "lobby" << L{"who+ Kite|#Help"};
    QTest::newRow("who entry in no channel") << who("*", "Kite", "12") << "lobby" << L{"who+ Kite| "};
    QTest::newRow("who entry, channel: flag") << who("#Help", "Kite", "12") << "channel" << L{"icon Kite 13"};
    QTest::newRow("who entry, channel: flag 0") << who("#Help", "Kite", "0") << "channel" << L{"icon Kite 1"};
    QTest::newRow("who entry, channel: no number") << who("#Help", "Kite", "x") << "channel" << L{};
    QTest::newRow("end of who, lobby") << server("315", "* :End of WHO list") << "lobby" << L{"who list rebuilt"};
    QTest::newRow("end of who, channel") << server("315", "* :End") << "channel" << L{"whois unknown flags"};
}

void TestSessionRules::traffic_data()
{
    addColumns();
    const QString joined = QStringLiteral("chat {palered}** Kite has entered the channel.\\r\\n");
    const QString left = QStringLiteral("chat {palered}** Kite has left the channel.\\r\\n");
    QTest::newRow("join") << player("Kite", "JOIN :#Help") << "channel"
                          << L{"member+ Kite 52", "send \"whois Kite\"", joined};
    QTest::newRow("join, notices off") << player("Kite", "JOIN :#Help") << "channel quiet"
                                       << L{"member+ Kite 52", "send \"whois Kite\""};
    QTest::newRow("own join not announced") << player("Pilot42", "JOIN :#Help") << "channel"
                                            << L{"member+ Pilot42 52", "send \"whois Pilot42\""};
    QTest::newRow("part") << player("Kite", "PART #Help") << "channel" << L{"member- Kite", "fetch games", left};
    QTest::newRow("quit, notices off") << player("Kite", "QUIT :bye") << "channel quiet"
                                       << L{"member- Kite", "fetch games"};
    QTest::newRow("own part") << player("Pilot42", "PART #Help") << "channel" << L{"back to lobby"};
    QTest::newRow("own quit") << player("Pilot42", "QUIT :x") << "lobby" << L{"back to lobby"};
    QTest::newRow("channel message") << player("Kite", "PRIVMSG #Help :hello all") << "channel"
                                     << L{"chat {white}Kite> hello all\\r\\n"};
    QTest::newRow("channel message filtered") << player("Kite", "PRIVMSG #Help :oh SHIT") << "channel"
                                              << L{"chat {white}Kite> oh s**t\\r\\n"};
    QTest::newRow("channel message unfiltered") << player("Kite", "PRIVMSG #Help :oh SHIT") << "channel unfiltered"
                                                << L{"chat {white}Kite> oh SHIT\\r\\n"};
    QTest::newRow("action") << player("Kite", "PRIVMSG #Help :/me waves \\rhard") << "channel"
                            << L{"chat {cyan}Kite waves {red}hard\\r\\n"};
    QTest::newRow("message for another channel") << player("Kite", "PRIVMSG #Duel :hi") << "channel" << L{};
    QTest::newRow("private message") << player("Kite", "PRIVMSG Pilot42 :psst") << "channel"
                                     << L{"chat {yellow}[Kite] psst\\r\\n"};
    QTest::newRow("private message while away") << player("Kite", "PRIVMSG Pilot42 :psst") << "channel away"
                                                << L{"chat {yellow}[Kite] psst\\r\\n", "send \"PRIVMSG Kite :lunch\"",
                                                     "chat {orange}Away message sent to Kite: lunch\\r\\n"};
    QTest::newRow("away with no connection") << player("Kite", "PRIVMSG Pilot42 :psst") << "channel away offline"
                                             << L{"chat {yellow}[Kite] psst\\r\\n"};
    QTest::newRow("private message in the lobby") << player("Kite", "PRIVMSG Pilot42 :psst") << "hidden"
                                                  << L{"chat {yellow}[Kite] psst\\r\\n"};
    QTest::newRow("kick of another") << chanServ("KICK #Help Ace :spam") << "channel quiet"
                                     << L{"member- Ace", "chat {palered}Ace was kicked from #Help by ChanServ: spam\\r\\n"};
    QTest::newRow("own kick") << chanServ("KICK #Help Pilot42 :spam") << "channel"
                              << L{"close channel", "back to lobby",
                                   "box Kicked From Channel | You have been kicked out of the channel by ChanServ. "
                                   "Reason: spam. | information"};
    QTest::newRow("kick by a player is ignored") << player("Kite", "KICK #Help Ace :x") << "channel" << L{};
    QTest::newRow("host not masked") << QByteArray(":Kite!~Username@elsewhere PRIVMSG #Help :hi") << "channel" << L{};
    QTest::newRow("keep-alive") << QByteArray("PING :irc.fenmoor.test") << "lobby"
                                << L{"send \"PONG :irc.fenmoor.test\""};
}

void TestSessionRules::whoisAndErrors_data()
{
    addColumns();
    QTest::newRow("whois flag 12") << server("311", "Ace Username players.fenmoor.test * :12 0") << "channel"
                                   << L{"icon Ace 13"};
    QTest::newRow("whois flag 0") << server("311", "Ace Username h * :0 0") << "channel" << L{"icon Ace 1"};
    QTest::newRow("whois with the marker") << server("311", "Ace Username h * :Guest") << "channel" << L{};
    QTest::newRow("whois, channel not shown") << server("311", "Ace Username h * :12 0") << "hidden" << L{};
    QTest::newRow("no such nick") << server("401", "Ace :No such nick") << "channel" << L{};
    QTest::newRow("nick in use") << server("433", "* Pilot42 :Nickname already in use") << "lobby"
                                 << L{"box Error | The username you have selected is already logged on Fenmoor. | "
                                      "information | then end session"};
    QTest::newRow("welcome") << server("001", ":Welcome to the network") << "lobby"
                             << L{"info Welcome to the network"};
    QTest::newRow("numeric without text") << QByteArray(":irc.fenmoor.test 375") << "lobby" << L{};
    QTest::newRow("server options ignored") << server("005", "PREFIX=(ov)@+ :are supported") << "lobby" << L{};
}

void TestSessionRules::typed_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("session");
    QTest::addColumn<QStringList>("steps");
    QTest::newRow("channel message") << "hello all" << "channel"
                                     << L{"send \"PRIVMSG #Help :hello all\"", "chat {white}Pilot42: hello all\\r\\n"};
    QTest::newRow("whisper") << "/msg Kite see you" << "channel"
                             << L{"send \"privmsg Kite :see you\"", "chat {orange}<Kite> see you\\r\\n"};
    QTest::newRow("away") << "/away lunch break" << "channel"
                          << L{"away lunch break", "chat {palered}Away message set to \"lunch break\"\\r\\n"};
    QTest::newRow("action while away") << "/me waves" << "channel away"
                                       << L{"chat {palered}Away message has been cleared.\\r\\n", "back from away",
                                            "send \"PRIVMSG #Help :/me waves\"", "chat {cyan}Pilot42 waves\\r\\n"};
    QTest::newRow("unknown command") << "/nick x" << "channel" << L{"chat {palered}Unknown Command\\r\\n"};
    QTest::newRow("no connection") << "hello" << "channel offline"
                                   << L{"chat {palered}Not sent: there is no connection to the chat server.\\r\\n"};
}

void TestSessionRules::typed()
{
    QFETCH(QString, typed);
    QFETCH(QString, session);
    QFETCH(QStringList, steps);
    Steps out;
    decideTyped(typed, sessionOf(session), out);
    QCOMPARE(describe(out), steps);
}

void TestSessionRules::builders()
{
    QCOMPARE(registrationSends(QStringLiteral("Pilot42"), 7),
             (QList<QByteArrayList>{{"PASS MORBADENTILQ "},
                                    {"NICK Pilot42 ", "USER Username hostname servername :7 0 "},
                                    {"list"},
                                    {"who"}}));
    // A name holding "%1" goes out as typed.
    QCOMPARE(registrationSends(QStringLiteral("B%2%1"), 0).at(1),
             (QByteArrayList{"NICK B%2%1 ", "USER Username hostname servername :0 0 "}));
    QCOMPARE(farewellSend(QStringLiteral("#Help"), QStringLiteral("Pilot42")),
             (QByteArrayList{"privmsg #Help :#me Pilot42 is returning to the Fenmoor lobby", "PART #Help"}));
    QCOMPARE(wireSend({"PART #Help", "who"}), QByteArray("PART #Help\r\nwho\r\n"));
}

void TestSessionRules::wireRefusesBrokenLines_data()
{
    QTest::addColumn<QByteArrayList>("lines");
    QTest::newRow("CR") << QByteArrayList{"PRIVMSG #a :x\ry"};
    QTest::newRow("LF in the second line") << QByteArrayList{"who", "whois a\nQUIT"};
    QTest::newRow("NUL") << QByteArrayList{QByteArray("whois a\0b", 9)};
}

void TestSessionRules::wireRefusesBrokenLines()
{
    QFETCH(QByteArrayList, lines);
    QCOMPARE(wireSend(lines), std::nullopt);
}

QTEST_APPLESS_MAIN(TestSessionRules)
#include "test_session_rules.moc"
