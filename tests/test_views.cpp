// The platform's views on their own: the lists, the chat view, the
// server-data view and the entry line, without a session.

#include "platform/controls.h"
#include "platform/listview.h"

#include <QAccessible>
#include <QClipboard>
#include <QGuiApplication>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QRandomGenerator>
#include <QScrollBar>
#include <QTextBlock>
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

// One append of a row: text, and the colour to set first (empty: none).
struct Append {
    QString text;
    QString colour;
};
using Appends = QList<Append>;

// The chat view's lines as "{colour}text" runs, the colour as #rrggbb or
// "-" for the view's own text colour.
QStringList shown(const RichTextView& view)
{
    QStringList lines;
    for (int i = 0; i < view.lineCount(); ++i) {
        QString line;
        for (const ChatRun& run : view.lineRuns(i)) {
            line += u'{' + (run.colour.isValid() ? run.colour.name() : QStringLiteral("-")) + u'}'
                + view.lineText(i).mid(run.start, run.length);
        }
        lines << line;
    }
    return lines;
}

void appendAll(RichTextView& view, const Appends& appends)
{
    for (const Append& append : appends)
        view.appendText(append.text, append.colour.isEmpty() ? std::nullopt : std::optional<QColor>(append.colour));
}

// The chat view as it was, a text edit written by the same append step: the
// reference for what screen readers are given.
void appendToTextEdit(QPlainTextEdit& edit, QColor& current, const Append& append)
{
    if (!append.colour.isEmpty())
        current = QColor(append.colour);
    QTextCursor cursor(edit.document());
    cursor.movePosition(QTextCursor::End);
    QTextCharFormat format;
    if (current.isValid())
        format.setForeground(current);
    QString plain = append.text;
    plain.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    cursor.insertText(plain, format);
}

QString numbered(int i)
{
    return QStringLiteral("line %1\r\n").arg(i);
}

} // namespace

Q_DECLARE_METATYPE(Appends)

