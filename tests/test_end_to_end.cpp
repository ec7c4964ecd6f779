// The real windows against the development service: a real chat server, the
// development gateway and simulated players, started by
// tools/devservice/start.sh on free ports. The test runs its own X server
// and window manager, so frames, focus and window states are real, and it
// works the program with keyboard and mouse as a user would.
//
// Without arguments it runs the pass against the development lobby (ngircd
// with its flood penalties off). "--chat-server ngircd-stock" and
// "--chat-server inspircd" run the pass against a chat server as a stranger
// would run it: ngircd with its default flood penalties, InspIRCd 3 with its
// own defaults. It fails when the chat server, Xvfb or openbox is missing.
//
// A plain chat connection of the test's own ("Scout") sits beside the user
// and shows what the other members see of the user's lines.
//
// With TAVIMERE_SCREENSHOTS=FOLDER the development pass also saves pictures
// of the windows there (tools/screenshots.sh).

#include "app/forms.h"
#include "app/pictures.h"
#include "channel/channel.h"
#include "channel/channel_layout.h"
#include "encryption/encryption.h"
#include "encryption/texts.h"
#include "lobby/lobby.h"
#include "login/login.h"
#include "platform/controls.h"
#include "platform/form.h"
#include "platform/listview.h"
#include "platform/service.h"
#include "platform/settings.h"
#include "platform/socket.h"
#include "support/fakes.h"
#include "support/irc_lines_fixture.h"
#include "support/irc_peer.h"
#include "support/xserver.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

namespace {

constexpr int kWait = 20000;
const QString kUser = QStringLiteral("Pilot42");
const QString kChannel = QStringLiteral("#Lobby");
// The simulated players the test asks for: Kite, Wren, Fitch and Fenmoor,
// with ChanServ beside them. Their flags are fixed in players.cpp.
const QByteArray kPlayers = "4";
const QHash<QString, int> kPlayerFlags = {
    {"Kite", 12}, {"Wren", 33}, {"Fitch", 7}, {"Fenmoor", 50}, {"ChanServ", 0}};
const QString kObserver = QStringLiteral("Scout");
constexpr int kObserverFlag = 20;

// Pictures are taken in a fuller lobby, with all the simulated players.
bool lively()
{
    return qEnvironmentVariableIsSet("TAVIMERE_SCREENSHOTS");
}

QString logOf(const QString& folder, const QString& name)
{
    QFile file(folder + QLatin1Char('/') + name);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll().right(3000)) : QString();
}

// Two ports on 127.0.0.1 that nothing listens on at the moment.
bool freePorts(quint16& first, quint16& second)
{
    QTcpServer a;
    QTcpServer b;
    if (!a.listen(QHostAddress::LocalHost, 0) || !b.listen(QHostAddress::LocalHost, 0))
        return false;
    first = a.serverPort();
    second = b.serverPort();
    return true;
}

// The development service as tools/run.sh starts it, stopped again when the
// object goes.
class DevService {
public:
    ~DevService() { stop(); }

    // `chatServer` and `players` as start.sh takes them in
    // TAVIMERE_CHAT_SERVER and TAVIMERE_PLAYERS_COUNT.
    bool start(const QString& chatServer, const QString& players, QString* error)
    {
        if (!runDir_.isValid()) {
            *error = QStringLiteral("no run folder");
            return false;
        }
        for (int attempt = 0; attempt < 3; ++attempt) {
            if (!freePorts(gatewayPort, chatPort)) {
                *error = QStringLiteral("no free ports on 127.0.0.1");
                return false;
            }
            QProcess script;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            // A quick lobby: players act every one to four seconds, ChanServ
            // kicks every few seconds; games stay as games.txt lists them.
            env.insert(QStringLiteral("TAVIMERE_PLAYERS_PACE_MS"), QStringLiteral("1000"));
            env.insert(QStringLiteral("TAVIMERE_PLAYERS_COUNT"), players);
            env.insert(QStringLiteral("TAVIMERE_GAMES_CHURN_MS"), QStringLiteral("0"));
            env.insert(QStringLiteral("TAVIMERE_CHAT_SERVER"), chatServer);
            script.setProcessEnvironment(env);
            script.start(QStringLiteral("bash"),
                         {QStringLiteral(TAVIMERE_SOURCE_DIR "/tools/devservice/start.sh"),
                          QStringLiteral(TAVIMERE_BUILD_DIR), runDir_.path(), QString::number(gatewayPort),
                          QString::number(chatPort)});
            if (!script.waitForFinished(60000)) {
                script.kill();
                script.waitForFinished();
                *error = QStringLiteral("start.sh did not finish");
                return false;
            }
            started_ = true;
            const QString out = QString::fromUtf8(script.readAllStandardOutput());
            const QString err = QString::fromUtf8(script.readAllStandardError());
            if (script.exitStatus() == QProcess::NormalExit && script.exitCode() == 0
                && out.trimmed().endsWith(QStringLiteral("TAVIMERE_SERVICE=127.0.0.1:%1:%2").arg(gatewayPort).arg(chatPort)))
                return true;
            *error = QStringLiteral("start.sh failed (%1): %2%3").arg(script.exitCode()).arg(out, err);
            // Another program took a port between the check and the start.
            if (!err.contains(QStringLiteral("already in use")))
                return false;
        }
        return false;
    }

    void stop()
    {
        if (!started_)
            return;
        started_ = false;
        QProcess::execute(QStringLiteral("bash"),
                          {QStringLiteral(TAVIMERE_SOURCE_DIR "/tools/devservice/stop.sh"), runDir_.path()});
    }

    // The last lines of a service log, for failure messages.
    QString log(const QString& name) const { return logOf(runDir_.path(), name); }

    quint16 gatewayPort = 0;
    quint16 chatPort = 0;

private:
    QTemporaryDir runDir_;
    bool started_ = false;
};

// Reads each message box that comes up and closes it with its OK button, as
// the user would.
class BoxCloser : public QObject {
public:
    BoxCloser()
    {
        connect(&timer_, &QTimer::timeout, this, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || !box->isVisible() || !box->button(QMessageBox::Ok))
                return;
            boxes.append({box->windowTitle(), box->text(),
                          box->icon() == QMessageBox::Information ? MessageIcon::Information
                                                                   : MessageIcon::Exclamation});
            QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
        });
        timer_.start(50);
    }
    QList<MessageRecord> boxes;

private:
    QTimer timer_;
};

// Saves a picture of the window with its frame, as it is on the screen.
void snapshot(QWidget& window, const QString& name)
{
    const QString folder = qEnvironmentVariable("TAVIMERE_SCREENSHOTS");
    if (folder.isEmpty())
        return;
    // Let the last lines and icons reach the screen.
    QTest::qWait(500);
    const QRect frame = window.frameGeometry();
    const QPixmap picture = window.screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
    if (!QDir().mkpath(folder) || !picture.save(folder + QLatin1Char('/') + name + QStringLiteral(".png"), "PNG", 0))
        qWarning("could not save the picture %s", qPrintable(name));
}

// Double-clicks an item of a list where it is shown.
bool doubleClickItem(ListView* list, const QString& key)
{
    const std::optional<int> row = list->row(key);
    if (!row)
        return false;
    const QModelIndex index = list->model()->index(*row, 0);
    list->scrollTo(index);
    const QPoint where = list->visualRect(index).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, where);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, where);
    return true;
}

