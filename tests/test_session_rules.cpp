// What a received or typed line does, rule by rule: lines in, the session as
// the windows show it, the steps out. No window and no socket.

#include "encryption/scramble.h"
#include "encryption/texts.h"
#include "lobby/chat_outbox.h"
#include "lobby/session_rules.h"
#include "support/chat_lines.h"

#include <QTest>

namespace {

FilterMatcher gFilter;
const QSet<QString> kMembers = {QStringLiteral("Kite"), QStringLiteral("Ace")};

// The session a row runs in, in a few words:
//   "lobby"   the lobby is shown, no channel window
//   "channel" the channel window is shown for #Help, the lobby hidden
//   "hidden"  the channel window is loaded for #Help, not shown; the lobby shown
// followed by any of "quiet" (no enter/exit notices), "unfiltered", "away"
// (away text "lunch"), "offline" (no chat connection), "unwelcomed" (the
// server's welcome has not come yet), "joining" (the JOIN of #Help is not
// echoed yet), "busy" (no room for more automatic requests). Kite and Ace
// are members.
struct Session {
    SessionView view;
    SessionMemory memory;
};

Session sessionOf(const QString& words)
{
    const QStringList w = words.split(u' ');
    Session s;
    SessionView& v = s.view;
    v.username = QStringLiteral("Pilot42");
    v.ownIcon = 8;
    v.chatServerHost = QStringLiteral("irc.fenmoor.test");
    v.maskedHost = QStringLiteral("players.fenmoor.test");
    v.filterWords = &gFilter;
    v.lobbyShown = !w.contains(QLatin1String("channel"));
    v.channelLoaded = !w.contains(QLatin1String("lobby"));
    v.channelShown = w.contains(QLatin1String("channel"));
    if (v.channelLoaded)
        v.channel = QStringLiteral("#Help");
    v.notify = !w.contains(QLatin1String("quiet"));
    v.filter = !w.contains(QLatin1String("unfiltered"));
    v.away = w.contains(QLatin1String("away"));
    if (v.away)
        v.awayMessage = QStringLiteral("lunch");
    v.connected = !w.contains(QLatin1String("offline"));
    if (w.contains(QLatin1String("busy")))
        v.requestRoom = 0;
    v.isMember = [](const QString& nick) { return kMembers.contains(nick); };
    s.memory.welcomed = !w.contains(QLatin1String("unwelcomed"));
    if (w.contains(QLatin1String("joining")))
        s.memory.startVisit(QStringLiteral("#Help"));
    return s;
}

// The rules get lines without their CR LF.
QByteArray server(const QByteArray& numeric, const QByteArray& rest)
{
    return serverReply(numeric, rest).chopped(2);
}

QByteArray player(const QByteArray& nick, const QByteArray& rest)
{
    return fromPlayer(nick, rest).chopped(2);
}

QByteArray chanServ(const QByteArray& rest)
{
    return fromChanServ(rest).chopped(2);
}

QByteArray who(const QByteArray& channel, const QByteArray& nick, const QByteArray& flag)
{
    return whoEntry(channel, nick, flag).chopped(2);
}

using L = QStringList;
using Lines = QByteArrayList;

void addColumns()
{
    QTest::addColumn<QByteArrayList>("lines");
    QTest::addColumn<QString>("session");
    QTest::addColumn<QStringList>("steps");
}

// The steps of all the row's lines, one after the other in one session.
void checkLines()
{
    QFETCH(QByteArrayList, lines);
    QFETCH(QString, session);
    QFETCH(QStringList, steps);
    Session s = sessionOf(session);
    Steps out;
    for (const QByteArray& line : lines)
        decideLine(line, s.view, s.memory, out);
    QCOMPARE(describe(out), steps);
}

Steps typedSteps(const QString& typed, Session& s)
{
    QString message = typed;
    Steps out;
    decideTyped(message, s.view, s.memory, out);
    return out;
}

QByteArrayList sentLines(const Steps& steps)
{
    QByteArrayList lines;
    for (const Step& step : steps) {
        if (step.kind == Step::Kind::Send || step.kind == Step::Kind::Request)
            lines += step.lines;
    }
    return lines;
}

} // namespace

class TestSessionRules : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void lists_data();
    void lists() { checkLines(); }
    void traffic_data();
    void traffic() { checkLines(); }
    void alerts_data();
    void alerts() { checkLines(); }
    void whoisAndErrors_data();
    void whoisAndErrors() { checkLines(); }
    void shownSafely_data();
    void shownSafely() { checkLines(); }
    void typed_data();
    void typed();
    void longLinesFitAndLoseNothing_data();
    void longLinesFitAndLoseNothing();
    void namesGoBackInTheirOwnBytes();
    void builders();
    void wireRefusesBrokenLines_data();
    void wireRefusesBrokenLines();
    void outboxPacesRequests();
};

void TestSessionRules::initTestCase()
{
    turnBackStoredTexts({});
    gFilter = FilterMatcher(languageFilterPairs());
}

