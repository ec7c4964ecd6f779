#include "chattext/chat_text.h"
#include "chattext/links.h"
#include "encryption/scramble.h"
#include "encryption/texts.h"
#include "tests/support/filter_reference.h"

#include <QDirIterator>
#include <QFile>
#include <QStringList>
#include <QTest>

namespace {

QString colourName(const std::optional<QColor>& colour)
{
    return colour ? chatColourName(*colour) : QStringLiteral("-");
}

// "text|colour" per run, so a table row spells out the whole line.
QStringList describe(const QVector<ColourRun>& runs)
{
    QStringList out;
    for (const ColourRun& run : runs)
        out.append(run.text + u'|' + colourName(run.colour));
    return out;
}

// Word and replacement alternate, so a row can list its pairs inline.
QVector<FilterPair> pairsOf(const QStringList& flat)
{
    QVector<FilterPair> pairs;
    for (qsizetype i = 0; i + 1 < flat.size(); i += 2)
        pairs.append(FilterPair{flat.at(i), flat.at(i + 1)});
    return pairs;
}

// "kind[+cleared] [away text][target][text]", one comparable line per decision.
QString describe(const OutgoingDecision& d)
{
    static const char* const kinds[] = {"away", "action", "private", "no target", "nothing", "unknown", "channel"};
    return QString::fromLatin1(kinds[int(d.kind)]) + (d.awayCleared ? "+cleared" : "") + " [" + d.awayMessage
        + "][" + d.target + "][" + d.text + ']';
}

const QString kNul(QChar::Null);

// The matcher and the reference give the same text, and a text in which the
// matcher finds nothing is one the reference leaves alone.
void checkAgainstReference(const QString& text, const QVector<FilterPair>& pairs)
{
    const FilterMatcher matcher(pairs);
    const QString expected = pairByPair(text, pairs);
    QString filterTxt = text;
    QCOMPARE(profaneFilter(filterTxt, matcher), expected);
    QCOMPARE(filterTxt, expected);
    QVERIFY(matcher.occursIn(text) || expected == text);
}

} // namespace

class TestChatText : public QObject {
    Q_OBJECT

private slots:
    void actionLine_data();
    void actionLine();
    void filter_data();
    void filter();
    void matcherAgreesWithReplacement_data();
    void matcherAgreesWithReplacement();
    void matcherAgreesOnCorpus();
    void outgoing_data();
    void outgoing();
    void links_data();
    void links();
};

void TestChatText::actionLine_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("actionAfter");
    QTest::addColumn<QStringList>("runs");

    QTest::newRow("plain action") << "/me waves" << "waves" << QStringList{"waves|-", "\r\n|-"};
    QTest::newRow("red then white") << "/me is \\rvery\\w angry" << "is \\rvery\\w angry"
                                    << QStringList{"is |-", "very|red", " angry|white", "\r\n|-"};
    QTest::newRow("two backslashes then b") << "/me says a\\\\b" << "says a\\\\b"
                                            << QStringList{"says a|-", "\\|-", "|cyan", "\r\n|-"};
    QTest::newRow("unknown code printed literally") << "/me goes \\xhome" << "goes \\xhome"
                                                    << QStringList{"goes |-", "\\xhome|-", "\r\n|-"};
    QTest::newRow("codes are case-sensitive") << "/me \\Rhello" << "\\Rhello"
                                              << QStringList{"|-", "\\Rhello|-", "\r\n|-"};
    QTest::newRow("n is grey, not a line break") << "/me \\n grey" << "\\n grey"
                                                 << QStringList{"|-", " grey|grey", "\r\n|-"};
    QTest::newRow("every code") << "/me \\ry\\yy\\wy\\by\\By\\gy\\ny" << "\\ry\\yy\\wy\\by\\By\\gy\\ny"
                                << QStringList{"|-", "y|red", "y|yellow", "y|white", "y|cyan", "y|orange",
                                               "y|palered", "y|grey", "\r\n|-"};
    QTest::newRow("trailing backslash") << "/me ends\\" << "ends\\" << QStringList{"ends|-", "\\|-", "\r\n|-"};
    QTest::newRow("inner /me removed, inner blanks kept") << "hi /me there" << "hi  there"
                                                          << QStringList{"hi  there|-", "\r\n|-"};
    QTest::newRow("only the first /me removed") << "/me says /me" << "says /me"
                                                << QStringList{"says /me|-", "\r\n|-"};
    QTest::newRow("no /me") << "  jumps  " << "jumps" << QStringList{"jumps|-", "\r\n|-"};
    QTest::newRow("/ME is not /me") << "/ME x" << "/ME x" << QStringList{"/ME x|-", "\r\n|-"};
    QTest::newRow("only blanks trimmed") << "/me\twaves \t " << "\twaves \t" << QStringList{"\twaves \t|-", "\r\n|-"};
    QTest::newRow("empty") << "/me" << "" << QStringList{"|-", "\r\n|-"};
}

