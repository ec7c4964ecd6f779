// Simulated players for the development chat server. Each bot registers the
// way the Tavimere client does and sits in one or two lobby channels, chats,
// acts ("/me" lines in every colour) and now and then leaves and comes back,
// so the lobby looks lived in. A few have a part to play, so that every
// screen of the client shows up:
//   Kite    greets newcomers in his channels and answers lines naming him;
//   Wren    whispers a welcome to each newcomer and answers whispers;
//   Fitch   shouts, and ChanServ kicks him now and then;
//   Fenmoor the staff account, channel operator ("@Fenmoor" in the names);
//   ChanServ the channel service: an IRC operator sitting in every channel.

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QRandomGenerator>
#include <QSet>
#include <QSocketNotifier>
#include <QTcpSocket>
#include <QTextStream>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

struct Settings {
    QHostAddress host;
    quint16 port = 16667;
    int paceMs = 10000;
    QString operPassword;
};

enum class Role { Regular, Host, Greeter, Rowdy, Staff, ChanServ };

struct Member {
    QString nick;
    int flag;
    QStringList channels;
    Role role;
};

const QStringList channelNames = QStringLiteral("#Lobby #Help #Duel #Chat #Tournament").split(' ');

QStringList list(const char* text)
{
    return QString::fromLatin1(text).split(' ');
}

// Fixed, so that the names, flags and channels the lobby shows are always the
// same; --count takes the first ones.
const QList<Member> roster = {
    {"Kite", 12, list("#Lobby #Duel"), Role::Host},
    {"Wren", 33, list("#Lobby #Help"), Role::Greeter},
    {"Fitch", 7, list("#Lobby #Chat"), Role::Rowdy},
    {"Fenmoor", 50, list("#Lobby #Help"), Role::Staff},
    {"Ash", 3, list("#Duel #Tournament"), Role::Regular},
    {"Marlow", 18, list("#Help"), Role::Regular},
    {"Pell", 25, list("#Chat #Lobby"), Role::Regular},
    {"Quinn", 41, list("#Tournament"), Role::Regular},
    {"Rook", 9, list("#Duel"), Role::Regular},
    {"Tamsin", 29, list("#Chat #Help"), Role::Regular},
    {"Brack", 0, list("#Lobby"), Role::Regular},
    {"Isolde", 46, list("#Tournament #Chat"), Role::Regular},
};
const Member chanServ{"ChanServ", 0, channelNames, Role::ChanServ};

// Backslash plus a letter switches colour in the client: r red, y yellow,
// w white, b cyan, B orange, g pink, n grey. A line that starts with /me is
// shown as an action.
const QStringList smallTalk = QStringLiteral(
    "anyone up for a quick game?|gg everyone|brb, tea|that last round was brutal|who's hosting tonight?|"
    "lag is bad today|ready when you are|the marsh map is my favourite|hi all|"
    "does anyone know the new patch notes?|three wins in a row!|need one more for a team game").split('|');
const QStringList actions = QStringLiteral(
    "/me \\rwaves\\w hello|/me stretches|/me \\ycheers\\w|/me is looking for a \\bpartner\\w|/me yawns \\nquietly|"
    "/me \\gsalutes\\w the lobby|/me polishes a \\Bbronze\\w cup|/me \\nsits in the corner\\w and \\rsulks|"
    "/me \\Bhands out\\w \\ytea\\w").split('|');
const QStringList shouts = QStringLiteral(
    "WHO WANTS TO LOSE|\\rCAPS LOCK IS CRUISE CONTROL|/me \\rSTOMPS\\w around|EASY WIN EASY WIN").split('|');
const QStringList announcements = QStringLiteral(
    "/me reminds everyone: the \\yweekend cup\\w starts in \\B#Tournament\\w on Saturday|"
    "Be kind, play fair, and have fun.|/me \\gnotes\\w that new maps are in the game list").split('|');
const QStringList kickReasons = QStringLiteral(
    "Shouting in capitals|Flooding the channel|Mind your language").split('|');
const QStringList whisperAnswers = QStringLiteral(
    "Hello! Ask away, I'm here.|Sure, how can I help?|Hi! The Help channel has more people who know.").split('|');

