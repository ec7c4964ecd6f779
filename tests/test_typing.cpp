// What the user types in the channel window: the entry line, the commands
// and chat lines it becomes, checked on the bytes sent and the lines the
// chat view shows, and the double-click on a member.

#include "channel/channel.h"
#include "encryption/encryption.h"
#include "encryption/texts.h"
#include "lobby/lobby.h"
#include "platform/listview.h"
#include "platform/socket.h"
#include "support/fakes.h"
#include "support/irc_lines_fixture.h"
#include "support/test_session.h"

#include <QCheckBox>
#include <QPlainTextEdit>
#include <QTest>

namespace {

// The start of a chat line to #Help on the wire.
QByteArray toHelp()
{
    return bytesOf(scrambled::kChannelMessageCommand) + "#Help :";
}

QByteArray privately()
{
    return bytesOf(scrambled::kPrivateMessageCommand);
}

// Puts the text in the entry line, the caret at its end, and presses Enter.
void typeLine(const QString& text)
{
    channel().message->setPlainText(text);
    channel().message->moveCursor(QTextCursor::End);
    QTest::keyClick(channel().message, Qt::Key_Return);
}

// 0123456789 over and over: any cut shows where it was made.
QString digits(int length)
{
    QString text;
    for (int i = 0; i < length; ++i)
        text += QChar(u'0' + i % 10);
    return text;
}

} // namespace

class TestTyping : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void typedLine_data();
    void typedLine();
    void enterKey_data();
    void enterKey();
    void entryLength_data();
    void entryLength();
    void memberDoubleClick_data();
    void memberDoubleClick();
};

void TestTyping::initTestCase()
{
    turnBackStoredTexts();
}

void TestTyping::typedLine_data()
{
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<bool>("filter");
    QTest::addColumn<bool>("connected");
    QTest::addColumn<Bytes>("sent");
    QTest::addColumn<QStringList>("chat");
    QTest::addColumn<QString>("awayText");  // empty: not away afterwards

    const QByteArray a = toHelp();
    const QByteArray b = privately();
    const QString word = plainText(scrambled::kFilterWord2);
    const QString mask = plainText(scrambled::kFilterMask2);
    const QString set = QStringLiteral("{palered}Away message set to \"%1\"");
    const QString cleared = QStringLiteral("{palered}Away message has been cleared.");
    const QString unknown = QStringLiteral("{palered}Unknown Command");
    bool filter = false;
    bool connected = true;
    auto row = [&](const char* name, const QStringList& lines, const Bytes& sent, const QStringList& chat,
                   const QString& awayText = QString()) {
        QTest::newRow(name) << lines << filter << connected << sent << chat << awayText;
    };

    row("chat line", {"hello all"}, {a + "hello all\r\n"}, {"{white}Pilot42: hello all"});
    row("private message", {"/msg Kite see  you"}, {b + "Kite :see  you\r\n"}, {"{orange}<Kite> see  you"});
    row("away", {"/away lunch break"}, {}, {set.arg("lunch break")}, "lunch break");
    row("unknown command", {"/nick x"}, {}, {unknown});
    row("away replaced", {"/away a", "/away b c"}, {}, {set.arg("a"), set.arg("b c")}, "b c");
    row("away text keeps its leading blank", {"/away  back soon"}, {}, {set.arg(" back soon")}, " back soon");
    row("/awayx", {"/awayx gone"}, {}, {set.arg("gone")}, "gone");
    row("/mess is an action", {"/mess up"}, {a + "/mess up\r\n"}, {"{cyan}Pilot42 ss up"});
    row("action ends away", {"/away x", "/me waves"}, {a + "/me waves\r\n"},
        {set.arg("x"), cleared, "{cyan}Pilot42 waves"});
    row("unknown command ends away", {"/away x", "/nick y"}, {}, {set.arg("x"), cleared, unknown});
    row("/msg without the blank", {"/msgKite hi"}, {}, {unknown});
    row("/msg alone ends away only", {"/away x", "/msg "}, {}, {set.arg("x"), cleared});
    row("/AWAY is unknown", {"/AWAY x"}, {}, {unknown});
    row("empty line", {""}, {a + "\r\n"}, {"{white}Pilot42: "});
    row("filter off", {"/msg " + word + "Fan hi"}, {b + (word + "Fan :hi\r\n").toUtf8()},
        {"{orange}<" + word + "Fan> hi"});
    filter = true;
    // The name a whisper goes to is never masked: it would reach nobody.
    row("filter masks a /msg text, never the nick", {"/msg " + word + "Fan hi " + word},
        {b + (word + "Fan :hi " + mask + "\r\n").toUtf8()}, {"{orange}<" + word + "Fan> hi " + mask});
    filter = false;
    connected = false;
    const QStringList notSent{QStringLiteral("{palered}Not sent: there is no connection to the chat server.")};
    row("chat line without connection", {"hello"}, {}, notSent);
    row("action without connection", {"/me waves"}, {}, notSent);
    row("private message without connection", {"/msg Kite hi"}, {}, notSent);
}

void TestTyping::typedLine()
{
    QFETCH(QStringList, lines);
    QFETCH(bool, filter);
    QFETCH(bool, connected);
    QFETCH(Bytes, sent);
    QFETCH(QStringList, chat);
    QFETCH(QString, awayText);

    TestSession session;
    QVERIFY(session.enterQuietChannel());
    channel().filter->setChecked(filter);
    if (!connected)
        lobby().irc->close();
    SendRecorder sends(QStringLiteral("irc"));

    for (const QString& line : std::as_const(lines))
        typeLine(line);
    QCOMPARE(sends.sends, sent);
    QCOMPARE(chatLines(), chat);
    QCOMPARE(lobby().iAmAway, !awayText.isEmpty());
    if (lobby().iAmAway)
        QCOMPARE(lobby().myAwayMessage, awayText);
    if (connected)
        QTRY_COMPARE(session.wire().endsWith(sent.join()), true);
}

