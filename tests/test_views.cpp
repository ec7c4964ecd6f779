// The platform's views on their own: the lists, the chat view, the
// server-data view and the entry line, without a session.

#include "platform/controls.h"
#include "platform/listview.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QPixmap>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

namespace {

QString keyOf(int i)
{
    return QStringLiteral("k%1").arg(i);
}

// A list of `size` items k0, k1, ... each with its text, sub-item and icon
// made from its number, so that any row can be checked against its key.
struct FilledList {
    explicit FilledList(int size)
    {
        for (int i = 0; i < 3; ++i) {
            QPixmap picture(16, 16);
            picture.fill(QColor::fromHsv(i * 100, 255, 255));
            images.add(picture);
        }
        list.setColumns({QStringLiteral("Nick"), QStringLiteral("Channel")});
        list.setImageList(&images);
        for (int i = 0; i < size; ++i)
            addItem(i);
    }
    void addItem(int i)
    {
        list.add(keyOf(i), QStringLiteral("t%1").arg(i));
        list.setSubItem(keyOf(i), 1, QStringLiteral("s%1").arg(i));
        list.setIcon(keyOf(i), 1 + i % 3);
    }
    // Every item in place, as the list and as the screen's model see it.
    void check(const QList<int>& expected) const
    {
        QCOMPARE(list.count(), expected.size());
        QCOMPARE(list.model()->rowCount(), expected.size());
        for (int row = 0; row < expected.size(); ++row) {
            const int i = expected.at(row);
            QCOMPARE(list.row(keyOf(i)), std::optional<int>(row));
            QCOMPARE(list.key(row), keyOf(i));
            QCOMPARE(list.text(row), QStringLiteral("t%1").arg(i));
            QCOMPARE(list.subItem(row, 1), QStringLiteral("s%1").arg(i));
            QCOMPARE(list.iconAt(row), 1 + i % 3);
            QCOMPARE(list.icon(keyOf(i)), std::optional<int>(1 + i % 3));
            QCOMPARE(list.model()->index(row, 0).data().toString(), QStringLiteral("t%1").arg(i));
            QCOMPARE(list.model()->index(row, 1).data().toString(), QStringLiteral("s%1").arg(i));
        }
    }

    ImageList images;
    ListView list;
};

} // namespace

class TestViews : public QObject {
    Q_OBJECT

private slots:
    void listRemoval_data();
    void listRemoval();
    void listBatchIsOneInsertion();
    void listKeepsSelectionAndScrollAcrossRefill();
    void entryLineLimit_data();
    void entryLineLimit();
};

void TestViews::listRemoval_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<QList<int>>("removed");
    QTest::addColumn<bool>("batched");

    QList<int> everyOther;
    QList<int> allButOne;
    QList<int> backwards;
    for (int i = 0; i < 300; ++i) {
        if (i % 2)
            everyOther << i;
        if (i != 150)
            allButOne << i;
        backwards.prepend(i);
    }
    for (const bool batched : {false, true}) {
        const char* mode = batched ? ", in a batch" : "";
        QTest::addRow("first%s", mode) << 5 << QList<int>{0} << batched;
        QTest::addRow("last%s", mode) << 5 << QList<int>{4} << batched;
        QTest::addRow("middle%s", mode) << 5 << QList<int>{2} << batched;
        QTest::addRow("every other of 300%s", mode) << 300 << everyOther << batched;
        QTest::addRow("all but one of 300%s", mode) << 300 << allButOne << batched;
        QTest::addRow("all of 300, last first%s", mode) << 300 << backwards << batched;
    }
}

// Removing items leaves every other key's item where it belongs, and a
// removed key can come back (at the end).
void TestViews::listRemoval()
{
    QFETCH(int, size);
    QFETCH(QList<int>, removed);
    QFETCH(bool, batched);

    FilledList filled(size);
    ListView& list = filled.list;
    if (batched)
        list.beginBatch();
    for (const int i : removed)
        QVERIFY(list.remove(keyOf(i)));
    if (batched)
        list.endBatch();
    QList<int> expected;
    for (int i = 0; i < size; ++i) {
        if (!removed.contains(i))
            expected << i;
    }
    filled.check(expected);
    for (const int i : removed) {
        QVERIFY(!list.contains(keyOf(i)));
        QVERIFY(!list.remove(keyOf(i)));
        QVERIFY(!list.setIcon(keyOf(i), 1));
        QCOMPARE(list.row(keyOf(i)), std::nullopt);
    }
    filled.addItem(removed.first());
    filled.check(expected << removed.first());
}

// A burst reaches the screen as one insertion and one update, while the list
// answers for every item at once.
void TestViews::listBatchIsOneInsertion()
{
    FilledList filled(10);
    ListView& list = filled.list;
    QSignalSpy inserted(list.model(), &QAbstractItemModel::rowsInserted);
    QSignalSpy removed(list.model(), &QAbstractItemModel::rowsRemoved);
    QSignalSpy updated(list.model(), &QAbstractItemModel::dataChanged);
    list.beginBatch();
    list.beginBatch();
    for (int i = 10; i < 1000; ++i)
        filled.addItem(i);
    list.setIcon(keyOf(3), 3);
    list.setIcon(keyOf(7), 3);
    QVERIFY(list.remove(keyOf(5)));
    QCOMPARE(list.count(), 999);
    QCOMPARE(list.row(keyOf(999)), std::optional<int>(998));
    QCOMPARE(list.text(998), QStringLiteral("t999"));
    // The screen still shows the list as it was, the removed item too.
    QCOMPARE(list.model()->rowCount(), 10);
    QCOMPARE(list.model()->index(5, 0).data().toString(), QStringLiteral("t5"));
    list.endBatch();
    QCOMPARE(inserted.count() + removed.count() + updated.count(), 0);
    list.endBatch();
    QCOMPARE(inserted.count(), 1);
    QCOMPARE(removed.count(), 1);
    QCOMPARE(updated.count(), 1);
    QCOMPARE(list.model()->rowCount(), 999);
    // One update covers both changed rows; 7 moved up with 5 gone.
    const auto range = updated.first();
    QCOMPARE(range.at(0).toModelIndex().row(), 3);
    QCOMPARE(range.at(1).toModelIndex().row(), 6);
    QCOMPARE(list.model()->index(6, 0).data(Qt::DecorationRole).value<QIcon>().cacheKey(),
             filled.images.icon(3).cacheKey());
    for (const int i : {3, 7})
        list.setIcon(keyOf(i), 1 + i % 3);
    QList<int> expected;
    for (int i = 0; i < 1000; ++i) {
        if (i != 5)
            expected << i;
    }
    filled.check(expected);
}

