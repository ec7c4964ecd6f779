// The entry line's history and name completion, without the window: keys
// in, what the box holds out.

#include "channel/entry_line.h"

#include <QTest>

namespace {

// "a|b": the text "ab" with the caret after "a".
Completed boxOf(const QString& marked)
{
    return {QString(marked).remove(u'|'), static_cast<int>(marked.indexOf(u'|'))};
}

QString marked(const Completed& box)
{
    return QString(box.text).insert(box.caret, u'|');
}

const QStringList kMembers = {QStringLiteral("Kite"), QStringLiteral("Kilo"), QStringLiteral("ace"),
                              QStringLiteral("Ace2"), QStringLiteral("Pilot42")};

} // namespace

class TestEntryLine : public QObject {
    Q_OBJECT

private slots:
    void history_data();
    void history();
    void historyKeepsTheNewestHundred();
    void completion_data();
    void completion();
    void completionStartsAgainAfterAnEdit();
};

// Each step: "send X" (Enter with X in the box), "type X" (the box now holds
// X), "up", "down", "close" (the window closed, the box emptied). The box is
// recorded after every up and down.
void TestEntryLine::history_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("shown");

    QTest::newRow("back and forth, newest first")
        << QStringList{"send a", "send b", "send c", "up", "up", "up", "up", "down", "down", "down", "down"}
        << QStringList{"c", "b", "a", "a", "b", "c", "", ""};
    QTest::newRow("the line being written comes back") << QStringList{"send a", "type dr", "up", "down", "down"}
                                                       << QStringList{"a", "dr", "dr"};
    QTest::newRow("an edited line keeps its edit, the history what was sent")
        << QStringList{"send a", "send b", "type half", "up", "type b2", "up", "down", "down", "up",
                       "send b2", "up", "up", "up", "up"}
        << QStringList{"b", "a", "b2", "half", "b2", "b2", "b", "a", "a"};
    QTest::newRow("empty, blank and repeated lines are not kept")
        << QStringList{"send ", "send   ", "send x", "send x", "up", "up"} << QStringList{"x", "x"};
    QTest::newRow("a closed window starts from the newest again")
        << QStringList{"send a", "send b", "up", "up", "close", "up"} << QStringList{"b", "a", "b"};
}

void TestEntryLine::history()
{
    QFETCH(QStringList, steps);
    QFETCH(QStringList, shown);
    EntryHistory history;
    QString box;
    QStringList seen;
    for (const QString& step : steps) {
        const QString word = step.section(u' ', 0, 0);
        const QString rest = step.section(u' ', 1);
        if (word == QLatin1String("send")) {
            history.add(rest);
            box.clear();
        } else if (word == QLatin1String("type")) {
            box = rest;
        } else if (word == QLatin1String("close")) {
            history.endWalk();
            box.clear();
        } else {
            const std::optional<QString> line = word == QLatin1String("up") ? history.older(box) : history.newer(box);
            if (line)
                box = *line;
            seen.append(box);
        }
    }
    QCOMPARE(seen, shown);
}

void TestEntryLine::historyKeepsTheNewestHundred()
{
    EntryHistory history;
    for (int i = 0; i < 150; ++i)
        history.add(QStringLiteral("line %1").arg(i));
    QCOMPARE(history.size(), EntryHistory::kMostLines);
    QString box;
    QStringList seen;
    while (const std::optional<QString> line = history.older(box)) {
        box = *line;
        seen.append(box);
    }
    QCOMPARE(seen.size(), 100);
    QCOMPARE(seen.first(), QStringLiteral("line 149"));
    QCOMPARE(seen.last(), QStringLiteral("line 50"));
}

// The box before Tab (the caret at "|"), how many Tabs, and the box after
// them ("none": nothing to complete, the Tab moves the focus).
void TestEntryLine::completion_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<int>("tabs");
    QTest::addColumn<QString>("after");

    QTest::newRow("start of the line") << "ki|" << 1 << "Kite: |";
    QTest::newRow("again: the next match") << "ki|" << 2 << "Kilo: |";
    QTest::newRow("past the last match: the first") << "ki|" << 3 << "Kite: |";
    QTest::newRow("any case, in the line") << "hello AC|" << 1 << "hello ace |";
    QTest::newRow("in the line, cycling") << "hello AC|" << 2 << "hello Ace2 |";
    QTest::newRow("after the break the last Enter left") << "\nki|" << 1 << "\nKite: |";
    QTest::newRow("the whole name typed") << "pilot42|" << 1 << "Pilot42: |";
    QTest::newRow("text after the caret") << "hi ki| there" << 2 << "hi Kilo| there";
    QTest::newRow("text after the caret, at the start") << "ki| there" << 1 << "Kite:| there";
    QTest::newRow("no name starts so") << "hi zed|" << 1 << "none";
    QTest::newRow("nothing before the caret") << "hi |" << 1 << "none";
    QTest::newRow("empty box") << "|" << 1 << "none";
    QTest::newRow("blanks before the word") << "  ki|" << 1 << "  Kite |";
}

void TestEntryLine::completion()
{
    QFETCH(QString, before);
    QFETCH(int, tabs);
    QFETCH(QString, after);
    NameCompletion completion;
    Completed box = boxOf(before);
    for (int tab = 0; tab < tabs; ++tab) {
        const std::optional<Completed> done = completion.complete(box.text, box.caret, kMembers);
        if (!done) {
            QCOMPARE(QStringLiteral("none"), after);
            return;
        }
        box = *done;
    }
    QCOMPARE(marked(box), after);
}

void TestEntryLine::completionStartsAgainAfterAnEdit()
{
    NameCompletion completion;
    std::optional<Completed> done = completion.complete(QStringLiteral("ki"), 2, kMembers);
    QVERIFY(done);
    QCOMPARE(marked(*done), QStringLiteral("Kite: |"));
    // The user types on: the next Tab completes the new word.
    done = completion.complete(done->text + u'a', done->caret + 1, kMembers);
    QVERIFY(done);
    QCOMPARE(marked(*done), QStringLiteral("Kite: ace |"));
}

QTEST_APPLESS_MAIN(TestEntryLine)
#include "test_entry_line.moc"