void TestChatText::actionLine()
{
    QFETCH(QString, action);
    QFETCH(QString, actionAfter);
    QFETCH(QStringList, runs);

    QCOMPARE(describe(actionRuns(action)), runs);
    QCOMPARE(action, actionAfter);
}

void TestChatText::filter_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("pairs");
    QTest::addColumn<QString>("filtered");

    const QStringList darn{"darn", "d**n"};
    QTest::newRow("lower case") << "oh darn it" << darn << "oh d**n it";
    QTest::newRow("capitals and mixed case") << "DARN, Darn, dArN" << darn << "d**n, d**n, d**n";
    QTest::newRow("inside a longer word") << "undarnable" << darn << "und**nable";
    QTest::newRow("non-ASCII case") << QString("Ärger, ärger") << QStringList{QString("äRGER"), "*****"}
                                    << "*****, *****";
    QTest::newRow("empty") << "" << darn << "";
    QTest::newRow("nothing listed") << "all fine here" << darn << "all fine here";
    QTest::newRow("occurrences matched left to right") << "aaa" << QStringList{"aa", "Aa"} << "Aaa";
    QTest::newRow("later pair sees earlier output") << "abc" << QStringList{"ab", "xy", "YC", "zz"} << "xzz";
    QTest::newRow("pairs that would change the length skipped")
        << "darn bad" << QStringList{"bad", "b*", "", "x", "darn", "d**n"} << "d**n bad";
}

void TestChatText::filter()
{
    QFETCH(QString, text);
    QFETCH(QStringList, pairs);
    QFETCH(QString, filtered);

    QString filterTxt = text;
    QCOMPARE(profaneFilter(filterTxt, pairsOf(pairs)), filtered);
    QCOMPARE(filterTxt, filtered);
    QCOMPARE(filterTxt.size(), text.size());
    filterTxt = text;
    QCOMPARE(profaneFilter(filterTxt, FilterMatcher(pairsOf(pairs))), filtered);
    QCOMPARE(filterTxt, filtered);
}

