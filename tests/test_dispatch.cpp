// The lobby's handling of chat server lines, seen from the windows: a fake
// chat server sends real bytes over a loopback connection and the tests look
// at the lists, the server text and what the client writes back.

#include "app/forms.h"
#include "channel/channel.h"
#include "encryption/encryption.h"
#include "encryption/texts.h"
#include "lobby/lobby.h"
#include "login/login.h"
#include "platform/listview.h"
#include "platform/service.h"
#include "platform/socket.h"
#include "support/fakes.h"
#include "support/irc_lines_fixture.h"
#include "support/test_session.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>
#include <QTextDocument>
#include <QTimer>

namespace {

// What the client must send, read once before any session exists: turning a
// stored text back runs pending events, which must not happen in the middle
// of a test's own waiting.
QByteArray gListCommand;
QString gSpecialFrom;
QString gSpecialTo;

// "text|icon|column 1|column 2..." for every row, in list order.
QStringList rowsOf(const ListView* list, int subItems)
{
    QStringList rows;
    for (int row = 0; row < list->count(); ++row) {
        QStringList cells{list->text(row), QString::number(list->iconAt(row))};
        for (int column = 1; column <= subItems; ++column)
            cells.append(list->subItem(row, column));
        rows.append(cells.join(u'|'));
    }
    return rows;
}

QStringList whoBufferOf(const Lobby& session)
{
    QStringList entries;
    for (const WhoPair& pair : session.whoBuffer)
        entries.append(pair.nick + u'|' + pair.channel);
    return entries;
}

} // namespace

class TestDispatch : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();

    void serverInfo_data();
    void serverInfo();
    void serverInfoIsOneEditPerRead();

    void channelList_data();
    void channelList();
    void refreshAsksForTheListOnly();

    void whoInLobby_data();
    void whoInLobby();
    void whoTimerStartsAFreshCollection();

    void namesInChannel_data();
    void namesInChannel();
    void longNamesReplyAsksOnce();
    void namesAfterLeavingAreIgnored();
    void whoInChannel_data();
    void whoInChannel();

    void leaving_data();
    void leaving();

    void reassembly_data();
    void reassembly();
    void linesAreHandledWhileABoxIsOpen();

    void serverTextNeverBreaksALine_data();
    void serverTextNeverBreaksALine();

    void garbageIsSurvived_data();
    void garbageIsSurvived();
    void slicesKeepOrderAndEffects_data();
    void slicesKeepOrderAndEffects();
};

void TestDispatch::initTestCase()
{
    gListCommand = unscrambled(scrambled::kChannelListCommand).toUtf8() + "\r\n";
    gSpecialFrom = unscrambled(scrambled::kSpecialNameFrom);
    gSpecialTo = unscrambled(scrambled::kSpecialNameTo);
    QVERIFY(!gSpecialFrom.isEmpty());
    QVERIFY(gSpecialFrom != gSpecialTo);
}

// ------------------------------------------------------------- server text

void TestDispatch::serverInfo_data()
{
    QTest::addColumn<QByteArrayList>("lines");
    QTest::addColumn<QString>("info");
    // What the client answers: only the keep-alive gets a reply.
    QTest::addColumn<QByteArray>("answer");

    for (const char* numeric : {"001", "002", "003", "004", "250", "251", "252", "253", "254", "255", "265", "266",
                                "372", "375", "376"}) {
        QTest::addRow("%s", numeric) << QByteArrayList{serverReply(numeric, ":Fenmoor server text")}
                                     << "Fenmoor server text" << QByteArray();
    }
    QTest::newRow("lines in order, no line break after the last")
        << QByteArrayList{serverReply("375", ":- irc.fenmoor.test Message of the day -"), serverReply("372", ":- Be kind"),
                          serverReply("372", ":- No cheating"), serverReply("376", ":End of MOTD command")}
        << "- irc.fenmoor.test Message of the day -\n- Be kind\n- No cheating\nEnd of MOTD command" << QByteArray();
    QTest::newRow("only the first colon goes")
        << QByteArrayList{serverReply("252", "2 :operator(s) online: ask them")} << "2 operator(s) online: ask them" << QByteArray();
    QTest::newRow("text without a colon")
        << QByteArrayList{serverReply("004", "irc.fenmoor.test ngircd-26 abc def")} << "irc.fenmoor.test ngircd-26 abc def" << QByteArray();
    QTest::newRow("005 is not shown")
        << QByteArrayList{serverReply("005", "CHANTYPES=# :are supported on this server")} << "" << QByteArray();
    QTest::newRow("401 is not shown") << QByteArrayList{serverReply("401", "Zed :No such nick or channel name")} << "" << QByteArray();
    QTest::newRow("numeric without text") << QByteArrayList{":irc.fenmoor.test 372\r\n"} << "" << QByteArray();
    QTest::newRow("server host in the wrong case")
        << QByteArrayList{":IRC.Fenmoor.Test 372 Pilot42 :- Not the server\r\n"} << "" << QByteArray();
    QTest::newRow("keep-alive answered with its own token")
        << QByteArrayList{"PING :irc.fenmoor.test\r\n"} << "" << QByteArray("PONG :irc.fenmoor.test\r\n");
    QTest::newRow("keep-alive whose token would break the line")
        << QByteArrayList{QByteArray("PING :a\0QUIT\r\n", 14)} << "" << QByteArray();
    QTest::newRow("keep-alive from a server prefix is not ours to answer")
        << QByteArrayList{":irc.fenmoor.test PING :x\r\n"} << "" << QByteArray();
    QTest::newRow("shown and not shown mixed")
        << QByteArrayList{serverReply("001", ":Welcome Pilot42"), serverReply("005", "NICKLEN=9 :are supported"),
                          "PING :irc.fenmoor.test\r\n", serverReply("002", ":Your host is irc.fenmoor.test")}
        << "Welcome Pilot42\nYour host is irc.fenmoor.test" << QByteArray("PONG :irc.fenmoor.test\r\n");
}