void TestSessionRules::lists_data()
{
    addColumns();
    QTest::newRow("start and end of list") << Lines{server("321", "Channel :Users  Name"), server("323", ":End of LIST")}
                                           << "lobby" << L{"channels cleared", "channels listed"};
    QTest::newRow("list entry") << Lines{server("322", "#Help 12 :05 Help and questions")} << "lobby"
                                << L{"channel #Help icon 6 count 12 about Help and questions"};
    QTest::newRow("topic :00 is the first picture") << Lines{server("322", "#A 1 :00 x")} << "lobby"
                                                    << L{"channel #A icon 1 count 1 about x"};
    QTest::newRow("topic :12 has no picture") << Lines{server("322", "#A 1 :12 x")} << "lobby"
                                              << L{"channel #A icon - count 1 about x"};
    QTest::newRow("one-word topic has no description") << Lines{server("322", "#A 1 :05")} << "lobby"
                                                       << L{"channel #A icon 6 count 1 about -"};
    QTest::newRow("channel with a control character is not offered")
        << Lines{server("322", "#A\x01" "B 1 :05 x")} << "lobby" << L{};
    QTest::newRow("channel with a zero-width space is not offered")
        << Lines{server("322", "#He\xE2\x80\x8Blp 1 :05 x")} << "lobby" << L{};
    QTest::newRow("names, then one who at their end")
        << Lines{server("353", "= #Help :Ace Zed @Fenmoor"), server("353", "= #Help :Kite"),
                 server("366", "#Help :End of NAMES list")}
        << "channel"
        << L{"member+ Ace 52", "member+ Zed 52", "member+ Fenmoor 53", "focus entry", "member+ Kite 52",
             "focus entry", "request \"WHO #Help\""};
    QTest::newRow("names keep the pictures already known")
        << Lines{who("#Help", "Kite", "12"), server("353", "= #Help :Pilot42 Kite")} << "channel"
        << L{"icon Kite 13", "member+ Pilot42 8", "member+ Kite 13", "focus entry"};
    QTest::newRow("names trimmed") << Lines{server("353", " = #Help :Ace ")} << "channel"
                                   << L{"member+ Ace 52", "focus entry"};
    QTest::newRow("names with status marks") << Lines{server("353", "= #Help :@Marlow +Ash %Pell ~&Quinn")}
                                             << "channel"
                                             << L{"member+ Marlow 52 as @Marlow", "member+ Ash 52 as +Ash",
                                                  "member+ Pell 52 as %Pell", "member+ Quinn 52 as ~&Quinn",
                                                  "focus entry"};
    QTest::newRow("the server says which marks it uses")
        << Lines{server("005", "CHANTYPES=# PREFIX=(ov)@+ :are supported"), server("353", "= #Help :@Marlow %Pell")}
        << "channel" << L{"member+ Marlow 52 as @Marlow", "member+ %Pell 52", "focus entry"};
    QTest::newRow("names while the lobby shows are late")
        << Lines{server("353", "= #Help :Ace"), server("366", "#Help :End")} << "lobby" << L{};
    QTest::newRow("names of another channel") << Lines{server("353", "= #Duel :Ace"), server("366", "#Duel :End")}
                                              << "channel" << L{};
    QTest::newRow("who entry, lobby") << Lines{who("#Help", "Kite", "12")} << "lobby" << L{"who+ Kite|#Help"};
    QTest::newRow("who entry in no channel") << Lines{who("*", "Kite", "12")} << "lobby" << L{"who+ Kite| "};
    QTest::newRow("who entry, channel: flag") << Lines{who("#Help", "Kite", "12")} << "channel" << L{"icon Kite 13"};
    QTest::newRow("who entry, channel: flag 0") << Lines{who("#Help", "Kite", "0")} << "channel" << L{"icon Kite 1"};
    QTest::newRow("flag 50 is a flag like any other") << Lines{who("#Help", "Kite", "50")} << "channel"
                                                      << L{"icon Kite 51"};
    QTest::newRow("the staff account wears its badge") << Lines{who("#Help", "Fenmoor", "50")} << "channel"
                                                       << L{"icon Fenmoor 53"};
    QTest::newRow("who entry, channel: no number") << Lines{who("#Help", "Kite", "x")} << "channel" << L{};
    QTest::newRow("who entry, channel: beyond the flags") << Lines{who("#Help", "Kite", "52")} << "channel" << L{};
    QTest::newRow("end of who, lobby") << Lines{server("315", "* :End of WHO list")} << "lobby" << L{"who list rebuilt"};
    QTest::newRow("end of who, channel") << Lines{server("315", "* :End")} << "channel" << L{"whois unknown flags"};
    QTest::newRow("who without a mask refused, lobby")
        << Lines{server("461", "WHO :Not enough parameters"), server("461", "WHO :Not enough parameters")} << "lobby"
        << L{"request \"WHO *\""};
    QTest::newRow("who without a mask refused in a channel: asked with one back in the lobby")
        << Lines{server("461", "WHO :Not enough parameters")} << "channel" << L{};
    QTest::newRow("who refused before the welcome")
        << Lines{":irc.fenmoor.test 461 * WHO :Not enough parameters.", server("001", ":Welcome")}
        << "lobby unwelcomed" << L{"welcomed", "request \"WHO *\"", "info Welcome"};
}

