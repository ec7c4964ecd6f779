#include "app/forms.h"
#include "channel/channel.h"
#include "encryption/encryption.h"
#include "encryption/texts.h"
#include "lobby/lobby.h"
#include "login/login.h"
#include "platform/controls.h"
#include "platform/form.h"
#include "platform/listview.h"
#include "platform/socket.h"
#include "support/fakes.h"
#include "support/irc_lines_fixture.h"
#include "support/test_session.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <memory>
#include <vector>

namespace {

constexpr int kWait = 5000;

// The two ways a user ends the lobby from the lobby window itself.
enum class LobbyExit { LogOffButton, CloseBox };

// The two ways a user closes the channel window.
enum class ChannelExit { ExitButton, CloseBox };

void leaveLobby(LobbyExit how)
{
    if (how == LobbyExit::LogOffButton)
        lobby().logoff->click();
    else
        lobby().close();
}

void leaveChannel(ChannelExit how)
{
    if (how == ChannelExit::ExitButton)
        channel().exitBtn->click();
    else
        channel().close();
}

QByteArray finalLine()
{
    return (unscrambled(scrambled::kFinalLine) + QStringLiteral("\r\n")).toUtf8();
}

QByteArray channelEntry(const QString& name)
{
    return (unscrambled(scrambled::kChannelEntryCommand) + name).toUtf8();
}

// The login window as the login exchange leaves it while the chat
// connection is being made: name, flag and buttons away, progress shown.
void showConnectingLook()
{
    login().Command1->hide();
    login().userTxt->hide();
    login().status->show();
}

// Counts the times a window is put on screen.
class ShowCounter : public QObject {
public:
    explicit ShowCounter(QWidget* window) { window->installEventFilter(this); }
    int shows = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Show)
            ++shows;
        return QObject::eventFilter(watched, event);
    }
};

QSize outerSize(const QWidget& window)
{
    return window.frameGeometry().size();
}

// A listening port whose queue of connections nobody accepts is full: the
// system drops further connection attempts, which then stay "connecting"
// until the client gives up. Loopback refuses or completes everything else
// at once, so this is the one way to see a connection that never completes.
class SaturatedPort {
public:
    bool fill()
    {
        server_.setListenBacklogSize(0);
        server_.setMaxPendingConnections(1);
        if (!server_.listen(QHostAddress::LocalHost, 0))
            return false;
        // The first connection is taken into the server's own queue, which
        // then stops taking more; the second waits in the system's queue.
        if (!addFiller() || !QTest::qWaitFor([this] { return server_.hasPendingConnections(); }, kWait))
            return false;
        return addFiller();
    }
    quint16 port() const { return server_.serverPort(); }

private:
    bool addFiller()
    {
        fillers_.push_back(std::make_unique<QTcpSocket>());
        QTcpSocket* filler = fillers_.back().get();
        filler->connectToHost(QHostAddress::LocalHost, port());
        return filler->waitForConnected(kWait);
    }

    QTcpServer server_;
    std::vector<std::unique_ptr<QTcpSocket>> fillers_;
};

} // namespace

Q_DECLARE_METATYPE(LobbyExit)
Q_DECLARE_METATYPE(ChannelExit)

class TestLobbyLifecycle : public QObject {
    Q_OBJECT

private slots:
    void leavingTheLobby_data();
    void leavingTheLobby();
    void setUpTakesLoginValues_data();
    void setUpTakesLoginValues();
    void timersAtLoadAndOnceUp_data();
    void timersAtLoadAndOnceUp();

    void channelClosingSequence_data();
    void channelClosingSequence();
    void channelSizeStoredOnClose_data();
    void channelSizeStoredOnClose();
    void firstRunChannelSize();
    void channelClosesWhenChatIsDead();
    void neverShownChannelStoresWhatItRead_data();
    void neverShownChannelStoresWhatItRead();

    void connectionLost_data();
    void connectionLost();
    void chatServerRefuses();
    void chatConnectTimesOut();
    void logOffIsNotALostConnection_data();
    void logOffIsNotALostConnection();

