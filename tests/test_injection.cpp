// Text that others choose (nicks, channel names, topics, messages, kick
// reasons) is shown as the characters it is, never as markup, wherever it
// appears; and a name holding CR, LF or NUL never reaches a line the client
// sends to the chat server or the gateway.

#include "app/forms.h"
#include "channel/channel.h"
#include "encryption/encryption.h"
#include "encryption/texts.h"
#include "lobby/lobby.h"
#include "login/login.h"
#include "platform/controls.h"
#include "platform/listview.h"
#include "platform/service.h"
#include "platform/socket.h"
#include "support/fakes.h"
#include "support/irc_lines_fixture.h"
#include "support/test_session.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QTextEdit>
#include <QTimer>

namespace {

const QString kNick = QStringLiteral("<b>Ace</b>");
const QString kJoiner = QStringLiteral("<s>Joe</s>&amp;");
const QString kChannelName = QStringLiteral("#<i>Den</i>&amp;");
const QString kTopic = QStringLiteral("<u>Topic</u> &lt;x&gt; <img src=x>");
const QString kMessage = QStringLiteral("<font color=red>hi</font> &amp; <a href='x'>link</a>");
const QString kReason = QStringLiteral("<h1>bye</h1>");

QByteArray utf8(const QString& text)
{
    return text.toUtf8();
}

// Every label of the window that shows one of the texts shows it as plain
// text; an empty string when all do, else the first label that does not.
QString labelRenderingMarkup(const QWidget& window)
{
    for (const QLabel* label : window.findChildren<QLabel*>()) {
        if (label->text().contains(u'<') && label->textFormat() != Qt::PlainText)
            return label->objectName() + QStringLiteral(": ") + label->text();
    }
    return {};
}

QStringList column(const ListView* list, int subItem)
{
    QStringList cells;
    for (int row = 0; row < list->count(); ++row)
        cells.append(subItem == 0 ? list->text(row) : list->subItem(row, subItem));
    return cells;
}

} // namespace

class TestInjection : public QObject {
    Q_OBJECT

private slots:
    void markupIsShownLiterally();
    void ownNameWithMarkup();
    void lineBreaksNeverReachTheChatServer_data();
    void lineBreaksNeverReachTheChatServer();
    void lineBreaksNeverReachTheGateway_data();
    void lineBreaksNeverReachTheGateway();
    void storedNameWithLineBreakIsRefused_data();
    void storedNameWithLineBreakIsRefused();
};

void TestInjection::markupIsShownLiterally()
{
    MessageBoxRecorder boxes;
    TestSession session;
    QVERIFY(session.openLobby());
    session.quietTimers();

    // The lobby's lists.
    session.send(listEntry(utf8(kChannelName), "3", "05 " + utf8(kTopic))
                 + whoEntry(utf8(kChannelName), utf8(kNick), "12") + endOfWho());
    QTRY_COMPARE(lobby().whoList->count(), 1);
    QTRY_VERIFY(lobby().channels->contains(kChannelName));
    const int row = *lobby().channels->row(kChannelName);
    QCOMPARE(lobby().channels->text(row), kChannelName);
    QCOMPARE(lobby().channels->subItem(row, 2), kTopic);
    QCOMPARE(lobby().whoList->text(0), kNick);
    QCOMPARE(lobby().whoList->subItem(0, 1), kChannelName);

    // The server's text.
    session.send(serverReply("372", ":- " + utf8(kMessage)));
    QTRY_VERIFY(lobby().ircInfo->toPlainText().contains(QStringLiteral("- ") + kMessage));

    // The channel window: label, caption, members, chat.
    QVERIFY(session.doubleClick(kChannelName));
    QVERIFY(session.waitForRequest(0));
    session.answer(0, TestSession::kSchemeAnswer);
    QTRY_VERIFY(channel().isVisible());
    QCOMPARE(channel().Label2->text(), kChannelName);
    QVERIFY(channel().windowTitle().startsWith(kChannelName));
    session.send(namesOf("Pilot42 " + utf8(kNick), utf8(kChannelName))
                 + fromPlayer(utf8(kJoiner), "JOIN :" + utf8(kChannelName))
                 + fromPlayer(utf8(kNick), "PRIVMSG " + utf8(kChannelName) + " :" + utf8(kMessage))
                 + fromPlayer(utf8(kNick), "PRIVMSG " + utf8(kChannelName) + " :/me " + utf8(kMessage))
                 + fromPlayer(utf8(kNick), "PRIVMSG Pilot42 :" + utf8(kMessage))
                 + fromChanServ("KICK " + utf8(kChannelName) + ' ' + utf8(kJoiner) + " :" + utf8(kReason)));
    QVERIFY(session.sync());
    QVERIFY(column(channel().users, 0).contains(kNick));
    const QString chat = channel().chat->toPlainText();
    for (const QString& shown : {kNick + QStringLiteral("> ") + kMessage, kNick + u' ' + kMessage, u'[' + kNick + QStringLiteral("] ") + kMessage,
                                 QStringLiteral("** ") + kJoiner, kJoiner, kReason})
        QVERIFY2(chat.contains(shown), qPrintable(shown));

    // Being kicked names the kicker and the reason in a box.
    session.send(fromChanServ("KICK " + utf8(kChannelName) + " Pilot42 :" + utf8(kReason)));
    QTRY_COMPARE(boxes.boxes.size(), 1);
    QVERIFY(boxes.boxes[0].text.contains(kReason));

    for (const QWidget* window : {static_cast<QWidget*>(&login()), static_cast<QWidget*>(&lobby()),
                                  static_cast<QWidget*>(&channel())})
        QVERIFY2(labelRenderingMarkup(*window).isEmpty(), qPrintable(labelRenderingMarkup(*window)));
}