void TestSessionRules::traffic_data()
{
    addColumns();
    const QString joined = QStringLiteral("chat {palered}** Zed has entered the channel.\\r\\n");
    const QString left = QStringLiteral("chat {palered}** Kite has left the channel.\\r\\n");
    QTest::newRow("join") << Lines{player("Zed", "JOIN :#Help")} << "channel"
                          << L{"member+ Zed 52", "request \"whois Zed\"", joined};
    QTest::newRow("join while requests fill the queue: asked at the end of WHO")
        << Lines{player("Zed", "JOIN :#Help")} << "channel quiet busy" << L{"member+ Zed 52"};
    QTest::newRow("join twice, one whois a visit")
        << Lines{player("Zed", "JOIN #Help"), player("Zed", "JOIN #Help")} << "channel quiet"
        << L{"member+ Zed 52", "request \"whois Zed\"", "member+ Zed 52"};
    QTest::newRow("back after a kick, with the flag known")
        << Lines{who("#Help", "Zed", "12"), player("Zed", "PART #Help"), player("Zed", "JOIN #Help")}
        << "channel quiet" << L{"icon Zed 13", "member- Zed", "fetch games", "member+ Zed 13"};
    QTest::newRow("back after quitting, flag asked for again")
        << Lines{who("#Help", "Kite", "12"), player("Kite", "QUIT :bye"), player("Kite", "JOIN #Help")}
        << "channel quiet"
        << L{"icon Kite 13", "member- Kite", "fetch games", "member+ Kite 52", "request \"whois Kite\""};
    QTest::newRow("own join, with the flag the user picked") << Lines{player("Pilot42", "JOIN :#Help")} << "channel"
                                                             << L{"member+ Pilot42 8"};
    QTest::newRow("join of another channel") << Lines{player("Zed", "JOIN :#Duel")} << "channel" << L{};
    QTest::newRow("join with no channel open") << Lines{player("Zed", "JOIN :#Help")} << "lobby" << L{};
    QTest::newRow("part") << Lines{player("Kite", "PART #Help")} << "channel" << L{"member- Kite", "fetch games", left};
    QTest::newRow("part of another channel") << Lines{player("Kite", "PART #Duel :bye")} << "channel" << L{};
    QTest::newRow("quit of a member, notices off") << Lines{player("Kite", "QUIT :bye")} << "channel quiet"
                                                   << L{"member- Kite", "fetch games"};
    QTest::newRow("quit of somebody else") << Lines{player("Zed", "QUIT :bye")} << "channel" << L{};
    QTest::newRow("own part echoed in the lobby") << Lines{player("Pilot42", "PART #Help")} << "hidden"
                                                  << L{"back to lobby"};
    QTest::newRow("own part of a channel left before") << Lines{player("Pilot42", "PART #Duel")} << "channel" << L{};
    QTest::newRow("parted by the server") << Lines{player("Pilot42", "PART #Help :forced")} << "channel"
                                          << L{"close channel without farewell", "back to lobby"};
    QTest::newRow("channel message") << Lines{player("Kite", "PRIVMSG #Help :hello all")} << "channel"
                                     << L{"chat {white}Kite> hello all\\r\\n"};
    QTest::newRow("channel message filtered") << Lines{player("Kite", "PRIVMSG #Help :oh SHIT")} << "channel"
                                              << L{"chat {white}Kite> oh s**t\\r\\n"};
    QTest::newRow("channel message unfiltered") << Lines{player("Kite", "PRIVMSG #Help :oh SHIT")}
                                                << "channel unfiltered" << L{"chat {white}Kite> oh SHIT\\r\\n"};
    QTest::newRow("action") << Lines{player("Kite", "PRIVMSG #Help :/me waves \\rhard")} << "channel"
                            << L{"chat {cyan}Kite waves {red}hard\\r\\n"};
    QTest::newRow("message for another channel") << Lines{player("Kite", "PRIVMSG #Duel :hi")} << "channel" << L{};
    QTest::newRow("private message") << Lines{player("Kite", "PRIVMSG Pilot42 :psst")} << "channel"
                                     << L{"chat {yellow}[Kite] psst\\r\\n", "alert Kite | psst"};
    QTest::newRow("private message in the lobby") << Lines{player("Kite", "PRIVMSG Pilot42 :psst")} << "lobby"
                                                  << L{"lobby note {yellow}[Kite] psst\\r\\n", "alert Kite | psst"};
    QTest::newRow("away replies: three to one sender, and one to the next")
        << Lines{player("Kite", "PRIVMSG Pilot42 :1"), player("Kite", "PRIVMSG Pilot42 :2"),
                 player("Kite", "PRIVMSG Pilot42 :3"), player("Kite", "PRIVMSG Pilot42 :4"),
                 player("Wren", "PRIVMSG Pilot42 :5")}
        << "channel away"
        << L{"chat {yellow}[Kite] 1\\r\\n", "alert Kite | 1", "send \"PRIVMSG Kite :lunch\"",
             "chat {orange}Away message sent to Kite: lunch\\r\\n", "chat {yellow}[Kite] 2\\r\\n", "alert Kite | 2",
             "send \"PRIVMSG Kite :lunch\"", "chat {orange}Away message sent to Kite: lunch\\r\\n",
             "chat {yellow}[Kite] 3\\r\\n", "alert Kite | 3", "send \"PRIVMSG Kite :lunch\"",
             "chat {orange}Away message sent to Kite: lunch\\r\\n", "chat {yellow}[Kite] 4\\r\\n", "alert Kite | 4",
             "chat {yellow}[Wren] 5\\r\\n", "alert Wren | 5", "send \"PRIVMSG Wren :lunch\"",
             "chat {orange}Away message sent to Wren: lunch\\r\\n"};
    Lines crowd;
    QStringList crowdEffects;
    for (int i = 1; i <= 21; ++i) {
        const QString nick = QStringLiteral("p%1").arg(i);
        crowd << player(nick.toLatin1(), "PRIVMSG Pilot42 :hi");
        crowdEffects << QStringLiteral("chat {yellow}[%1] hi\\r\\n").arg(nick) << QStringLiteral("alert %1 | hi").arg(nick);
        if (i <= 20)
            crowdEffects << QStringLiteral("send \"PRIVMSG %1 :lunch\"").arg(nick)
                         << QStringLiteral("chat {orange}Away message sent to %1: lunch\\r\\n").arg(nick);
    }
    QTest::newRow("away replies to twenty senders, not to the next") << crowd << "channel away" << crowdEffects;
    QTest::newRow("away with no connection") << Lines{player("Kite", "PRIVMSG Pilot42 :psst")} << "channel away offline"
                                             << L{"chat {yellow}[Kite] psst\\r\\n", "alert Kite | psst"};
    QTest::newRow("kick of another") << Lines{chanServ("KICK #Help Ace :spam")} << "channel quiet"
                                     << L{"member- Ace", "chat {palered}Ace was kicked from #Help by ChanServ: spam\\r\\n"};
    QTest::newRow("kick in another channel") << Lines{chanServ("KICK #Duel Pilot42 :spam")} << "channel" << L{};
    const QString kicked = QStringLiteral(
        "box Kicked From Channel | You have been kicked out of the channel by %1. Reason: spam. | information");
    QTest::newRow("own kick by ChanServ") << Lines{chanServ("KICK #Help Pilot42 :spam")} << "channel"
                                          << L{"close channel without farewell", "back to lobby", kicked.arg("ChanServ")};
    QTest::newRow("own kick by a channel operator") << Lines{player("Kite", "KICK #Help Pilot42 :spam")} << "channel"
                                                    << L{"close channel without farewell", "back to lobby",
                                                         kicked.arg("Kite")};
    QTest::newRow("kick by an operator from elsewhere") << Lines{":Oper!o@staff.example KICK #Help Ace :bye"}
                                                        << "channel"
                                                        << L{"member- Ace",
                                                             "chat {palered}Ace was kicked from #Help by Oper: bye\\r\\n"};
    QTest::newRow("refused join") << Lines{server("474", "#Help :Cannot join channel (+b)")} << "channel joining"
                                  << L{"close channel without farewell", "back to lobby",
                                       "box Channel Unavailable | The chat server did not let you into #Help: Cannot "
                                       "join channel (+b). | information"};
    for (const char* numeric : {"403", "405", "437", "471", "473", "475", "477"})
        QTest::addRow("refused join %s", numeric)
            << Lines{server(numeric, "#Help :No")} << "channel joining"
            << L{"close channel without farewell", "back to lobby",
                 "box Channel Unavailable | The chat server did not let you into #Help: No. | information"};
    QTest::newRow("refusal once the join is echoed")
        << Lines{player("Pilot42", "JOIN #Help"), server("474", "#Help :Cannot join channel (+b)")}
        << "channel joining quiet" << L{"member+ Pilot42 8"};
    QTest::newRow("refusal of a channel not being entered") << Lines{server("473", "#Duel :Invite only")}
                                                            << "channel joining" << L{};
    QTest::newRow("host not masked") << Lines{":Kite!~Username@elsewhere PRIVMSG #Help :hi"} << "channel" << L{};
    QTest::newRow("keep-alive") << Lines{"PING :irc.fenmoor.test"} << "lobby" << L{"keep-alive \"PONG :irc.fenmoor.test\""};
    QTest::newRow("the server answers our probe") << Lines{":irc.fenmoor.test PONG irc.fenmoor.test :tavimere-7"}
                                                 << "lobby" << L{"answered tavimere-7"};
    QTest::newRow("keep-alive too long to answer") << Lines{"PING :" + QByteArray(510, 'x')} << "lobby" << L{};
    QTest::newRow("keep-alive with a NUL") << Lines{QByteArray("PING :a\0b", 9)} << "lobby" << L{};
}

