#include "lobby/irc_lines.h"

#include <QList>
#include <QTest>
#include <QVariant>

namespace {

const QString kHost = QStringLiteral("irc.fenmoor.test");
const QString kMask = QStringLiteral("players.fenmoor.test");

// nullopt becomes an invalid QVariant, so a missing field and an empty one
// compare differently.
template <typename T>
QVariant toVariant(const std::optional<T>& value)
{
    return value ? QVariant::fromValue(*value) : QVariant();
}

QVariant none()
{
    return {};
}

QVariant some(const QString& text)
{
    return QVariant(text);
}

// Feeds the pieces as separate reads. With takeAfterEachRead the lines are
// collected after every read, as the socket handler does; otherwise only
// after the last one, so the buffer has to hold several reads at once.
QList<QByteArray> assemble(const QList<QByteArray>& pieces, qsizetype maxTail, bool takeAfterEachRead)
{
    LineAssembler assembler(maxTail);
    QList<QByteArray> lines;
    auto takeAll = [&] {
        while (assembler.hasLine()) {
            const auto line = assembler.takeLine();
            if (!line) {
                lines.append(QByteArrayLiteral("<hasLine was true but takeLine returned nothing>"));
                return;
            }
            lines.append(*line);
        }
    };
    for (const QByteArray& piece : pieces) {
        assembler.append(piece);
        if (takeAfterEachRead)
            takeAll();
    }
    takeAll();
    if (assembler.takeLine())
        lines.append(QByteArrayLiteral("<takeLine returned a line although hasLine was false>"));
    return lines;
}

} // namespace

char* toString(LineKind kind)
{
    switch (kind) {
    case LineKind::Server:
        return qstrdup("Server");
    case LineKind::User:
        return qstrdup("User");
    case LineKind::ChanServ:
        return qstrdup("ChanServ");
    case LineKind::Ignored:
        return qstrdup("Ignored");
    }
    return qstrdup("?");
}

class TestIrcLines : public QObject {
    Q_OBJECT

private slots:
    void classify_data();
    void classify();

    void assemble_data();
    void assemble();
    void linesAreBoundAt8KiB();
    void clearForgetsTail();
    void largeBurstArrivesWholeAndInOrder_data();
    void largeBurstArrivesWholeAndInOrder();

    void decode_data();
    void decode();
    void characterSplitAcrossReadsDecodesWhole();

    void listEntry_data();
    void listEntry();
    void names_data();
    void names();
    void whoEntry_data();
    void whoEntry();
    void whoisUser_data();
    void whoisUser();
    void safeForWire_data();
    void safeForWire();
};