// Keeps one bot from growing an endless buffer when a peer never sends a line end.
constexpr int maxLineBytes = 4096;
constexpr int reconnectMs = 3000;
// A whisper that comes back this soon after an answer is an automatic reply
// (an away message; nobody types that fast): answering it would start an
// endless exchange.
constexpr qint64 autoReplyWindowMs = 1000;

int randomBetween(int low, int high)
{
    return QRandomGenerator::global()->bounded(low, high + 1);
}

template <typename T>
const T& pick(const QList<T>& items)
{
    return items.at(randomBetween(0, static_cast<int>(items.size()) - 1));
}

bool isRegular(const QString& nick)
{
    return nick == chanServ.nick
        || std::any_of(roster.cbegin(), roster.cend(), [&nick](const Member& m) { return m.nick == nick; });
}

void logLine(const QString& text)
{
    static QTextStream out(stdout);
    out << QDateTime::currentDateTime().toString(QStringLiteral("HH:mm:ss")) << ' ' << text << Qt::endl;
}

class Bot : public QObject {
public:
    Bot(const Settings& settings, const Member& member, QObject* parent)
        : QObject(parent), m_settings(settings), m_member(member), m_nick(member.nick)
    {
        m_act.setSingleShot(true);
        m_reconnect.setSingleShot(true);
        connect(&m_socket, &QTcpSocket::connected, this, &Bot::registerWithServer);
        connect(&m_socket, &QTcpSocket::readyRead, this, &Bot::readLines);
        connect(&m_socket, &QTcpSocket::disconnected, this, &Bot::lostConnection);
        connect(&m_socket, &QTcpSocket::errorOccurred, this, &Bot::lostConnection);
        connect(&m_act, &QTimer::timeout, this, &Bot::act);
        connect(&m_reconnect, &QTimer::timeout, this, &Bot::start);
    }

    void start()
    {
        m_buffer.clear();
        m_joined.clear();
        m_visitors.clear();
        m_rowdyIn.clear();
        m_registered = false;
        m_socket.connectToHost(m_settings.host, m_settings.port);
    }

    void stop()
    {
        m_stopping = true;
        m_act.stop();
        m_reconnect.stop();
        if (m_socket.state() == QAbstractSocket::ConnectedState) {
            send(QStringLiteral("QUIT :Gone home"));
            m_socket.disconnectFromHost();
        } else {
            m_socket.abort();
        }
    }

    bool isDisconnected() const { return m_socket.state() == QAbstractSocket::UnconnectedState; }

private:
    void send(const QString& line) { m_socket.write(line.toLatin1() + "\r\n"); }

    // Reactions come after a human-looking pause, quicker when the whole
    // lobby runs faster.
    int reactionMs() const { return std::clamp(m_settings.paceMs / 5, 300, 2000); }

    void later(int ms, const QString& line)
    {
        QTimer::singleShot(ms, this, [this, line] {
            if (m_socket.state() == QAbstractSocket::ConnectedState)
                send(line);
        });
    }

    void registerWithServer()
    {
        logLine(QStringLiteral("%1 connected, registering with flag %2").arg(m_nick).arg(m_member.flag));
        // Byte for byte what the client sends, trailing spaces included; the
        // channel service registers under its own account so that its lines
        // read "ChanServ!~ChanServ@".
        const QString account = m_member.role == Role::ChanServ ? chanServ.nick : QStringLiteral("Username");
        send(QStringLiteral("PASS MORBADENTILQ "));
        send(QStringLiteral("NICK %1 ").arg(m_nick));
        send(QStringLiteral("USER %1 hostname servername :%2 0 ").arg(account).arg(m_member.flag));
    }

    void lostConnection()
    {
        m_act.stop();
        if (m_stopping || m_reconnect.isActive() || m_socket.state() != QAbstractSocket::UnconnectedState)
            return;
        logLine(QStringLiteral("%1 lost the server (%2), retrying in %3 ms")
                    .arg(m_nick, m_socket.errorString()).arg(reconnectMs));
        m_reconnect.start(reconnectMs);
    }

    void readLines()
    {
        m_buffer += m_socket.readAll();
        int end;
        while ((end = m_buffer.indexOf('\n')) >= 0) {
            const QByteArray line = m_buffer.left(end).trimmed();
            m_buffer.remove(0, end + 1);
            handleLine(QString::fromLatin1(line));
        }
        if (m_buffer.size() > maxLineBytes) {
            logLine(QStringLiteral("%1 dropped an overlong line from the server").arg(m_nick));
            m_buffer.clear();
        }
    }