// Replaces the text of a line box by typing, as after selecting all of it.
void typeInto(QLineEdit* box, const QString& text)
{
    QTest::mouseClick(box, Qt::LeftButton);
    QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(box, text);
}

// Types a line into the channel's entry line and sends it with Enter.
void say(const QString& text)
{
    QTest::keyClicks(channel().message, text);
    QTest::keyClick(channel().message, Qt::Key_Return);
}

// Every member of the list, as "nick|icon".
QStringList members(ListView* list)
{
    QStringList result;
    for (int row = 0; row < list->count(); ++row)
        result << list->key(row) + QLatin1Char('|') + QString::number(list->iconAt(row));
    result.sort();
    return result;
}

bool chatHas(const QString& line)
{
    return chatLines().contains(line);
}

bool chatHasStart(const QString& start)
{
    const QStringList lines = chatLines();
    return std::any_of(lines.cbegin(), lines.cend(), [&start](const QString& line) { return line.startsWith(start); });
}

int twipsX(int px)
{
    return pixelsToTwipsX(px);
}

int twipsY(int px)
{
    return pixelsToTwipsY(px);
}

} // namespace

// The lobby's channels, with the icons their topics name and their
// descriptions.
const QHash<QString, std::pair<int, QString>> kChannels = {
    {"#Lobby", {1, "Main lobby"}}, {"#Help", {6, "Help and questions"}}, {"#Duel", {3, "Duels"}},
    {"#Chat", {4, "Chat"}},        {"#Tournament", {7, "Tournament"}}};

void checkChannelsListed()
{
    for (auto it = kChannels.cbegin(); it != kChannels.cend(); ++it) {
        const std::optional<int> row = lobby().channels->row(it.key());
        QVERIFY2(row, qPrintable(it.key()));
        QCOMPARE(lobby().channels->iconAt(*row), it->first);
        QCOMPARE(lobby().channels->subItem(*row, 2), it->second);
        bool isCount = false;
        lobby().channels->subItem(*row, 1).toInt(&isCount);
        QVERIFY2(isCount, qPrintable(lobby().channels->subItem(*row, 1)));
    }
}

// #Lobby's members as "nick|picture", sorted: the players with their flags,
// the staff account with the badge, Scout, and the user with `userIcon`.
QStringList lobbyMembers(int userIcon)
{
    QStringList members;
    for (auto it = kPlayerFlags.cbegin(); it != kPlayerFlags.cend(); ++it) {
        const int icon = it.key() == QLatin1String("Fenmoor") ? Channel::kStaffBadge : it.value() + 1;
        members << it.key() + QLatin1Char('|') + QString::number(icon);
    }
    members << kObserver + QStringLiteral("|%1").arg(kObserverFlag + 1) << kUser + QStringLiteral("|%1").arg(userIcon);
    members.sort();
    return members;
}

// After Login: the lobby in front instead of the login window, the greeting
// once the server has welcomed the user, and the channels listed.
void checkLoggedIn(int wait)
{
    QVERIFY(QTest::qWaitFor([] { return lobby().isVisible(); }, wait));
    QVERIFY(!login().isVisible());
    QVERIFY(QTest::qWaitForWindowActive(&lobby(), wait));
    QTRY_VERIFY_WITH_TIMEOUT(lobby().Label4->text().contains(kUser), wait);
    QTRY_VERIFY_WITH_TIMEOUT(
        lobby().ircInfo->toPlainText().contains(QStringLiteral("Welcome to Fenmoor (development server).")), wait);
    QTRY_COMPARE_WITH_TIMEOUT(lobby().channels->count(), kChannels.size(), wait);
    checkChannelsListed();
}

// Fresh settings and windows pointed at the service, and the login window
// on screen and active.
bool openLogin(const DevService& service, std::optional<Forms>& forms, int wait)
{
    useFreshSettings();
    ServiceEndpoint endpoint;
    endpoint.gatewayAddress = QStringLiteral("127.0.0.1");
    endpoint.gatewayPort = service.gatewayPort;
    endpoint.chatPort = service.chatPort;
    setService(endpoint);
    forms.emplace();
    login().ensureLoaded();
    login().show();
    // openbox may leave the first window of a session unfocused, as a
    // desktop does for a program started from a terminal; the user clicks
    // it.
    if (!QTest::qWaitForWindowActive(&login(), 3000))
        login().activateWindow();
    return QTest::qWaitForWindowActive(&login(), wait);
}

class TestEndToEnd : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void cleanupTestCase();
    void nameHeldByAPlayer();
    void lobbyFromTheServer();
    void enterChannel();
    void chatWithPlayers();
    void privateMessageWhileAway();
    void kickNotice();
    void resizeChannelWindow();
    void exitChannel();
    void logOff();

private:
    DevService service_;
    IrcPeer observer_{kObserver, kObserverFlag};
    std::optional<Forms> forms_;
    int flagIndex_ = 0;
    QSize channelOuter_;
};

void TestEndToEnd::initTestCase()
{
    QString error;
    QVERIFY2(service_.start(QStringLiteral("ngircd"), QString::fromLatin1(lively() ? "12" : kPlayers), &error),
             qPrintable(error));
    QVERIFY2(observer_.connectTo(service_.chatPort), qPrintable(service_.log(QStringLiteral("ngircd.log"))));
    observer_.send(QStringLiteral("JOIN ") + kChannel);
    // The players are in the lobby before the user comes.
    QVERIFY2(observer_.waitForMembers(kChannel, kPlayerFlags.keys()),
             qPrintable(service_.log(QStringLiteral("players.log"))));

    QVERIFY(openLogin(service_, forms_, kWait));
}

// What the user and the players saw, for a failed step.
void TestEndToEnd::cleanup()
{
    if (!QTest::currentTestFailed())
        return;
    qInfo() << "Login step" << login().currentLoginStep() << "login shown" << login().isVisible() << "lobby shown"
            << lobby().isVisible() << "channel shown" << channel().isVisible();
    qInfo().noquote() << "Gateway's log:\n" + service_.log(QStringLiteral("gateway.log"));
    if (channel().isLoaded())
        qInfo().noquote() << "Chat view:\n" + chatLines().join(QLatin1Char('\n'));
    qInfo().noquote() << "Players' log:\n" + service_.log(QStringLiteral("players.log"));
}

void TestEndToEnd::cleanupTestCase()
{
    forms_.reset();
    service_.stop();
}

// One program has one set of windows, so a name in use is one a player
// holds: the gateway lets it through and the chat server refuses it.
void TestEndToEnd::nameHeldByAPlayer()
{
    BoxCloser closer;
    typeInto(login().userTxt, QStringLiteral("Kite"));
    QTest::mouseClick(login().Command1, Qt::LeftButton);

    QTRY_COMPARE_WITH_TIMEOUT(closer.boxes.size(), 1, kWait);
    QCOMPARE(closer.boxes[0].title, QStringLiteral("Error"));
    QCOMPARE(closer.boxes[0].text, QStringLiteral("The username you have selected is already logged on Fenmoor."));
    QCOMPARE(closer.boxes[0].icon, MessageIcon::Information);
    QTRY_VERIFY_WITH_TIMEOUT(login().isVisible() && !lobby().isLoaded(), kWait);
    QVERIFY(login().userTxt->isVisible());
    QVERIFY(login().Command1->isVisible());
    QVERIFY(QTest::qWaitForWindowActive(&login(), kWait));

    // The player still has the name.
    const qsizetype from = observer_.lines.size();
    observer_.send(QStringLiteral("WHOIS Kite"));
    const std::optional<QString> whois = observer_.waitFor(QStringLiteral(" 311 "), from);
    QVERIFY(whois);
    QVERIFY2(whois->endsWith(QStringLiteral(":12 0")), qPrintable(*whois));
}