void TestIrcLines::classify_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("ownNick");
    QTest::addColumn<LineKind>("kind");
    QTest::addColumn<QString>("numeric");
    QTest::addColumn<QVariant>("text");
    QTest::addColumn<QString>("nick");
    QTest::addColumn<QString>("command");
    QTest::addColumn<QVariant>("arguments");

    const QString pilot = QStringLiteral("Pilot");

    QTest::newRow("server reply with text")
        << ":irc.fenmoor.test 322 Pilot #lobby 5 :05 Friendly games" << pilot << LineKind::Server
        << "322" << some("#lobby 5 :05 Friendly games") << "" << "" << none();
    QTest::newRow("numeric without text")
        << ":irc.fenmoor.test 999" << pilot << LineKind::Server << "999" << none() << "" << "" << none();
    QTest::newRow("own nick as last word stays in the text")
        << ":irc.fenmoor.test 376 Pilot" << pilot << LineKind::Server << "376" << some("Pilot") << ""
        << "" << none();
    QTest::newRow("own nick named twice: only the first goes")
        << ":irc.fenmoor.test 311 Pilot Pilot Username players.fenmoor.test * :12" << pilot
        << LineKind::Server << "311" << some("Pilot Username players.fenmoor.test * :12") << "" << ""
        << none();
    QTest::newRow("own nick that starts another word is kept")
        << ":irc.fenmoor.test 401 Pilot42 Bob :No such nick" << pilot << LineKind::Server << "401"
        << some("Pilot42 Bob :No such nick") << "" << "" << none();
    QTest::newRow("own nick removed before a longer nick")
        << ":irc.fenmoor.test 353 Pilot = #lobby :Pilot42 Pilot" << pilot << LineKind::Server << "353"
        << some("= #lobby :Pilot42 Pilot") << "" << "" << none();
    QTest::newRow("empty own nick keeps every blank")
        << ":irc.fenmoor.test 001 * :Welcome" << QString() << LineKind::Server << "001"
        << some("* :Welcome") << "" << "" << none();
    QTest::newRow("text keeps double blanks")
        << ":irc.fenmoor.test 372 Pilot :-  Rules  apply" << pilot << LineKind::Server << "372"
        << some(":-  Rules  apply") << "" << "" << none();
    QTest::newRow("host alone")
        << ":irc.fenmoor.test" << pilot << LineKind::Server << ":irc.fenmoor.test" << none() << ""
        << "" << none();
    QTest::newRow("longer host keeps its prefix and the text its host name")
        << ":irc.fenmoor.testX 001 Pilot :irc.fenmoor.test says hi" << pilot << LineKind::Server
        << ":irc.fenmoor.testX" << some("001 :irc.fenmoor.test says hi") << "" << "" << none();
    QTest::newRow("wrong-case server host")
        << ":IRC.fenmoor.test 001 Pilot :hi" << pilot << LineKind::Ignored << "" << none() << "" << ""
        << none();

    QTest::newRow("user line with tilde, arguments keep inner spaces")
        << ":Bob!~Username@players.fenmoor.test PRIVMSG #lobby :hello  there you" << pilot
        << LineKind::User << "" << none() << "Bob" << "PRIVMSG" << some("#lobby :hello  there you");
    QTest::newRow("arguments keep leading and trailing blanks")
        << ":Bob!~Username@players.fenmoor.test PRIVMSG  #lobby :hi " << pilot << LineKind::User << ""
        << none() << "Bob" << "PRIVMSG" << some(" #lobby :hi ");
    QTest::newRow("user line without tilde")
        << ":Bob!Username@players.fenmoor.test JOIN #lobby" << pilot << LineKind::User << "" << none()
        << "Bob" << "JOIN" << some("#lobby");
    QTest::newRow("user line without arguments")
        << ":Bob!~Username@players.fenmoor.test QUIT" << pilot << LineKind::User << "" << none()
        << "Bob" << "QUIT" << none();
    QTest::newRow("user line with source only")
        << ":Bob!~Username@players.fenmoor.test" << pilot << LineKind::User << "" << none() << "Bob"
        << "" << none();
    QTest::newRow("two blanks after the source give an empty command")
        << ":Bob!~Username@players.fenmoor.test  PRIVMSG #lobby :x" << pilot << LineKind::User << ""
        << none() << "Bob" << "" << some("PRIVMSG #lobby :x");
    QTest::newRow("ordinary user's kick")
        << ":Bob!~Username@players.fenmoor.test KICK #lobby Pilot :bye" << pilot << LineKind::User
        << "" << none() << "Bob" << "KICK" << some("#lobby Pilot :bye");
    QTest::newRow("message quoting another player's mask stays whole")
        << ":Bob!Username@players.fenmoor.test PRIVMSG #lobby :ask Ann!~Username@players.fenmoor.test"
        << pilot << LineKind::User << "" << none() << "Bob" << "PRIVMSG"
        << some("#lobby :ask Ann!~Username@players.fenmoor.test");
    QTest::newRow("user line from a foreign host")
        << ":Bob!~Username@elsewhere.test PRIVMSG #lobby :hi" << pilot << LineKind::Ignored << ""
        << none() << "" << "" << none();
    QTest::newRow("foreign host quoting the masked host")
        << ":Eve!~eve@elsewhere.test PRIVMSG #lobby :I am Bob!~Username@players.fenmoor.test" << pilot
        << LineKind::Ignored << "" << none() << "" << "" << none();

    QTest::newRow("ChanServ kick")
        << ":ChanServ!~ChanServ@players.fenmoor.test KICK #lobby Pilot :Flooding" << pilot
        << LineKind::ChanServ << "" << none() << "ChanServ" << "KICK" << some("#lobby Pilot :Flooding");
    QTest::newRow("ChanServ without tilde")
        << ":ChanServ!ChanServ@players.fenmoor.test NOTICE Pilot :Access denied" << pilot
        << LineKind::ChanServ << "" << none() << "ChanServ" << "NOTICE" << some("Pilot :Access denied");
    QTest::newRow("ChanServ kick whose reason names the player mask")
        << ":ChanServ!~ChanServ@players.fenmoor.test KICK #lobby Pilot :Banned *!*Username@players.fenmoor.test"
        << pilot << LineKind::ChanServ << "" << none() << "ChanServ" << "KICK"
        << some("#lobby Pilot :Banned *!*Username@players.fenmoor.test");

    QTest::newRow("PING") << "PING :irc.fenmoor.test" << pilot << LineKind::Ignored << "" << none()
                          << "" << "" << none();
    QTest::newRow("empty line") << "" << pilot << LineKind::Ignored << "" << none() << "" << ""
                                << none();
    QTest::newRow("colon alone") << ":" << pilot << LineKind::Ignored << "" << none() << "" << ""
                                 << none();
}