    void unloadWhileSchemeRequestPending_data();
    void unloadWhileSchemeRequestPending();
    void unloadWhileGameListPending();
    void tickWhileChatClosedSendsNothing_data();
    void tickWhileChatClosedSendsNothing();
    void refreshKeepsSelectionAndScroll();
    void sessionBoxesCloseWithTheSession();
};

// ------------------------------------------------------------ the lobby

void TestLobbyLifecycle::leavingTheLobby_data()
{
    QTest::addColumn<LobbyExit>("how");
    QTest::newRow("log-off button") << LobbyExit::LogOffButton;
    QTest::newRow("close box") << LobbyExit::CloseBox;
}

void TestLobbyLifecycle::leavingTheLobby()
{
    QFETCH(LobbyExit, how);
    TestSession session;
    MessageBoxRecorder boxes;
    QVERIFY(session.openLobby());
    // Values of this session's channel window, unlike the login's.
    lobby().chanW = 12345;
    lobby().chanH = 6780;
    lobby().chanState = 2;
    // The keyboard focus of the login window is elsewhere by then.
    login().Command2->setFocus();
    QCOMPARE(login().focusWidget(), login().Command2);
    const QByteArray last = finalLine();

    leaveLobby(how);

    // Bytes sent after the close could not arrive: the final line being the
    // last bytes the server read before the close proves the order.
    QTRY_VERIFY_WITH_TIMEOUT(session.chatClosedByClient(), kWait);
    QVERIFY2(session.wire().endsWith(last), session.wire().right(80).constData());
    QVERIFY(!lobby().isVisible());
    QVERIFY(!lobby().isLoaded());
    QVERIFY(login().isVisible());
    QTRY_COMPARE_WITH_TIMEOUT(QApplication::focusWidget(), login().userTxt, kWait);
    QCOMPARE(login().getchX(), 12345);
    QCOMPARE(login().getchY(), 6780);
    QCOMPARE(login().getchS(), 2);
    QVERIFY(boxes.boxes.isEmpty());
}

void TestLobbyLifecycle::setUpTakesLoginValues_data()
{
    QTest::addColumn<bool>("storedBefore");
    QTest::addColumn<qint32>("chX");
    QTest::addColumn<qint32>("chY");
    QTest::addColumn<qint32>("chS");
    QTest::addColumn<QString>("name");
    // A first run has nothing stored: the login window's defaults apply.
    QTest::newRow("first run") << false << 10635 << 8835 << 0 << QStringLiteral("Pilot42");
    QTest::newRow("normal window") << true << 11520 << 7200 << 0 << QStringLiteral("Heron");
    QTest::newRow("maximised window") << true << 9000 << 9990 << 2 << QStringLiteral("Thistle_7");
}

void TestLobbyLifecycle::setUpTakesLoginValues()
{
    QFETCH(bool, storedBefore);
    QFETCH(qint32, chX);
    QFETCH(qint32, chY);
    QFETCH(qint32, chS);
    QFETCH(QString, name);
    TestSession session;
    MessageBoxRecorder boxes;
    login().ensureLoaded();
    if (storedBefore) {
        login().setchX(chX);
        login().setchY(chY);
        login().setchS(chS);
    }

    QVERIFY(session.openLobby(name));

    QCOMPARE(lobby().chanW, chX);
    QCOMPARE(lobby().chanH, chY);
    QCOMPARE(lobby().chanState, chS);
    QCOMPARE(lobby().Label4->text(), QStringLiteral("Connecting to the Fenmoor chat server..."));
    session.send(":irc.fenmoor.test 001 " + name.toUtf8() + " :Welcome\r\n");
    QTRY_COMPARE(lobby().Label4->text(), unscrambled(scrambled::kGreeting) + name + QLatin1Char('.'));
    QVERIFY(!login().isVisible());
    QVERIFY(boxes.boxes.isEmpty());
}