void TestEndToEnd::lobbyFromTheServer()
{
    typeInto(login().userTxt, kUser);
    // Three flags further down the picker.
    QTest::mouseClick(login().flagBox, Qt::LeftButton);
    QTRY_VERIFY(login().flagBox->view()->isVisible());
    for (int i = 0; i < 3; ++i)
        QTest::keyClick(login().flagBox->view(), Qt::Key_Down);
    QTest::keyClick(login().flagBox->view(), Qt::Key_Return);
    QTRY_VERIFY(!login().flagBox->view()->isVisible());
    flagIndex_ = login().flagBox->selectedIndex();
    QCOMPARE(flagIndex_, 4);
    snapshot(login(), QStringLiteral("login"));
    QTest::mouseClick(login().Command1, Qt::LeftButton);

    checkLoggedIn(kWait);
    if (QTest::currentTestFailed())
        return;
    // Kite, Wren, Fenmoor, ChanServ and Scout never leave #Lobby.
    QTRY_VERIFY_WITH_TIMEOUT(lobby().channels->subItem(*lobby().channels->row(kChannel), 1).toInt() >= 5, kWait);

    // Everyone on the server. ngircd's answer to a "who" without a mask
    // names no channel, so the Channel column stays blank.
    QStringList everyone = kPlayerFlags.keys();
    everyone << kObserver << kUser;
    QTRY_VERIFY_WITH_TIMEOUT(std::all_of(everyone.cbegin(), everyone.cend(),
                                         [](const QString& nick) { return lobby().whoList->contains(nick); }),
                             kWait);
    for (const QString& nick : everyone)
        QCOMPARE(lobby().whoList->subItem(*lobby().whoList->row(nick), 1), QStringLiteral(" "));

    // The server has the flag the user picked.
    const qsizetype from = observer_.lines.size();
    observer_.send(QStringLiteral("WHOIS ") + kUser);
    const std::optional<QString> whois = observer_.waitFor(QStringLiteral(" 311 "), from);
    QVERIFY(whois);
    QCOMPARE(*whois, QStringLiteral(":irc.fenmoor.test 311 %1 %2 ~Username players.fenmoor.test * :%3 0")
                         .arg(kObserver, kUser)
                         .arg(flagIndex_ - 1));
    snapshot(lobby(), QStringLiteral("lobby"));
}

void TestEndToEnd::enterChannel()
{
    QVERIFY(doubleClickItem(lobby().channels, kChannel));
    QTRY_VERIFY_WITH_TIMEOUT(channel().isVisible(), kWait);
    QTRY_VERIFY(!lobby().isVisible());
    QVERIFY(QTest::qWaitForWindowActive(&channel(), kWait));
    QCOMPARE(channel().windowTitle(), kChannel + plainText(scrambled::kCaptionSuffix));
    QCOMPARE(channel().Label2->text(), kChannel);
    QCOMPARE(channel().Label3->text(), kUser);
    QVERIFY(!lobby().refreshChanButton->isEnabled());

    // The members with their flags, from the names reply, WHO and WHOIS;
    // the staff account is a channel operator and wears the badge.
    const QStringList expected = lobbyMembers(flagIndex_);
    if (lively()) {
        const auto allThere = [&expected] {
            const QStringList shown = members(channel().users);
            return std::all_of(expected.cbegin(), expected.cend(),
                               [&shown](const QString& member) { return shown.contains(member); });
        };
        QTRY_VERIFY_WITH_TIMEOUT(allThere(), kWait);
    } else {
        QTRY_COMPARE_WITH_TIMEOUT(members(channel().users), expected, kWait);
    }

    // The games hosted in the channel, with their padlocks.
    const QStringList games = {"Sunday_Skirmish|Wanderer|1", "Quick_Match|Heron|1", "Clan_Practice|Thistle|2"};
    const auto shownGames = [] {
        QStringList rows;
        for (int row = 0; row < channel().games->count(); ++row)
            rows << channel().games->text(row) + QLatin1Char('|') + channel().games->subItem(row, 1) + QLatin1Char('|')
                    + QString::number(channel().games->iconAt(row));
        return rows;
    };
    QTRY_COMPARE_WITH_TIMEOUT(shownGames(), games, kWait);
    QVERIFY(lobby().gamesTimer->isActive());
    QCOMPARE(lobby().gamesTimer->interval(), 20000);

    const std::optional<QString> joined =
        observer_.waitFor(QStringLiteral(":%1!~Username@players.fenmoor.test JOIN :%2").arg(kUser, kChannel));
    QVERIFY(joined);
}

void TestEndToEnd::chatWithPlayers()
{
    // Kite greets newcomers in the channel, with an action in every colour;
    // Wren whispers a welcome.
    QTRY_VERIFY_WITH_TIMEOUT(chatHas(QStringLiteral("{white}Kite> hi %1, welcome to %2").arg(kUser, kChannel)), kWait);
    QTRY_VERIFY_WITH_TIMEOUT(
        chatHas(QStringLiteral("{cyan}Kite waves a {red}red{white}, {yellow}yellow{white}, {cyan}cyan{white}, "
                               "{orange}orange{white}, {palered}pink{white} and {grey}grey{white} flag at %1")
                    .arg(kUser)),
        kWait);
    QTRY_VERIFY_WITH_TIMEOUT(chatHas(QStringLiteral("{yellow}[Wren] Welcome to Fenmoor, %1! Double-click a name in "
                                                    "the member list to whisper to someone.")
                                         .arg(kUser)),
                             kWait);
    // The entry line has the focus once the names have arrived.
    QTRY_VERIFY(channel().message->hasFocus());

    const qsizetype from = observer_.lines.size();
    say(QStringLiteral("hello Kite"));
    QCOMPARE(channel().message->toPlainText(), QStringLiteral("\n"));
    QVERIFY(chatHas(QStringLiteral("{white}%1: hello Kite").arg(kUser)));
    QVERIFY(observer_.waitFor(QStringLiteral(":%1!~Username@players.fenmoor.test PRIVMSG %2 :hello Kite").arg(kUser, kChannel),
                              from));
    QTRY_VERIFY_WITH_TIMEOUT(chatHas(QStringLiteral("{white}Kite> hey %1!").arg(kUser)), kWait);

    say(QStringLiteral("/me \\rwaves\\w back"));
    QVERIFY(chatHas(QStringLiteral("{cyan}%1 {red}waves{white} back").arg(kUser)));
    QVERIFY(observer_.waitFor(QStringLiteral("PRIVMSG %1 :/me \\rwaves\\w back").arg(kChannel), from));
}

