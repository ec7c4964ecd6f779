// The windows from the keyboard: Enter on the lists, the way Tab goes, the
// entry line's history and name completion, and where the focus is when the
// channel window comes to the front.

#include "channel/channel.h"
#include "encryption/encryption.h"
#include "encryption/texts.h"
#include "lobby/lobby.h"
#include "login/login.h"
#include "platform/controls.h"
#include "platform/listview.h"
#include "support/fakes.h"
#include "support/irc_lines_fixture.h"
#include "support/test_session.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

namespace {

QByteArray toHelp(const QByteArray& text)
{
    return bytesOf(scrambled::kChannelMessageCommand) + "#Help :" + text + "\r\n";
}

QWidget* focused()
{
    return QApplication::focusWidget();
}

// The controls Tab reaches from the first one, until it comes back to it.
QList<QWidget*> tabChain(QWidget* first, Qt::Key key = Qt::Key_Tab)
{
    first->setFocus(Qt::TabFocusReason);
    QList<QWidget*> chain{first};
    for (int i = 0; i < 20; ++i) {
        QTest::keyClick(focused(), key);
        if (focused() == first)
            return chain;
        chain.append(focused());
    }
    return chain;
}

// Whether a control looks different with the focus than without it.
bool showsFocus(QWidget* control)
{
    control->setFocus(Qt::TabFocusReason);
    const QImage with = control->grab().toImage();
    control->clearFocus();
    const QImage without = control->grab().toImage();
    return with != without;
}

bool activate(QWidget* window)
{
    window->activateWindow();
    return QTest::qWaitForWindowActive(window);
}

} // namespace

class TestKeyboard : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void enterOnLists_data();
    void enterOnLists();
    void tabOrder();
    void history();
    void completion();
    void entryHasTheFocusWhenTheWindowComesBack();
};

void TestKeyboard::initTestCase()
{
    turnBackStoredTexts();
}

// Enter, or the keypad's, does what a double-click does: on the selected row,
// or on the row the keyboard's focus stands on.
void TestKeyboard::enterOnLists_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<bool>("keypad");
    QTest::addColumn<bool>("selected");
    QTest::newRow("Return, selected row") << int(Qt::Key_Return) << false << true;
    QTest::newRow("keypad Enter, selected row") << int(Qt::Key_Enter) << true << true;
    QTest::newRow("Return, the row with the focus") << int(Qt::Key_Return) << false << false;
}

void TestKeyboard::enterOnLists()
{
    QFETCH(int, key);
    QFETCH(bool, keypad);
    QFETCH(bool, selected);
    const Qt::KeyboardModifiers modifiers = keypad ? Qt::KeypadModifier : Qt::NoModifier;
    const auto choose = [selected](ListView* list, int row) {
        list->setFocus();
        if (selected)
            list->selectRow(row);
        else
            list->selectionModel()->setCurrentIndex(list->model()->index(row, 0), QItemSelectionModel::NoUpdate);
    };

    TestSession session;
    QVERIFY(session.openLobby());
    QVERIFY(session.offerChannels({QStringLiteral("#Lobby"), QStringLiteral("#Help")}));
    ListView* channels = lobby().channels;
    // Nothing chosen: nothing happens.
    channels->clearSelection();
    channels->setCurrentIndex(QModelIndex());
    QTest::keyClick(channels, Qt::Key(key), modifiers);
    QVERIFY(channel().Label2->text().isEmpty());
    const int scheme = session.gateway.connectionCount();
    choose(channels, 1);
    QTest::keyClick(channels, Qt::Key(key), modifiers);
    QCOMPARE(channel().Label2->text(), QStringLiteral("#Help"));
    QVERIFY(session.waitForRequest(scheme));
    channel().unload();

    QVERIFY(session.enterQuietChannel());
    channel().message->setPlainText(QStringLiteral("half a line"));
    choose(channel().users, 1);
    QTest::keyClick(channel().users, Qt::Key(key), modifiers);
    QCOMPARE(channel().message->toPlainText(), plainText(scrambled::kUserListPrefix) + QStringLiteral("Ace "));
    QCOMPARE(focused(), channel().message);
}

// Tab goes through each window as it is laid out; every control it reaches
// shows that it has the focus. The login window keeps its own order, its
// buttons before the flag.
void TestKeyboard::tabOrder()
{
    TestSession session;
    session.showLogin();
    QVERIFY(activate(&login()));
    Login& in = login();
    const QList<QWidget*> loginChain{in.userTxt, in.Command1, in.Command2, in.Command3, in.flagBox};
    QCOMPARE(tabChain(in.userTxt), loginChain);
    for (QWidget* control : loginChain)
        QVERIFY2(showsFocus(control), control->metaObject()->className());

    QVERIFY(session.openLobby());
    QVERIFY(session.offerChannels({QStringLiteral("#Help")}));
    QVERIFY(activate(&lobby()));
    Lobby& l = lobby();
    const QList<QWidget*> lobbyChain{l.refreshChanButton, l.channels, l.whoList, l.ircInfo, l.logoff};
    QCOMPARE(tabChain(l.refreshChanButton), lobbyChain);
    QList<QWidget*> back{l.refreshChanButton, l.logoff, l.ircInfo, l.whoList, l.channels};
    QCOMPARE(tabChain(l.refreshChanButton, Qt::Key_Backtab), back);
    for (QWidget* control : lobbyChain)
        QVERIFY2(showsFocus(control), control->metaObject()->className());

    QVERIFY(session.enterQuietChannel());
    QVERIFY(activate(&channel()));
    Channel& c = channel();
    const QList<QWidget*> channelChain{c.users, c.filter, c.notify, c.exitBtn, c.games, c.chat, c.message};
    QCOMPARE(tabChain(c.users), channelChain);
    back = {c.users, c.message, c.chat, c.games, c.exitBtn, c.notify, c.filter};
    QCOMPARE(tabChain(c.users, Qt::Key_Backtab), back);

    for (QWidget* control : channelChain)
        QVERIFY2(showsFocus(control), control->metaObject()->className());
    // The check boxes have no caption of their own: screen readers name them
    // by the labels beside them.
    QCOMPARE(QAccessible::queryAccessibleInterface(c.filter)->text(QAccessible::Name), c.Label4->text());
    QCOMPARE(QAccessible::queryAccessibleInterface(c.notify)->text(QAccessible::Name), c.Label5->text());
}