void TestLobbyLifecycle::timersAtLoadAndOnceUp_data()
{
    QTest::addColumn<QString>("timer");
    QTest::addColumn<int>("interval");
    QTest::addColumn<bool>("activeOnceUp");
    QTest::newRow("listTimer") << QStringLiteral("listTimer") << 7000 << true;
    QTest::newRow("whoTimerX") << QStringLiteral("whoTimerX") << 15000 << true;
    QTest::newRow("gamesTimer") << QStringLiteral("gamesTimer") << 20000 << false;
    QTest::newRow("whoisTimer") << QStringLiteral("whoisTimer") << 60000 << false;
}

void TestLobbyLifecycle::timersAtLoadAndOnceUp()
{
    QFETCH(QString, timer);
    QFETCH(int, interval);
    QFETCH(bool, activeOnceUp);
    TestSession session;
    MessageBoxRecorder boxes;
    const auto timerNamed = [&timer]() -> QTimer* {
        Lobby& l = lobby();
        if (timer == QLatin1String("listTimer"))
            return l.listTimer;
        if (timer == QLatin1String("whoTimerX"))
            return l.whoTimerX;
        if (timer == QLatin1String("gamesTimer"))
            return l.gamesTimer;
        return l.whoisTimer;
    };
    session.showLogin();

    // Loaded, the connection not made yet.
    lobby().ircConnect(QStringLiteral("Pilot42"), 7);
    QVERIFY(lobby().isLoaded());
    QVERIFY(!timerNamed()->isActive());
    QCOMPARE(timerNamed()->interval(), interval);

    QTRY_VERIFY_WITH_TIMEOUT(lobby().isVisible(), kWait);
    QCOMPARE(timerNamed()->isActive(), activeOnceUp);
    QCOMPARE(timerNamed()->interval(), interval);
}

// ----------------------------------------------------- the channel window

void TestLobbyLifecycle::channelClosingSequence_data()
{
    QTest::addColumn<ChannelExit>("how");
    QTest::addColumn<bool>("filter");
    QTest::addColumn<bool>("notify");
    QTest::addColumn<bool>("resizedAfterwards");
    QTest::newRow("exit button, both ticked") << ChannelExit::ExitButton << true << true << false;
    QTest::newRow("close box, none ticked") << ChannelExit::CloseBox << false << false << false;
    QTest::newRow("exit button, filter only") << ChannelExit::ExitButton << true << false << false;
    QTest::newRow("close box, notify only") << ChannelExit::CloseBox << false << true << false;
    // A layout pass leaves the boxes as the user set them.
    QTest::newRow("boxes changed, then resized") << ChannelExit::ExitButton << true << false << true;
}

void TestLobbyLifecycle::channelClosingSequence()
{
    QFETCH(ChannelExit, how);
    QFETCH(bool, filter);
    QFETCH(bool, notify);
    QFETCH(bool, resizedAfterwards);
    TestSession session;
    MessageBoxRecorder boxes;
    QVERIFY(session.openLobby());
    QVERIFY(session.offerChannels({QStringLiteral("#Help")}));
    lobby().whoList->add(QStringLiteral("Heron"), QStringLiteral("Heron"));
    // The window opens with the opposite of what the user then chooses.
    login().setFilterValue(filter ? 0 : 1);
    login().setNotifyValue(notify ? 0 : 1);
    session.loadChannel(QStringLiteral("#Help"));
    channel().show();
    QVERIFY(QTest::qWaitForWindowExposed(&channel()));
    QTRY_VERIFY_WITH_TIMEOUT(lobby().gamesTimer->isActive() && lobby().whoisTimer->isActive(), kWait);
    channel().users->add(QStringLiteral("Heron"), QStringLiteral("Heron"));
    channel().games->appendItem(QStringLiteral("Quick_Match"));
    channel().chat->appendText(QStringLiteral("Heron: hello\r\n"));
    channel().filter->setChecked(filter);
    channel().notify->setChecked(notify);
    if (resizedAfterwards) {
        const QSize bigger = channel().size() + QSize(20, 10);
        channel().resize(bigger);
        QTRY_COMPARE_WITH_TIMEOUT(channel().size(), bigger, kWait);
    }
    lobby().iAmAway = true;
    const QByteArray farewell("privmsg #Help :#me Pilot42 is returning to the Fenmoor lobby\r\nPART #Help\r\n");
    SendRecorder sends(QStringLiteral("irc"));

    leaveChannel(how);

    QCOMPARE(sends.sends, QList<QByteArray>{farewell});
    QVERIFY(session.waitForWire(farewell));
    QVERIFY(!channel().isVisible());
    QVERIFY(channel().Label2->text().isEmpty());
    QVERIFY(channel().chat->toPlainText().isEmpty());
    QCOMPARE(channel().users->count(), 0);
    QCOMPARE(channel().games->count(), 0);
    QVERIFY(lobby().isVisible());
    QVERIFY(!lobby().refreshChanButton->isEnabled());
    QCOMPARE(lobby().channels->count(), 0);
    QCOMPARE(lobby().whoList->count(), 0);
    QVERIFY(!lobby().gamesTimer->isActive());
    QVERIFY(!lobby().whoisTimer->isActive());
    QVERIFY(!lobby().iAmAway);
    QCOMPARE(login().getFilterValue(), qint16(filter ? 1 : 0));
    QCOMPARE(login().getNotifyValue(), qint16(notify ? 1 : 0));
    QVERIFY(boxes.boxes.isEmpty());
}