void TestDispatch::serverInfo()
{
    QFETCH(QByteArrayList, lines);
    QFETCH(QString, info);
    QFETCH(QByteArray, answer);

    TestSession session;
    QVERIFY(session.openLobby());
    session.quietTimers();
    SendRecorder sent(QStringLiteral("irc"));
    session.send(lines.join());
    QVERIFY(session.sync());

    QCOMPARE(lobby().ircInfo->toPlainText(), info);
    QCOMPARE(sent.joined(), answer);
    QCOMPARE(lobby().channels->count(), 0);
}

void TestDispatch::serverInfoIsOneEditPerRead()
{
    TestSession session;
    QVERIFY(session.openLobby());
    session.quietTimers();
    QSignalSpy reads(lobby().irc, &Socket::dataArrival);
    QSignalSpy edits(lobby().ircInfo->document(), &QTextDocument::contentsChange);
    QByteArray motd;
    for (int i = 0; i < 2000; ++i)
        motd += serverReply("372", ":- line " + QByteArray::number(i));
    session.send(motd);
    QVERIFY(session.sync());

    QCOMPARE(lobby().ircInfo->document()->blockCount(), 2000);
    QVERIFY2(edits.count() <= reads.count(), qPrintable(QStringLiteral("%1 edits for %2 reads")
                                                            .arg(edits.count())
                                                            .arg(reads.count())));
}

// ------------------------------------------------------------ channel list

void TestDispatch::channelList_data()
{
    QTest::addColumn<QByteArrayList>("lines");
    QTest::addColumn<QStringList>("rows");

    const QByteArray help = listEntry("#Help", "12", "05 Help channel");
    QTest::newRow("picture from the topic's number")
        << QByteArrayList{help} << QStringList{"#Help|6|12|Help channel"};
    QTest::newRow("first picture") << QByteArrayList{listEntry("#Games", "3", "00 Play here")}
                                   << QStringList{"#Games|1|3|Play here"};
    QTest::newRow("last picture") << QByteArrayList{listEntry("#Cup", "40", "06 Tournament")}
                                  << QStringList{"#Cup|7|40|Tournament"};
    QTest::newRow("number beyond the pictures") << QByteArrayList{listEntry("#Odd", "2", "07 Odd one")}
                                                << QStringList{"#Odd|0|2|Odd one"};
    QTest::newRow("topic without a picture number") << QByteArrayList{listEntry("#Odd", "2", "12 Odd one")}
                                                    << QStringList{"#Odd|0|2|Odd one"};
    QTest::newRow("number beyond the pictures keeps the old one")
        << QByteArrayList{help, listEntry("#Help", "14", "07 Renamed")} << QStringList{"#Help|6|14|Renamed"};
    QTest::newRow("topic without a number keeps the old picture")
        << QByteArrayList{help, listEntry("#Help", "14", "12 Renamed")} << QStringList{"#Help|6|14|Renamed"};
    QTest::newRow("second entry for a channel updates its row")
        << QByteArrayList{help, listEntry("#Games", "3", "00 Play here"), listEntry("#Help", "2", "01 Quiet now")}
        << QStringList{"#Help|2|2|Quiet now", "#Games|1|3|Play here"};
    QTest::newRow("one-word topic keeps the description")
        << QByteArrayList{help, listEntry("#Help", "4", "02")} << QStringList{"#Help|3|4|Help channel"};
    QTest::newRow("one-word topic on a new channel") << QByteArrayList{listEntry("#New", "4", "03")}
                                                     << QStringList{"#New|4|4|"};
    QTest::newRow("server order is kept")
        << QByteArrayList{listEntry("#Zulu", "1", "00 z"), listEntry("#Alpha", "2", "00 a")}
        << QStringList{"#Zulu|1|1|z", "#Alpha|1|2|a"};
    QTest::newRow("start of list empties it")
        << QByteArrayList{help, serverReply("321", "Channel :Users  Name"), listEntry("#New", "1", "04 Fresh")}
        << QStringList{"#New|5|1|Fresh"};
    QTest::newRow("start of list without entries leaves it empty")
        << QByteArrayList{help, serverReply("321", "Channel :Users  Name"), serverReply("323", ":End of LIST")} << QStringList{};
    QTest::newRow("description keeps its blanks") << QByteArrayList{listEntry("#Sp", "1", "00 two  blanks ")}
                                                  << QStringList{"#Sp|1|1|two  blanks "};
}