void TestInjection::ownNameWithMarkup()
{
    MessageBoxRecorder boxes;
    TestSession session;
    QVERIFY(session.openLobby(kNick));
    session.send(":irc.fenmoor.test 001 " + utf8(kNick) + " :Welcome\r\n");
    QTRY_VERIFY(lobby().Label4->text().contains(kNick));
    QCOMPARE(lobby().Label4->textFormat(), Qt::PlainText);
    QVERIFY(labelRenderingMarkup(lobby()).isEmpty());
    QVERIFY(session.wire().contains("NICK " + utf8(kNick) + " \r\n"));
}

void TestInjection::lineBreaksNeverReachTheChatServer_data()
{
    QTest::addColumn<QByteArray>("lines");
    // What the user types afterwards; the nick double-clicked first, if any.
    QTest::addColumn<QString>("doubleClicked");
    QTest::addColumn<QString>("typed");

    static const char nulNames[] = ":irc.fenmoor.test 353 Pilot42 = #Help :Pilot42 Nu\0ll Ki\rte\r\n";
    static const char nulJoin[] = ":Jo\0e!~Username@players.fenmoor.test JOIN :#Help\r\n";
    QTest::newRow("nick with CR joins")
        << fromPlayer("Ca\rrl", "JOIN :#Help") << QString() << QString();
    QTest::newRow("nick with NUL joins") << QByteArray(nulJoin, sizeof nulJoin - 1) << QString() << QString();
    QTest::newRow("names with CR and NUL, then end of WHO")
        << QByteArray(nulNames, sizeof nulNames - 1) + endOfWho() << QString() << QString();
    QTest::newRow("private message from a nick with CR while away")
        << fromPlayer("Ev\re", "PRIVMSG Pilot42 :hello") << QString() << QStringLiteral("/away gone\rfishing");
    QTest::newRow("channel name with CR listed")
        << listEntry("#Bad\rName", "3", "05 x") + listEntry(QByteArray("#Nul\0Name", 9), "3", "05 x")
        << QString() << QString();
    QTest::newRow("double-clicked nick with CR, then Enter")
        << QByteArray(nulNames, sizeof nulNames - 1) << QStringLiteral("Ki\rte") << QStringLiteral("hi");
    QTest::newRow("double-clicked nick with NUL, then Enter")
        << QByteArray(nulNames, sizeof nulNames - 1) << QStringLiteral("Nu") + QChar(0) + QStringLiteral("ll")
        << QStringLiteral("hi");
    QTest::newRow("typed line breaks") << QByteArray() << QString()
                                       << QStringLiteral("one\rtwo\nthree") + QChar(0) + QStringLiteral("four")
                                              + QChar(0x2029) + QStringLiteral("five");
    QTest::newRow("typed private message with a line break in the nick")
        << QByteArray() << QString() << QStringLiteral("/msg Ki\r\nQUIT :x hello");
    QTest::newRow("typed action with NUL") << QByteArray() << QString()
                                           << QStringLiteral("/me wa") + QChar(0) + QStringLiteral("ves\r\nQUIT");
}