void TestLobbyLifecycle::channelSizeStoredOnClose_data()
{
    QTest::addColumn<Qt::WindowState>("state");
    QTest::addColumn<bool>("sizeKept");
    QTest::addColumn<qint32>("storedState");
    QTest::newRow("normal") << Qt::WindowNoState << false << 0;
    QTest::newRow("maximised") << Qt::WindowMaximized << true << 2;
    QTest::newRow("minimised") << Qt::WindowMinimized << false << 0;
}

void TestLobbyLifecycle::channelSizeStoredOnClose()
{
    QFETCH(Qt::WindowState, state);
    QFETCH(bool, sizeKept);
    QFETCH(qint32, storedState);
    TestSession session;
    MessageBoxRecorder boxes;
    QVERIFY(session.openLobby());
    session.loadChannel(QStringLiteral("#Help"));
    channel().show();
    QVERIFY(QTest::qWaitForWindowExposed(&channel()));
    const QSize client(720, 560);
    channel().resize(client);
    QTRY_COMPARE_WITH_TIMEOUT(channel().size(), client, kWait);
    const QSize normalOuter = outerSize(channel());
    // The frame counts: the stored size is the outer one.
    QVERIFY(normalOuter != client);
    const qint32 widthBefore = lobby().chanW;
    const qint32 heightBefore = lobby().chanH;
    if (state != Qt::WindowNoState) {
        channel().setWindowState(state);
        QTRY_VERIFY_WITH_TIMEOUT(channel().windowState() & state, kWait);
    }
    if (state == Qt::WindowMaximized)
        QTRY_VERIFY_WITH_TIMEOUT(outerSize(channel()) != normalOuter, kWait);

    channel().close();

    QCOMPARE(lobby().chanState, storedState);
    if (sizeKept) {
        QCOMPARE(lobby().chanW, widthBefore);
        QCOMPARE(lobby().chanH, heightBefore);
    } else {
        QCOMPARE(lobby().chanW, pixelsToTwipsX(normalOuter.width()));
        QCOMPARE(lobby().chanH, pixelsToTwipsY(normalOuter.height()));
    }
    QVERIFY(boxes.boxes.isEmpty());
}

void TestLobbyLifecycle::firstRunChannelSize()
{
    TestSession session;
    MessageBoxRecorder boxes;
    QVERIFY(session.openLobby());
    const QSize expected(twipsToPixelsX(10635), twipsToPixelsY(8835));

    // Opening and closing again and again must neither grow nor shrink it.
    for (int round = 0; round < 3; ++round) {
        session.loadChannel(QStringLiteral("#Help"));
        channel().show();
        QVERIFY(QTest::qWaitForWindowExposed(&channel()));
        QTRY_COMPARE_WITH_TIMEOUT(outerSize(channel()), expected, kWait);
        channel().close();
        QCOMPARE(lobby().chanW, 10635);
        QCOMPARE(lobby().chanH, 8835);
        QCOMPARE(lobby().chanState, 0);
    }
    QVERIFY(boxes.boxes.isEmpty());
}