class TestViews : public QObject {
    Q_OBJECT

private slots:
    void listRemoval_data();
    void listRemoval();
    void listBatchIsOneInsertion();
    void listKeysThroughChurn();
    void listKeepsSelectionAndScrollAcrossRefill();
    void entryLineLimit_data();
    void entryLineLimit();
    void chatViewKeepsNewestLines_data();
    void chatViewKeepsNewestLines();
    void chatViewScrollLock_data();
    void chatViewScrollLock();
    void chatViewReadsLikeTheTextEdit();
    void chatViewSelectsAndCopies();
    void infoViewKeepsNewestLines();
    void infoViewScrollLock();
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

// Thousands of keys coming and going, in and out of batches and across
// clears, leave every key finding its own item and no other: the key table
// grows, closes the gaps its removals leave, and is renumbered when the
// list drops its dead slots.
void TestViews::listKeysThroughChurn()
{
    FilledList filled(0);
    ListView& list = filled.list;
    QList<int> expected;
    QRandomGenerator random(19);
    for (int round = 0; round < 6; ++round) {
        const bool batched = round % 2;
        if (batched)
            list.beginBatch();
        for (int step = 0; step < 3000; ++step) {
            const int i = random.bounded(2000);
            if (expected.contains(i)) {
                QVERIFY(list.remove(keyOf(i)));
                expected.removeOne(i);
            } else {
                filled.addItem(i);
                expected << i;
            }
        }
        if (batched)
            list.endBatch();
        filled.check(expected);
        for (int i = 0; i < 2000; ++i)
            QCOMPARE(list.contains(keyOf(i)), expected.contains(i));
        if (round == 3) {
            list.clear();
            expected.clear();
            QVERIFY(!list.contains(keyOf(0)));
        }
    }
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
    QTest::newRow("pasted over a selection")
        << a(253) << 10 << "paste" << QString(20, u'b') << a(243) + QString(10, u'b');
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

void TestViews::chatViewKeepsNewestLines_data()
{
    QTest::addColumn<int>("maxLines");
    QTest::addColumn<int>("maxCharacters");
    QTest::addColumn<Appends>("appends");
    QTest::addColumn<QStringList>("lines");

    const QString red = QStringLiteral("#ff1010");
    const QString white = QStringLiteral("#ffffff");
    QTest::newRow("oldest lines go") << 3 << 1000
                                     << Appends{{"a\r\n", red}, {"b\r\n", ""}, {"c\r\nd\r\n", ""}, {"e\r\n", ""}}
                                     << QStringList{"{#ff1010}c", "{#ff1010}d", "{#ff1010}e"};
    QTest::newRow("a line still open is shown") << 2 << 1000 << Appends{{"a\r\nb\r\nc", white}}
                                                << QStringList{"{#ffffff}a", "{#ffffff}b", "{#ffffff}c"};
    QTest::newRow("characters: whole lines go") << 100 << 10 << Appends{{"12345\r\n", red}, {"abcde\r\n", white}}
                                                << QStringList{"{#ffffff}abcde"};
    QTest::newRow("characters: the newest line stays, however long")
        << 100 << 4 << Appends{{"ab\r\n", red}, {"123456789\r\n", ""}} << QStringList{"{#ff1010}123456789"};
    QTest::newRow("a kept line keeps the colour begun before it")
        << 1 << 1000 << Appends{{"x\r\ny", red}, {"z\r\n", white}} << QStringList{"{#ff1010}y{#ffffff}z"};
    QTest::newRow("no colour yet") << 10 << 1000 << Appends{{"plain ", ""}, {"red\r\n", red}}
                                   << QStringList{"{-}plain {#ff1010}red"};
    QTest::newRow("breaks other than CR LF are blanks")
        << 10 << 1000 << Appends{{QString("a\rb\nc\u2028d\u2029e\u0085f\vg\r\n"), white}}
        << QStringList{"{#ffffff}a b c d e f g"};
    // Enough text gone for the kept text to move to the front of its buffer
    // several times.
    Appends many;
    QStringList last;
    for (int i = 0; i < 30000; ++i) {
        many.append({QStringLiteral("line %1\r\n").arg(i), i % 2 ? red : white});
        if (i >= 29997)
            last << QStringLiteral("{%1}line %2").arg(i % 2 ? red : white).arg(i);
    }
    QTest::newRow("many lines gone") << 3 << 1000000 << many << last;
    QTest::newRow("CR and LF in two appends are two blanks") << 10 << 1000 << Appends{{"a\r", white}, {"\nb", ""}}
                                                            << QStringList{"{#ffffff}a  b"};
}

// The caps: the oldest lines go, the newest stay, a line is never cut.
void TestViews::chatViewKeepsNewestLines()
{
    QFETCH(int, maxLines);
    QFETCH(int, maxCharacters);
    QFETCH(Appends, appends);
    QFETCH(QStringList, lines);

    RichTextView view;
    view.setLimits(maxLines, maxCharacters);
    appendAll(view, appends);
    QCOMPARE(shown(view), lines);
    view.clear();
    QCOMPARE(view.lineCount(), 0);
    QCOMPARE(view.toPlainText(), QString());
}

void TestViews::chatViewScrollLock_data()
{
    QTest::addColumn<int>("maxLines");
    QTest::addColumn<int>("scrollTo");  // -1: left at the end
    QTest::addColumn<QString>("top");   // the line at the top afterwards; empty: the end is shown
    QTest::addColumn<bool>("follows");

    // 200 lines are in the view before, 100 come after.
    QTest::newRow("at the end, lines come") << 1000 << -1 << "" << true;
    QTest::newRow("scrolled up, lines come") << 1000 << 50 << "line 50" << false;
    QTest::newRow("scrolled up, old lines go") << 250 << 50 << "line 50" << false;
    QTest::newRow("scrolled up, the top line goes") << 120 << 10 << "line 180" << false;
}

// Scroll lock: away from the end the view stays on its line, at the end it
// follows new lines.
void TestViews::chatViewScrollLock()
{
    QFETCH(int, maxLines);
    QFETCH(int, scrollTo);
    QFETCH(QString, top);
    QFETCH(bool, follows);

    RichTextView view;
    view.setLimits(maxLines, RichTextView::kMaxCharacters);
    view.resize(300, 200);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    // One long line first: a wrapped line scrolls as one.
    view.appendText(QString(2000, u'w') + QStringLiteral("\r\n"));
    for (int i = 1; i < 200; ++i)
        view.appendText(numbered(i));
    QScrollBar* bar = view.verticalScrollBar();
    QTRY_VERIFY(bar->maximum() > 0);
    QCOMPARE(bar->value(), bar->maximum());
    if (scrollTo >= 0) {
        bar->setValue(0);
        bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        QCOMPARE(view.firstVisibleLine(), 1);
        bar->setValue(scrollTo - (200 - view.lineCount()));
    }
    view.beginAppends();
    for (int i = 200; i < 300; ++i)
        view.appendText(numbered(i));
    view.endAppends();
    QTRY_COMPARE(view.lineText(view.lineCount() - 1), QStringLiteral("line 299"));
    QCoreApplication::processEvents();
    QCOMPARE(view.followsEnd(), follows);
    if (follows)
        QCOMPARE(bar->value(), bar->maximum());
    else
        QCOMPARE(view.lineText(view.firstVisibleLine()), top);

    // Back at the end, the view follows again.
    bar->triggerAction(QAbstractSlider::SliderToMaximum);
    QVERIFY(view.followsEnd());
    view.appendText(numbered(300));
    QTRY_COMPARE(bar->value(), bar->maximum());
    QVERIFY(view.lineText(view.firstVisibleLine()) != top);
}

// Screen readers get the text and colours the text edit gave them: the same
// text, and at every character but a line break the same attributes over
// the same run.
void TestViews::chatViewReadsLikeTheTextEdit()
{
    const Appends appends = {
        {"plain, no colour yet ", ""},
        {"Kite> hello\r\n", "#ffffff"},
        {"Ann ", "#88ffff"},
        {"waves ", ""},
        {"red", "#ff1010"},
        {" and white", "#ffffff"},
        {"\r\n", ""},
        {"\r\n", "#a0a0a0"},
        {QString("\u05E9\u05DC\u05D5\u05DD and back\r\n"), "#eeee10"},
        {QString("[Wren] \U0001F600 ok\r\n"), "#eeee10"},
    };
    RichTextView view;
    QPlainTextEdit edit;
    edit.setReadOnly(true);
    QColor current;
    for (const Append& append : appends)
        appendToTextEdit(edit, current, append);
    appendAll(view, appends);

    QAccessibleTextInterface* mine = QAccessible::queryAccessibleInterface(&view)->textInterface();
    QAccessibleTextInterface* theirs = QAccessible::queryAccessibleInterface(&edit)->textInterface();
    QVERIFY(mine);
    QCOMPARE(mine->characterCount(), theirs->characterCount());
    QCOMPARE(mine->text(0, mine->characterCount()), theirs->text(0, theirs->characterCount()));
    QCOMPARE(QAccessible::queryAccessibleInterface(&view)->text(QAccessible::Value), edit.toPlainText());
    QCOMPARE(view.toPlainText(), edit.toPlainText());
    const QString text = edit.toPlainText();
    int colours = 0;
    for (int offset = 0; offset < text.size(); ++offset) {
        if (text.at(offset) == u'\n')
            continue;
        int myStart = 0, myEnd = 0, theirStart = 0, theirEnd = 0;
        const QString attributes = mine->attributes(offset, &myStart, &myEnd);
        QCOMPARE(attributes, theirs->attributes(offset, &theirStart, &theirEnd));
        QCOMPARE(myStart, theirStart);
        QCOMPARE(myEnd, theirEnd);
        colours += attributes.contains(QLatin1String("color:rgb(")) ? 1 : 0;
    }
    QVERIFY(colours > 50);
    int start = 0, end = 0;
    const int kite = static_cast<int>(text.indexOf(QLatin1String("Kite")));
    QCOMPARE(mine->textAtOffset(kite + 1, QAccessible::WordBoundary, &start, &end), QStringLiteral("Kite"));
    QCOMPARE(std::make_pair(start, end), std::make_pair(kite, kite + 4));
    const int ann = static_cast<int>(text.indexOf(QLatin1String("Ann")));
    QCOMPARE(mine->textAtOffset(ann + 5, QAccessible::LineBoundary, &start, &end),
             QStringLiteral("Ann waves red and white\n"));
    QCOMPARE(start, ann);
    QCOMPARE(mine->textAfterOffset(kite, QAccessible::LineBoundary, &start, &end),
             QStringLiteral("Ann waves red and white\n"));
}

void TestViews::chatViewSelectsAndCopies()
{
    RichTextView view;
    view.resize(300, 200);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    view.appendText(QStringLiteral("Kite> first line\r\nAnn> second line\r\n"), QColor(Qt::white));
    QCoreApplication::processEvents();
    QAccessibleTextInterface* text = QAccessible::queryAccessibleInterface(&view)->textInterface();

    // Dragging from the left edge across the first line and into the second.
    const QPoint start(2, 6);
    const QPoint lower(view.viewport()->width() - 2, 6 + view.fontMetrics().lineSpacing());
    QTest::mousePress(view.viewport(), Qt::LeftButton, {}, start);
    QTest::mouseMove(view.viewport(), lower);
    QTest::mouseRelease(view.viewport(), Qt::LeftButton, {}, lower);
    QVERIFY(view.selectedText().startsWith(QStringLiteral("Kite> first line\nAnn> ")));
    QTest::keyClick(&view, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(), view.selectedText());

    text->setSelection(0, 6, 11);
    QCOMPARE(view.selectedText(), QStringLiteral("first"));
    int from = 0, to = 0;
    text->selection(0, &from, &to);
    QCOMPARE(std::make_pair(from, to), std::make_pair(6, 11));
    // A selection stays on its text while the lines before it go.
    view.setLimits(1, RichTextView::kMaxCharacters);
    view.appendText(QStringLiteral("third\r\n"));
    QCOMPARE(view.selectedText(), QString());
    text->setSelection(0, 0, 5);
    view.appendText(QStringLiteral("fourth\r\n"));
    QCOMPARE(view.selectedText(), QString());
    QCOMPARE(view.toPlainText(), QStringLiteral("fourth\n"));
    QTest::keyClick(&view, Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(view.selectedText(), QStringLiteral("fourth\n"));

    // A line shown before its end is laid out again once it ends.
    view.appendText(QStringLiteral("Ann "), QColor(136, 255, 255));
    QCoreApplication::processEvents();
    view.repaint();
    view.appendText(QStringLiteral("waves\r\n"));
    QCoreApplication::processEvents();
    const QPoint lineStart(2, 6);
    const QPoint lineEnd(view.viewport()->width() - 2, 6);
    QTest::mousePress(view.viewport(), Qt::LeftButton, {}, lineStart);
    QTest::mouseMove(view.viewport(), lineEnd);
    QTest::mouseRelease(view.viewport(), Qt::LeftButton, {}, lineEnd);
    QCOMPARE(view.selectedText(), QStringLiteral("Ann waves"));
    // A double-click takes a word, a third click the line.
    QTest::mouseDClick(view.viewport(), Qt::LeftButton, {}, lineStart);
    QCOMPARE(view.selectedText(), QStringLiteral("Ann"));
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, lineEnd);
    QCOMPARE(view.selectedText(), QStringLiteral("Ann waves"));
}

void TestViews::infoViewKeepsNewestLines()
{
    InfoView view;
    view.setLimits(3, 1000);
    QSignalSpy edits(view.document(), &QTextDocument::contentsChange);
    view.appendLines({QStringLiteral("one"), QStringLiteral("two")});
    QCOMPARE(edits.count(), 1);
    view.appendLines({QStringLiteral("three"), QStringLiteral("fo\rur"), QString("fi\u2029ve")});
    QCOMPARE(view.toPlainText(), QStringLiteral("three\nfo ur\nfi ve"));
    view.setLimits(100, 12);
    QCOMPARE(view.toPlainText(), QStringLiteral("fo ur\nfi ve"));
    view.appendLines({QString(40, u'x')});
    QCOMPARE(view.toPlainText(), QString(40, u'x'));
}

void TestViews::infoViewScrollLock()
{
    InfoView view;
    view.setLimits(150, InfoView::kMaxCharacters);
    view.resize(300, 120);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QStringList lines;
    for (int i = 0; i < 100; ++i)
        lines << QStringLiteral("line %1").arg(i);
    view.appendLines(lines);
    QScrollBar* bar = view.verticalScrollBar();
    QVERIFY(bar->maximum() > 0);
    QCOMPARE(bar->value(), bar->maximum());

    // Scrolled up, the top line stays while lines come and old ones go.
    bar->setValue(60);
    const QString top = view.cursorForPosition(QPoint(2, 2)).block().text();
    lines.clear();
    for (int i = 100; i < 130; ++i)
        lines << QStringLiteral("line %1").arg(i);
    view.appendLines(lines);
    QCOMPARE(view.document()->firstBlock().text(), QStringLiteral("line 0"));
    view.appendLines(lines);
    QCOMPARE(view.document()->firstBlock().text(), QStringLiteral("line 10"));
    QCOMPARE(view.cursorForPosition(QPoint(2, 2)).block().text(), top);
    QVERIFY(bar->value() < bar->maximum());

    // Back at the end, it follows.
    bar->setValue(bar->maximum());
    view.appendLines({QStringLiteral("last")});
    QCOMPARE(bar->value(), bar->maximum());
    QCOMPARE(view.cursorForPosition(QPoint(2, view.viewport()->height() - 4)).block().text(), QStringLiteral("last"));
}

QTEST_MAIN(TestViews)
#include "test_views.moc"