void TestDispatch::channelList()
{
    QFETCH(QByteArrayList, lines);
    QFETCH(QStringList, rows);

    TestSession session;
    QVERIFY(session.openLobby());
    session.quietTimers();
    SendRecorder sent(QStringLiteral("irc"));
    session.send(lines.join());
    QVERIFY(session.sync());

    QCOMPARE(rowsOf(lobby().channels, 2), rows);
    QCOMPARE(sent.sends, QList<QByteArray>());
}

void TestDispatch::refreshAsksForTheListOnly()
{
    TestSession session;
    QVERIFY(session.openLobby());
    session.quietTimers();
    session.send(listEntry("#Help", "12", "05 Help channel") + listEntry("#Games", "3", "00 Play here"));
    QVERIFY(session.sync());
    const QStringList before = rowsOf(lobby().channels, 2);
    QCOMPARE(before.size(), 2);

    SendRecorder sent(QStringLiteral("irc"));
    QVERIFY(lobby().refreshChanButton->isEnabled());
    QTest::mouseClick(lobby().refreshChanButton, Qt::LeftButton);

    QCOMPARE(sent.sends, QList<QByteArray>{gListCommand});
    QCOMPARE(rowsOf(lobby().channels, 2), before);
    QTRY_COMPARE(session.wire(session.registrationEnd()), gListCommand);
}

// -------------------------------------------------------- users in the lobby

void TestDispatch::whoInLobby_data()
{
    QTest::addColumn<QByteArrayList>("lines");
    QTest::addColumn<QStringList>("buffer");
    QTest::addColumn<QStringList>("rows");

    QTest::newRow("entries wait for the end of the reply")
        << QByteArrayList{whoEntry("#Help", "Ace", "3"), whoEntry("*", "Zed", "9")}
        << QStringList{"Ace|#Help", "Zed| "} << QStringList{};
    QTest::newRow("end of reply fills the list")
        << QByteArrayList{whoEntry("#Help", "Ace", "3"), whoEntry("*", "Zed", "9"), endOfWho()}
        << QStringList{"Ace|#Help", "Zed| "} << QStringList{"Ace|0|#Help", "Zed|0| "};
    QTest::newRow("user in two channels: the later one counts")
        << QByteArrayList{whoEntry("#Help", "Ace", "3"), whoEntry("#Games", "Bob", "1"),
                          whoEntry("#Games", "Ace", "3"), endOfWho()}
        << QStringList{"Ace|#Help", "Bob|#Games", "Ace|#Games"} << QStringList{"Ace|0|#Games", "Bob|0|#Games"};
    QTest::newRow("end of reply with nothing collected")
        << QByteArrayList{endOfWho()} << QStringList{} << QStringList{};
    QTest::newRow("entry without a nick is skipped")
        << QByteArrayList{serverReply("352", "#Help ~Username players.fenmoor.test"), whoEntry("#Help", "Ace", "3"),
                          endOfWho()}
        << QStringList{"Ace|#Help"} << QStringList{"Ace|0|#Help"};
}

