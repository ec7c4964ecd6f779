#include "app/forms.h"
#include "devgateway.h"
#include "encryption/encryption.h"
#include "encryption/texts.h"
#include "lobby/lobby.h"
#include "login/gateway_http.h"
#include "login/login.h"
#include "platform/controls.h"
#include "platform/listview.h"
#include "platform/service.h"
#include "support/fakes.h"
#include "support/irc_lines_fixture.h"
#include "support/test_session.h"

#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QLockFile>
#include <QSettings>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

namespace {

const QByteArray kWelcome = "HTTP/1.0 200 OK\r\nSet-Cookie: A=1; path=/\r\n\r\n<FONT>Welcome to the FENMOOR Gateway.<BR></FONT>";
const QByteArray kLoginForm = "HTTP/1.0 200 OK\r\nSet-Cookie: B=2\r\n\r\n<FORM><SHOWLOGIN></FORM>";
const QByteArray kAccepted = "HTTP/1.0 200 OK\r\n\r\n<CONNECT 127.0.0.1>";
const QByteArray kRefused = "HTTP/1.0 200 OK\r\n\r\nYour username is invalid";

QVariant stored(const QString& key)
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Tavimere1.3")).value(key);
}

void store(const QString& key, const QString& value)
{
    QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Tavimere1.3")).setValue(key, value);
}

// A gateway that answers its n-th connection with replies[n] once the
// request is complete, then hangs up.
void script(FakeServer& gateway, const QList<QByteArray>& replies)
{
    gateway.onReceived = [&gateway, replies](int index) {
        if (index < replies.size() && gateway.received(index).endsWith("\r\n\r\n")) {
            gateway.send(index, replies[index]);
            gateway.closeConnection(index);
        }
    };
}

bool idle()
{
    return login().Command1->isVisible() && login().userTxt->isVisible() && !login().status->isVisible();
}

} // namespace

class TestLogin : public QObject {
    Q_OBJECT
private slots:
    void firstRunShowsDefaults();
    void closingSavesUnusedNameAndFlag_data();
    void closingSavesUnusedNameAndFlag();
    void unreadableStoredValuesGiveDefaults_data();
    void unreadableStoredValuesGiveDefaults();
    void registrationSendsExactBytes_data();
    void registrationSendsExactBytes();
    void firstRepliesFillTheLobby();
    void loginWalksTheGatewayAndHandsOver();
    void refusedNameReturnsToIdle();
    void checksStopTheClick_data();
    void checksStopTheClick();
    void bannedWordsAreMaskedThenRefused();
    void previousInstanceIsRefused();
    void onlyALiveHolderIsAnotherCopy();
    void markerSplitAcrossReadsIsFound();
    void gatewayFailuresEndTheExchange_data();
    void gatewayFailuresEndTheExchange();
    void endlessAnswerIsCutOff();
    void secondLoginStartsFromTheWelcomePage();
    void loginAgainstTheDevelopmentGateway();
};

void TestLogin::firstRunShowsDefaults()
{
    TestSession session;
    login().ensureLoaded();
    QCOMPARE(login().userTxt->text(), QStringLiteral("Username"));
    QCOMPARE(login().flagBox->count(), 51);
    QCOMPARE(login().flagBox->selectedIndex(), 1);
    QCOMPARE(login().getFilterValue(), qint16(1));
    QCOMPARE(login().getNotifyValue(), qint16(1));
    QCOMPARE(login().getchX(), 10635);
    QCOMPARE(login().getchY(), 8835);
    QCOMPARE(login().getchS(), 0);
    QCOMPARE(login().userTxt->maxLength(), 15);
    // The idle look, before the window is on screen.
    QVERIFY(login().Command1->isVisibleTo(&login()) && login().userTxt->isVisibleTo(&login())
            && !login().status->isVisibleTo(&login()));
}

void TestLogin::closingSavesUnusedNameAndFlag_data()
{
    QTest::addColumn<bool>("closeBox");
    QTest::newRow("Exit button") << false;
    QTest::newRow("close box") << true;
}

