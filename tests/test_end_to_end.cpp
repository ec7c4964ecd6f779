// The real windows against the development service: a real ngircd, the
// development gateway and simulated players, started by
// tools/devservice/start.sh on free ports. The test runs its own X server
// and window manager, so frames, focus and window states are real, and it
// works the program with keyboard and mouse as a user would. It fails when
// ngircd, Xvfb or openbox is missing.
//
// A plain chat connection of the test's own ("Scout") sits in #Lobby beside
// the user and shows what the other members see of the user's lines.
//
// With TAVIMERE_SCREENSHOTS=FOLDER the test also saves pictures of the
// windows there (tools/screenshots.sh).

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
#include "support/fakes.h"
#include "support/irc_lines_fixture.h"
#include "support/xserver.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
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
#include <optional>

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

    bool start(QString* error)
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
            env.insert(QStringLiteral("TAVIMERE_PLAYERS_COUNT"),
                       QString::fromLatin1(lively() ? "12" : kPlayers));
            env.insert(QStringLiteral("TAVIMERE_GAMES_CHURN_MS"), QStringLiteral("0"));
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

// A chat connection of the test's own, registered like the program.
class Observer : public QObject {
public:
    bool connectTo(quint16 port)
    {
        connect(&socket_, &QTcpSocket::readyRead, this, [this] {
            buffer_ += socket_.readAll();
            qsizetype end;
            while ((end = buffer_.indexOf("\r\n")) >= 0) {
                const QString line = QString::fromUtf8(buffer_.left(end));
                buffer_.remove(0, end + 2);
                if (line.startsWith(QLatin1String("PING ")))
                    send(QStringLiteral("PONG ") + line.mid(5));
                lines.append(line);
            }
        });
        socket_.connectToHost(QHostAddress::LocalHost, port);
        if (!socket_.waitForConnected(kWait))
            return false;
        send(QStringLiteral("PASS MORBADENTILQ "));
        send(QStringLiteral("NICK %1 ").arg(kObserver));
        send(QStringLiteral("USER Username hostname servername :%1 0 ").arg(kObserverFlag));
        return waitFor(QStringLiteral(" 001 ")).has_value();
    }

    void send(const QString& line) { socket_.write(line.toUtf8() + "\r\n"); }

    // The first line received since `from` that contains `part`.
    std::optional<QString> waitFor(const QString& part, qsizetype from = 0, int ms = kWait)
    {
        std::optional<QString> found;
        [[maybe_unused]] const bool arrived = QTest::qWaitFor(
            [&] {
                for (qsizetype i = from; i < lines.size() && !found; ++i) {
                    if (lines[i].contains(part))
                        found = lines[i];
                }
                return found.has_value();
            },
            ms);
        return found;
    }

    // Asks for the names in a channel until all of `nicks` are there.
    bool waitForMembers(const QString& channel, const QStringList& nicks)
    {
        return QTest::qWaitFor(
            [&] {
                const qsizetype from = lines.size();
                send(QStringLiteral("NAMES ") + channel);
                if (!waitFor(QStringLiteral(" 366 "), from, 2000))
                    return false;
                QStringList present;
                for (qsizetype i = from; i < lines.size(); ++i) {
                    if (lines[i].contains(QStringLiteral(" 353 ")))
                        present += lines[i].section(QStringLiteral(" :"), 1).split(QLatin1Char(' '));
                }
                for (QString& name : present)
                    name.remove(QLatin1Char('@'));
                return std::all_of(nicks.cbegin(), nicks.cend(),
                                   [&present](const QString& nick) { return present.contains(nick); });
            },
            kWait);
    }

    QStringList lines;

private:
    QTcpSocket socket_;
    QByteArray buffer_;
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
        result << list->text(row) + QLatin1Char('|') + QString::number(list->iconAt(row));
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
    Observer observer_;
    std::optional<Forms> forms_;
    int flagIndex_ = 0;
    QSize channelOuter_;
};

void TestEndToEnd::initTestCase()
{
    QString error;
    QVERIFY2(service_.start(&error), qPrintable(error));
    QVERIFY2(observer_.connectTo(service_.chatPort), qPrintable(service_.log(QStringLiteral("ngircd.log"))));
    observer_.send(QStringLiteral("JOIN ") + kChannel);
    // The players are in the lobby before the user comes.
    QVERIFY2(observer_.waitForMembers(kChannel, kPlayerFlags.keys()),
             qPrintable(service_.log(QStringLiteral("players.log"))));

    useFreshSettings();
    ServiceEndpoint endpoint;
    endpoint.gatewayAddress = QStringLiteral("127.0.0.1");
    endpoint.gatewayPort = service_.gatewayPort;
    endpoint.chatPort = service_.chatPort;
    setService(endpoint);
    forms_.emplace();
    login().ensureLoaded();
    login().show();
    // openbox may leave the first window of a session unfocused, as a
    // desktop does for a program started from a terminal; the user clicks
    // it.
    if (!QTest::qWaitForWindowActive(&login(), 3000))
        login().activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&login(), kWait));
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

    QTRY_VERIFY_WITH_TIMEOUT(lobby().isVisible(), kWait);
    QVERIFY(!login().isVisible());
    QVERIFY(QTest::qWaitForWindowActive(&lobby(), kWait));
    QVERIFY(lobby().Label4->text().contains(kUser));
    QTRY_VERIFY_WITH_TIMEOUT(
        lobby().ircInfo->toPlainText().contains(QStringLiteral("Welcome to Fenmoor (development server).")), kWait);

    // The channels with the icons their topics name, and their descriptions.
    const QHash<QString, std::pair<int, QString>> channels = {
        {"#Lobby", {1, "Main lobby"}}, {"#Help", {6, "Help and questions"}}, {"#Duel", {3, "Duels"}},
        {"#Chat", {4, "Chat"}},        {"#Tournament", {7, "Tournament"}}};
    QTRY_COMPARE_WITH_TIMEOUT(lobby().channels->count(), channels.size(), kWait);
    for (auto it = channels.cbegin(); it != channels.cend(); ++it) {
        const std::optional<int> row = lobby().channels->row(it.key());
        QVERIFY2(row, qPrintable(it.key()));
        QCOMPARE(lobby().channels->iconAt(*row), it->first);
        QCOMPARE(lobby().channels->subItem(*row, 2), it->second);
        bool isCount = false;
        lobby().channels->subItem(*row, 1).toInt(&isCount);
        QVERIFY2(isCount, qPrintable(lobby().channels->subItem(*row, 1)));
    }
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
    QStringList expected;
    for (auto it = kPlayerFlags.cbegin(); it != kPlayerFlags.cend(); ++it)
        expected << it.key() + QLatin1Char('|') + QString::number(it.value() + 1);
    expected << kObserver + QStringLiteral("|%1").arg(kObserverFlag + 1) << kUser + QStringLiteral("|%1").arg(flagIndex_);
    expected.sort();
    QCOMPARE(Channel::kSpecialBadge, kPlayerFlags["Fenmoor"] + 1);
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
                               "{orange}orange{white}, {palered}pink{white} and {#a0a0a0}grey{white} flag at %1")
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

int main(int argc, char** argv)
{
    return runWithXDisplay(argc, argv, [&] {
        applyProgramLook();
        TestEndToEnd test;
        return QTest::qExec(&test, argc, argv);
    });
}

#include "test_end_to_end.moc"