void TestDispatch::whoInLobby()
{
    QFETCH(QByteArrayList, lines);
    QFETCH(QStringList, buffer);
    QFETCH(QStringList, rows);

    TestSession session;
    QVERIFY(session.openLobby());
    session.quietTimers();
    SendRecorder sent(QStringLiteral("irc"));
    session.send(lines.join());
    QVERIFY(session.sync());

    QCOMPARE(whoBufferOf(lobby()), buffer);
    QCOMPARE(rowsOf(lobby().whoList, 1), rows);
    QCOMPARE(sent.sends, QList<QByteArray>());
    QVERIFY(!channel().isLoaded());
}

void TestDispatch::whoTimerStartsAFreshCollection()
{
    TestSession session;
    QVERIFY(session.openLobby());
    session.quietTimers();
    session.send(whoEntry("#Help", "Ace", "3") + endOfWho() + whoEntry("#Games", "Stale", "1"));
    QVERIFY(session.sync());
    QCOMPARE(rowsOf(lobby().whoList, 1), QStringList{"Ace|0|#Help"});
    QCOMPARE(lobby().whoBuffer.size(), 2);

    SendRecorder sent(QStringLiteral("irc"));
    lobby().whoTimerX_Timer();
    QVERIFY(lobby().whoBuffer.isEmpty());
    QCOMPARE(sent.sends, QList<QByteArray>{"who\r\n"});

    // Nobody is on-line any more: the list empties.
    session.send(endOfWho());
    QTRY_COMPARE(lobby().whoList->count(), 0);

    session.send(whoEntry("#Games", "Bob", "1") + endOfWho());
    QTRY_COMPARE(rowsOf(lobby().whoList, 1), QStringList{"Bob|0|#Games"});
    QTRY_COMPARE(session.wire(session.registrationEnd()), QByteArray("who\r\n"));
}

// ------------------------------------------------------- users in a channel

void TestDispatch::namesInChannel_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QStringList>("users");

    QTest::newRow("every member with the unknown flag")
        << namesOf("Pilot42 Ace Zed") << QStringList{"Pilot42|8", "Ace|52", "Zed|52"};
    QTest::newRow("special member renamed with the badge")
        << namesOf("Pilot42 " + gSpecialFrom.toUtf8() + " Ace")
        << QStringList{"Pilot42|8", gSpecialTo + "|53", "Ace|52"};
    QTest::newRow("blanks around the reply")
        << serverReply("353", "  = #Help :Ace Zed  ") << QStringList{"Ace|52", "Zed|52"};
    QTest::newRow("member named twice is listed once")
        << namesOf("Ace Zed Ace") << QStringList{"Ace|52", "Zed|52"};
    QTest::newRow("empty reply") << namesOf("") << QStringList{};
}

void TestDispatch::namesInChannel()
{
    QFETCH(QByteArray, line);
    QFETCH(QStringList, users);

    TestSession session;
    QVERIFY(session.openLobby());
    session.quietTimers();
    session.loadChannel(QStringLiteral("#Help"));
    SendRecorder sent(QStringLiteral("irc"));
    session.send(line);
    QVERIFY(session.sync());
    QCOMPARE(rowsOf(channel().users, 0), users);
    // One WHO of the channel's members for the whole reply, once it has ended.
    QCOMPARE(sent.sends, QList<QByteArray>{});
    session.send(endOfNames());
    QTRY_COMPARE(session.wire(session.registrationEnd()), QByteArray("WHO #Help\r\n"));
    QCOMPARE(sent.sends, QList<QByteArray>{"WHO #Help\r\n"});
}

// A channel of 2,000 members comes in many lines; the whole server's user
// list is asked for once.
void TestDispatch::longNamesReplyAsksOnce()
{
    TestSession session;
    QVERIFY(session.openLobby());
    session.quietTimers();
    session.loadChannel(QStringLiteral("#Help"));
    QByteArray reply;
    for (int line = 0; line < 28; ++line) {
        QByteArray nicks;
        for (int i = 0; i < 72 && line * 72 + i < 2000; ++i)
            nicks += (i ? " " : "") + QByteArray("m") + QByteArray::number(line * 72 + i);
        reply += namesOf(nicks);
    }
    session.send(reply + endOfNames());
    QTRY_COMPARE(session.wire(session.registrationEnd()), QByteArray("WHO #Help\r\n"));
    QVERIFY(session.sync());
    QCOMPARE(channel().users->count(), 2000);
    QCOMPARE(session.wire(session.registrationEnd()), QByteArray("WHO #Help\r\n"));
}