void TestLobbyLifecycle::channelClosesWhenChatIsDead()
{
    TestSession session;
    MessageBoxRecorder boxes;
    QVERIFY(session.openLobby());
    QVERIFY(session.offerChannels({QStringLiteral("#Help")}));
    lobby().whoList->add(QStringLiteral("Heron"), QStringLiteral("Heron"));
    session.loadChannel(QStringLiteral("#Help"));
    channel().show();
    QVERIFY(QTest::qWaitForWindowExposed(&channel()));
    // A socket that died without telling anyone: the farewell cannot go out.
    lobby().irc->close();

    channel().exitBtn->click();

    QVERIFY(!channel().isVisible());
    QVERIFY(lobby().isVisible());
    QCOMPARE(lobby().channels->count(), 0);
    QCOMPARE(lobby().whoList->count(), 0);
    QVERIFY(!lobby().refreshChanButton->isEnabled());
    QVERIFY(boxes.boxes.isEmpty());
}

void TestLobbyLifecycle::neverShownChannelStoresWhatItRead_data()
{
    QTest::addColumn<qint16>("filter");
    QTest::addColumn<qint16>("notify");
    QTest::addColumn<qint32>("chX");
    QTest::addColumn<qint32>("chY");
    QTest::addColumn<qint32>("chS");
    QTest::newRow("both off, defaults") << qint16(0) << qint16(0) << 10635 << 8835 << 0;
    QTest::newRow("both on, small window") << qint16(1) << qint16(1) << 9000 << 7200 << 0;
    QTest::newRow("filter on, maximised") << qint16(1) << qint16(0) << 12000 << 9000 << 2;
    QTest::newRow("notify on") << qint16(0) << qint16(1) << 10635 << 8835 << 0;
}

void TestLobbyLifecycle::neverShownChannelStoresWhatItRead()
{
    QFETCH(qint16, filter);
    QFETCH(qint16, notify);
    QFETCH(qint32, chX);
    QFETCH(qint32, chY);
    QFETCH(qint32, chS);
    TestSession session;
    MessageBoxRecorder boxes;
    login().ensureLoaded();
    login().setFilterValue(filter);
    login().setNotifyValue(notify);
    login().setchX(chX);
    login().setchY(chY);
    login().setchS(chS);
    QVERIFY(session.openLobby());
    // What a private message does: the window is loaded, never shown, and
    // names no channel.
    channel().ensureLoaded();
    const QByteArray last = finalLine();
    SendRecorder sends(QStringLiteral("irc"));

    lobby().unload();

    QVERIFY(!channel().isLoaded());
    QCOMPARE(login().getFilterValue(), filter);
    QCOMPARE(login().getNotifyValue(), notify);
    QCOMPARE(login().getchX(), chX);
    QCOMPARE(login().getchY(), chY);
    QCOMPARE(login().getchS(), chS);
    QCOMPARE(sends.sends, QList<QByteArray>{last});
    QVERIFY(boxes.boxes.isEmpty());
}

// ------------------------------------------------------- connection loss

void TestLobbyLifecycle::connectionLost_data()
{
    QTest::addColumn<bool>("inChannel");
    QTest::newRow("lobby shown") << false;
    QTest::newRow("channel window shown") << true;
}