void TestTyping::enterKey_data()
{
    QTest::addColumn<QString>("boxText");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<QByteArray>("line");

    const int ret = Qt::Key_Return;
    QTest::newRow("empty box") << "" << ret << 0 << QByteArray();
    QTest::newRow("only the previous Enter's break") << "\n" << ret << 0 << QByteArray();
    QTest::newRow("trailing break") << "hi\n" << ret << 0 << QByteArray("hi ");
    QTest::newRow("two leading breaks") << "\n\nhi" << ret << 0 << QByteArray(" hi");
    QTest::newRow("breaks in the middle") << "a\nb\n c" << ret << 0 << QByteArray("a b  c");
    QTest::newRow("Shift+Enter") << "hi" << ret << int(Qt::ShiftModifier) << QByteArray("hi");
    QTest::newRow("keypad Enter") << "hi" << int(Qt::Key_Enter) << int(Qt::KeypadModifier) << QByteArray("hi");
}

// The key also starts a new line in the emptied box; the next Enter drops
// that break, so the next typed line goes out as typed.
void TestTyping::enterKey()
{
    QFETCH(QString, boxText);
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(QByteArray, line);

    TestSession session;
    QVERIFY(session.enterQuietChannel());
    QPlainTextEdit* box = channel().message;
    SendRecorder sends(QStringLiteral("irc"));

    box->setPlainText(boxText);
    box->moveCursor(QTextCursor::End);
    QTest::keyClick(box, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QCOMPARE(box->toPlainText(), QStringLiteral("\n"));
    QCOMPARE(box->textCursor().position(), 1);
    QTest::keyClicks(box, QStringLiteral("ok"));
    QTest::keyClick(box, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QCOMPARE(sends.sends, (Bytes{toHelp() + line + "\r\n", toHelp() + "ok\r\n"}));
}

void TestTyping::entryLength_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<int>("caret");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("pasted");
    QTest::addColumn<QString>("after");

    const QString full = digits(253);
    QTest::newRow("typed past the limit") << "" << 0 << digits(256) << "" << full;
    QTest::newRow("pasted past the limit") << "" << 0 << "" << digits(300) << full;
    QTest::newRow("pasted onto a nearly full box") << digits(250) << 250 << "" << "abcdef" << digits(250) + "abc";
    // As in any entry line with a length limit: the key is refused, the
    // text already there is kept.
    // The break the last Enter left takes no room of the next line.
    QTest::newRow("a full line after an Enter") << "\n" << 1 << digits(256) << "" << "\n" + full;
    QTest::newRow("typed at the front of a full box") << full << 0 << "x" << "" << full;
    QTest::newRow("pasted into the middle of a full box") << full << 100 << "" << "xyz" << full;
}

void TestTyping::entryLength()
{
    QFETCH(QString, before);
    QFETCH(int, caret);
    QFETCH(QString, typed);
    QFETCH(QString, pasted);
    QFETCH(QString, after);

    TestSession session;
    QVERIFY(session.enterQuietChannel());
    QPlainTextEdit* box = channel().message;
    box->setPlainText(before);
    QTextCursor cursor = box->textCursor();
    cursor.setPosition(caret);
    box->setTextCursor(cursor);
    SendRecorder sends(QStringLiteral("irc"));

    QTest::keyClicks(box, typed);
    box->insertPlainText(pasted);
    QCOMPARE(box->toPlainText(), after);
    QTest::keyClick(box, Qt::Key_Return);
    QCOMPARE(sends.sends, Bytes{toHelp() + QString(after).remove(u'\n').toUtf8() + "\r\n"});
}

void TestTyping::memberDoubleClick_data()
{
    QTest::addColumn<QString>("selected");  // empty: no member selected
    QTest::addColumn<QString>("box");
    QTest::addColumn<QByteArray>("sentOnEnter");

    const QString prefix = plainText(scrambled::kUserListPrefix);
    QTest::newRow("replaces a half-typed line") << "Ace" << prefix + "Ace " << privately() + "Ace :hi\r\n";
    QTest::newRow("no member selected") << "" << "\nhalf " << toHelp() + "half hi\r\n";
}

// The line starts a private message: typing its text and Enter sends it.
void TestTyping::memberDoubleClick()
{
    QFETCH(QString, selected);
    QFETCH(QString, box);
    QFETCH(QByteArray, sentOnEnter);

    TestSession session;
    QVERIFY(session.enterQuietChannel());
    QPlainTextEdit* entry = channel().message;
    typeLine(QStringLiteral("half "));
    QTest::keyClicks(entry, QStringLiteral("half "));
    channel().users->setFocus();
    if (const std::optional<int> row = channel().users->row(selected))
        channel().users->selectRow(*row);
    SendRecorder sends(QStringLiteral("irc"));

    emit channel().users->itemDoubleClicked();
    QCOMPARE(entry->toPlainText(), box);
    QCOMPARE(entry->textCursor().position(), entry->toPlainText().size());
    QCOMPARE(channel().focusWidget() == entry, !selected.isEmpty());
    QTest::keyClicks(entry, QStringLiteral("hi"));
    QTest::keyClick(entry, Qt::Key_Return);
    QCOMPARE(sends.sends, Bytes{sentOnEnter});
}

QTEST_MAIN(TestTyping)
#include "test_typing.moc"