void TestEndToEnd::privateMessageWhileAway()
{
    // A double-click on a member starts a whisper to them.
    QVERIFY(doubleClickItem(channel().users, QStringLiteral("Wren")));
    QCOMPARE(channel().message->toPlainText(), plainText(scrambled::kUserListPrefix) + QStringLiteral("Wren "));
    QTRY_VERIFY(channel().message->hasFocus());
    QCOMPARE(channel().message->textCursor().position(), channel().message->toPlainText().size());

    say(QStringLiteral("are you around?"));
    QVERIFY(chatHas(QStringLiteral("{orange}<Wren> are you around?")));
    // Away before Wren answers: the answer gets the away reply.
    say(QStringLiteral("/away gone fishing"));
    QVERIFY(chatHas(QStringLiteral("{palered}Away message set to \"gone fishing\"")));
    QVERIFY(lobby().iAmAway);

    QTRY_VERIFY_WITH_TIMEOUT(chatHasStart(QStringLiteral("{yellow}[Wren] ")) &&
                                 chatLines().filter(QStringLiteral("{yellow}[Wren] ")).size() == 2,
                             kWait);
    QTRY_VERIFY_WITH_TIMEOUT(chatHas(QStringLiteral("{orange}Away message sent to Wren: gone fishing")), kWait);
    const QStringList lines = chatLines();
    const qsizetype answer = lines.lastIndexOf(lines.filter(QStringLiteral("{yellow}[Wren] ")).constLast());
    QVERIFY(answer < lines.indexOf(QStringLiteral("{orange}Away message sent to Wren: gone fishing")));

    // Back from away with the next line.
    say(QStringLiteral("back again"));
    QVERIFY(chatHas(QStringLiteral("{palered}Away message has been cleared.")));
    QVERIFY(!lobby().iAmAway);
}

void TestEndToEnd::kickNotice()
{
    // ChanServ kicks the rowdy player where visitors can see it.
    const QString kicked = QStringLiteral("{palered}Fitch") + plainText(scrambled::kKickNoticeChannel) + kChannel
        + plainText(scrambled::kKickNoticeBy) + QStringLiteral("ChanServ: ");
    QTRY_VERIFY_WITH_TIMEOUT(chatHasStart(kicked), 60000);
    const std::optional<QString> kick =
        observer_.waitFor(QStringLiteral(":ChanServ!~ChanServ@players.fenmoor.test KICK %1 Fitch :").arg(kChannel));
    QVERIFY(kick);
    QVERIFY(chatHas(kicked + kick->section(QStringLiteral(" :"), 1)));
    snapshot(channel(), QStringLiteral("channel"));
}

// The window manager resizes the window, as when the user drags its frame.
void TestEndToEnd::resizeChannelWindow()
{
    const QSize before = channel().size();
    const int chatBefore = channel().chat->width();
    const QSize larger = before + QSize(160, 120);
    channel().resize(larger);
    QTRY_COMPARE_WITH_TIMEOUT(channel().size(), larger, kWait);

    // Every control follows the window.
    const ChannelLayout layout = layoutChannel(larger.width(), larger.height());
    const std::pair<QWidget*, LayoutRect> controls[] = {
        {channel().chat, layout.chat},   {channel().message, layout.message}, {channel().users, layout.users},
        {channel().games, layout.games}, {channel().exitBtn, layout.exitBtn},
    };
    for (const auto& [widget, rect] : controls) {
        const auto placed = [widget = widget, rect = rect] {
            const QRect at = widget->geometry();
            return std::abs(at.left() - rect.left) <= 1 && std::abs(at.top() - rect.top) <= 1
                && std::abs(at.width() - rect.width) <= 1 && std::abs(at.height() - rect.height) <= 1;
        };
        QTRY_VERIFY_WITH_TIMEOUT(placed(), kWait);
        QVERIFY(widget->isVisible());
        QVERIFY(channel().rect().contains(widget->geometry()));
    }
    QVERIFY(channel().chat->width() > chatBefore);
    channelOuter_ = channel().frameGeometry().size();
}

