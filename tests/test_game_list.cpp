#include "lobby/game_list.h"

#include <QStringList>
#include <QTest>

namespace {

const QString kHeaders = QStringLiteral("HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n");
const QString kNoGames = QStringLiteral("No games open.");

// "name|host|open" or "name|host|locked" per row, so a table row can spell
// out the whole expected list.
QStringList describe(const QVector<GameRow>& rows)
{
    QStringList out;
    for (const GameRow& row : rows)
        out.append(row.name + u'|' + row.host + u'|' + (row.locked ? QStringLiteral("locked") : QStringLiteral("open")));
    return out;
}

} // namespace

class TestGameList : public QObject {
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
    void largePage_data();
    void largePage();
};

void TestGameList::parse_data()
{
    QTest::addColumn<QString>("response");
    QTest::addColumn<bool>("isList");
    QTest::addColumn<QStringList>("rows");

    QTest::newRow("two games")
        << kHeaders + "<GAMELISTSTART>\nx Pro_Duel Kite x x x 0 x<BR>\nx Clan_War Ash x x x 1 x<BR>\n<GAMELISTEND>\n"
        << true << QStringList{"Pro_Duel|Kite|open", "Clan_War|Ash|locked"};
    QTest::newRow("no start marker") << kHeaders + "<html>Service unavailable</html>" << false
                                     << QStringList{};
    QTest::newRow("empty response") << QString() << false << QStringList{};
    QTest::newRow("empty-list text")
        << kHeaders + "<GAMELISTSTART>\n" + kNoGames + "\n" << true << QStringList{};
    QTest::newRow("empty-list text with an extra character is a short record")
        << kHeaders + "<GAMELISTSTART>\n" + kNoGames + "!\n" << true << QStringList{};
    QTest::newRow("empty-list text without its LF is a short record")
        << kHeaders + "<GAMELISTSTART>\n" + kNoGames << true << QStringList{};
    QTest::newRow("start marker not followed by LF")
        << kHeaders + "<GAMELISTSTART>x Pro_Duel Kite x x x 0 x<BR>\n<GAMELISTEND>\n" << true
        << QStringList{};
    QTest::newRow("start marker at the very end") << kHeaders + "<GAMELISTSTART>" << true
                                                  << QStringList{};
    QTest::newRow("only the first start marker counts")
        << kHeaders + "<GAMELISTSTART>\nx A h x x x 0 x<BR>\n<GAMELISTSTART>\n<BR>\nx B k x x x 1 x<BR>\n<GAMELISTEND>\n"
        << true << QStringList{"A|h|open", "B|k|locked"};
    QTest::newRow("text after the end marker stays on the last record")
        << kHeaders + "<GAMELISTSTART>\nx A h x x x 0 x<BR>\nx B k x x x 0<BR>\n<GAMELISTEND>\n<!-- 3 -->"
        << true << QStringList{"A|h|open", "B|k|locked"};
    QTest::newRow("end marker without the BR before it")
        << kHeaders + "<GAMELISTSTART>\nx A h x x x 0 x<BR>\nx B k x x x 0 x\n<GAMELISTEND>\n" << true
        << QStringList{"A|h|open", "B|k|open"};
    QTest::newRow("end marker without its LF is a short record")
        << kHeaders + "<GAMELISTSTART>\nx A h x x x 0 x<BR>\n<GAMELISTEND>" << true
        << QStringList{"A|h|open"};
    QTest::newRow("records without any end marker")
        << kHeaders + "<GAMELISTSTART>\nx A h x x x 0 x<BR>\nx B k x x x 1 x<BR>\n" << true
        << QStringList{"A|h|open", "B|k|locked"};
    QTest::newRow("record with fewer than seven fields skipped")
        << kHeaders + "<GAMELISTSTART>\nx A h x x x 0 x<BR>\nx Short h x x 0<BR>\nx C c x x x 0<BR>\n<GAMELISTEND>\n"
        << true << QStringList{"A|h|open", "C|c|open"};
    QTest::newRow("duplicates kept in order")
        << kHeaders + "<GAMELISTSTART>\nx B k x x x 0 x<BR>\nx A h x x x 0 x<BR>\nx B k x x x 0 x<BR>\n<GAMELISTEND>\n"
        << true << QStringList{"B|k|open", "A|h|open", "B|k|open"};
    QTest::newRow("locked unless field 6 is exactly 0")
        << kHeaders
               + "<GAMELISTSTART>\nx One h x x x 1 x<BR>\nx Zeros h x x x 00 x<BR>\nx Word h x x x no x<BR>\n"
                 "x Blank h x x x  x<BR>\nx Open h x x x 0 x<BR>\n<GAMELISTEND>\n"
        << true << QStringList{"One|h|locked", "Zeros|h|locked", "Word|h|locked", "Blank|h|locked", "Open|h|open"};
    QTest::newRow("double blank shifts the fields")
        << kHeaders + "<GAMELISTSTART>\nx  A h x x x 0 x<BR>\n<GAMELISTEND>\n" << true
        << QStringList{"|A|locked"};
    const QString longest(kMaxGameFieldLength, u'n');
    QTest::newRow("name and host at the field bound kept")
        << kHeaders + "<GAMELISTSTART>\nx " + longest + " " + longest + " x x x 0 x<BR>\n<GAMELISTEND>\n" << true
        << QStringList{longest + "|" + longest + "|open"};
    QTest::newRow("over-long name left out")
        << kHeaders + "<GAMELISTSTART>\nx A h x x x 0 x<BR>\nx " + longest + "n h x x x 0 x<BR>\nx C c x x x 1 x<BR>\n"
               "<GAMELISTEND>\n"
        << true << QStringList{"A|h|open", "C|c|locked"};
    QTest::newRow("over-long host left out")
        << kHeaders + "<GAMELISTSTART>\nx A h x x x 0 x<BR>\nx B " + longest + "h x x x 0 x<BR>\nx C c x x x 1 x<BR>\n"
               "<GAMELISTEND>\n"
        << true << QStringList{"A|h|open", "C|c|locked"};
    QTest::newRow("over-long unread field does not matter")
        << kHeaders + "<GAMELISTSTART>\nx A h " + longest + "x x x 0 " + longest + "x<BR>\n<GAMELISTEND>\n" << true
        << QStringList{"A|h|open"};
}