void TestLogin::closingSavesUnusedNameAndFlag()
{
    QFETCH(bool, closeBox);
    TestSession session;
    session.showLogin();
    QSignalSpy ended(&login(), &Login::programEnded);
    login().userTxt->setText(QStringLiteral("Marlow"));
    login().flagBox->setSelectedIndex(12);
    if (closeBox)
        login().close();
    else
        login().Command3->click();
    QCOMPARE(ended.count(), 1);
    QCOMPARE(stored("Username").toString(), QStringLiteral("Marlow"));
    QCOMPARE(stored("Flag").toString(), QStringLiteral("12"));
    QCOMPARE(stored("ProfanityFilter").toString(), QStringLiteral("1"));
    QCOMPARE(stored("UserNotify").toString(), QStringLiteral("1"));
    // No channel window was ever opened: its stored size stays as it was.
    QCOMPARE(stored("ChannelX").toString(), QStringLiteral("10635"));
    QCOMPARE(stored("ChannelY").toString(), QStringLiteral("8835"));
    QCOMPARE(stored("ChannelS").toString(), QStringLiteral("0"));
}

void TestLogin::unreadableStoredValuesGiveDefaults_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::newRow("flag not a number") << "Flag" << "abc";
    QTest::newRow("flag zero") << "Flag" << "0";
    QTest::newRow("flag past the pictures") << "Flag" << "52";
    QTest::newRow("flag beyond 16 bits") << "Flag" << "70000";
    QTest::newRow("filter not a number") << "ProfanityFilter" << "yes";
    QTest::newRow("width with junk") << "ChannelX" << "12x";
    QTest::newRow("height beyond 32 bits") << "ChannelY" << "99999999999";
}

void TestLogin::unreadableStoredValuesGiveDefaults()
{
    QFETCH(QString, key);
    QFETCH(QString, value);
    TestSession session;
    store(key, value);
    store(QStringLiteral("Username"), QStringLiteral("Quinn"));
    login().ensureLoaded();
    QCOMPARE(login().userTxt->text(), QStringLiteral("Quinn"));
    QCOMPARE(login().flagBox->selectedIndex(), 1);
    QCOMPARE(login().getFilterValue(), qint16(1));
    QCOMPARE(login().getchX(), 10635);
    QCOMPARE(login().getchY(), 8835);
}

void TestLogin::registrationSendsExactBytes_data()
{
    QTest::addColumn<QString>("nick");
    QTest::addColumn<int>("flag");
    QTest::addColumn<QByteArray>("secondSend");
    QTest::newRow("Pilot42 flag 7") << "Pilot42" << 7
                                    << QByteArray("NICK Pilot42 \r\nUSER Username hostname servername :7 0 \r\n");
    QTest::newRow("flag 0, capitals kept") << "ACE" << 0
                                           << QByteArray("NICK ACE \r\nUSER Username hostname servername :0 0 \r\n");
    QTest::newRow("flag 50") << "zed" << 50 << QByteArray("NICK zed \r\nUSER Username hostname servername :50 0 \r\n");
    // A name is text, never a format: "%1" must not pick up the flag.
    QTest::newRow("name holding %1") << "Ace%1" << 0
                                     << QByteArray("NICK Ace%1 \r\nUSER Username hostname servername :0 0 \r\n");
    QTest::newRow("name holding %2") << "B%2%1" << 12
                                     << QByteArray("NICK B%2%1 \r\nUSER Username hostname servername :12 0 \r\n");
}