void TestEndToEnd::exitChannel()
{
    const qsizetype from = observer_.lines.size();
    QTest::mouseClick(channel().exitBtn, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(lobby().isVisible(), kWait);
    QVERIFY(!channel().isVisible());
    QVERIFY(QTest::qWaitForWindowActive(&lobby(), kWait));

    // The others read the farewell, then see the user go.
    QVERIFY(observer_.waitFor(QStringLiteral(":%1!~Username@players.fenmoor.test PRIVMSG %2 :#me %1 is returning to the "
                                             "Fenmoor lobby")
                                  .arg(kUser, kChannel),
                              from));
    QVERIFY(observer_.waitFor(QStringLiteral(":%1!~Username@players.fenmoor.test PART %2").arg(kUser, kChannel), from));

    // The lobby's lists come back from the server at once.
    QTRY_COMPARE_WITH_TIMEOUT(lobby().channels->count(), 5, kWait);
    QTRY_VERIFY_WITH_TIMEOUT(lobby().whoList->contains(kUser) && lobby().whoList->contains(QStringLiteral("Kite")), kWait);
    QTRY_VERIFY(lobby().refreshChanButton->isEnabled());
    QVERIFY(lobby().listTimer->isActive());
    QVERIFY(!lobby().gamesTimer->isActive());
    QCOMPARE(lobby().chanW, twipsX(channelOuter_.width()));
    QCOMPARE(lobby().chanH, twipsY(channelOuter_.height()));
    QCOMPARE(lobby().chanState, 0);
}

void TestEndToEnd::logOff()
{
    QTest::mouseClick(lobby().logoff, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(login().isVisible(), kWait);
    QVERIFY(!lobby().isLoaded());
    QVERIFY(QTest::qWaitForWindowActive(&login(), kWait));
    QCOMPARE(login().userTxt->text(), kUser);
    // The server no longer knows the user: a WHOIS ends without the user's
    // entry.
    QVERIFY(QTest::qWaitFor(
        [&] {
            const qsizetype asked = observer_.lines.size();
            observer_.send(QStringLiteral("WHOIS ") + kUser);
            if (!observer_.waitFor(QStringLiteral(" 318 %1 %2 ").arg(kObserver, kUser), asked, 2000))
                return false;
            return !observer_.lines.mid(asked).filter(QStringLiteral(" 311 %1 %2 ").arg(kObserver, kUser)).size();
        },
        kWait));

    // Closing the login window ends the program and keeps the settings.
    QSignalSpy ended(&login(), &Login::programEnded);
    login().close();
    QTRY_COMPARE(ended.count(), 1);
    SettingsStore store;
    QCOMPARE(store.readText(QStringLiteral("Username"), QString()), kUser);
    QCOMPARE(store.readInt16(QStringLiteral("Flag"), 0), flagIndex_);
    QCOMPARE(store.readInt32(QStringLiteral("ChannelX"), 0), twipsX(channelOuter_.width()));
    QCOMPARE(store.readInt32(QStringLiteral("ChannelY"), 0), twipsY(channelOuter_.height()));
    QCOMPARE(store.readInt32(QStringLiteral("ChannelS"), -1), 0);
    QCOMPARE(store.readInt16(QStringLiteral("UserNotify"), -1), 1);
    QCOMPARE(store.readInt16(QStringLiteral("ProfanityFilter"), -1), 1);
}

// ---------------------------------------------------------------------------
// The pass against a chat server as a stranger would run it.

namespace {

struct ChatServer {
    // TAVIMERE_CHAT_SERVER for start.sh, and the name on the command line.
    QString name;
    // Its log in the run folder.
    QString log;
    // The user name in every user's prefix: ngircd marks a user name no ident
    // server vouched for with "~", InspIRCd (without its ident module) does
    // not.
    QString ident;
    // How many of the crowd's connections may wait for the welcome at once:
    // ngircd queues only ten connections, InspIRCd 128 but welcomes new
    // connections once a second.
    int crowdInFlight;
    // The server's reason when a banned user tries to join (474).
    QString banReason;
};

const ChatServer kChatServers[] = {
    {"ngircd-stock", "ngircd.log", "~Username", 8, "Cannot join channel (+b) -- You are banned"},
    {"inspircd", "inspircd-events.log", "Username", 100, "Cannot join channel (you're banned)"},
};

// A channel of a few hundred members: the crowd sits there, with ChanServ,
// the observer (its channel operator) and, for a while, the user.
const QString kCrowdChannel = QStringLiteral("#Tournament");
const QString kCrowdPrefix = QStringLiteral("Crowd");
constexpr int kCrowdSize = 300;
// The observer bans the user from this one.
const QString kBannedChannel = QStringLiteral("#Duel");
// The development service's operator account (ngircd.conf.in, inspircd.conf.in).
const QString kOperAccount = QStringLiteral("Fenmoor");
const QString kOperPassword = QStringLiteral("fenmoor-dev-service");
const QString kKickReason = QStringLiteral("Testing the kick");
// Long enough for anything a sound program and server do at once.
constexpr int kStepWait = 10000;
// The longest a user's own line may take to reach the others.
constexpr qint64 kOwnLineMs = 2000;
// How long the lobby sends nothing of its own before the user enters the
// crowded channel.
constexpr qint64 kQuietLobbyMs = 5000;
// How quickly a user pastes and sends one long line after another.
constexpr int kBetweenPastesMs = 1000;
// The lobby asks for the user list every 15 seconds, and a stock server
// holds a client's requests back for seconds.
constexpr int kListWait = 30000;

// Every line the program hands to its chat connection, and when.
class WireLog {
public:
    struct Sent {
        qint64 at;
        // With its CR LF.
        QByteArray line;
    };

    WireLog()
    {
        clock_.start();
        Socket::setSendObserver([this](const Socket& socket, const QByteArray& bytes) {
            if (socket.name() != QLatin1String("irc"))
                return;
            qsizetype start = 0;
            while (start < bytes.size()) {
                const qsizetype end = bytes.indexOf("\r\n", start);
                const qsizetype next = end < 0 ? bytes.size() : end + 2;
                sent.append({clock_.elapsed(), bytes.mid(start, next - start)});
                start = next;
            }
        });
    }
    ~WireLog() { Socket::setSendObserver({}); }
    WireLog(const WireLog&) = delete;
    WireLog& operator=(const WireLog&) = delete;

    qint64 now() const { return clock_.elapsed(); }

    // Lines sent since `since` whose command (the first word, in any case)
    // is one of `commands`.
    QList<QByteArray> linesOf(const QByteArrayList& commands, qint64 since) const
    {
        QList<QByteArray> found;
        for (const Sent& s : sent) {
            const QByteArray command = s.line.left(s.line.indexOf(' ')).trimmed().toLower();
            if (s.at >= since && commands.contains(command))
                found.append(s.line);
        }
        return found;
    }

    // The longest line sent, in bytes with its CR LF.
    QByteArray longest() const
    {
        QByteArray result;
        for (const Sent& s : sent) {
            if (s.line.size() > result.size())
                result = s.line;
        }
        return result;
    }

    QList<Sent> sent;

private:
    QElapsedTimer clock_;
};

// The lobby's requests, as opposed to what the user typed.
const QByteArrayList kAutomatic = {"who", "whois", "list"};

// What the server answers to the request for everyone online, in the form
// it takes: "who", or "WHO *" where it refuses a bare "who" with 461. Nick
// to the channel the entry names.
QHash<QString, QString> serverUserList(IrcPeer& peer)
{
    QStringList answer = peer.ask(QStringLiteral("who"), {QStringLiteral(" 315 "), QStringLiteral(" 461 ")});
    if (!answer.isEmpty() && answer.constLast().contains(QStringLiteral(" 461 ")))
        answer = peer.ask(QStringLiteral("WHO *"), {QStringLiteral(" 315 ")});
    QHash<QString, QString> users;
    for (const QString& line : std::as_const(answer)) {
        const QStringList fields = line.split(QLatin1Char(' '));
        if (fields.size() > 7 && fields[1] == QLatin1String("352"))
            users.insert(fields[7], fields[3]);
    }
    return users;
}

QSet<QString> listedNicks(ListView* list)
{
    QSet<QString> nicks;
    for (int row = 0; row < list->count(); ++row)
        nicks.insert(list->text(row));
    return nicks;
}

// A line of the entry line's full length in one script, from a sentence
// repeated; it ends on a letter, so no server trims it.
QString fullLine(const QString& sentence)
{
    QString line;
    while (line.size() < Channel::kMessageMaxLength)
        line += sentence;
    line.truncate(Channel::kMessageMaxLength);
    if (line.back().isSpace() || line.back().isPunct())
        line.back() = sentence.front();
    return line;
}

// Two or three bytes a character: each, sent as one message to the crowded
// channel, passes the 512 bytes a server takes.
const QString kLongLines[] = {
    fullLine(QStringLiteral(u"ÀÉÈÊËÎÏÔŒÙÛÜŸÇàéèêëîïôœùûüÿçÆæØøÅåßÑñÕõ ")),
    fullLine(QStringLiteral(u"СъешьЖеЕщёЭтихМягкихФранцузскихБулок ")),
    fullLine(QStringLiteral(u"我能吞下玻璃而不伤身体。天地玄黄，宇宙洪荒。日月盈昃，辰宿列张。")),
};

// Types any text, one key a character as a keyboard layout for its script
// would (QTest::keyClicks takes Latin-1 only).
void typeText(QWidget* widget, const QString& text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const qsizetype length = text[i].isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, text.mid(i, length), Qt::NoModifier);
        i += length - 1;
    }
}

// The controls sit where the layout puts them for a window of `size`.
bool controlsPlaced(const QSize& size)
{
    const ChannelLayout layout = layoutChannel(size.width(), size.height());
    const std::pair<QWidget*, LayoutRect> controls[] = {
        {channel().chat, layout.chat},   {channel().message, layout.message}, {channel().users, layout.users},
        {channel().games, layout.games}, {channel().exitBtn, layout.exitBtn},
    };
    return std::all_of(std::cbegin(controls), std::cend(controls), [](const auto& control) {
        const QRect at = control.first->geometry();
        const LayoutRect& rect = control.second;
        return std::abs(at.left() - rect.left) <= 1 && std::abs(at.top() - rect.top) <= 1
            && std::abs(at.width() - rect.width) <= 1 && std::abs(at.height() - rect.height) <= 1;
    });
}

// Counts the layout passes of a window.
class ResizeCounter : public QObject {
public:
    explicit ResizeCounter(QWidget* window) { window->installEventFilter(this); }
    int count = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Resize)
            ++count;
        return false;
    }
};

// As QTRY_VERIFY_WITH_TIMEOUT and QTRY_COMPARE_WITH_TIMEOUT, without their
// waiting three times as long on a failure to tell how long would have done:
// a pass against a slow server stays within its time when steps fail.
#define WAIT_VERIFY(expr, ms) QVERIFY2(QTest::qWaitFor([&] { return bool(expr); }, ms), #expr)
#define WAIT_COMPARE(actual, expected, ms)                                                                  \
    do {                                                                                                   \
        [[maybe_unused]] const bool settled = QTest::qWaitFor([&] { return (actual) == (expected); }, ms); \
        QCOMPARE(actual, expected);                                                                         \
    } while (false)