void TestIrcLines::classify()
{
    QFETCH(QString, line);
    QFETCH(QString, ownNick);
    QFETCH(LineKind, kind);
    QFETCH(QString, numeric);
    QFETCH(QVariant, text);
    QFETCH(QString, nick);
    QFETCH(QString, command);
    QFETCH(QVariant, arguments);

    const IrcLine result = classifyLine(line, ownNick, kHost, kMask);
    QCOMPARE(result.kind, kind);
    QCOMPARE(result.numeric, numeric);
    QCOMPARE(toVariant(result.text), text);
    QCOMPARE(result.nick, nick);
    QCOMPARE(result.command, command);
    QCOMPARE(toVariant(result.arguments), arguments);
}

void TestIrcLines::assemble_data()
{
    QTest::addColumn<QList<QByteArray>>("pieces");
    QTest::addColumn<qsizetype>("maxTail");
    QTest::addColumn<QList<QByteArray>>("lines");

    using Bytes = QList<QByteArray>;
    const qsizetype big = 64 * 1024;

    QTest::newRow("several lines in one read")
        << Bytes{"PING :a\r\nNOTICE x\r\n:b 001 c\r\n"} << big << Bytes{"PING :a", "NOTICE x", ":b 001 c"};
    QTest::newRow("line split across two reads")
        << Bytes{"PRIVMSG #lo", "bby :hi\r\n"} << big << Bytes{"PRIVMSG #lobby :hi"};
    QTest::newRow("line split across three reads")
        << Bytes{"PRIV", "MSG #lobby", " :hi\r\nNEXT\r\n"} << big << Bytes{"PRIVMSG #lobby :hi", "NEXT"};
    QTest::newRow("CR ends one read, LF starts the next")
        << Bytes{"FIRST\r", "\nSECOND\r\n"} << big << Bytes{"FIRST", "SECOND"};
    QTest::newRow("LF of the last read completes the line")
        << Bytes{"FIRST\r", "\n"} << big << Bytes{"FIRST"};
    QTest::newRow("CR and LF in reads of their own")
        << Bytes{"FIRST", "\r", "\n", "SECOND\r\n"} << big << Bytes{"FIRST", "SECOND"};
    QTest::newRow("lone LF is part of the line") << Bytes{"A\nB\r\n"} << big << Bytes{"A\nB"};
    QTest::newRow("CR without LF is part of the line")
        << Bytes{"A\r", "B\r\r\n"} << big << Bytes{"A\rB\r"};
    QTest::newRow("empty lines are handed out")
        << Bytes{"\r\n\r\nA\r\n"} << big << Bytes{"", "", "A"};
    QTest::newRow("empty read after final CR LF yields nothing")
        << Bytes{"A\r\n", ""} << big << Bytes{"A"};
    QTest::newRow("incomplete tail is held back") << Bytes{"A\r\nB"} << big << Bytes{"A"};
    QTest::newRow("tail exactly at the bound is kept")
        << Bytes{"1234", "\r\n"} << qsizetype(4) << Bytes{"1234"};
    QTest::newRow("overlong tail dropped with the rest of its line")
        << Bytes{"A\r\n123456789", "more\r\nB\r\n"} << qsizetype(8) << Bytes{"A", "B"};
    QTest::newRow("overlong line over many reads")
        << Bytes{"12345", "6789", "abc", "def", "ghi\r\nB\r\n"} << qsizetype(8) << Bytes{"B"};
    QTest::newRow("overlong line ended by CR and LF in separate reads")
        << Bytes{"123456\r", "\nB\r\n"} << qsizetype(4) << Bytes{"B"};
    QTest::newRow("overlong line with a lone CR inside its remainder")
        << Bytes{"123456\r", "X\r\n", "B\r\n"} << qsizetype(4) << Bytes{"B"};
    QTest::newRow("line after the dropped one arrives in pieces")
        << Bytes{"123456", "7\r\nB", "C\r\n"} << qsizetype(4) << Bytes{"BC"};
    // Whatever the reads: a whole line in one read is bound as much as one
    // that comes in pieces.
    QTest::newRow("overlong line in one read") << Bytes{"A\r\n123456789\r\nB\r\n"} << qsizetype(8)
                                               << Bytes{"A", "B"};
    QTest::newRow("line at the bound in one read") << Bytes{"12345678\r\n"} << qsizetype(8) << Bytes{"12345678"};
    QTest::newRow("only overlong lines in one read") << Bytes{"123456789\r\nabcdefghi\r\n"} << qsizetype(8)
                                                     << Bytes{};
    QTest::newRow("second overlong line dropped too")
        << Bytes{"123456", "\r\nA\r\n", "abcdefg", "h\r\nB\r\n"} << qsizetype(4) << Bytes{"A", "B"};
}