void TestLogin::registrationSendsExactBytes()
{
    QFETCH(QString, nick);
    QFETCH(int, flag);
    QFETCH(QByteArray, secondSend);
    TestSession session;
    SendRecorder sends(QStringLiteral("irc"));
    session.showLogin();
    lobby().ircConnect(nick, static_cast<quint8>(flag));
    QVERIFY(!lobby().isVisible());
    QTRY_VERIFY(session.chat.received(0).endsWith("who\r\n"));
    QCOMPARE(session.chat.received(0), "PASS MORBADENTILQ \r\n" + secondSend + "list\r\nwho\r\n");
    QCOMPARE(sends.sends, (QList<QByteArray>{"PASS MORBADENTILQ \r\n", secondSend, "list\r\n", "who\r\n"}));
    QVERIFY(lobby().isVisible());
    QVERIFY(!login().isVisible());
    QVERIFY(idle() || login().Command1->isVisibleTo(&login()));
    QVERIFY(lobby().listTimer->isActive());
    QVERIFY(lobby().whoTimerX->isActive());
    QCOMPARE(lobby().username, nick);
    // Connecting until the server welcomes the user by name.
    QCOMPARE(lobby().Label4->text(), QStringLiteral("Connecting to the Fenmoor chat server..."));
    session.send(":irc.fenmoor.test 001 " + nick.toUtf8() + " :Welcome\r\n");
    QTRY_COMPARE(lobby().Label4->text(), unscrambled(scrambled::kGreeting) + nick + QLatin1Char('.'));
}

void TestLogin::firstRepliesFillTheLobby()
{
    TestSession session;
    FakeServer& chat = session.chat;
    // The server answers the moment the requests arrive, while the client
    // may still be finishing its registration.
    chat.onReceived = [&chat](int index) {
        if (chat.received(index).endsWith("who\r\n"))
            chat.send(index, whoEntry("#Help", "Kite", "12") + endOfWho());
    };
    session.showLogin();
    lobby().ircConnect(QStringLiteral("Pilot42"), 7);
    QTRY_COMPARE(lobby().whoList->count(), 1);
    QCOMPARE(lobby().whoList->text(0), QStringLiteral("Kite"));
    QCOMPARE(lobby().whoList->subItem(0, 1), QStringLiteral("#Help"));
}

void TestLogin::loginWalksTheGatewayAndHandsOver()
{
    TestSession session;
    FakeServer& gateway = session.gateway;
    FakeServer& chat = session.chat;
    script(gateway, {kWelcome, kLoginForm, kAccepted});
    session.showLogin();
    login().userTxt->setText(QStringLiteral("Pilot+42&x"));
    login().flagBox->setSelectedIndex(8);
    login().Command1->click();
    QVERIFY(!login().Command1->isVisibleTo(&login()));
    QVERIFY(login().status->isVisibleTo(&login()));
    QVERIFY(login().Label3->isVisibleTo(&login()));

    QTRY_VERIFY(chat.connectionCount() == 1);
    QCOMPARE(gateway.connectionCount(), 3);
    QCOMPARE(gateway.received(0), QByteArray("GET Http://127.0.0.1:80/glimmerfallweb/welcomeloginform.asp HTTP/1.0\r\n"
                                             "User-Agent: Zx7Client/1.2\r\nPragma: No-Cache\r\n"
                                             "UserServerIdent: 2\r\n\r\n"));
    QCOMPARE(gateway.received(1), QByteArray("GET Http://127.0.0.1:80/glimmerfallweb/LoginForm.asp HTTP/1.0\r\n"
                                             "User-Agent: Zx7Client/1.2\r\nPragma: No-Cache\r\n"
                                             "Cookie: A=1; path=/\r\nUserServerIdent: 2\r\n\r\n"));
    QCOMPARE(gateway.received(2),
             QByteArray("GET Http://127.0.0.1:80/glimmerfallweb/Login.asp?UserName=Pilot+42&x&Password=&IPAddress=127.0.0.1"
                        " HTTP/1.0\r\nUser-Agent: Zx7Client/1.2\r\nPragma: No-Cache\r\n"
                        "Cookie: A=1; path=/; B=2\r\nUserServerIdent: 2\r\n\r\n"));
    QCOMPARE(login().Label5->text(), QStringLiteral("Login Verified: Switching to IRC"));
    QCOMPARE(login().status->value(), 100);
    QTRY_VERIFY(chat.received(0).contains("USER Username hostname servername :7 0 \r\n"));
    QVERIFY(chat.received(0).contains("NICK Pilot+42&x \r\n"));
    QTRY_VERIFY(lobby().isVisible());
}