// A NAMES reply that arrives after the user has left the channel (or one the
// server sends for no reason) belongs to no open channel window.
void TestDispatch::namesAfterLeavingAreIgnored()
{
    TestSession session;
    QVERIFY(session.openLobby());
    session.quietTimers();
    SendRecorder sent(QStringLiteral("irc"));
    session.send(namesOf("Pilot42 Ace Zed"));
    QVERIFY(session.sync());

    QVERIFY(!channel().isLoaded());
    QCOMPARE(channel().users->count(), 0);
    QVERIFY(lobby().refreshChanButton->isEnabled());
    QCOMPARE(sent.sends, QList<QByteArray>());
}

void TestDispatch::whoInChannel_data()
{
    QTest::addColumn<QByteArray>("names");
    QTest::addColumn<QByteArrayList>("whoLines");
    QTest::addColumn<QStringList>("users");
    QTest::addColumn<QByteArray>("whois");

    QTest::newRow("flags become pictures; unknown ones are asked for in list order")
        << namesOf("Pilot42 Ace Zed Bob Kim")
        << QByteArrayList{whoEntry("#Help", "Ace", "0"), whoEntry("#Help", "Zed", "50"),
                          whoEntry("#Help", "Stranger", "3"), whoEntry("#Help", "Kim", "12")}
        << QStringList{"Pilot42|8", "Ace|1", "Zed|51", "Bob|52", "Kim|13"}
        << QByteArray("whois Bob\r\n");
    QTest::newRow("everyone known: nothing to ask")
        << namesOf("Ace Zed")
        << QByteArrayList{whoEntry("#Help", "Zed", "7"), whoEntry("#Help", "Ace", "49")}
        << QStringList{"Ace|50", "Zed|8"} << QByteArray();
    QTest::newRow("special member is not asked for")
        << namesOf(gSpecialFrom.toUtf8() + " Ace") << QByteArrayList{}
        << QStringList{gSpecialTo + "|53", "Ace|52"} << QByteArray("whois Ace\r\n");
    QTest::newRow("real name without a flag leaves it unknown")
        << namesOf("Ace Zed")
        << QByteArrayList{serverReply("352", "#Help ~Username players.fenmoor.test irc.fenmoor.test Ace H :0 Ace's PC"),
                          whoEntry("#Help", "Zed", "4")}
        << QStringList{"Ace|52", "Zed|5"} << QByteArray("whois Ace\r\n");
    QTest::newRow("flag without a picture leaves it unknown")
        << namesOf("Ace Zed") << QByteArrayList{whoEntry("#Help", "Ace", "52"), whoEntry("#Help", "Zed", "-1")}
        << QStringList{"Ace|52", "Zed|52"} << QByteArray("whois Ace\r\nwhois Zed\r\n");
}

void TestDispatch::whoInChannel()
{
    QFETCH(QByteArray, names);
    QFETCH(QByteArrayList, whoLines);
    QFETCH(QStringList, users);
    QFETCH(QByteArray, whois);

    TestSession session;
    QVERIFY(session.openLobby());
    session.quietTimers();
    session.loadChannel(QStringLiteral("#Help"));
    session.send(names + endOfNames());
    QTRY_COMPARE(session.wire(session.registrationEnd()), QByteArray("WHO #Help\r\n"));
    SendRecorder sent(QStringLiteral("irc"));
    session.send(whoLines.join());
    QVERIFY(session.sync());

    QCOMPARE(rowsOf(channel().users, 0), users);
    QCOMPARE(sent.sends, QList<QByteArray>());
    QVERIFY(lobby().whoBuffer.isEmpty());

    session.send(endOfWho());
    QVERIFY(session.sync());
    QCOMPARE(sent.joined(), whois);
    QCOMPARE(sent.sends.size(), whois.count("\r\n"));
    QTRY_COMPARE(session.wire(session.registrationEnd()), "WHO #Help\r\n" + whois);
}

// ------------------------------------------------------------------ leaving

void TestDispatch::leaving_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<bool>("ownLeave");

    QTest::newRow("own part") << fromPlayer("Pilot42", "PART #Help") << true;
    QTest::newRow("own quit") << fromPlayer("Pilot42", "QUIT :Client exited") << true;
    QTest::newRow("someone else's part") << fromPlayer("Ace", "PART #Help") << false;
    QTest::newRow("someone else's quit") << fromPlayer("Ace", "QUIT :Client exited") << false;
    QTest::newRow("part of a longer nick") << fromPlayer("Pilot421", "PART #Help") << false;
}