void TestIrcLines::assemble()
{
    QFETCH(QList<QByteArray>, pieces);
    QFETCH(qsizetype, maxTail);
    QFETCH(QList<QByteArray>, lines);

    QCOMPARE(::assemble(pieces, maxTail, true), lines);
    QCOMPARE(::assemble(pieces, maxTail, false), lines);
}

void TestIrcLines::linesAreBoundAt8KiB()
{
    LineAssembler assembler;
    assembler.append(QByteArray(8192, 'a') + "\r\n" + QByteArray(8193, 'b') + "\r\nC\r\n");
    QCOMPARE(assembler.takeLine(), QByteArray(8192, 'a'));
    QCOMPARE(assembler.takeLine(), QByteArray("C"));
}

void TestIrcLines::clearForgetsTail()
{
    LineAssembler assembler(4);
    assembler.append("A\r\nPARTIAL");
    assembler.clear();
    QVERIFY(!assembler.hasLine());
    QVERIFY(!assembler.takeLine());

    assembler.append("X\r\n");
    auto line = assembler.takeLine();
    QVERIFY(line);
    QCOMPARE(*line, QByteArray("X"));

    // A line being dropped for its length is forgotten too: the first line of
    // the new connection arrives.
    assembler.append("123456");
    assembler.clear();
    assembler.append("Y\r\n");
    line = assembler.takeLine();
    QVERIFY(line);
    QCOMPARE(*line, QByteArray("Y"));
    QVERIFY(!assembler.hasLine());
}

void TestIrcLines::largeBurstArrivesWholeAndInOrder_data()
{
    QTest::addColumn<int>("readSize");
    QTest::newRow("one read") << 0;
    QTest::newRow("segment-sized reads") << 1460;
    QTest::newRow("odd-sized reads") << 997;
}

void TestIrcLines::largeBurstArrivesWholeAndInOrder()
{
    QFETCH(int, readSize);

    const int count = 20000;
    QByteArray burst;
    for (int i = 0; i < count; ++i)
        burst += ":Bob!~Username@players.fenmoor.test PRIVMSG #lobby :" + QByteArray::number(i) + "\r\n";

    LineAssembler assembler;
    QList<QByteArray> lines;
    const qsizetype step = readSize > 0 ? readSize : burst.size();
    for (qsizetype at = 0; at < burst.size(); at += step) {
        assembler.append(burst.mid(at, step));
        while (const auto line = assembler.takeLine())
            lines.append(*line);
    }

    QCOMPARE(lines.size(), count);
    for (int i = 0; i < count; ++i) {
        const QByteArray expected =
            ":Bob!~Username@players.fenmoor.test PRIVMSG #lobby :" + QByteArray::number(i);
        QCOMPARE(lines.at(i), expected);
    }
    QVERIFY(!assembler.hasLine());
}