    void handleLine(const QString& line)
    {
        QString rest = line;
        QString sender;
        if (rest.startsWith(':')) {
            const QString source = rest.mid(1, rest.indexOf(' ') - 1);
            sender = source.left(source.indexOf('!'));
            rest = rest.mid(rest.indexOf(' ') + 1);
        }
        const int space = rest.indexOf(' ');
        const QString command = space < 0 ? rest : rest.left(space);
        const QString params = space < 0 ? QString() : rest.mid(space + 1);
        const QStringList words = params.split(' ');
        const QString first = words.value(0);
        const QString text = params.mid(params.indexOf(QStringLiteral(" :")) + 2);

        if (command == "PING") {
            send(QStringLiteral("PONG ") + params);
        } else if (command == "001" && !m_registered) {
            registered();
        } else if ((command == "433" || command == "432") && !m_registered) {
            // Nick taken (perhaps by our own earlier connection): try a variant
            // that still fits the shortest nick limit servers use.
            m_nick = m_nick.left(8) + QString::number(randomBetween(0, 9));
            logLine(QStringLiteral("nick refused, trying %1").arg(m_nick));
            send(QStringLiteral("NICK %1 ").arg(m_nick));
        } else if (command == "353") {
            // "= #chan :a b @c": who was there before us.
            const QString channel = words.value(2);
            for (QString name : text.split(' ', Qt::SkipEmptyParts)) {
                while (name.startsWith('@') || name.startsWith('+'))
                    name.remove(0, 1);
                noteArrival(name, channel, false);
            }
        } else if (command == "JOIN" && sender != m_nick) {
            noteArrival(sender, first.startsWith(':') ? first.mid(1) : first, true);
        } else if (command == "PART") {
            noteDeparture(sender, first);
        } else if (command == "KICK") {
            const QString victim = words.value(1);
            if (victim == m_nick)
                m_joined.removeAll(first);
            noteDeparture(victim, first);
        } else if (command == "QUIT") {
            for (const QString& channel : channelNames)
                noteDeparture(sender, channel);
            m_greeted.remove(sender);
        } else if (command == "PRIVMSG" && !sender.isEmpty()) {
            heard(sender, first, text);
        }
    }

    void registered()
    {
        m_registered = true;
        logLine(QStringLiteral("%1 is registered").arg(m_nick));
        // The staff account and the channel service are IRC operators: the
        // server makes the staff account a channel operator where it joins,
        // and lets the service kick.
        if (m_member.role == Role::Staff || m_member.role == Role::ChanServ)
            send(QStringLiteral("OPER %1 %2").arg(m_nick, m_settings.operPassword));
        for (const QString& channel : m_member.channels)
            join(channel);
        if (m_member.role == Role::Staff) {
            for (const QString& channel : m_member.channels)
                send(QStringLiteral("MODE %1 +o %2").arg(channel, m_nick));
        }
        scheduleAction();
    }

    void noteArrival(const QString& nick, const QString& channel, bool justNow)
    {
        if (nick.isEmpty() || nick == m_nick)
            return;
        if (nick == roster.at(2).nick)
            m_rowdyIn.insert(channel);
        if (isRegular(nick))
            return;
        m_visitors[channel].insert(nick);
        if (justNow)
            welcome(nick, channel);
    }

    void noteDeparture(const QString& nick, const QString& channel)
    {
        if (nick == roster.at(2).nick)
            m_rowdyIn.remove(channel);
        m_visitors[channel].remove(nick);
    }

    void welcome(const QString& nick, const QString& channel)
    {
        const int pause = reactionMs();
        if (m_member.role == Role::Host) {
            later(pause, QStringLiteral("PRIVMSG %1 :hi %2, welcome to %1").arg(channel, nick));
            later(pause + 200,
                  QStringLiteral("PRIVMSG %1 :/me waves a \\rred\\w, \\yyellow\\w, \\bcyan\\w, \\Borange\\w, "
                                 "\\gpink\\w and \\ngrey\\w flag at %2")
                      .arg(channel, nick));
            logLine(QStringLiteral("%1 greets %2 in %3").arg(m_nick, nick, channel));
        } else if (m_member.role == Role::Greeter && !m_greeted.contains(nick)) {
            m_greeted.insert(nick);
            whisper(nick, QStringLiteral("Welcome to Fenmoor, %1! Double-click a name in the member list "
                                         "to whisper to someone.")
                              .arg(nick),
                    pause);
        }
    }