void TestLobbyLifecycle::connectionLost()
{
    QFETCH(bool, inChannel);
    TestSession session;
    MessageBoxRecorder boxes;
    QVERIFY(session.openLobby());
    lobby().chanW = 12345;
    lobby().chanH = 6780;
    qint32 expectedW = 12345;
    qint32 expectedH = 6780;
    if (inChannel) {
        session.loadChannel(QStringLiteral("#Help"));
        channel().show();
        QVERIFY(QTest::qWaitForWindowExposed(&channel()));
        // The channel window's closing sequence stores its size first.
        expectedW = pixelsToTwipsX(outerSize(channel()).width());
        expectedH = pixelsToTwipsY(outerSize(channel()).height());
    }
    const QString title = unscrambled(scrambled::kChatLostTitle);
    // The lobby on its way out does not flash up again.
    const ShowCounter lobbyShows(&lobby());

    session.closeChat();

    QTRY_COMPARE_WITH_TIMEOUT(boxes.boxes.size(), 1, kWait);
    QCOMPARE(boxes.boxes.first().title, title);
    QCOMPARE(boxes.boxes.first().icon, MessageIcon::Exclamation);
    QVERIFY(!lobby().isVisible());
    QVERIFY(!lobby().isLoaded());
    QVERIFY(!channel().isVisible());
    QVERIFY(!channel().isLoaded());
    QVERIFY(login().isVisible());
    QVERIFY(login().Command1->isVisible());
    QCOMPARE(login().getchX(), expectedW);
    QCOMPARE(login().getchY(), expectedH);
    QCOMPARE(boxes.boxes.size(), 1);
    QCOMPARE(lobbyShows.shows, 0);
}

void TestLobbyLifecycle::chatServerRefuses()
{
    TestSession session;
    MessageBoxRecorder boxes;
    session.pointChatAt(refusingPort());
    session.showLogin();
    showConnectingLook();

    lobby().ircConnect(QStringLiteral("Pilot42"), 7);

    QTRY_COMPARE_WITH_TIMEOUT(boxes.boxes.size(), 1, kWait);
    QCOMPARE(boxes.boxes.first().title, unscrambled(scrambled::kChatUnreachableTitle));
    QCOMPARE(boxes.boxes.first().icon, MessageIcon::Exclamation);
    QVERIFY(!lobby().isLoaded());
    QVERIFY(!lobby().isVisible());
    QVERIFY(login().isVisible());
    QVERIFY(login().Command1->isVisible());
    QVERIFY(login().userTxt->isVisible());
    QVERIFY(!login().status->isVisible());
}

void TestLobbyLifecycle::chatConnectTimesOut()
{
    TestSession session;
    MessageBoxRecorder boxes;
    SaturatedPort silent;
    QVERIFY(silent.fill());
    session.pointChatAt(silent.port());
    session.showLogin();
    showConnectingLook();
    lobby().setChatConnectTimeout(200);

    lobby().ircConnect(QStringLiteral("Pilot42"), 7);

    QTRY_COMPARE_WITH_TIMEOUT(boxes.boxes.size(), 1, kWait);
    QCOMPARE(boxes.boxes.first().title, unscrambled(scrambled::kChatUnreachableTitle));
    QCOMPARE(boxes.boxes.first().icon, MessageIcon::Exclamation);
    QVERIFY(!lobby().isLoaded());
    QVERIFY(!lobby().isVisible());
    QVERIFY(login().isVisible());
    QVERIFY(login().Command1->isVisible());
    QVERIFY(!login().status->isVisible());
}

void TestLobbyLifecycle::logOffIsNotALostConnection_data()
{
    QTest::addColumn<LobbyExit>("how");
    QTest::addColumn<bool>("serverHangsUpFirst");
    QTest::newRow("log-off") << LobbyExit::LogOffButton << false;
    QTest::newRow("close box") << LobbyExit::CloseBox << false;
    // The server's close is already on its way while the session ends.
    QTest::newRow("log-off as the server hangs up") << LobbyExit::LogOffButton << true;
    QTest::newRow("close box as the server hangs up") << LobbyExit::CloseBox << true;
}

void TestLobbyLifecycle::logOffIsNotALostConnection()
{
    QFETCH(LobbyExit, how);
    QFETCH(bool, serverHangsUpFirst);
    TestSession session;
    MessageBoxRecorder boxes;
    QVERIFY(session.openLobby());

    if (serverHangsUpFirst)
        session.closeChat();
    leaveLobby(how);

    QTRY_VERIFY_WITH_TIMEOUT(session.chatClosedByClient(), kWait);
    if (!serverHangsUpFirst)
        session.closeChat();
    QTRY_COMPARE_WITH_TIMEOUT(session.chatConnection()->state(), QAbstractSocket::UnconnectedState, kWait);
    QVERIFY(!lobby().isLoaded());
    QVERIFY(login().isVisible());
    QVERIFY(boxes.boxes.isEmpty());
}

