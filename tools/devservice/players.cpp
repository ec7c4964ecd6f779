// Simulated players for the development chat server: each bot registers the
// way the Tavimere client does, sits in one or two lobby channels and now and
// then chats, waves or leaves and comes back, so the lobby looks lived in.

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QHostAddress>
#include <QRandomGenerator>
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
};

const QStringList nicks =
    QStringLiteral("Kite Ash Marlow Pell Quinn Rook Wren Tamsin Brack Isolde Fitch Odo").split(' ');
const QStringList channelNames = QStringLiteral("#Lobby #Help #Duel #Chat #Tournament").split(' ');
// Backslash plus a letter switches colour in the client (r y w b B g n); a
// line that starts with /me is shown as an action.
const QStringList smallTalk = QStringLiteral(
    "anyone up for a quick game?|gg everyone|brb, tea|that last round was \\rbrutal\\w|who's hosting tonight?|"
    "lag is bad today|\\gready\\w when you are|the marsh map is my favourite|hi all|"
    "does anyone know the new patch notes?|\\ythree wins in a row!\\w|need one more for a team game").split('|');
const QStringList actions = QStringLiteral(
    "/me \\rwaves\\w hello|/me stretches|/me \\ycheers\\w|/me is looking for a \\bpartner\\w|/me yawns|"
    "/me \\gsalutes\\w the lobby").split('|');
// Keeps one bot from growing an endless buffer when a peer never sends a line end.
constexpr int maxLineBytes = 4096;
constexpr int reconnectMs = 3000;

int randomBetween(int low, int high)
{
    return QRandomGenerator::global()->bounded(low, high + 1);
}

void logLine(const QString& text)
{
    static QTextStream out(stdout);
    out << QDateTime::currentDateTime().toString(QStringLiteral("HH:mm:ss")) << ' ' << text << Qt::endl;
}

class Bot : public QObject {
public:
    Bot(const Settings& settings, const QString& nick, int flag, const QStringList& channels, QObject* parent)
        : QObject(parent), m_settings(settings), m_nick(nick), m_flag(flag), m_channels(channels)
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