// What calls for the user's eye: a whisper, or a line of the open channel
// that names the user as a whole word in any case, with its first words.
void TestSessionRules::alerts_data()
{
    addColumns();
    const auto said = [](const QString& text) {
        return L{QStringLiteral("chat {white}Kite> ") + text + QStringLiteral("\\r\\n"),
                 QStringLiteral("alert Kite in #Help | ") + text};
    };
    const auto unnoticed = [](const QString& text) {
        return L{QStringLiteral("chat {white}Kite> ") + text + QStringLiteral("\\r\\n")};
    };
    for (const char* text : {"pilot42, ready?", "hi PILOT42", "(Pilot42)", "@Pilot42: go", "Pilot42's turn"})
        QTest::newRow(text) << Lines{player("Kite", QByteArray("PRIVMSG #Help :") + text)} << "channel" << said(text);
    for (const char* text : {"Pilot421 is not you", "xPilot42", "Pilot42_", "Pilot4", "[Pilot42]-bot"})
        QTest::newRow(text) << Lines{player("Kite", QByteArray("PRIVMSG #Help :") + text)} << "channel"
                            << unnoticed(text);
    QTest::newRow("action naming the user") << Lines{player("Kite", "PRIVMSG #Help :/me hugs \\ypilot42")} << "channel"
                                            << L{"chat {cyan}Kite hugs {yellow}pilot42\\r\\n",
                                                 "alert Kite in #Help | Kite hugs pilot42"};
    QTest::newRow("naming the user in another channel") << Lines{player("Kite", "PRIVMSG #Duel :Pilot42!")} << "channel"
                                                        << L{};
    QTest::newRow("whisper, filtered") << Lines{player("Kite", "PRIVMSG Pilot42 :oh  SHIT")} << "lobby"
                                       << L{"lobby note {yellow}[Kite] oh  s**t\\r\\n", "alert Kite | oh s**t"};
    // The first words: cut at a blank near the hundredth character, or at it
    // in a word that long.
    const QString words = QStringLiteral("abcdefghi ").repeated(15).trimmed();
    QTest::newRow("long whisper") << Lines{player("Kite", "PRIVMSG Pilot42 :" + words.toUtf8())} << "channel"
                                  << L{"chat {yellow}[Kite] " + words + "\\r\\n",
                                       "alert Kite | " + words.left(99) + QChar(0x2026)};
    const QString word = QStringLiteral("x").repeated(150);
    QTest::newRow("long word") << Lines{player("Kite", "PRIVMSG Pilot42 :" + word.toUtf8())} << "channel"
                               << L{"chat {yellow}[Kite] " + word + "\\r\\n",
                                    "alert Kite | " + word.left(100) + QChar(0x2026)};
}