// ------------------------------------- requests outliving their session

void TestLobbyLifecycle::unloadWhileSchemeRequestPending_data()
{
    QTest::addColumn<bool>("answerBeforeUnload");
    QTest::newRow("answer after the unload") << false;
    // The answer is already on its way when the session ends.
    QTest::newRow("answer during the unload") << true;
}

void TestLobbyLifecycle::unloadWhileSchemeRequestPending()
{
    QFETCH(bool, answerBeforeUnload);
    TestSession session;
    MessageBoxRecorder boxes;
    QVERIFY(session.openLobby());
    QVERIFY(session.offerChannels({QStringLiteral("#Help")}));
    lobby().channels->selectRow(0);
    emit lobby().channels->itemDoubleClicked();
    QTRY_VERIFY_WITH_TIMEOUT(session.gateway.received(0).contains("RequestChannelScheme.asp?Channel=Help"), kWait);
    const QByteArray join = channelEntry(QStringLiteral("#Help"));
    const QByteArray answer("HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n<SCHEME>\r\n");

    if (answerBeforeUnload) {
        session.answer(0, answer);
    }
    lobby().unload();
    if (!answerBeforeUnload) {
        QTRY_VERIFY_WITH_TIMEOUT(session.gateway.closedByClient(0), kWait);
        session.answer(0, answer);
    }

    QTRY_COMPARE_WITH_TIMEOUT(session.gateway.connection(0)->state(), QAbstractSocket::UnconnectedState, kWait);
    QTRY_VERIFY_WITH_TIMEOUT(session.chatClosedByClient(), kWait);
    QVERIFY(!lobby().isLoaded());
    QVERIFY(!lobby().isVisible());
    QVERIFY(!channel().isLoaded());
    QVERIFY(!channel().isVisible());
    QVERIFY2(!session.wire().contains(join), session.wire().constData());
    QVERIFY(boxes.boxes.isEmpty());
}

void TestLobbyLifecycle::unloadWhileGameListPending()
{
    TestSession session;
    MessageBoxRecorder boxes;
    QVERIFY(session.openLobby());
    channel().ensureLoaded();
    channel().Label2->setText(QStringLiteral("#Help"));
    lobby().gamesTimer_Timer();
    QTRY_VERIFY_WITH_TIMEOUT(session.gateway.received(0).contains("GameList.asp?Channel=Help"), kWait);

    lobby().unload();
    QTRY_VERIFY_WITH_TIMEOUT(session.gateway.closedByClient(0), kWait);
    session.answer(0, QByteArrayLiteral("HTTP/1.0 200 OK\r\n\r\n<GAMELISTSTART>\n"
                                        "2001 Learn_The_Basics Guide Marshfield 1 4 0<BR>\n<GAMELISTEND>\n"));

    QTRY_COMPARE_WITH_TIMEOUT(session.gateway.connection(0)->state(), QAbstractSocket::UnconnectedState, kWait);
    QVERIFY(!lobby().isLoaded());
    QVERIFY(!channel().isLoaded());
    QVERIFY(!channel().isVisible());
    QCOMPARE(channel().games->count(), 0);
    QVERIFY(boxes.boxes.isEmpty());
}

void TestLobbyLifecycle::tickWhileChatClosedSendsNothing_data()
{
    QTest::addColumn<QString>("tick");
    QTest::newRow("listTimer") << QStringLiteral("listTimer");
    QTest::newRow("whoTimerX") << QStringLiteral("whoTimerX");
    QTest::newRow("refresh button") << QStringLiteral("refresh");
}