// A step that should end in the lobby leaves a channel window the program
// kept open, so that the steps after it still show what they can.
class BackToLobby {
public:
    BackToLobby() = default;
    BackToLobby(const BackToLobby&) = delete;
    BackToLobby& operator=(const BackToLobby&) = delete;
    ~BackToLobby()
    {
        if (!channel().isVisible())
            return;
        QTest::mouseClick(channel().exitBtn, Qt::LeftButton);
        [[maybe_unused]] const bool back = QTest::qWaitFor([] { return lobby().isVisible(); }, 5000);
    }
};

} // namespace

class TestChatServer : public QObject {
    Q_OBJECT

public:
    explicit TestChatServer(const ChatServer& server) : server_(server) {}

private slots:
    void initTestCase();
    void cleanup();
    void cleanupTestCase();
    void logIn();
    void smallChannel();
    void whisperWhileAway();
    void exitChannel();
    void crowdedChannel();
    void resizeDrag();
    void operatorKick();
    void refusedJoin();
    void logOff();

private:
    // The start of every line the server relays from `nick`.
    QString prefixOf(const QString& nick) const
    {
        return QStringLiteral(":%1!%2@players.fenmoor.test").arg(nick, server_.ident);
    }
    // Double-clicks the channel in the lobby; the caller returns when this
    // failed.
    void enter(const QString& name);
    // Types `text` into the entry line and sends it with Enter. Returns how
    // long it took to reach the observer whole in `target` (in as many
    // messages as the program needed), or -1 when what arrived differs;
    // `received` is what arrived.
    qint64 sayAndTime(const QString& text, const QString& target, QString* received);
    bool lobbyInItsCycle() const;

    const ChatServer server_;
    WireLog wire_;
    DevService service_;
    IrcCrowd crowd_;
    IrcPeer observer_{kObserver, kObserverFlag};
    std::optional<BoxCloser> closer_;
    // The boxes the steps so far expected.
    int boxesExpected_ = 0;
    std::optional<Forms> forms_;
    int flagIndex_ = 0;
};

void TestChatServer::initTestCase()
{
    QString error;
    QVERIFY2(service_.start(server_.name, QString::fromLatin1(kPlayers), &error), qPrintable(error));
    QVERIFY2(crowd_.fill(service_.chatPort, kCrowdChannel, kCrowdPrefix, kCrowdSize, server_.crowdInFlight, 60000),
             qPrintable(QStringLiteral("%1 of %2 crowd members connected\n").arg(crowd_.connected()).arg(kCrowdSize)
                        + service_.log(server_.log)));
    QVERIFY2(observer_.connectTo(service_.chatPort), qPrintable(service_.log(server_.log)));
    QVERIFY(observer_.becomeOperator(kOperAccount, kOperPassword));
    const qsizetype from = observer_.lines.size();
    observer_.send(QStringLiteral("JOIN ") + kChannel);
    observer_.send(QStringLiteral("JOIN ") + kCrowdChannel);
    observer_.send(QStringLiteral("MODE %1 +o %2").arg(kCrowdChannel, kObserver));
    QVERIFY(observer_.waitFor(QStringLiteral("MODE %1 +o").arg(kCrowdChannel), from));
    const QStringList bans = observer_.ask(QStringLiteral("MODE %1 +b %2!*@*").arg(kBannedChannel, kUser),
                                           {QStringLiteral(" 482 ")}, 1000);
    QVERIFY2(bans.isEmpty(), qPrintable(bans.join(QLatin1Char('\n'))));
    QVERIFY(observer_.ask(QStringLiteral("MODE %1 b").arg(kBannedChannel), {QStringLiteral(" 368 ")})
                .filter(QStringLiteral(" 367 ")).filter(kUser + QStringLiteral("!*@*")).size() == 1);
    // The players are in the lobby before the user comes.
    QVERIFY2(observer_.waitForMembers(kChannel, kPlayerFlags.keys()),
             qPrintable(service_.log(QStringLiteral("players.log"))));

    closer_.emplace();
    QVERIFY(openLogin(service_, forms_, kStepWait));
}

// What the user and the server saw, for a failed step.
void TestChatServer::cleanup()
{
    if (!QTest::currentTestFailed())
        return;
    qInfo() << "Login shown" << login().isVisible() << "lobby shown" << lobby().isVisible() << "channel shown"
            << channel().isVisible() << "boxes" << closer_->boxes.size() << "expected" << boxesExpected_;
    for (const MessageRecord& box : std::as_const(closer_->boxes))
        qInfo().noquote() << "Box:" << box.title << "|" << box.text;
    if (channel().isLoaded())
        qInfo().noquote() << "Chat view:\n" + chatLines().mid(chatLines().size() - 30).join(QLatin1Char('\n'));
    QByteArray sent;
    for (const WireLog::Sent& line : wire_.sent.mid(wire_.sent.size() - 30))
        sent += QByteArray::number(line.at) + ' ' + line.line.left(120).trimmed() + '\n';
    qInfo().noquote() << "Last lines sent:\n" + QString::fromUtf8(sent);
    qInfo().noquote() << "Chat server's log:\n" + service_.log(server_.log);
    boxesExpected_ = static_cast<int>(closer_->boxes.size());
}

void TestChatServer::cleanupTestCase()
{
    forms_.reset();
    service_.stop();
}

void TestChatServer::enter(const QString& name)
{
    QVERIFY(doubleClickItem(lobby().channels, name));
    WAIT_VERIFY(channel().isVisible(), kStepWait);
    WAIT_VERIFY(!lobby().isVisible(), kStepWait);
    QVERIFY(QTest::qWaitForWindowActive(&channel(), kStepWait));
    QCOMPARE(channel().Label2->text(), name);
    QVERIFY(observer_.waitFor(prefixOf(kUser) + QStringLiteral(" JOIN :") + name));
}

qint64 TestChatServer::sayAndTime(const QString& text, const QString& target, QString* received)
{
    QString copy = text;
    const QString expected = lobby().profaneFilter(copy);
    const QString prefix = prefixOf(kUser) + QStringLiteral(" PRIVMSG ") + target + QStringLiteral(" :");
    const qsizetype from = observer_.lines.size();
    typeText(channel().message, text);
    QElapsedTimer clock;
    clock.start();
    QTest::keyClick(channel().message, Qt::Key_Return);
    qint64 arrived = -1;
    received->clear();
    [[maybe_unused]] const bool ended = QTest::qWaitFor(
        [&] {
            QString whole;
            for (qsizetype i = from; i < observer_.lines.size(); ++i) {
                if (observer_.lines[i].startsWith(prefix))
                    whole += observer_.lines[i].mid(prefix.size());
            }
            *received = whole;
            if (whole.size() < expected.size())
                return false;
            if (whole == expected)
                arrived = clock.elapsed();
            return true;
        },
        kStepWait);
    return arrived;
}

bool TestChatServer::lobbyInItsCycle() const
{
    return lobby().isVisible() && lobby().refreshChanButton->isEnabled() && lobby().listTimer->isActive()
        && !lobby().gamesTimer->isActive();
}