void TestSessionRules::whoisAndErrors_data()
{
    addColumns();
    QTest::newRow("whois flag 12") << Lines{server("311", "Ace Username players.fenmoor.test * :12 0")} << "channel"
                                   << L{"icon Ace 13"};
    QTest::newRow("whois flag 0") << Lines{server("311", "Ace Username h * :0 0")} << "channel" << L{"icon Ace 1"};
    QTest::newRow("whois with the marker") << Lines{server("311", "Ace Username h * :Guest")} << "channel" << L{};
    QTest::newRow("whois, channel not shown") << Lines{server("311", "Ace Username h * :12 0")} << "hidden" << L{};
    QTest::newRow("no such nick") << Lines{server("401", "Ace :No such nick")} << "channel" << L{};
    QTest::newRow("nick in use") << Lines{server("433", "* Pilot42 :Nickname already in use")} << "lobby"
                                 << L{"box Error | The username you have selected is already logged on Fenmoor. | "
                                      "information | then end session"};
    QTest::newRow("welcome") << Lines{server("001", ":Welcome to the network")} << "lobby unwelcomed"
                             << L{"welcomed", "info Welcome to the network"};
    QTest::newRow("a second welcome") << Lines{server("001", ":Welcome")} << "lobby" << L{"info Welcome"};
    QTest::newRow("numeric without text") << Lines{":irc.fenmoor.test 375"} << "lobby" << L{};
    const QString refused = QStringLiteral(
        "box Name Refused | The chat server did not accept the name Pilot42: %1. | information | then end session");
    QTest::newRow("erroneous nickname") << Lines{server("432", "Pilot42 :Erroneous Nickname")} << "lobby unwelcomed"
                                        << L{refused.arg("Erroneous Nickname")};
    QTest::newRow("no nickname") << Lines{":irc.fenmoor.test 431 * :No nickname given"} << "lobby unwelcomed"
                                 << L{refused.arg("No nickname given")};
    // Some servers take a moment to register a user and refuse what comes
    // first; the lists are asked for again at the welcome.
    QTest::newRow("lists refused before the welcome")
        << Lines{":irc.fenmoor.test 451 * LIST :You have not registered.",
                 ":irc.fenmoor.test 451 * WHO :You have not registered.", server("001", ":Welcome")}
        << "lobby unwelcomed" << L{"welcomed", "request \"LIST\"", "request \"who\"", "info Welcome"};
    QTest::newRow("user refused") << Lines{server("461", "USER :Syntax error")} << "lobby unwelcomed"
                                  << L{refused.arg("Syntax error")};
    QTest::newRow("erroneous nickname once welcomed") << Lines{server("432", "x :Erroneous Nickname")} << "lobby"
                                                      << L{};
    QTest::newRow("the server ends the session")
        << Lines{"ERROR :Closing connection: Bad password"} << "lobby unwelcomed"
        << L{"box Name Refused | The chat server ended the session: Closing connection: Bad password. | information | "
             "then end session"};
    QTest::newRow("an error once welcomed is left to the lost connection") << Lines{"ERROR :Ping timeout"} << "lobby"
                                                                           << L{};
}