void TestIrcLines::decode_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");

    QTest::newRow("ASCII") << QByteArray("PRIVMSG #lobby :hi") << QStringLiteral("PRIVMSG #lobby :hi");
    QTest::newRow("UTF-8") << QByteArray("caf\xC3\xA9 \xE2\x82\xAC") << QStringLiteral(u"café €");
    QTest::newRow("UTF-8 outside the BMP")
        << QByteArray("\xF0\x9F\x8E\xB2") << QString::fromUcs4(U"\U0001F3B2");
    QTest::newRow("lone 0xE9 is Windows-1252") << QByteArray("caf\xE9") << QStringLiteral(u"café");
    QTest::newRow("0x80 is the euro sign") << QByteArray("\x80 5") << QStringLiteral(u"€ 5");
    QTest::newRow("one invalid byte makes the whole line Windows-1252")
        << QByteArray("\xC3\xA9 \xE9") << QStringLiteral(u"Ã© é");
    QTest::newRow("truncated UTF-8 sequence")
        << QByteArray("abc\xC3") << QStringLiteral(u"abcÃ");
    QTest::newRow("overlong UTF-8 encoding") << QByteArray("\xC0\xAF") << QStringLiteral(u"À¯");
    QTest::newRow("empty") << QByteArray() << QString();
}

void TestIrcLines::decode()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QCOMPARE(decodeLine(bytes), text);
}

void TestIrcLines::characterSplitAcrossReadsDecodesWhole()
{
    LineAssembler assembler;
    assembler.append("PRIVMSG #lobby :caf\xC3");
    QVERIFY(!assembler.hasLine());
    assembler.append("\xA9 \xE2\x82");
    assembler.append("\xAC\r\n");
    const auto line = assembler.takeLine();
    QVERIFY(line);
    QCOMPARE(decodeLine(*line), QStringLiteral(u"PRIVMSG #lobby :café €"));
}

void TestIrcLines::listEntry_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("channel");
    QTest::addColumn<QVariant>("count");
    QTest::addColumn<QVariant>("icon");
    QTest::addColumn<QVariant>("description");

    QTest::newRow("full entry") << "#lobby 12 :05 Friendly games" << "#lobby" << some("12")
                                << QVariant(6) << some("Friendly games");
    QTest::newRow("icon :00") << "#a 1 :00 x" << "#a" << some("1") << QVariant(1) << some("x");
    QTest::newRow("icon :06") << "#a 1 :06 x" << "#a" << some("1") << QVariant(7) << some("x");
    QTest::newRow("icon :12 has no :0") << "#a 1 :12 x" << "#a" << some("1") << none() << some("x");
    QTest::newRow("icon :0x") << "#a 1 :0x x" << "#a" << some("1") << none() << some("x");
    QTest::newRow("icon :051") << "#a 1 :051 x" << "#a" << some("1") << QVariant(52) << some("x");
    QTest::newRow("icon out of range") << "#a 1 :032768 x" << "#a" << some("1") << none() << some("x");
    QTest::newRow("one-word topic") << "#a 3 :05" << "#a" << some("3") << QVariant(6) << none();
    QTest::newRow("description keeps inner spaces")
        << "#a 3 :05 Ranked  only, be nice " << "#a" << some("3") << QVariant(6)
        << some("Ranked  only, be nice ");
    QTest::newRow("no topic") << "#a 3" << "#a" << some("3") << none() << none();
    QTest::newRow("channel only") << "#a" << "#a" << none() << none() << none();
    QTest::newRow("empty channel field") << " 3 :05 x" << "" << some("3") << QVariant(6) << some("x");
    QTest::newRow("empty text") << "" << "" << none() << none() << none();
    // InspIRCd puts the channel's modes before the topic.
    QTest::newRow("mode list before the topic")
        << "#Help 12 :[+Pnt] 05 Help and questions" << "#Help" << some("12") << QVariant(6)
        << some("Help and questions");
    QTest::newRow("mode list with parameters")
        << "#a 3 :[+klnt <key> 10] 02 Duels" << "#a" << some("3") << QVariant(3) << some("Duels");
    QTest::newRow("mode list and an empty topic") << "#a 3 :[+nt] " << "#a" << some("3") << none() << none();
    QTest::newRow("mode list alone") << "#a 3 :[+nt]" << "#a" << some("3") << none() << none();
    QTest::newRow("mode list before a one-word topic") << "#a 3 :[+nt] 05" << "#a" << some("3") << QVariant(6)
                                                        << none();
    QTest::newRow("only the first blank after the list goes")
        << "#a 3 :[+nt]  05 x" << "#a" << some("3") << none() << some("05 x");
    QTest::newRow("brackets later in the topic are the topic's")
        << "#a 3 :05 [+nt] x" << "#a" << some("3") << QVariant(6) << some("[+nt] x");
    QTest::newRow("no mode letters") << "#a 3 :[+] 05 x" << "#a" << some("3") << none() << some("05 x");
    QTest::newRow("no plus sign") << "#a 3 :[nt] 05 x" << "#a" << some("3") << none() << some("05 x");
    QTest::newRow("no blank after the list") << "#a 3 :[+nt]05 x" << "#a" << some("3") << none() << some("x");
    QTest::newRow("list never closed") << "#a 3 :[+l 10 05 x" << "#a" << some("3") << none()
                                       << some("10 05 x");
}