void TestDispatch::leaving()
{
    QFETCH(QByteArray, line);
    QFETCH(bool, ownLeave);

    TestSession session;
    QVERIFY(session.openLobby());
    session.quietTimers();
    // As in a channel, where the lobby's refreshes are off.
    lobby().refreshChanButton->setEnabled(false);
    session.send(whoEntry("#Help", "Ace", "3"));
    QVERIFY(session.sync());

    SendRecorder sent(QStringLiteral("irc"));
    session.send(line);
    QVERIFY(session.sync());

    QCOMPARE(lobby().listTimer->isActive(), ownLeave);
    QCOMPARE(lobby().whoTimerX->isActive(), ownLeave);
    QCOMPARE(lobby().refreshChanButton->isEnabled(), ownLeave);
    QList<QByteArray> expected;
    if (ownLeave)
        expected = {gListCommand, "who\r\n"};
    QCOMPARE(sent.sends, expected);
    QCOMPARE(lobby().whoBuffer.isEmpty(), ownLeave);
    const QByteArray expectedWire = expected.join();
    QTRY_COMPARE(session.wire(session.registrationEnd()), expectedWire);
}

// -------------------------------------------------------------- reassembly

void TestDispatch::reassembly_data()
{
    QTest::addColumn<QByteArrayList>("pieces");
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<QString>("info");

    const QByteArray help = listEntry("#Help", "12", "05 Help channel");
    const qsizetype nameMiddle = help.indexOf("#He") + 3;
    QTest::newRow("list entry split inside the channel name")
        << QByteArrayList{help.left(nameMiddle), help.mid(nameMiddle)} << QStringList{"#Help|6|12|Help channel"}
        << "";
    QTest::newRow("list entry split between CR and LF")
        << QByteArrayList{help.chopped(1), "\n"} << QStringList{"#Help|6|12|Help channel"} << "";
    QTest::newRow("list entry in three pieces")
        << QByteArrayList{help.left(5), help.mid(5, 30), help.mid(35)} << QStringList{"#Help|6|12|Help channel"}
        << "";
    const QByteArray motd = serverReply("372", ":- Welcome to Fenmoor");
    QTest::newRow("server text split: shown once")
        << QByteArrayList{motd.left(20), motd.mid(20)} << QStringList{} << "- Welcome to Fenmoor";

    const QByteArray cafe = listEntry("#Cafe", "2", "01 Caf\xc3\xa9 talk");
    const qsizetype secondByte = cafe.indexOf("\xa9");
    QTest::newRow("character split between reads")
        << QByteArrayList{cafe.left(secondByte), cafe.mid(secondByte)}
        << QStringList{QStringLiteral("#Cafe|2|2|Caf\u00e9 talk")} << "";

    QTest::newRow("several lines in one read, in order")
        << QByteArrayList{listEntry("#Old", "1", "00 gone") + serverReply("321", "Channel :Users Name") + help
                          + serverReply("375", ":first") + listEntry("#Games", "3", "00 Play here") + serverReply("376", ":second")}
        << QStringList{"#Help|6|12|Help channel", "#Games|1|3|Play here"} << "first\nsecond";
    const QByteArray second = serverReply("376", ":second");
    QTest::newRow("lines ending and starting inside one read")
        << QByteArrayList{serverReply("375", ":first") + help.left(10), help.mid(10) + second.chopped(5), second.right(5)}
        << QStringList{"#Help|6|12|Help channel"} << "first\nsecond";
}

void TestDispatch::reassembly()
{
    QFETCH(QByteArrayList, pieces);
    QFETCH(QStringList, rows);
    QFETCH(QString, info);

    TestSession session;
    QVERIFY(session.openLobby());
    session.quietTimers();
    QVERIFY(session.sendPieces(pieces));
    QVERIFY(session.sync());

    QCOMPARE(rowsOf(lobby().channels, 2), rows);
    QCOMPARE(lobby().ircInfo->toPlainText(), info);
}