void TestSessionRules::shownSafely_data()
{
    addColumns();
    // Nobody can make a line look like two, reorder it, or pass for another.
    QTest::newRow("paragraph separator") << Lines{player("Kite", "PRIVMSG #Help :hi\xE2\x80\xA9" "Fenmoor> type")}
                                         << "channel" << L{"chat {white}Kite> hi Fenmoor> type\\r\\n"};
    QTest::newRow("line separator and NEL")
        << Lines{player("Kite", "PRIVMSG #Help :a\xE2\x80\xA8" "b\xC2\x85" "c")} << "channel"
        << L{"chat {white}Kite> a b c\\r\\n"};
    QTest::newRow("lone CR and LF from a hostile server") << Lines{player("Kite", "PRIVMSG #Help :a\rb\nc")}
                                                          << "channel" << L{"chat {white}Kite> a b c\\r\\n"};
    QTest::newRow("bidirectional override") << Lines{player("Kite", "PRIVMSG #Help :\xE2\x80\xAEolleh\xE2\x81\xA9")}
                                            << "channel" << L{"chat {white}Kite> olleh\\r\\n"};
    QTest::newRow("zero-width space in a nick") << Lines{player("Ki\xE2\x80\x8Bte", "PRIVMSG #Help :hi")}
                                                << "channel" << L{QStringLiteral("chat {white}Ki\uFFFDte> hi\\r\\n")};
    QTest::newRow("a nick and a text holding %1, a tab kept")
        << Lines{player("K%1te", "PRIVMSG #Help :%1\tand %2")} << "channel"
        << L{QStringLiteral("chat {white}K%1te> %1\tand %2\\r\\n")};
    QTest::newRow("control character in a joining nick")
        << Lines{player("Bad\x01", "JOIN #Help")} << "channel quiet" << L{QStringLiteral("member+ Bad\x01 52 as Bad\uFFFD")};
    QTest::newRow("kick reason") << Lines{chanServ("KICK #Help Ace :x\xE2\x80\xA9y")} << "channel quiet"
                                 << L{"member- Ace", "chat {palered}Ace was kicked from #Help by ChanServ: x y\\r\\n"};
    QTest::newRow("topic") << Lines{server("322", "#A 1 :05 x\xE2\x80\xA9y\xE2\x80\xAE")} << "lobby"
                           << L{"channel #A icon 6 count 1 about x y"};
    QTest::newRow("server text") << Lines{server("372", ":- a\xE2\x80\xA9" "b")} << "lobby" << L{"info - a b"};
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
    QTest::newRow("whisper: the filter masks the text, never the name")
        << "/msg Pshit12 oh shit" << "channel"
        << L{"send \"privmsg Pshit12 :oh s**t\"", "chat {orange}<Pshit12> oh s**t\\r\\n"};
    QTest::newRow("whisper to a name starting with a colon") << "/msg :Kite hello" << "channel"
                                                             << L{"chat {palered}Not sent: \":Kite\" cannot be the name "
                                                                  "of a player.\\r\\n"};
    QTest::newRow("whisper to a name holding a colon") << "/msg Kite: hi" << "channel"
                                                       << L{"chat {palered}Not sent: \"Kite:\" cannot be the name of "
                                                            "a player.\\r\\n"};
    QTest::newRow("whisper to nobody") << "/msg  hello" << "channel"
                                       << L{"chat {palered}Not sent: the name of a player must follow \"/msg \".\\r\\n"};
    QTest::newRow("whisper to a name holding a control character")
        << QStringLiteral("/msg Bad\x01 hi") << "channel"
        << L{"chat {palered}Not sent: \"Bad\xEF\xBF\xBD\" cannot be the name of a player.\\r\\n"};
    QTest::newRow("\"/msg \" alone") << "/msg " << "channel" << L{};
    QTest::newRow("pasted control characters go")
        << QStringLiteral("hi\x01" "ACTION\x1B[31m\tx\x7F") << "channel"
        << L{"send \"PRIVMSG #Help :hiACTION[31mx\"", "chat {white}Pilot42: hiACTION[31mx\\r\\n"};
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
    Session s = sessionOf(session);
    QCOMPARE(describe(typedSteps(typed, s)), steps);
}