// Where case folding is not plain ASCII, the replacement's own idea of "the
// same letter" decides; the matcher must not miss one it would replace.
void TestChatText::matcherAgreesWithReplacement_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("pairs");  // empty: the program's own words

    const QString high(QChar(0xD801));
    const QString low(QChar(0xDC00));
    const QString deseretCapital = QString::fromUcs4(U"\U00010400");
    const QString deseretSmall = QString::fromUcs4(U"\U00010428");
    QTest::newRow("Kelvin sign folds to k") << QString("\u212Aite") << QStringList{"kite", "k**e"};
    QTest::newRow("long s folds to s") << QString("\u017Fea") << QStringList{"sea", "s*a"};
    QTest::newRow("final sigma") << QString("\u03C2\u03A3") << QStringList{QString("\u03C3"), "*"};
    QTest::newRow("sharp s is not ss") << QString("stra\u00DFe strasse") << QStringList{"ss", "**"};
    QTest::newRow("dotted capital I") << QString("\u0130i\u0131I") << QStringList{"i", "*"};
    QTest::newRow("surrogate pair folded whole") << deseretSmall + "X" << QStringList{deseretCapital + "x", "**x"};
    QTest::newRow("low surrogate after a high one is not alone")
        << high + low + "a" << QStringList{low + "a", "*a"};
    QTest::newRow("lone low surrogate") << "x" + low + "A" << QStringList{low + "a", "*a"};
    QTest::newRow("lone high surrogate before a word") << high + "Kite" << QStringList{"kite", "****"};
    QTest::newRow("word at the very end") << "a bad" << QStringList{"bad", "b*d"};
    QTest::newRow("word longer than the text") << "ba" << QStringList{"bad", "b*d"};
    QTest::newRow("overlapping occurrences") << "aaaaa" << QStringList{"aaa", "b*b"};
    QTest::newRow("replacement makes a later word") << "ab" << QStringList{"ab", "cd", "CD", "ok"};
    QTest::newRow("replacement the word itself, other case") << "BAD bad" << QStringList{"bad", "bad"};
    QTest::newRow("only skipped pairs") << "bad" << QStringList{"", "x", "bad", "b*"};
    QTest::newRow("empty text") << "" << QStringList{"bad", "b*d"};
    QTest::newRow("program words, none there") << "anyone up for a game on the new map? round 4" << QStringList{};
    QStringList words;
    for (const FilterPair& pair : programPairs())
        words << pair.word.toUpper() << pair.word.left(1) + pair.word.mid(1).toUpper() << u'x' + pair.word + u'x';
    QTest::newRow("program words, every one in changed case") << words.join(u' ') << QStringList{};
    QTest::newRow("program words, cut short") << programPairs().first().word.chopped(1) << QStringList{};
}

void TestChatText::matcherAgreesWithReplacement()
{
    QFETCH(QString, text);
    QFETCH(QStringList, pairs);
    checkAgainstReference(text, pairs.isEmpty() ? programPairs() : pairsOf(pairs));
}

// Every seed of the fuzz targets, read as the fuzz targets read it (UTF-8 and
// raw UTF-16), alone and with each of the program's words put in its middle.
void TestChatText::matcherAgreesOnCorpus()
{
    QDirIterator seeds(QStringLiteral(TAVIMERE_SOURCE_DIR "/fuzz/corpus"), QDir::Files, QDirIterator::Subdirectories);
    int files = 0;
    while (seeds.hasNext()) {
        QFile seed(seeds.next());
        QVERIFY(seed.open(QIODevice::ReadOnly));
        const QByteArray bytes = seed.readAll();
        ++files;
        const QString texts[] = {
            QString::fromUtf8(bytes),
            QString(reinterpret_cast<const QChar*>(bytes.constData()), bytes.size() / 2),
        };
        for (const QString& text : texts) {
            checkAgainstReference(text, programPairs());
            for (const FilterPair& pair : programPairs()) {
                QString withWord = text;
                withWord.insert(text.size() / 2, pair.word.toUpper());
                checkAgainstReference(withWord, programPairs());
            }
        }
    }
    QVERIFY(files > 10);
}

void TestChatText::outgoing_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("away");
    QTest::addColumn<QString>("decision");
    const auto row = [](const char* name, const QString& message, bool away, const char* decision) {
        QTest::newRow(name) << message << away << QString::fromUtf8(decision);
    };

    row("channel message", "hello all", false, "channel [][][hello all]");
    row("empty line", "", false, "channel [][][]");
    row("empty line while away", "", true, "channel+cleared [][][]");
    row("command not at the start", " /me x", false, "channel [][][ /me x]");
    row("private message", "/msg Kite see you", false, "private [][Kite][see you]");
    row("private message keeps blanks", "/msg Kite  see  you ", true, "private+cleared [][Kite][ see  you ]");
    row("private message without text", "/msg Kite", false, "private [][Kite][]");
    row("/msg alone while away", "/msg ", true, "nothing+cleared [][][]");
    row("/msg with an empty nick", "/msg  Kite x", false, "no target [][][]");
    row("/msg without blank", "/msg", false, "unknown [][][]");
    row("away", "/away lunch break", false, "away [lunch break][][]");
    row("second away while away", "/away back soon", true, "away [back soon][][]");
    row("away text keeps its leading blank", "/away  back soon", false, "away [ back soon][][]");
    row("away without blank", "/away", false, "away [][][]");
    row("/awayx", "/awayx gone", false, "away [gone][][]");
    row("action while away", "/me waves", true, "action+cleared [][][/me waves]");
    row("/mess", "/mess", false, "action [][][/mess]");
    row("unknown command while away", "/nick x", true, "unknown+cleared [][][]");
    row("/AWAY", "/AWAY x", false, "unknown [][][]");
    row("/Me", "/Me x", false, "unknown [][][]");
    row("CR LF NUL in a channel line", "hi\r\nthere" + kNul + "x", false, "channel [][][hi  there x]");
    row("line break splits nick from text", "/msg Ki\rte\nx", false, "private [][Ki][te x]");
    row("line break after /msg", "/msg\nKite hi", false, "private [][Kite][hi]");
    row("line break in away text", "/away\nout" + kNul, false, "away [out ][][]");
}