// Login, then the lobby's two lists from the server.
void TestChatServer::logIn()
{
    typeInto(login().userTxt, kUser);
    flagIndex_ = login().flagBox->selectedIndex();
    QTest::mouseClick(login().Command1, Qt::LeftButton);
    checkLoggedIn(kListWait);
    if (QTest::currentTestFailed())
        return;
    WAIT_VERIFY(
        lobby().channels->subItem(*lobby().channels->row(kCrowdChannel), 1).toInt() >= kCrowdSize + 2, kStepWait);

    // The users as the server lists them for whatever form of the request it
    // takes, with the channel it names ("*", none, shows as a blank).
    const QHash<QString, QString> online = serverUserList(observer_);
    QVERIFY(online.contains(kUser));
    const QSet<QString> expected(online.keyBegin(), online.keyEnd());
    WAIT_COMPARE(listedNicks(lobby().whoList), expected, kListWait);
    for (int i = 0; i < crowd_.size(); ++i) {
        const QString nick = crowd_.nick(i);
        if (!online.contains(nick))
            continue;
        const QString channelOf = online[nick] == QLatin1String("*") ? QStringLiteral(" ") : online[nick];
        QCOMPARE(lobby().whoList->subItem(*lobby().whoList->row(nick), 1), channelOf);
    }

    // The server has the flag the user picked.
    const QStringList whois = observer_.ask(QStringLiteral("WHOIS ") + kUser, {QStringLiteral(" 318 ")});
    const QStringList user = whois.filter(QStringLiteral(" 311 "));
    QCOMPARE(user.size(), 1);
    QCOMPARE(user[0].trimmed(), QStringLiteral(":irc.fenmoor.test 311 %1 %2 %3 players.fenmoor.test * :%4 0")
                                    .arg(kObserver, kUser, server_.ident)
                                    .arg(flagIndex_ - 1));
}

// A channel of a few members: their flags, a greeting, chat both ways.
void TestChatServer::smallChannel()
{
    enter(kChannel);
    if (QTest::currentTestFailed())
        return;
    QVERIFY(!lobby().refreshChanButton->isEnabled());
    const QStringList expected = lobbyMembers(flagIndex_);
    // A stock server holds a client's requests back for seconds, and the
    // flags come from them.
    WAIT_COMPARE(members(channel().users), expected, kListWait);

    WAIT_VERIFY(chatHas(QStringLiteral("{white}Kite> hi %1, welcome to %2").arg(kUser, kChannel)), kStepWait);
    WAIT_VERIFY(channel().message->hasFocus(), kStepWait);
    QString received;
    const qint64 ms = sayAndTime(QStringLiteral("hello Kite"), kChannel, &received);
    QVERIFY2(ms >= 0 && ms <= kOwnLineMs, qPrintable(QStringLiteral("%1 ms: %2").arg(ms).arg(received)));
    QVERIFY(chatHas(QStringLiteral("{white}%1: hello Kite").arg(kUser)));
    WAIT_VERIFY(chatHas(QStringLiteral("{white}Kite> hey %1!").arg(kUser)), kStepWait);
}

void TestChatServer::whisperWhileAway()
{
    QVERIFY(doubleClickItem(channel().users, QStringLiteral("Wren")));
    QCOMPARE(channel().message->toPlainText(), plainText(scrambled::kUserListPrefix) + QStringLiteral("Wren "));
    WAIT_VERIFY(channel().message->hasFocus(), kStepWait);
    say(QStringLiteral("are you around?"));
    QVERIFY(chatHas(QStringLiteral("{orange}<Wren> are you around?")));
    say(QStringLiteral("/away gone fishing"));
    QVERIFY(lobby().iAmAway);
    WAIT_VERIFY(chatHas(QStringLiteral("{orange}Away message sent to Wren: gone fishing")), kStepWait);
    const QStringList lines = chatLines();
    const QStringList fromWren = lines.filter(QStringLiteral("{yellow}[Wren] "));
    QVERIFY(!fromWren.isEmpty());
    QVERIFY(lines.lastIndexOf(fromWren.constLast()) < lines.indexOf(QStringLiteral("{orange}Away message sent to Wren: gone fishing")));
    say(QStringLiteral("back again"));
    QVERIFY(chatHas(QStringLiteral("{palered}Away message has been cleared.")));
    QVERIFY(!lobby().iAmAway);
}

void TestChatServer::exitChannel()
{
    const qsizetype from = observer_.lines.size();
    QTest::mouseClick(channel().exitBtn, Qt::LeftButton);
    WAIT_VERIFY(lobby().isVisible(), kStepWait);
    QVERIFY(!channel().isVisible());
    QVERIFY(QTest::qWaitForWindowActive(&lobby(), kStepWait));
    QVERIFY(observer_.waitFor(
        prefixOf(kUser) + QStringLiteral(" PRIVMSG %1 :#me %2 is returning to the Fenmoor lobby").arg(kChannel, kUser), from));
    // ngircd adds an empty reason ("PART #Lobby :"), InspIRCd writes the
    // channel as the last parameter ("PART :#Lobby").
    const QString partPrefix = prefixOf(kUser) + QStringLiteral(" PART ");
    const std::optional<QString> part = observer_.waitFor(partPrefix, from);
    QVERIFY(part);
    QString parted = part->mid(partPrefix.size()).section(QLatin1Char(' '), 0, 0);
    if (parted.startsWith(QLatin1Char(':')))
        parted.remove(0, 1);
    QCOMPARE(parted, kChannel);
    WAIT_VERIFY(lobbyInItsCycle(), kStepWait);
    WAIT_COMPARE(lobby().channels->count(), 5, kStepWait);
    WAIT_VERIFY(lobby().whoList->contains(kUser) && lobby().whoList->contains(kObserver), kListWait);
}

// A channel of a few hundred members. The user speaks as soon as the names
// are in, while the program is still asking for the members' flags: the
// longest lines in three scripts reach the others whole and at once.
void TestChatServer::crowdedChannel()
{
    // Back in the lobby, the user looks at it before entering the next
    // channel. A server that counts commands is still working off the
    // lobby's lists for some seconds after they went out, and holds
    // everything behind them: the user enters once the lobby has been quiet
    // a while.
    const auto quietFor = [this](qint64 ms) {
        const qint64 since = wire_.now() - ms;
        return wire_.linesOf(kAutomatic, since).isEmpty();
    };
    WAIT_VERIFY(quietFor(kQuietLobbyMs), kListWait);
    enter(kCrowdChannel);
    if (QTest::currentTestFailed())
        return;
    WAIT_COMPARE(channel().users->count(), kCrowdSize + 3, kStepWait);
    WAIT_VERIFY(channel().message->hasFocus(), kStepWait);
    const qint64 firstEnter = wire_.now();
    for (const QString& line : kLongLines) {
        // The user pastes one line after the other. Sent all in the same
        // instant, six messages of 450 bytes are more than a server that
        // counts commands lets through at once, whatever the client does.
        if (line != kLongLines[0])
            QTest::qWait(kBetweenPastesMs);
        QString received;
        const qint64 ms = sayAndTime(line, kCrowdChannel, &received);
        QVERIFY2(ms >= 0, qPrintable(QStringLiteral("sent:     %1\nreceived: %2").arg(line, received)));
        qInfo() << "a long line reached the others in" << ms << "ms";
        QVERIFY2(ms <= kOwnLineMs, qPrintable(QStringLiteral("the line took %1 ms").arg(ms)));
    }
    qInfo() << "requests of the program's own sent while the lines went out:"
            << wire_.linesOf(kAutomatic, firstEnter).size();
    QVERIFY2(wire_.longest().size() <= 512, wire_.longest().constData());

    // Every member by the bare nick; flags fill in, and no member ever shows
    // another's.
    for (const QString& nick : {kObserver, QStringLiteral("ChanServ"), kUser})
        QVERIFY2(channel().users->contains(nick), qPrintable(nick));
    for (int i = 0; i < crowd_.size(); ++i)
        QVERIFY2(channel().users->contains(crowd_.nick(i)), qPrintable(crowd_.nick(i)));
    const auto iconOf = [](const QString& nick) {
        const std::optional<int> row = channel().users->row(nick);
        return row ? channel().users->iconAt(*row) : 0;
    };
    WAIT_VERIFY(iconOf(kObserver) == kObserverFlag + 1 && iconOf(kUser) == flagIndex_, kListWait);
    for (int i = 0; i < crowd_.size(); ++i) {
        const int icon = iconOf(crowd_.nick(i));
        QVERIFY2(icon == Channel::kFlagUnknown || icon == IrcCrowd::flagOf(i) + 1,
                 qPrintable(QStringLiteral("%1 shows %2").arg(crowd_.nick(i)).arg(icon)));
    }
}