void TestGameList::parse()
{
    QFETCH(QString, response);
    QFETCH(bool, isList);
    QFETCH(QStringList, rows);

    const auto list = parseGameList(response, kNoGames);
    QCOMPARE(list.has_value(), isList);
    if (list)
        QCOMPARE(describe(*list), rows);
}

void TestGameList::largePage_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("kept");

    QTest::newRow("at the row bound") << int(kMaxGameRows) << int(kMaxGameRows);
    QTest::newRow("past the row bound") << int(3 * kMaxGameRows + 1) << int(kMaxGameRows);
}

void TestGameList::largePage()
{
    QFETCH(int, count);
    QFETCH(int, kept);

    QString page = kHeaders + QStringLiteral("<GAMELISTSTART>\n");
    for (int i = 0; i < count; ++i)
        page += QStringLiteral("x Game_%1 Host%1 x x x %2 some more words<BR>\n").arg(i).arg(i % 2);
    page += QStringLiteral("<GAMELISTEND>\n");

    const auto list = parseGameList(page, kNoGames);
    QVERIFY(list);
    QCOMPARE(list->size(), kept);
    for (int i = 0; i < kept; ++i) {
        QCOMPARE(list->at(i).name, QStringLiteral("Game_%1").arg(i));
        QCOMPARE(list->at(i).host, QStringLiteral("Host%1").arg(i));
        QCOMPARE(list->at(i).locked, i % 2 == 1);
    }
}

QTEST_GUILESS_MAIN(TestGameList)
#include "test_game_list.moc"