void TestLogin::refusedNameReturnsToIdle()
{
    TestSession session;
    script(session.gateway, {kWelcome, kLoginForm, kRefused});
    MessageBoxRecorder boxes;
    session.showLogin();
    login().userTxt->setText(QStringLiteral("Taken"));
    login().flagBox->setSelectedIndex(5);
    // Focus moves only in an active window.
    login().activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&login()));
    login().Command1->setFocus();
    login().Command1->click();
    QTRY_COMPARE(boxes.boxes.size(), 1);
    QCOMPARE(boxes.boxes[0].title, unscrambled(scrambled::kRefusedTitle));
    QCOMPARE(boxes.boxes[0].text, unscrambled(scrambled::kRefusedText));
    QCOMPARE(boxes.boxes[0].icon, MessageIcon::Exclamation);
    QVERIFY(idle());
    QCOMPARE(login().userTxt->text(), QStringLiteral("Taken"));
    QCOMPARE(login().flagBox->selectedIndex(), 5);
    QCOMPARE(login().currentLoginStep(), qint16(0));
    QVERIFY(!lobby().isLoaded());
    // Typing goes on in the name box, not in the flag picker.
    QCOMPARE(login().focusWidget(), login().userTxt);
}

void TestLogin::checksStopTheClick_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("stored");
    QTest::addColumn<QString>("title");
    QTest::addColumn<bool>("information");
    QTest::newRow("begins with a digit") << "7seas" << false << unscrambled(scrambled::kDigitNameTitle) << true;
    QTest::newRow("contains a star") << "a*b" << false << unscrambled(scrambled::kStarNameTitle) << false;
    QTest::newRow("not single-byte text") << QStringLiteral("\u03a9mega") << false
                                          << unscrambled(scrambled::kUnencodableTitle) << false;
    // Refused at once, before any request: nothing could carry them.
    QTest::newRow("typed tab") << "Pil\tot" << false << unscrambled(scrambled::kUnencodableTitle) << false;
    QTest::newRow("typed line break") << "Pil\r\nQUIT :inj" << false << unscrambled(scrambled::kUnencodableTitle)
                                      << false;
    QTest::newRow("stored line break") << "Pil\r\nQUIT :inj" << true << unscrambled(scrambled::kUnencodableTitle)
                                       << false;
    QTest::newRow("stored NUL") << QStringLiteral("Pil") + QChar(0) + "ot" << true
                                << unscrambled(scrambled::kUnencodableTitle) << false;
    // No chat server takes them as a nick.
    QTest::newRow("empty name") << "" << false << unscrambled(scrambled::kUnencodableTitle) << false;
    QTest::newRow("name with a blank") << "Pilot 42" << false << unscrambled(scrambled::kUnencodableTitle) << false;
}

void TestLogin::checksStopTheClick()
{
    QFETCH(QString, name);
    QFETCH(bool, stored);
    QFETCH(QString, title);
    QFETCH(bool, information);
    TestSession session;
    MessageBoxRecorder boxes;
    if (stored)
        store(QStringLiteral("Username"), name);
    session.showLogin();
    if (!stored)
        login().userTxt->setText(name);
    QCOMPARE(login().userTxt->text(), name);
    login().Command1->click();
    QCOMPARE(boxes.boxes.size(), 1);
    QCOMPARE(boxes.boxes[0].title, title);
    QCOMPARE(boxes.boxes[0].icon, information ? MessageIcon::Information : MessageIcon::Exclamation);
    QCOMPARE(login().userTxt->text(), name);
    QVERIFY(idle());
    QTest::qWait(50);
    QCOMPARE(session.gateway.connectionCount(), 0);
}

void TestLogin::bannedWordsAreMaskedThenRefused()
{
    TestSession session;
    MessageBoxRecorder boxes;
    session.showLogin();
    const QString word = unscrambled(scrambled::kBannedWord1).toUpper();
    const QString longWord = unscrambled(scrambled::kBannedWord4);
    login().userTxt->setText(QStringLiteral("a") + word + QStringLiteral("b"));
    login().Command1->click();
    QCOMPARE(login().userTxt->text(), QStringLiteral("a****b"));
    QVERIFY(boxes.boxes.isEmpty());
    login().Command1->click();
    QCOMPARE(boxes.boxes.size(), 1);
    QCOMPARE(boxes.boxes[0].title, unscrambled(scrambled::kStarNameTitle));

    login().userTxt->setText(longWord);
    login().Command1->click();
    QCOMPARE(login().userTxt->text(), QStringLiteral("********"));
    // A digit later in the name is allowed: this one reaches the gateway.
    login().userTxt->setText(QStringLiteral("Ace7"));
    login().Command1->click();
    QTRY_COMPARE(session.gateway.connectionCount(), 1);
}