// What a refresh needs: the selected key and the scroll position survive
// emptying the list and filling it again.
void TestViews::listKeepsSelectionAndScrollAcrossRefill()
{
    FilledList filled(500);
    ListView& list = filled.list;
    list.resize(300, 200);
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));
    list.verticalScrollBar()->setValue(200);
    QVERIFY(list.selectKey(keyOf(250)));
    QCOMPARE(list.verticalScrollBar()->value(), 200);
    QVERIFY(list.remove(keyOf(0)));
    QCOMPARE(list.selectedKey(), std::optional<QString>(keyOf(250)));
    QCOMPARE(list.selectedRow(), std::optional<int>(249));

    const std::optional<QString> selected = list.selectedKey();
    const QPoint position = list.scrollPosition();
    list.clear();
    QCOMPARE(list.selectedKey(), std::nullopt);
    list.beginBatch();
    for (int i = 0; i < 500; ++i)
        filled.addItem(i);
    list.endBatch();
    QVERIFY(list.selectKey(*selected));
    list.setScrollPosition(position);
    QCOMPARE(list.selectedKey(), selected);
    QCOMPARE(list.scrollPosition(), position);
    QVERIFY(!list.selectKey(QStringLiteral("gone")));
    QCOMPARE(list.selectedKey(), selected);

    // An item that leaves in a batch is no longer the selected one, though
    // the screen shows it until the batch ends.
    list.beginBatch();
    QVERIFY(list.remove(*selected));
    QCOMPARE(list.selectedRow(), std::nullopt);
    list.endBatch();
    QCOMPARE(list.selectedKey(), std::nullopt);
    QCOMPARE(list.model()->rowCount(), 499);
}

void TestViews::entryLineLimit_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<int>("selected");  // characters selected before the caret at the end
    QTest::addColumn<QString>("how");   // paste, key (one key event) or program (insertPlainText)
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("after");

    const QString emoji = QString::fromUcs4(U"\U0001F600");
    const auto a = [](int n) { return QString(n, u'a'); };
    QTest::newRow("64 KiB pasted") << "" << 0 << "paste" << a(64 * 1024) << a(253);
    QTest::newRow("1 MiB pasted") << "" << 0 << "paste" << a(1024 * 1024) << a(253);
    QTest::newRow("pasted onto a nearly full box") << a(250) << 0 << "paste" << "bcdef" << a(250) + "bcd";
    QTest::newRow("pasted onto a full box") << a(253) << 0 << "paste" << "b" << a(253);
    QTest::newRow("pasted over a selection") << a(253) << 10 << "paste" << QString(20, u'b') << a(243) + QString(10, u'b');
    QTest::newRow("CR LF pasted counts as one break") << a(250) << 0 << "paste" << "b\r\nc" << a(250) + "b\nc";
    QTest::newRow("emoji pasted into the last place") << a(252) << 0 << "paste" << emoji << a(252);
    QTest::newRow("emoji pasted into the last two places") << a(251) << 0 << "paste" << emoji << a(251) + emoji;
    QTest::newRow("emoji at the cut of a paste") << "" << 0 << "paste" << a(252) + emoji + "b" << a(252);
    QTest::newRow("emoji typed into the last place") << a(252) << 0 << "key" << emoji << a(252);
    QTest::newRow("emoji typed into the last two places") << a(251) << 0 << "key" << emoji << a(251) + emoji;
    QTest::newRow("key typed into a full box") << a(253) << 0 << "key" << "b" << a(253);
    QTest::newRow("emoji put in by the program at the end") << a(252) << 0 << "program" << emoji << a(252);
    QTest::newRow("program text cut without halving an emoji")
        << "" << 0 << "program" << a(251) + "b" + emoji << a(251) + "b";
}

// The entry line's limit cuts what comes in, never what is there, and never
// a character in half.
void TestViews::entryLineLimit()
{
    QFETCH(QString, before);
    QFETCH(int, selected);
    QFETCH(QString, how);
    QFETCH(QString, input);
    QFETCH(QString, after);

    EntryLine box(253);
    box.setPlainText(before);
    QTextCursor cursor = box.textCursor();
    cursor.movePosition(QTextCursor::End);
    cursor.movePosition(QTextCursor::Left, QTextCursor::KeepAnchor, selected);
    box.setTextCursor(cursor);
    if (how == QLatin1String("paste")) {
        QGuiApplication::clipboard()->setText(input);
        box.paste();
    } else if (how == QLatin1String("key")) {
        QTest::sendKeyEvent(QTest::Click, &box, Qt::Key_unknown, input, Qt::NoModifier);
    } else {
        box.insertPlainText(input);
    }
    QCOMPARE(box.toPlainText(), after);
}

QTEST_MAIN(TestViews)
#include "test_views.moc"