void TestChatText::outgoing()
{
    QFETCH(QString, message);
    QFETCH(bool, away);
    QFETCH(QString, decision);

    QCOMPARE(describe(decideOutgoing(message, away)), decision);
}

// The web addresses of a line, each as "start:text".
void TestChatText::links_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QStringList>("links");

    QTest::newRow("none") << "no address here, nor www.fenmoor.test" << QStringList{};
    QTest::newRow("whole line") << "https://fenmoor.test" << QStringList{"0:https://fenmoor.test"};
    QTest::newRow("in a sentence") << "see http://fenmoor.test/games?id=4&x=y#top, or not."
                                   << QStringList{"4:http://fenmoor.test/games?id=4&x=y#top"};
    QTest::newRow("two, any case") << "HTTP://a.test and Https://b.test/p"
                                   << QStringList{"0:HTTP://a.test", "18:Https://b.test/p"};
    QTest::newRow("sentence punctuation after it") << "go to http://a.test/x!?. now"
                                                   << QStringList{"6:http://a.test/x"};
    QTest::newRow("in brackets") << "(http://a.test/wiki/Foo_(bar)) [https://b.test]"
                                 << QStringList{"1:http://a.test/wiki/Foo_(bar)", "32:https://b.test"};
    QTest::newRow("quoted and angled") << "\"http://a.test\" <https://b.test/>"
                                       << QStringList{"1:http://a.test", "17:https://b.test/"};
    QTest::newRow("other letters around the text") << "Köln: https://de.test/wiki/Köln 東京 http://例え.test"
                                                  << QStringList{"6:https://de.test/wiki/Köln", "35:http://例え.test"};
    QTest::newRow("in the middle of a word") << "xhttp://a.test 1https://b.test" << QStringList{};
    QTest::newRow("no host") << "http:// https:///path http://:80 http://." << QStringList{};
    QTest::newRow("other schemes") << "ftp://a.test file:///etc/passwd javascript:alert(1) mailto:a@b.test"
                                   << QStringList{};
    QTest::newRow("another scheme after it") << "http://a.test/?next=javascript:alert(1)"
                                             << QStringList{"0:http://a.test/?next=javascript:alert(1)"};
    QTest::newRow("ends at a tab") << "http://a.test\tb" << QStringList{"0:http://a.test"};
}

void TestChatText::links()
{
    QFETCH(QString, line);
    QFETCH(QStringList, links);
    QStringList found;
    for (const TextLink& link : findLinks(line)) {
        found.append(QString::number(link.start) + u':' + line.mid(link.start, link.length));
        QVERIFY(isWebAddress(link.url));
        QCOMPARE(link.url, QUrl(line.mid(link.start, link.length)));
    }
    QCOMPARE(found, links);
    for (const char* other :
         {"ftp://a.test", "file:///etc/passwd", "javascript:alert(1)", "http:///x", "data:text/html,x"})
        QVERIFY(!isWebAddress(QUrl(QString::fromLatin1(other))));
}

QTEST_APPLESS_MAIN(TestChatText)
#include "test_chattext.moc"