void TestLogin::previousInstanceIsRefused()
{
    TestSession session;
    MessageBoxRecorder boxes;
    setPreviousInstance(true);
    session.showLogin();
    login().userTxt->setText(QStringLiteral("7seas"));
    login().Command1->click();
    QCOMPARE(boxes.boxes.size(), 1);
    QString expected = QStringLiteral("1\"") + QString::fromLatin1(scrambled::kPreviousInstanceText);
    unscrambleText(expected);
    QCOMPARE(boxes.boxes[0].text, expected);
    QVERIFY(expected.startsWith(QStringLiteral("Another copy")));
    QCOMPARE(boxes.boxes[0].title, unscrambled(scrambled::kPreviousInstanceTitle));
    QCOMPARE(boxes.boxes[0].icon, MessageIcon::Exclamation);
    setPreviousInstance(false);
}

void TestLogin::onlyALiveHolderIsAnotherCopy()
{
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("copy.lock"));
    QLockFile first(path);
    QVERIFY(!heldByAnotherCopy(first));
    QLockFile second(path);
    QVERIFY(heldByAnotherCopy(second));
    first.unlock();
    QVERIFY(!heldByAnotherCopy(second));
    // A folder that cannot hold the lock (here: it does not exist) is not
    // another copy running.
    QLockFile nowhere(folder.filePath(QStringLiteral("missing/copy.lock")));
    QVERIFY(!heldByAnotherCopy(nowhere));
}

void TestLogin::markerSplitAcrossReadsIsFound()
{
    TestSession session;
    FakeServer& gateway = session.gateway;
    const QList<QByteArray> replies{kWelcome, kLoginForm, kAccepted};
    gateway.onReceived = [&gateway, replies](int index) {
        if (!gateway.received(index).endsWith("\r\n\r\n"))
            return;
        const QByteArray& reply = replies[index];
        const int half = static_cast<int>(reply.size()) - 8;
        gateway.send(index, reply.left(half));
        QTimer::singleShot(100, &gateway, [&gateway, index, reply, half] {
            gateway.send(index, reply.mid(half));
            gateway.closeConnection(index);
        });
    };
    session.showLogin();
    login().userTxt->setText(QStringLiteral("Splitter"));
    login().Command1->click();
    QTRY_COMPARE(session.chat.connectionCount(), 1);
    QCOMPARE(login().cookieText, QStringLiteral("Cookie: A=1; path=/; B=2"));
}

void TestLogin::gatewayFailuresEndTheExchange_data()
{
    QTest::addColumn<QString>("failure");
    QTest::addColumn<QString>("why");
    // Each message names what went wrong.
    QTest::newRow("connection refused") << "refused" << unscrambled(scrambled::kGatewayUnreachableText);
    QTest::newRow("never answers") << "silent" << unscrambled(scrambled::kGatewayTimeoutText);
    QTest::newRow("hangs up without a marker") << "hangup" << unscrambled(scrambled::kGatewayUnexpectedText);
}

void TestLogin::gatewayFailuresEndTheExchange()
{
    QFETCH(QString, failure);
    QFETCH(QString, why);
    TestSession session;
    if (failure == QLatin1String("hangup"))
        script(session.gateway, {"HTTP/1.0 500 Oops\r\n\r\nsomething went wrong"});
    if (failure == QLatin1String("refused"))
        session.pointGatewayAt(refusingPort());
    MessageBoxRecorder boxes;
    session.showLogin();
    login().setExchangeTimeout(300);
    login().userTxt->setText(QStringLiteral("Ash"));
    login().Command1->click();
    QTRY_COMPARE(boxes.boxes.size(), 1);
    QCOMPARE(boxes.boxes[0].title, unscrambled(scrambled::kGatewayUnreachableTitle));
    QCOMPARE(boxes.boxes[0].text, why);
    QCOMPARE(boxes.boxes[0].icon, MessageIcon::Exclamation);
    QVERIFY(idle());
    QCOMPARE(login().userTxt->text(), QStringLiteral("Ash"));
    QCOMPARE(login().currentLoginStep(), qint16(0));
    QTest::qWait(400);
    QCOMPARE(boxes.boxes.size(), 1);
}