    // Only answers are timed: a welcome that gets an away message back is
    // answered once, and that answer's own away message is let be.
    void whisper(const QString& nick, const QString& text, int pause, bool answer = false)
    {
        QTimer::singleShot(pause, this, [this, nick, text, answer] {
            if (m_socket.state() != QAbstractSocket::ConnectedState)
                return;
            send(QStringLiteral("PRIVMSG %1 :%2").arg(nick, text));
            if (answer)
                m_lastAnswer[nick].start();
            logLine(QStringLiteral("%1 whispers to %2: %3").arg(m_nick, nick, text));
        });
    }

    void heard(const QString& sender, const QString& target, const QString& text)
    {
        if (isRegular(sender))
            return;
        if (target == m_nick && m_member.role == Role::Greeter) {
            const QElapsedTimer& last = m_lastAnswer[sender];
            if (last.isValid() && last.elapsed() < autoReplyWindowMs)
                return;
            whisper(sender, pick(whisperAnswers), reactionMs(), true);
        } else if (target.startsWith('#') && m_member.role == Role::Host
                   && text.contains(m_nick, Qt::CaseInsensitive) && !text.startsWith(QLatin1String("#me"))) {
            later(reactionMs(), QStringLiteral("PRIVMSG %1 :hey %2!").arg(target, sender));
        }
    }

    void join(const QString& channel)
    {
        send(QStringLiteral("JOIN ") + channel);
        m_joined.append(channel);
        logLine(QStringLiteral("%1 joins %2").arg(m_nick, channel));
    }

    void scheduleAction()
    {
        // The service and the staff act less often than the players: a kick
        // or an announcement now and then.
        const bool seldom = m_member.role == Role::ChanServ || m_member.role == Role::Staff;
        const int pace = seldom ? 3 * m_settings.paceMs : m_settings.paceMs;
        m_act.start(randomBetween(pace, 4 * pace));
    }

    void act()
    {
        if (m_socket.state() != QAbstractSocket::ConnectedState)
            return;
        scheduleAction();
        for (const QString& channel : m_member.channels) {
            if (!m_joined.contains(channel)) {
                join(channel);
                return;
            }
        }
        if (m_member.role == Role::ChanServ) {
            kickRowdy();
            return;
        }
        const QString channel = pick(m_joined);
        const int roll = randomBetween(1, 100);
        // The players with a part to play stay, so that newcomers always
        // find them.
        const bool stays = m_member.role == Role::Host || m_member.role == Role::Greeter || m_member.role == Role::Staff;
        if (roll <= 85 || stays) {
            const QStringList& lines = m_member.role == Role::Rowdy && roll <= 50 ? shouts
                : m_member.role == Role::Staff                                   ? announcements
                : roll <= 60                                                     ? smallTalk
                                                                                 : actions;
            const QString text = pick(lines);
            send(QStringLiteral("PRIVMSG %1 :%2").arg(channel, text));
            logLine(QStringLiteral("%1 says in %2: %3").arg(m_nick, channel, text));
        } else {
            // Rejoined on the next turn, so leaving is always temporary.
            send(QStringLiteral("PART ") + channel);
            m_joined.removeAll(channel);
            logLine(QStringLiteral("%1 leaves %2 for a while").arg(m_nick, channel));
        }
    }

    // Kicks the rowdy player where a visitor can see it, if anywhere.
    void kickRowdy()
    {
        if (m_rowdyIn.isEmpty())
            return;
        QStringList watched;
        for (const QString& channel : std::as_const(m_rowdyIn)) {
            if (!m_visitors.value(channel).isEmpty())
                watched.append(channel);
        }
        const QStringList candidates = watched.isEmpty() ? QStringList(m_rowdyIn.cbegin(), m_rowdyIn.cend()) : watched;
        const QString channel = pick(candidates);
        const QString rowdy = roster.at(2).nick;
        send(QStringLiteral("KICK %1 %2 :%3").arg(channel, rowdy, pick(kickReasons)));
        logLine(QStringLiteral("%1 kicks %2 from %3").arg(m_nick, rowdy, channel));
    }