// A message box runs a nested event loop. It opens once the lines before it
// are handled, and while it is open the lines that keep arriving are handled
// too, in order: the lists the kick asked for fill, and the server's
// keep-alive is answered.
void TestDispatch::linesAreHandledWhileABoxIsOpen()
{
    TestSession session;
    QVERIFY(session.openLobby());
    session.quietTimers();
    session.loadChannel(QStringLiteral("#Help"));
    SendRecorder sent(QStringLiteral("irc"));

    const QByteArray late = whoEntry("#Games", "Late1", "4") + whoEntry("*", "Late2", "5")
                          + listEntry("#Late", "4", "02 Arrived meanwhile") + serverReply("372", ":- late text")
                          + "PING :while-open\r\n";
    bool handledWhileShown = false;
    QString infoWhenShown;
    MessageBoxRecorder boxes;
    boxes.whileShown = [&](const MessageRecord&) {
        infoWhenShown = lobby().ircInfo->toPlainText();
        session.send(late);
        handledWhileShown = QTest::qWaitFor([&] {
            return lobby().ircInfo->toPlainText().endsWith(QLatin1String("- late text"))
                && session.wire().endsWith("PONG :while-open\r\n");
        });
    };
    session.send(fromChanServ("KICK #Help Pilot42 :flooding") + serverReply("372", ":- same block"));
    QTRY_COMPARE(boxes.boxes.size(), 1);
    // The box waited for the rest of the kick's block.
    QCOMPARE(infoWhenShown, QStringLiteral("- same block"));
    QVERIFY(handledWhileShown);
    QCOMPARE(lobby().ircInfo->toPlainText(), QStringLiteral("- same block\n- late text"));
    QCOMPARE(whoBufferOf(lobby()), (QStringList{"Late1|#Games", "Late2| "}));
    QCOMPARE(rowsOf(lobby().channels, 2), QStringList{"#Late|3|4|Arrived meanwhile"});
    QTRY_COMPARE(session.wire(session.registrationEnd()), sent.joined());
}

// ---------------------------------------------------------------- safety

void TestDispatch::serverTextNeverBreaksALine_data()
{
    QTest::addColumn<QByteArray>("bad");

    QTest::newRow("CR") << QByteArray("\r");
    QTest::newRow("LF") << QByteArray("\n");
    QTest::newRow("NUL") << QByteArray(1, '\0');
}

void TestDispatch::serverTextNeverBreaksALine()
{
    QFETCH(QByteArray, bad);

    TestSession session;
    QVERIFY(session.openLobby());
    session.quietTimers();
    SendRecorder sent(QStringLiteral("irc"));
    session.send(listEntry("#Bad" + bad + "QUIT", "3", "01 trap") + listEntry("#Good", "3", "01 fine"));
    QVERIFY(session.sync());
    QCOMPARE(rowsOf(lobby().channels, 2), QStringList{"#Good|2|3|fine"});

    session.loadChannel(QStringLiteral("#Help"));
    session.send(namesOf("Ace Bad" + bad + "QUIT Zed") + endOfNames());
    QTRY_COMPARE(session.wire(session.registrationEnd()), QByteArray("WHO #Help\r\n"));
    session.send(endOfWho());
    QVERIFY(session.sync());
    QTRY_COMPARE(session.wire(session.registrationEnd()), QByteArray("WHO #Help\r\nwhois Ace\r\nwhois Zed\r\n"));
    QVERIFY(wireIsClean(sent.joined()));
}

void TestDispatch::garbageIsSurvived_data()
{
    QTest::addColumn<QByteArray>("garbage");
    QTest::addColumn<bool>("inChannel");

    static const char nulBytes[] = "\0\0:irc\0.fenmoor.test 322\0\r\n";
    const QList<std::pair<const char*, QByteArray>> lines = {
        {"empty line", "\r\n"},
        {"colon", ":\r\n"},
        {"server name only", ":irc.fenmoor.test\r\n"},
        {"server name and blank", ":irc.fenmoor.test \r\n"},
        {"list entry without text", ":irc.fenmoor.test 322\r\n"},
        {"list entry with empty text", ":irc.fenmoor.test 322 Pilot42 \r\n"},
        {"list entry with only blanks", serverReply("322", "   ")},
        {"picture number out of range", listEntry("#Big", "1", "099999 x")},
        {"negative picture number", listEntry("#Neg", "1", "0-5 x")},
        {"list entry without prefix", "322 only\r\n"},
        {"names without text", ":irc.fenmoor.test 353\r\n"},
        {"names with only a colon", serverReply("353", ":")},
        {"who entry cut short", serverReply("352", "#Help")},
        {"who entry of blanks", serverReply("352", "          ")},
        {"end of who without text", ":irc.fenmoor.test 315\r\n"},
        {"player line without command", ":Pilot42!~Username@players.fenmoor.test\r\n"},
        {"player line without nick", ":!~Username@players.fenmoor.test PART\r\n"},
        {"lone CR", "\r\r\n"},
        {"lone LF", "\n\r\n"},
        {"CR inside", ":irc.fenmoor.test 372 Pilot42 :a\rb\r\n"},
        {"NUL bytes", QByteArray(nulBytes, sizeof nulBytes - 1)},
        {"invalid UTF-8", ":irc.fenmoor.test 322 Pilot42 #\xff\xfe\xc3 1 :0\xc3 x\r\n"},
        {"over-long line", QByteArray(100 * 1024, 'x') + "\r\n"},
        {"over-long list entry", listEntry("#" + QByteArray(70 * 1024, 'L'), "1", "01 x")},
        {"many empty fields", serverReply("352", QByteArray(5000, ' ') + "x")},
        {"many names", namesOf(QByteArray("N ").repeated(4000))},
    };
    for (const auto& [name, bytes] : lines) {
        QTest::addRow("%s, lobby", name) << bytes << false;
        QTest::addRow("%s, channel", name) << bytes << true;
    }
}