void TestInjection::lineBreaksNeverReachTheChatServer()
{
    QFETCH(QByteArray, lines);
    QFETCH(QString, doubleClicked);
    QFETCH(QString, typed);
    MessageBoxRecorder boxes;
    TestSession session;
    QVERIFY(session.enterQuietChannel());
    SendRecorder sent(QStringLiteral("irc"));
    const qsizetype from = session.mark();
    if (typed.startsWith(QStringLiteral("/away"))) {
        lobby().iAmAway = true;
        lobby().myAwayMessage = QStringLiteral("gone\rfishing");
    }

    if (!lines.isEmpty()) {
        session.send(lines);
        QVERIFY(session.sync());
    }
    if (!doubleClicked.isEmpty()) {
        const std::optional<int> row = channel().users->row(doubleClicked);
        QVERIFY(row);
        channel().users->selectRow(*row);
        emit channel().users->itemDoubleClicked();
        channel().message->moveCursor(QTextCursor::End);
        channel().message->insertPlainText(typed);
        QTest::keyClick(channel().message, Qt::Key_Return);
    } else if (!typed.isEmpty() && !typed.startsWith(QStringLiteral("/away"))) {
        channel().message->setPlainText(typed);
        channel().message->moveCursor(QTextCursor::End);
        QTest::keyClick(channel().message, Qt::Key_Return);
    }
    // Whatever the client sent has arrived once a later line is handled.
    QVERIFY(session.sync());
    QVERIFY(lobby().irc->state() == Socket::Connected);
    const QByteArray wire = session.wire(from);
    QVERIFY2(wireIsClean(wire), wire.constData());
    QVERIFY(wireIsClean(sent.joined()));
    for (const QByteArray& smuggled : {QByteArray("QUIT"), QByteArray("fishing\r")})
        QVERIFY(!wire.contains(smuggled));
    QVERIFY(!lobby().channels->contains(QStringLiteral("#Bad\rName")));
}

void TestInjection::lineBreaksNeverReachTheGateway_data()
{
    QTest::addColumn<QString>("channelName");
    QTest::newRow("CR") << QStringLiteral("#Bad\rX-Injected: 1");
    QTest::newRow("LF") << QStringLiteral("#Bad\nX-Injected: 1");
    QTest::newRow("NUL") << QStringLiteral("#Bad") + QChar(0) + QStringLiteral("X-Injected: 1");
    QTest::newRow("CR LF") << QStringLiteral("#Bad\r\nX-Injected: 1");
}

// A channel name from elsewhere than the server's list (the list refuses
// such names) still cannot put a header into a scheme or game-list request.
void TestInjection::lineBreaksNeverReachTheGateway()
{
    QFETCH(QString, channelName);
    MessageBoxRecorder boxes;
    TestSession session;
    QVERIFY(session.openLobby());
    lobby().channels->add(channelName, channelName);
    QVERIFY(session.doubleClick(channelName));
    // The entry cannot be asked for: the user is told and stays in the lobby.
    QTRY_COMPARE(boxes.boxes.size(), 1);
    QTRY_VERIFY(lobby().isVisible());
    // The game list of a channel window holding such a name is not fetched.
    channel().ensureLoaded();
    channel().Label2->setText(channelName);
    lobby().gamesTimer_Timer();
    letEventsRun(100);
    QVERIFY(wireIsClean(session.gateway.allReceived()));
    QVERIFY(!session.gateway.allReceived().contains("X-Injected"));
    QVERIFY(wireIsClean(session.wire()));
    QVERIFY(!session.wire().contains("X-Injected"));
}

void TestInjection::storedNameWithLineBreakIsRefused_data()
{
    QTest::addColumn<QString>("storedName");
    QTest::newRow("CR") << QStringLiteral("Ash\rX-Inj: 1");
    QTest::newRow("LF") << QStringLiteral("Ash\nX-Inj: 1");
    QTest::newRow("NUL") << QStringLiteral("Ash") + QChar(0) + QStringLiteral("X-Inj: 1");
    QTest::newRow("CR LF") << QStringLiteral("Ash\r\nX-Inj: 1");
}

// The name comes back from the settings store as it was stored: one that
// holds a line break is refused before any request is made.
void TestInjection::storedNameWithLineBreakIsRefused()
{
    QFETCH(QString, storedName);
    TestSession session;
    QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Tavimere1.3"))
        .setValue(QStringLiteral("Username"), storedName);
    MessageBoxRecorder boxes;
    session.showLogin();
    login().Command1->click();
    QTRY_COMPARE(boxes.boxes.size(), 1);
    letEventsRun(100);
    QCOMPARE(session.gateway.connectionCount(), 0);
    QCOMPARE(session.chat.connectionCount(), 0);
    QVERIFY(login().Command1->isVisible());
}

QTEST_MAIN(TestInjection)
#include "test_injection.moc"