void TestIrcLines::listEntry()
{
    QFETCH(QString, text);
    QFETCH(QString, channel);
    QFETCH(QVariant, count);
    QFETCH(QVariant, icon);
    QFETCH(QVariant, description);

    const ListEntry entry = parseListEntry(text);
    QCOMPARE(entry.channel, channel);
    QCOMPARE(toVariant(entry.count), count);
    QCOMPARE(toVariant(entry.icon), icon);
    QCOMPARE(toVariant(entry.description), description);
}

void TestIrcLines::names_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("names");

    QTest::newRow("names") << "= #lobby :Pilot Bob Ann" << QStringList{"Pilot", "Bob", "Ann"};
    QTest::newRow("status prefixes kept") << "= #lobby :@Op +Voice Bob"
                                          << QStringList{"@Op", "+Voice", "Bob"};
    QTest::newRow("duplicate spaces") << "= #lobby :Pilot  Bob   Ann" << QStringList{"Pilot", "Bob", "Ann"};
    QTest::newRow("leading and trailing blanks") << "  = #lobby :Pilot Bob  " << QStringList{"Pilot", "Bob"};
    QTest::newRow("one name") << "@ #lobby :Pilot" << QStringList{"Pilot"};
    QTest::newRow("no names after the colon") << "= #lobby :" << QStringList{};
    QTest::newRow("no names field") << "= #lobby" << QStringList{};
    QTest::newRow("empty") << "" << QStringList{};
}

void TestIrcLines::names()
{
    QFETCH(QString, text);
    QFETCH(QStringList, names);
    QCOMPARE(parseNames(text), names);
}

void TestIrcLines::whoEntry_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("channel");
    QTest::addColumn<QString>("nick");
    QTest::addColumn<QVariant>("flag");

    QTest::newRow("entry with flag")
        << "#lobby Username players.fenmoor.test irc.fenmoor.test Pilot H :0 12" << true << "#lobby"
        << "Pilot" << QVariant::fromValue(qint16(12));
    QTest::newRow("star channel")
        << "* Username players.fenmoor.test irc.fenmoor.test Pilot H :0 3" << true << "*" << "Pilot"
        << QVariant::fromValue(qint16(3));
    QTest::newRow("flag followed by more of the real name")
        << "#lobby Username h s Pilot G :0 7 Real Name" << true << "#lobby" << "Pilot"
        << QVariant::fromValue(qint16(7));
    QTest::newRow("surrounding blanks")
        << "  #lobby Username h s Pilot H :0 0  " << true << "#lobby" << "Pilot"
        << QVariant::fromValue(qint16(0));
    QTest::newRow("no flag") << "#lobby Username h s Pilot H :0" << true << "#lobby" << "Pilot" << none();
    QTest::newRow("non-numeric flag")
        << "#lobby Username h s Pilot H :0 Kite" << true << "#lobby" << "Pilot" << none();
    QTest::newRow("flag out of range")
        << "#lobby Username h s Pilot H :0 40000" << true << "#lobby" << "Pilot" << none();
    QTest::newRow("flag with many digits")
        << "#lobby Username h s Pilot H :0 99999999999999999999" << true << "#lobby" << "Pilot" << none();
    QTest::newRow("flag with sign") << "#lobby Username h s Pilot H :0 +5" << true << "#lobby" << "Pilot"
                                    << QVariant::fromValue(qint16(5));
    QTest::newRow("lowest flag") << "#lobby Username h s Pilot H :0 -32768" << true << "#lobby" << "Pilot"
                                 << QVariant::fromValue(qint16(-32768));
    QTest::newRow("sign without digits") << "#lobby Username h s Pilot H :0 -" << true << "#lobby"
                                         << "Pilot" << none();
    QTest::newRow("hex flag") << "#lobby Username h s Pilot H :0 0x1F" << true << "#lobby" << "Pilot"
                              << none();
    QTest::newRow("no nick field") << "#lobby Username h s" << false << "" << "" << none();
    QTest::newRow("empty nick field") << "#lobby Username h s  H :0 1" << false << "" << "" << none();
    QTest::newRow("empty") << "" << false << "" << "" << none();
}