void TestLogin::endlessAnswerIsCutOff()
{
    // A gateway that answers the first request with a page that never ends.
    TestSession session;
    FakeServer& gateway = session.gateway;
    qint64 sent = 0;
    QTimer pump;
    QObject::connect(&pump, &QTimer::timeout, &pump, [&] {
        QTcpSocket* connection = gateway.connection(0);
        if (!connection || connection->state() != QAbstractSocket::ConnectedState || connection->bytesToWrite() > 0)
            return;
        const QByteArray chunk(64 * 1024, 'x');
        connection->write(chunk);
        sent += chunk.size();
    });
    pump.start(0);
    MessageBoxRecorder boxes;
    session.showLogin();
    // Only the bound can end this exchange within the test.
    login().setExchangeTimeout(120000);
    login().userTxt->setText(QStringLiteral("Ash"));
    const qint64 before = statusKiB("VmRSS");
    login().Command1->click();

    QTRY_COMPARE_WITH_TIMEOUT(boxes.boxes.size(), 1, 60000);
    QCOMPARE(boxes.boxes[0].title, unscrambled(scrambled::kGatewayUnreachableTitle));
    QCOMPARE(boxes.boxes[0].text, unscrambled(scrambled::kGatewayUnexpectedText));
    QVERIFY(idle());
    QVERIFY(sent > gateway::Response::kDefaultLimit);
    // What was kept is the bound, not what was sent; 64 MiB leaves room for
    // everything else this process allocates meanwhile.
    if (kMemoryIsMeasurable) {
        const qint64 growth = statusKiB("VmRSS") - before;
        QVERIFY2(growth < 64 * 1024, qPrintable(QString::number(growth)));
    }
    QTRY_VERIFY(gateway.closedByClient(0));
}

void TestLogin::secondLoginStartsFromTheWelcomePage()
{
    TestSession session;
    FakeServer& gateway = session.gateway;
    script(gateway, {kWelcome, kLoginForm, kRefused, kWelcome, kLoginForm, kRefused});
    MessageBoxRecorder boxes;
    session.showLogin();
    login().Command1->click();
    QTRY_COMPARE(boxes.boxes.size(), 1);
    login().Command1->click();
    QTRY_COMPARE(boxes.boxes.size(), 2);
    QVERIFY(gateway.received(3).startsWith("GET Http://127.0.0.1:80/glimmerfallweb/welcomeloginform.asp HTTP/1.0\r\n"));
    // Cookies are only ever added: the second exchange appends to the first.
    QCOMPARE(login().cookieText, QStringLiteral("Cookie: A=1; path=/; B=2; A=1; path=/; B=2"));
    QVERIFY(gateway.received(4).contains("\r\nCookie: A=1; path=/; B=2; A=1; path=/\r\n"));
}

void TestLogin::loginAgainstTheDevelopmentGateway()
{
    DevGateway dev(DevGatewayConfig{});
    QVERIFY(dev.listen(QHostAddress::LocalHost, 0));
    TestSession session;
    session.pointGatewayAt(dev.port());
    MessageBoxRecorder boxes;
    session.showLogin();
    login().userTxt->setText(QStringLiteral("Wanderer"));
    login().flagBox->setSelectedIndex(3);
    login().Command1->click();
    QTRY_VERIFY(session.chat.received(0).contains("USER Username hostname servername :2 0 \r\n"));
    QVERIFY(login().cookieTemText.startsWith(QStringLiteral("Cookie: FENSESSION=")));
    QVERIFY(boxes.boxes.isEmpty());
}

QTEST_MAIN(TestLogin)
#include "test_login.moc"