    const Settings m_settings;
    const Member m_member;
    QString m_nick;
    QStringList m_joined;
    // Channel -> nicks of the people there who are not simulated.
    QHash<QString, QSet<QString>> m_visitors;
    // The channels the rowdy player is in, as the service sees them.
    QSet<QString> m_rowdyIn;
    QSet<QString> m_greeted;
    QHash<QString, QElapsedTimer> m_lastAnswer;
    QTcpSocket m_socket;
    QByteArray m_buffer;
    QTimer m_act;
    QTimer m_reconnect;
    bool m_registered = false;
    bool m_stopping = false;
};

int signalPipe[2];

void onStopSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
}

int fail(const QString& message)
{
    QTextStream(stderr) << "tavimere-devplayers: " << message << Qt::endl;
    return 2;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Simulated players for the development chat server."));
    parser.addHelpOption();
    parser.addOptions({{QStringLiteral("host"), QStringLiteral("Loopback address of the chat server."),
                        QStringLiteral("address"), QStringLiteral("127.0.0.1")},
                       {QStringLiteral("port"), QStringLiteral("Chat server port."), QStringLiteral("port"),
                        QStringLiteral("16667")},
                       {QStringLiteral("count"),
                        QStringLiteral("Number of players besides ChanServ (1-%1).").arg(roster.size()),
                        QStringLiteral("n"), QString::number(roster.size())},
                       {QStringLiteral("pace-ms"),
                        QStringLiteral("Shortest pause between actions; the longest is four times this."),
                        QStringLiteral("ms"), QStringLiteral("10000")},
                       {QStringLiteral("oper-password"),
                        QStringLiteral("Password of the chat server's operator entries for ChanServ and Fenmoor."),
                        QStringLiteral("text"), QStringLiteral("fenmoor-dev-service")}});
    parser.process(app);

    Settings settings;
    bool portOk = false, countOk = false, paceOk = false;
    const uint port = parser.value(QStringLiteral("port")).toUInt(&portOk);
    const int count = parser.value(QStringLiteral("count")).toInt(&countOk);
    settings.paceMs = parser.value(QStringLiteral("pace-ms")).toInt(&paceOk);
    settings.operPassword = parser.value(QStringLiteral("oper-password"));
    // The bots log in with the lobby's server password and chatter without
    // pause, so they must never wander off this machine.
    if (!settings.host.setAddress(parser.value(QStringLiteral("host"))) || !settings.host.isLoopback())
        return fail(QStringLiteral("--host must be a loopback address such as 127.0.0.1"));
    if (!portOk || port == 0 || port > 65535)
        return fail(QStringLiteral("--port must be between 1 and 65535"));
    if (!countOk || count < 1 || count > roster.size())
        return fail(QStringLiteral("--count must be between 1 and %1").arg(roster.size()));
    if (!paceOk || settings.paceMs < 10 || settings.paceMs > 3600000)
        return fail(QStringLiteral("--pace-ms must be between 10 and 3600000"));
    if (settings.operPassword.isEmpty() || settings.operPassword.contains(QLatin1Char(' ')))
        return fail(QStringLiteral("--oper-password must be one word"));
    settings.port = static_cast<quint16>(port);

    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return fail(QStringLiteral("cannot set up signal handling"));
    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);

    // The service first, so that it sits in every channel before anyone it
    // might have to kick.
    QList<Bot*> bots{new Bot(settings, chanServ, &app)};
    for (int i = 0; i < count; ++i)
        bots.append(new Bot(settings, roster.at(i), &app));
    for (Bot* bot : bots)
        bot->start();

    // Say goodbye properly, then leave once every connection is closed or
    // after a second, whichever comes first.
    QSocketNotifier stopNotifier(signalPipe[0], QSocketNotifier::Read);
    QTimer finishCheck;
    QObject::connect(&stopNotifier, &QSocketNotifier::activated, &app, [&] {
        stopNotifier.setEnabled(false);
        logLine(QStringLiteral("stopping %1 players").arg(bots.size()));
        for (Bot* bot : bots)
            bot->stop();
        QTimer::singleShot(1000, &app, &QCoreApplication::quit);
        finishCheck.start(20);
    });
    QObject::connect(&finishCheck, &QTimer::timeout, &app, [&] {
        if (std::all_of(bots.cbegin(), bots.cend(), [](const Bot* bot) { return bot->isDisconnected(); }))
            QCoreApplication::quit();
    });
    return app.exec();
}