void TestSessionRules::longLinesFitAndLoseNothing_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("away");
    const QString latin = QString(253 - 10, QChar(0xE9));
    const QString cyrillic = QString(253, QChar(0x0416));
    const QString cjk = QString(253, QChar(0x6F22));
    QString emoji;
    while (emoji.size() < 252)
        emoji += QStringLiteral("\U0001F600");
    emoji += u'!';
    // What fits in the entry line's 253 characters after the command; an
    // emoji is never cut in half there.
    const auto room = [](const QString& text, qsizetype size) {
        if (text.size() <= size)
            return text;
        return text.left(text.at(size - 1).isHighSurrogate() ? size - 1 : size);
    };
    for (const auto& [script, text] : {std::pair{"latin", latin}, {"cyrillic", cyrillic}, {"cjk", cjk},
                                       {"emoji", emoji}}) {
        QTest::addRow("channel message, %s", script) << text << text << false;
        QTest::addRow("action, %s", script) << QStringLiteral("/me ") + room(text, 249) << room(text, 249) << false;
        QTest::addRow("whisper, %s", script) << QStringLiteral("/msg Kite ") + room(text, 243) << room(text, 243)
                                             << false;
        QTest::addRow("away reply, %s", script) << QStringLiteral("/away ") + room(text, 247) << room(text, 247)
                                                << true;
    }
}

void TestSessionRules::longLinesFitAndLoseNothing()
{
    QFETCH(QString, typed);
    QFETCH(QString, text);
    QFETCH(bool, away);
    Session s = sessionOf(QStringLiteral("channel unfiltered"));
    s.view.username = QStringLiteral("LongestName1234");
    Steps steps = typedSteps(typed, s);
    if (away) {
        s.view.away = true;
        s.view.awayMessage = text;
        steps.clear();
        decideLine(player("Kite", "PRIVMSG LongestName1234 :hi"), s.view, s.memory, steps);
    }
    const QByteArrayList lines = sentLines(steps);
    QVERIFY(lines.size() > 1);
    QString joined;
    const QByteArray relay = ":LongestName1234!~Username@players.fenmoor.test ";
    for (const QByteArray& line : lines) {
        // As the server passes it on, the line still fits whole.
        QVERIFY2(relay.size() + line.size() + 2 <= kMaxLineBytes, line.constData());
        QVERIFY(wireSend({line}));
        const QString piece = QString::fromUtf8(line.mid(line.indexOf(" :") + 2));
        QVERIFY2(piece.toUtf8() == line.mid(line.indexOf(" :") + 2), "a character was cut in half");
        joined += piece;
    }
    joined.remove(QStringLiteral("/me "));
    joined.remove(QStringLiteral("/me"));
    QCOMPARE(joined.remove(u' '), QString(text).remove(u' '));
}

void TestSessionRules::namesGoBackInTheirOwnBytes()
{
    Session s = sessionOf(QStringLiteral("channel"));
    Steps steps;
    decideLine(server("322", "#Caf\xE9 3 :05 Coffee"), s.view, s.memory, steps);
    decideLine("PING :caf\xE9", s.view, s.memory, steps);
    const QString cafe = QStringLiteral("#Caf\u00E9");
    QCOMPARE(steps.front().entry.channel, cafe);
    QCOMPARE(steps.back().lines, QByteArrayList{"PONG :caf\xE9"});
    QCOMPARE(steps.back().kind, Step::Kind::KeepAlive);
    s.view.channel = cafe;
    const QByteArrayList typed = sentLines(typedSteps(QStringLiteral("hi"), s));
    QCOMPARE(typed, QByteArrayList{"PRIVMSG #Caf\xE9 :hi"});
    QCOMPARE(wireName(s.memory, cafe), QByteArray("#Caf\xE9"));
    QCOMPARE(joinSend(s.memory, cafe), QByteArrayList{"JOIN #Caf\xE9"});
    QCOMPARE(wireName(s.memory, QStringLiteral("#Caf\u00E9s")), QByteArray("#Caf\xC3\xA9s"));
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
    QCOMPARE(joinSend(SessionMemory(), QStringLiteral("#Help")), QByteArrayList{"JOIN #Help"});
    QCOMPARE(farewellSend("#Help", QStringLiteral("Pilot42")),
             (QByteArrayList{"privmsg #Help :#me Pilot42 is returning to the Fenmoor lobby", "PART #Help"}));
    QCOMPARE(wireSend({"PART #Help", "who"}), QByteArray("PART #Help\r\nwho\r\n"));
    // A blank where the text is cut begins the next piece: servers trim one
    // at the end of a line.
    QCOMPARE(splitForWire(QStringLiteral("aa bb cc"), 6), (QStringList{"aa bb", " cc"}));
    QCOMPARE(splitForWire(QStringLiteral("\U0001F600\U0001F600"), 5),
             (QStringList{QStringLiteral("\U0001F600"), QStringLiteral("\U0001F600")}));
    // A member there was no room to ask about is asked the next time.
    SessionMemory memory;
    const QStringList unknown{QStringLiteral("Ace"), QStringLiteral("Kite"), QStringLiteral("Zed")};
    QCOMPARE(flagRequests(unknown, memory, 2), (QByteArrayList{"whois Ace", "whois Kite"}));
    QCOMPARE(flagRequests(unknown, memory, 5), QByteArrayList{"whois Zed"});
    // A visit remembers whom it asked up to a bound, then asks no more: a
    // server that sends new members without end does not grow the session.
    QStringList crowd;
    for (int i = 0; i < 100000; ++i)
        crowd << QStringLiteral("m%1").arg(i);
    QCOMPARE(flagRequests(crowd, memory, crowd.size()).size(), crowd.size() - unknown.size());
    QCOMPARE(flagRequests({QStringLiteral("Late")}, memory, 5), QByteArrayList());
    QCOMPARE(memory.whoisAsked.size(), crowd.size());
}