void TestIrcLines::whoEntry()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(QString, channel);
    QFETCH(QString, nick);
    QFETCH(QVariant, flag);

    const auto entry = parseWhoEntry(text);
    QCOMPARE(entry.has_value(), valid);
    if (!entry)
        return;
    QCOMPARE(entry->channel, channel);
    QCOMPARE(entry->nick, nick);
    QCOMPARE(toVariant(entry->flag), flag);
}

void TestIrcLines::whoisUser_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("ignoreMarker");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("nick");
    QTest::addColumn<int>("flag");

    const QString marker = QStringLiteral("#hidden#");
    QTest::newRow("flag 12") << "Pilot Username players.fenmoor.test * :12" << marker << true << "Pilot" << 12;
    QTest::newRow("flag 0") << "Pilot Username players.fenmoor.test * :0" << marker << true << "Pilot" << 0;
    QTest::newRow("negative flag") << "Pilot Username h * :-3" << marker << true << "Pilot" << -3;
    QTest::newRow("every colon removed") << "Pilot Username h * :1:2" << marker << true << "Pilot" << 12;
    QTest::newRow("surrounding blanks") << " Pilot Username h * :4 " << marker << true << "Pilot" << 4;
    QTest::newRow("ignore marker") << "Pilot Username h * :#hidden#" << marker << false << "" << 0;
    QTest::newRow("ignore marker inside the flag word")
        << "Pilot Username h * :5#hidden#" << marker << false << "" << 0;
    QTest::newRow("empty marker ignores nothing") << "Pilot Username h * :7" << QString() << true << "Pilot" << 7;
    QTest::newRow("non-numeric flag") << "Pilot Username h * :Kite" << marker << false << "" << 0;
    QTest::newRow("flag out of range") << "Pilot Username h * :32768" << marker << false << "" << 0;
    QTest::newRow("colon only") << "Pilot Username h * :" << marker << false << "" << 0;
    QTest::newRow("no flag field") << "Pilot Username h *" << marker << false << "" << 0;
    QTest::newRow("empty") << "" << marker << false << "" << 0;
}

void TestIrcLines::whoisUser()
{
    QFETCH(QString, text);
    QFETCH(QString, ignoreMarker);
    QFETCH(bool, valid);
    QFETCH(QString, nick);
    QFETCH(int, flag);

    const auto user = parseWhoisUser(text, ignoreMarker);
    QCOMPARE(user.has_value(), valid);
    if (!user)
        return;
    QCOMPARE(user->nick, nick);
    QCOMPARE(int(user->flag), flag);
}

void TestIrcLines::safeForWire_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<bool>("safe");

    QTest::newRow("nick") << "Pilot" << true;
    QTest::newRow("channel") << "#lobby" << true;
    QTest::newRow("blank inside") << "a b" << true;
    QTest::newRow("empty") << "" << true;
    QTest::newRow("non-ASCII") << QStringLiteral(u"Zoë") << true;
    QTest::newRow("CR") << "Pilot\rQUIT" << false;
    QTest::newRow("LF") << "Pilot\nQUIT" << false;
    QTest::newRow("CR LF at the end") << "Pilot\r\n" << false;
    QTest::newRow("NUL") << QString(QStringLiteral("Pi") + QChar(u'\0') + QStringLiteral("lot")) << false;
}

void TestIrcLines::safeForWire()
{
    QFETCH(QString, value);
    QFETCH(bool, safe);
    QCOMPARE(isSafeForWire(value), safe);
}

QTEST_GUILESS_MAIN(TestIrcLines)
#include "test_irc_lines.moc"