void TestLobbyLifecycle::tickWhileChatClosedSendsNothing()
{
    QFETCH(QString, tick);
    TestSession session;
    MessageBoxRecorder boxes;
    QVERIFY(session.openLobby());
    lobby().irc->close();
    SendRecorder sends(QStringLiteral("irc"));

    if (tick == QLatin1String("listTimer"))
        lobby().listTimer_Timer();
    else if (tick == QLatin1String("whoTimerX"))
        lobby().whoTimerX_Timer();
    else
        lobby().refreshChanButton->click();

    QVERIFY2(sends.sends.isEmpty(), sends.joined().constData());
    QVERIFY(boxes.boxes.isEmpty());
}

// Every 7 and 15 seconds both lists are asked for again: what the user had
// selected, and where the list was scrolled to, stay.
void TestLobbyLifecycle::refreshKeepsSelectionAndScroll()
{
    TestSession session;
    QVERIFY(session.openLobby());
    session.quietTimers();
    const auto refreshChannels = [&](const QByteArray& without) {
        QByteArray reply = serverReply("321", "Channel :Users  Name");
        for (int i = 0; i < 60; ++i) {
            const QByteArray name = "#Room" + QByteArray::number(i);
            if (name != without)
                reply += listEntry(name, "3", "05 A room");
        }
        session.send(reply + serverReply("323", ":End of LIST"));
        return session.sync();
    };
    const auto refreshUsers = [&] {
        QByteArray reply;
        for (int i = 0; i < 60; ++i)
            reply += whoEntry("*", "Player" + QByteArray::number(i), "3");
        session.send(reply + endOfWho());
        return session.sync();
    };
    QVERIFY(refreshChannels({}));
    QVERIFY(refreshUsers());
    lobby().channels->selectKey(QStringLiteral("#Room40"));
    lobby().channels->scrollTo(lobby().channels->model()->index(40, 0));
    lobby().whoList->selectKey(QStringLiteral("Player50"));
    lobby().whoList->scrollToBottom();
    const QPoint channelsAt = lobby().channels->scrollPosition();
    const QPoint usersAt = lobby().whoList->scrollPosition();
    QVERIFY(channelsAt.y() > 0 && usersAt.y() > 0);

    for (int refresh = 0; refresh < 2; ++refresh) {
        QVERIFY(refreshChannels({}));
        QVERIFY(refreshUsers());
        QCOMPARE(lobby().channels->selectedKey(), QStringLiteral("#Room40"));
        QCOMPARE(lobby().channels->scrollPosition(), channelsAt);
        QCOMPARE(lobby().whoList->selectedKey(), QStringLiteral("Player50"));
        QCOMPARE(lobby().whoList->scrollPosition(), usersAt);
    }
    // A channel that has gone is no longer selected.
    QVERIFY(refreshChannels("#Room40"));
    QCOMPARE(lobby().channels->selectedKey(), std::nullopt);
}

// A message of a session closes when the session ends; the user is told
// why it ended instead.
void TestLobbyLifecycle::sessionBoxesCloseWithTheSession()
{
    TestSession session;
    QVERIFY(session.enterQuietChannel());
    QStringList seen;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        for (QWidget* window : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(window);
            if (!box || !box->isVisible() || seen.contains(box->windowTitle()))
                continue;
            seen.append(box->windowTitle());
            // The kick's box stays until the connection goes; the box about
            // the lost connection is closed as a user would.
            if (box->windowTitle() == unscrambled(scrambled::kKickedTitle))
                session.closeChat();
            else
                box->done(QMessageBox::Ok);
        }
    });
    watch.start(20);
    session.send(fromChanServ("KICK #Help Pilot42 :spam"));
    QTRY_VERIFY(!lobby().isLoaded() && !seen.isEmpty() && seen.size() == 2);
    QTRY_VERIFY(login().isVisible());
    QCOMPARE(seen, (QStringList{unscrambled(scrambled::kKickedTitle), unscrambled(scrambled::kChatLostTitle)}));
    for (QWidget* window : QApplication::topLevelWidgets())
        QVERIFY2(!qobject_cast<QMessageBox*>(window) || !window->isVisible(), qPrintable(window->windowTitle()));
}

QTEST_MAIN(TestLobbyLifecycle)
#include "test_lobby_lifecycle.moc"