void TestSessionRules::wireRefusesBrokenLines_data()
{
    QTest::addColumn<QByteArrayList>("lines");
    QTest::newRow("CR") << QByteArrayList{"PRIVMSG #a :x\ry"};
    QTest::newRow("LF in the second line") << QByteArrayList{"who", "whois a\nQUIT"};
    QTest::newRow("NUL") << QByteArrayList{QByteArray("whois a\0b", 9)};
    QTest::newRow("over 512 bytes with CR LF") << QByteArrayList{QByteArray(511, 'x')};
}

void TestSessionRules::wireRefusesBrokenLines()
{
    QFETCH(QByteArrayList, lines);
    QCOMPARE(wireSend(lines), std::nullopt);
}

void TestSessionRules::outboxPacesRequests()
{
    ChatOutbox out;
    // One request at a time, each followed by a PING; the next waits for
    // the server's PONG. The same request waits once.
    QVERIFY(out.request("who", 1000));
    QVERIFY(!out.request("who", 1000));
    QVERIFY(out.request("whois Kite", 1000));
    QCOMPARE(out.takeDue(1000), (QByteArrayList{"who", "PING :tavimere-1"}));
    QCOMPARE(out.takeDue(1000), std::nullopt);
    out.answered("tavimere-0", 1000);
    QCOMPARE(out.takeDue(5000), std::nullopt);
    // Answered, the next goes once what the server still counts for the
    // "who" leaves room for it and the user's lines; a server that took long
    // to answer gets as long again to rest.
    out.answered("tavimere-1", 1500);
    QCOMPARE(out.countedMs(1500), 6500);
    QCOMPARE(out.nextDueMs(1500), 5000);
    QCOMPARE(out.takeDue(5000), (QByteArrayList{"whois Kite", "PING :tavimere-2"}));
    out.answered("tavimere-2", 9000);
    QVERIFY(out.request("whois Ace", 9000));
    QCOMPARE(out.nextDueMs(9000), 13000);
    QVERIFY(out.takeDue(13000));
    out.answered("tavimere-3", 13000);
    // The channel list waits until the server counts nothing for them.
    QVERIFY(out.request("LIST", 13000));
    QCOMPARE(out.takeDue(15900), std::nullopt);
    // A server that never answers holds the next request for a while only.
    QCOMPARE(out.takeDue(16000), (QByteArrayList{"LIST", "PING :tavimere-4"}));
    QVERIFY(out.request("whois Bob", 16000));
    QCOMPARE(out.nextDueMs(17000), 16000 + ChatOutbox::kProbeTimeoutMs);
    QVERIFY(out.takeDue(16000 + ChatOutbox::kProbeTimeoutMs));
    out.answered("tavimere-5", 16000 + ChatOutbox::kProbeTimeoutMs);
    for (int i = 0; i < ChatOutbox::kMostWaiting; ++i)
        QVERIFY(out.request("whois n" + QByteArray::number(i), 99999));
    QVERIFY(!out.request("whois one-too-many", 99999));
    out.dropWaiting();
    QCOMPARE(out.waitingBytes(), 0);

    // A server that pings without end gets five answers in ten seconds.
    ChatOutbox pings;
    for (int i = 0; i < 5; ++i)
        QVERIFY(pings.mayAnswerPing(1000 + i));
    QVERIFY(!pings.mayAnswerPing(2000));
    QVERIFY(pings.mayAnswerPing(11000));

    // While the user types, what the server charges seconds for waits for a
    // pause in the typing, or 20 s at the most; a whois of one nick does not.
    ChatOutbox typing;
    typing.userTyping(1000);
    QVERIFY(typing.request("whois *", 1000));
    QCOMPARE(typing.nextDueMs(1000), 4000);
    typing.userTyping(3500);
    QCOMPARE(typing.nextDueMs(3500), 6500);
    typing.userTyping(25000);
    QCOMPARE(typing.nextDueMs(25000), 25000);
    QVERIFY(typing.takeDue(25000));
    typing.answered("tavimere-1", 25000);
    typing.userTyping(30000);
    QVERIFY(typing.request("whois Kite", 30000));
    QCOMPARE(typing.nextDueMs(30000), 30000);
    QVERIFY(typing.takeDue(30000));
    typing.answered("tavimere-2", 30000);
    QVERIFY(typing.request("LIST", 30000));
    typing.userTyping(33000);
    QCOMPARE(typing.nextDueMs(33000), 36000);
}

QTEST_APPLESS_MAIN(TestSessionRules)
#include "test_session_rules.moc"