// Up and Down bring back the lines sent; what Enter then sends is what the
// box holds, as for a line typed anew.
void TestKeyboard::history()
{
    TestSession session;
    QVERIFY(session.enterQuietChannel());
    QPlainTextEdit* entry = channel().message;
    for (const QString& line : {QStringLiteral("first"), QStringLiteral("second")}) {
        QTest::keyClicks(entry, line);
        QTest::keyClick(entry, Qt::Key_Return);
    }
    QVERIFY(session.waitForWire(toHelp("second")));
    QTest::keyClicks(entry, QStringLiteral("dra"));
    QTest::keyClick(entry, Qt::Key_Up);
    QCOMPARE(entry->toPlainText(), QStringLiteral("second"));
    QTest::keyClick(entry, Qt::Key_Up, Qt::KeypadModifier);
    QCOMPARE(entry->toPlainText(), QStringLiteral("first"));
    QCOMPARE(entry->textCursor().position(), 5);
    // An edit survives walking away and back.
    QTest::keyClicks(entry, QStringLiteral("!"));
    QTest::keyClick(entry, Qt::Key_Down);
    QCOMPARE(entry->toPlainText(), QStringLiteral("second"));
    QTest::keyClick(entry, Qt::Key_Up);
    QCOMPARE(entry->toPlainText(), QStringLiteral("first!"));
    QTest::keyClick(entry, Qt::Key_Down);
    QTest::keyClick(entry, Qt::Key_Down);
    QCOMPARE(entry->toPlainText(), QStringLiteral("\ndra"));

    const qsizetype from = session.mark();
    QTest::keyClick(entry, Qt::Key_Up);
    QTest::keyClick(entry, Qt::Key_Up);
    QTest::keyClick(entry, Qt::Key_Return);
    QVERIFY(session.waitForWire(toHelp("first!")));
    QCOMPARE(session.wire(from), toHelp("first!"));
    // Undo takes a recalled line back as one edit.
    QTest::keyClick(entry, Qt::Key_Up);
    QCOMPARE(entry->toPlainText(), QStringLiteral("first!"));
    QTest::keyClick(entry, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(entry->toPlainText(), QStringLiteral("\n"));

    // The lines stay for the next channel.
    channel().unload();
    QVERIFY(session.enterQuietChannel());
    QTest::keyClick(channel().message, Qt::Key_Up);
    QCOMPARE(channel().message->toPlainText(), QStringLiteral("first!"));
}

// Tab completes a member's name where the word before the caret starts one,
// and moves the focus on where nothing does.
void TestKeyboard::completion()
{
    TestSession session;
    QVERIFY(session.enterQuietChannel());
    QVERIFY(activate(&channel()));
    QPlainTextEdit* entry = channel().message;
    QCOMPARE(focused(), entry);
    QTest::keyClicks(entry, QStringLiteral("a"));
    QTest::keyClick(entry, Qt::Key_Tab);
    QCOMPARE(entry->toPlainText(), QStringLiteral("Ace: "));
    QCOMPARE(focused(), entry);
    QTest::keyClicks(entry, QStringLiteral("hi K"));
    QTest::keyClick(entry, Qt::Key_Tab);
    QCOMPARE(entry->toPlainText(), QStringLiteral("Ace: hi Kite "));
    QTest::keyClick(entry, Qt::Key_Tab);
    QCOMPARE(entry->toPlainText(), QStringLiteral("Ace: hi Kite "));
    const qsizetype from = session.mark();
    QTest::keyClick(entry, Qt::Key_Return);
    QVERIFY(session.waitForWire(toHelp("Ace: hi Kite ")));
    QCOMPARE(session.wire(from), toHelp("Ace: hi Kite "));

    QTest::keyClicks(entry, QStringLiteral("zed"));
    QTest::keyClick(entry, Qt::Key_Tab);
    QCOMPARE(entry->toPlainText(), QStringLiteral("\nzed"));
    QCOMPARE(focused(), channel().users);
}

// Whoever comes back to the channel window comes to write.
void TestKeyboard::entryHasTheFocusWhenTheWindowComesBack()
{
    TestSession session;
    QVERIFY(session.enterQuietChannel());
    QVERIFY(activate(&channel()));
    QCOMPARE(focused(), channel().message);
    channel().users->setFocus();
    QWidget elsewhere;
    elsewhere.show();
    QVERIFY(activate(&elsewhere));
    QVERIFY(activate(&channel()));
    QCOMPARE(focused(), channel().message);
}

QTEST_MAIN(TestKeyboard)
#include "test_keyboard.moc"