void TestDispatch::garbageIsSurvived()
{
    QFETCH(QByteArray, garbage);
    QFETCH(bool, inChannel);

    TestSession session;
    QVERIFY(session.openLobby());
    session.quietTimers();
    if (inChannel)
        session.loadChannel(QStringLiteral("#Help"));
    SendRecorder sent(QStringLiteral("irc"));
    session.send(garbage);
    QVERIFY(session.sync());

    session.send(listEntry("#After", "5", "01 Still working") + serverReply("372", ":- still reading"));
    QTRY_VERIFY(lobby().channels->contains(QStringLiteral("#After")));
    const int row = *lobby().channels->row(QStringLiteral("#After"));
    QCOMPARE(lobby().channels->iconAt(row), 2);
    QCOMPARE(lobby().channels->subItem(row, 1), QStringLiteral("5"));
    QCOMPARE(lobby().channels->subItem(row, 2), QStringLiteral("Still working"));
    QVERIFY(lobby().ircInfo->toPlainText().endsWith(QStringLiteral("- still reading")));
    QCOMPARE(lobby().isVisible(), !inChannel);
    QVERIFY(lobby().irc->state() == Socket::Connected);
    QVERIFY(wireIsClean(sent.joined()));
}

// A burst is handled a slice at a time, the next slice at the next pass of
// the event loop. However it is sliced, every line has the same effect in
// the same order, and a message box opens between slices, lines going on
// while it is open.
void TestDispatch::slicesKeepOrderAndEffects_data()
{
    QTest::addColumn<int>("sliceLines");
    QTest::newRow("as many as time allows") << 0;
    QTest::newRow("one line a slice") << 1;
    QTest::newRow("three lines a slice") << 3;
    QTest::newRow("seven lines a slice") << 7;
}

void TestDispatch::slicesKeepOrderAndEffects()
{
    QFETCH(int, sliceLines);
    TestSession session;
    QVERIFY(session.enterQuietChannel());
    lobby().setSliceLines(sliceLines);
    const qsizetype from = session.mark();
    QStringList shownWhenBoxOpened;
    bool handledWhileOpen = false;
    MessageBoxRecorder boxes;
    boxes.whileShown = [&](const MessageRecord&) {
        shownWhenBoxOpened = chatLines();
        // Lines keep being handled while the box is open.
        handledWhileOpen = QTest::qWaitFor(
            [] { return lobby().ircInfo->toPlainText().contains(QLatin1String("after the box")); });
    };
    session.send(serverReply("372", ":- first") + fromPlayer("Kite", "JOIN #Help") + fromPlayer("Kite", "PRIVMSG #Help :one")
                 + "PING :p1\r\n" + whoEntry("#Help", "Kite", "12") + fromPlayer("Zed", "JOIN #Help")
                 + fromPlayer("Kite", "PRIVMSG #Help :/me \\rtwo") + serverReply("433", "* Pilot42 :in use")
                 + fromPlayer("Zed", "PART #Help") + endOfWho() + fromPlayer("Ace", "PRIVMSG #Help :three")
                 + "PING :p2\r\n" + serverReply("372", ":- after the box"));
    QTRY_VERIFY(!lobby().isLoaded());
    QCOMPARE(boxes.boxes.size(), 1);
    QVERIFY(handledWhileOpen);
    const QString joined = QStringLiteral("{palered}** %1") + plainText(scrambled::kJoinNotice);
    const QStringList chat{joined.arg("Kite"), "{white}Kite> one", joined.arg("Zed"), "{cyan}Kite {red}two"};
    QCOMPARE(shownWhenBoxOpened.mid(0, 4), chat);
    const QString whois = unscrambled(scrambled::kJoinRequest);
    QTRY_COMPARE(session.wireLines(from), (QStringList{whois + "Kite", "PONG :p1", whois + "Zed", whois + "Ace",
                                                       "PONG :p2", unscrambled(scrambled::kFinalLine)}));
}

QTEST_MAIN(TestDispatch)
#include "test_dispatch.moc"