// Dragging the window's edge for a second: the controls follow, a few game
// list fetches go out at most, and the connection stays quick.
void TestChatServer::resizeDrag()
{
    ResizeCounter passes(&channel());
    const qint64 start = wire_.now();
    QSize size = channel().size();
    for (int step = 0; step < 60; ++step) {
        size += QSize(2, 1);
        channel().resize(size);
        QTest::qWait(16);
    }
    WAIT_COMPARE(channel().size(), size, kStepWait);
    QTest::qWait(1000);
    QVERIFY2(passes.count >= 20, qPrintable(QString::number(passes.count)));
    const QList<QByteArray> whois = wire_.linesOf({"whois"}, start);
    const auto fetches = std::count_if(whois.cbegin(), whois.cend(),
                                       [](const QByteArray& line) { return line.trimmed().endsWith(" *"); });
    QVERIFY2(fetches <= 3, qPrintable(QStringLiteral("%1 game list fetches in %2 layout passes")
                                                 .arg(fetches)
                                                 .arg(passes.count)));
    WAIT_VERIFY(controlsPlaced(size), kStepWait);
    QString received;
    const qint64 ms = sayAndTime(QStringLiteral("still here"), kCrowdChannel, &received);
    QVERIFY2(ms >= 0 && ms <= kOwnLineMs, qPrintable(QStringLiteral("%1 ms: %2").arg(ms).arg(received)));
}

// The channel's operator, an ordinary user, kicks the user: the program says
// who did and why, and goes back to the lobby.
void TestChatServer::operatorKick()
{
    const BackToLobby guard;
    observer_.send(QStringLiteral("KICK %1 %2 :%3").arg(kCrowdChannel, kUser, kKickReason));
    ++boxesExpected_;
    WAIT_COMPARE(closer_->boxes.size(), boxesExpected_, kStepWait);
    const MessageRecord& box = closer_->boxes.constLast();
    QCOMPARE(box.title, plainText(scrambled::kKickedTitle));
    QCOMPARE(box.text, plainText(scrambled::kKickedText) + kObserver + plainText(scrambled::kKickedReason) + kKickReason
                           + QLatin1Char('.'));
    QCOMPARE(box.icon, MessageIcon::Information);
    WAIT_VERIFY(lobby().isVisible() && !channel().isVisible(), kStepWait);
    QVERIFY(QTest::qWaitForWindowActive(&lobby(), kStepWait));
    WAIT_VERIFY(lobbyInItsCycle(), kStepWait);
    WAIT_COMPARE(lobby().channels->count(), 5, kStepWait);
}

// The server refuses the user a channel: the program says why and goes back
// to the lobby, which keeps refreshing its lists.
void TestChatServer::refusedJoin()
{
    const BackToLobby guard;
    const qsizetype from = observer_.lines.size();
    QVERIFY(doubleClickItem(lobby().channels, kBannedChannel));
    ++boxesExpected_;
    WAIT_COMPARE(closer_->boxes.size(), boxesExpected_, kStepWait);
    const MessageRecord& box = closer_->boxes.constLast();
    QVERIFY2(box.text.contains(server_.banReason), qPrintable(box.text));
    QCOMPARE(box.icon, MessageIcon::Information);
    WAIT_VERIFY(lobby().isVisible() && !channel().isVisible(), kStepWait);
    QVERIFY(QTest::qWaitForWindowActive(&lobby(), kStepWait));
    WAIT_VERIFY(lobbyInItsCycle(), kStepWait);
    WAIT_COMPARE(lobby().channels->count(), 5, kStepWait);
    WAIT_VERIFY(lobby().whoList->contains(kUser), kListWait);
    QVERIFY(!observer_.lines.mid(from).filter(prefixOf(kUser) + QStringLiteral(" JOIN")).size());
}

void TestChatServer::logOff()
{
    // The connection held all along: the server still has the user, the
    // program never said it was lost, and sent no line a server would refuse.
    QCOMPARE(observer_.ask(QStringLiteral("WHOIS ") + kUser, {QStringLiteral(" 318 ")})
                 .filter(QStringLiteral(" 311 %1 %2 ").arg(kObserver, kUser))
                 .size(),
             1);
    QCOMPARE(closer_->boxes.size(), boxesExpected_);
    QVERIFY2(wire_.longest().size() <= 512, wire_.longest().constData());

    QTest::mouseClick(lobby().logoff, Qt::LeftButton);
    WAIT_VERIFY(login().isVisible(), kStepWait);
    QVERIFY(!lobby().isLoaded());
    QVERIFY(QTest::qWaitFor(
        [&] {
            const QStringList answer = observer_.ask(QStringLiteral("WHOIS ") + kUser, {QStringLiteral(" 318 ")}, 2000);
            return !answer.isEmpty() && answer.filter(QStringLiteral(" 311 %1 %2 ").arg(kObserver, kUser)).isEmpty();
        },
        kStepWait));
}

int main(int argc, char** argv)
{
    // "--chat-server NAME" picks the pass against that chat server; the
    // rest of the command line is QtTest's.
    std::vector<char*> args(argv, argv + argc);
    const ChatServer* server = nullptr;
    for (auto it = args.begin() + 1; it != args.end(); ++it) {
        if (std::strcmp(*it, "--chat-server") != 0)
            continue;
        const auto name = it + 1;
        for (const ChatServer& known : kChatServers) {
            if (name != args.end() && known.name == QLatin1String(*name))
                server = &known;
        }
        if (!server) {
            std::fprintf(stderr, "FAIL: --chat-server takes ngircd-stock or inspircd\n");
            return 1;
        }
        args.erase(it, name + 1);
        break;
    }
    int count = static_cast<int>(args.size());
    return runWithXDisplay(count, args.data(), [&] {
        applyProgramLook();
        if (server) {
            TestChatServer test(*server);
            return QTest::qExec(&test, count, args.data());
        }
        TestEndToEnd test;
        return QTest::qExec(&test, count, args.data());
    });
}

#include "test_end_to_end.moc"