    void registerWithServer()
    {
        logLine(QStringLiteral("%1 connected, registering with flag %2").arg(m_nick).arg(m_flag));
        // Byte for byte what the client sends, trailing spaces included.
        send(QStringLiteral("PASS MORBADENTILQ "));
        send(QStringLiteral("NICK %1 ").arg(m_nick));
        send(QStringLiteral("USER Username hostname servername :%1 0 ").arg(m_flag));
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
            handleLine(line);
        }
        if (m_buffer.size() > maxLineBytes) {
            logLine(QStringLiteral("%1 dropped an overlong line from the server").arg(m_nick));
            m_buffer.clear();
        }
    }

    void handleLine(const QByteArray& line)
    {
        QByteArray rest = line;
        if (rest.startsWith(':'))
            rest = rest.mid(rest.indexOf(' ') + 1);
        const int space = rest.indexOf(' ');
        const QByteArray command = space < 0 ? rest : rest.left(space);
        const QByteArray params = space < 0 ? QByteArray() : rest.mid(space + 1);
        if (command == "PING") {
            m_socket.write("PONG " + params + "\r\n");
        } else if (command == "001" && !m_registered) {
            m_registered = true;
            logLine(QStringLiteral("%1 is registered").arg(m_nick));
            for (const QString& channel : m_channels)
                join(channel);
            scheduleAction();
        } else if ((command == "433" || command == "432") && !m_registered) {
            // Nick taken (perhaps by our own earlier connection): try a variant
            // that still fits the server's nine-character limit.
            m_nick = m_nick.left(8) + QString::number(randomBetween(0, 9));
            logLine(QStringLiteral("nick refused, trying %1").arg(m_nick));
            send(QStringLiteral("NICK %1 ").arg(m_nick));
        } else if (command == "KICK" && params.split(' ').value(1) == m_nick.toLatin1()) {
            m_joined.removeAll(QString::fromLatin1(params.split(' ').value(0)));
        }
    }

    void join(const QString& channel)
    {
        send(QStringLiteral("JOIN ") + channel);
        m_joined.append(channel);
        logLine(QStringLiteral("%1 joins %2").arg(m_nick, channel));
    }

    void scheduleAction() { m_act.start(randomBetween(m_settings.paceMs, 4 * m_settings.paceMs)); }

    void act()
    {
        if (m_socket.state() != QAbstractSocket::ConnectedState)
            return;
        scheduleAction();
        for (const QString& channel : m_channels) {
            if (!m_joined.contains(channel)) {
                join(channel);
                return;
            }
        }
        const QString channel = m_joined.at(randomBetween(0, m_joined.size() - 1));
        const int roll = randomBetween(1, 100);
        if (roll <= 85) {
            const QStringList& lines = roll <= 70 ? smallTalk : actions;
            const QString text = lines.at(randomBetween(0, lines.size() - 1));
            send(QStringLiteral("PRIVMSG %1 :%2").arg(channel, text));
            logLine(QStringLiteral("%1 says in %2: %3").arg(m_nick, channel, text));
        } else {
            // Rejoined on the next turn, so leaving is always temporary.
            send(QStringLiteral("PART ") + channel);
            m_joined.removeAll(channel);
            logLine(QStringLiteral("%1 leaves %2 for a while").arg(m_nick, channel));
        }
    }

    const Settings m_settings;
    QString m_nick;
    const int m_flag;
    const QStringList m_channels;
    QStringList m_joined;
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
                       {QStringLiteral("count"), QStringLiteral("Number of players (1-%1).").arg(nicks.size()),
                        QStringLiteral("n"), QStringLiteral("6")},
                       {QStringLiteral("pace-ms"),
                        QStringLiteral("Shortest pause between actions; the longest is four times this."),
                        QStringLiteral("ms"), QStringLiteral("10000")}});
    parser.process(app);

    Settings settings;
    bool portOk = false, countOk = false, paceOk = false;
    const uint port = parser.value(QStringLiteral("port")).toUInt(&portOk);
    const int count = parser.value(QStringLiteral("count")).toInt(&countOk);
    settings.paceMs = parser.value(QStringLiteral("pace-ms")).toInt(&paceOk);
    // The bots log in with the lobby's server password and chatter without
    // pause, so they must never wander off this machine.
    if (!settings.host.setAddress(parser.value(QStringLiteral("host"))) || !settings.host.isLoopback())
        return fail(QStringLiteral("--host must be a loopback address such as 127.0.0.1"));
    if (!portOk || port == 0 || port > 65535)
        return fail(QStringLiteral("--port must be between 1 and 65535"));
    if (!countOk || count < 1 || count > nicks.size())
        return fail(QStringLiteral("--count must be between 1 and %1").arg(nicks.size()));
    if (!paceOk || settings.paceMs < 10 || settings.paceMs > 3600000)
        return fail(QStringLiteral("--pace-ms must be between 10 and 3600000"));
    settings.port = static_cast<quint16>(port);

    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return fail(QStringLiteral("cannot set up signal handling"));
    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);

    QList<Bot*> bots;
    for (int i = 0; i < count; ++i) {
        // Most players idle in the lobby; about half also sit in a second channel.
        const int home = i % 3 == 2 ? randomBetween(1, channelNames.size() - 1) : 0;
        QStringList channels = {channelNames.at(home)};
        const QString second = channelNames.at(randomBetween(0, channelNames.size() - 1));
        if (randomBetween(0, 1) == 1 && !channels.contains(second))
            channels.append(second);
        bots.append(new Bot(settings, nicks.at(i), randomBetween(0, 50), channels, &app));
        bots.last()->start();
    }

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
