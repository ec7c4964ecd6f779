// How long the program takes to answer while it handles a burst, seen from
// outside: this program plays the chat server on 127.0.0.1, starts
// tavimere-benchclient (the program's windows in a process of their own),
// sends it a burst and meanwhile, every 50 ms,
//   - a "PING :probe-N" on the chat connection, timing each PONG: the
//     keep-alive queues behind the lines sent before it, as on a real
//     server, so its delay also counts the burst's lines still waiting;
//   - a byte on a second connection, echoed from the client's event loop
//     like a window manager's ping: the time the window could not answer.
// The burst goes out as fast as the client takes it (64 KiB at a time, the
// next once the socket has handed the last on), so that the probes do not
// wait behind megabytes this side's buffers hold.
//
//   tavimere-pingbench BURST [runs]
//
// BURST: list100k, who200k, names (NAMES 2,000 + WHO 2,000 in a channel),
// flood (100,000 channel messages), joinsparts (20,000 joins, then 20,000
// parts), pings (100,000 PINGs). Each run is a fresh client process; the
// figures are per run, then the median over the runs.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QList>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>

namespace {

constexpr int kProbeMs = 50;
constexpr qint64 kChunk = 64 * 1024;

QByteArray reply(const QByteArray& numeric, const QByteArray& rest)
{
    return ":irc.fenmoor.test " + numeric + " Pilot42 " + rest + "\r\n";
}

QByteArray fromUser(const QByteArray& nick, const QByteArray& rest)
{
    return ':' + nick + "!~Username@players.fenmoor.test " + rest + "\r\n";
}

QByteArray whoLine(const QByteArray& channel, const QByteArray& nick, int flag)
{
    return reply("352", channel + " ~Username players.fenmoor.test irc.fenmoor.test " + nick + " H :0 "
                            + QByteArray::number(flag) + " 0");
}

struct Burst {
    bool inChannel = false;
    QByteArray lines;
    // For a burst of PINGs: the most the client may owe answers for, as a
    // server holds back what it sends until its PINGs are answered. Without
    // it the answers pile up faster than loopback takes them, and the client
    // drops a server that does not read what it is sent.
    qint64 mostUnanswered = 0;
    // Sent once the client has asked "WHO #Help" (the WHO that follows NAMES).
    QByteArray onWho;
};

std::optional<Burst> makeBurst(const QByteArray& name)
{
    Burst burst;
    QByteArray& out = burst.lines;
    if (name == "list100k") {
        out += reply("321", "Channel :Users  Name");
        for (int i = 0; i < 100000; ++i)
            out += reply("322", "#c" + QByteArray::number(i) + ' ' + QByteArray::number(i % 97) + " :0"
                                    + QByteArray::number(i % 7) + " Channel number " + QByteArray::number(i));
        out += reply("323", ":End of LIST");
    } else if (name == "who200k") {
        for (int i = 0; i < 200000; ++i)
            out += whoLine(i % 5 ? "#c" + QByteArray::number(i % 300) : QByteArray("*"), "u" + QByteArray::number(i),
                           i % 50);
        out += reply("315", "* :End of WHO list");
    } else if (name == "names") {
        burst.inChannel = true;
        for (int i = 0; i < 2000; i += 40) {
            QByteArray line = "= #Help :";
            for (int j = i; j < i + 40; ++j)
                line += "m" + QByteArray::number(j) + ' ';
            out += reply("353", line.trimmed());
        }
        out += reply("366", "#Help :End of NAMES list");
        for (int i = 0; i < 2000; ++i)
            burst.onWho += whoLine("#Help", "m" + QByteArray::number(i), i % 50);
        burst.onWho += reply("315", "* :End of WHO list");
    } else if (name == "flood") {
        burst.inChannel = true;
        static const char* const speakers[] = {"Kite", "Wren", "Moss", "Tarn"};
        for (int i = 0; i < 100000; ++i) {
            const QByteArray text = i % 20 == 7    ? "/me waves \\rred\\w white, round "
                                  : i % 20 == 13 ? "what the fuck, round "
                                                 : "anyone up for a game on the new map? round ";
            out += fromUser(speakers[i % 4], "PRIVMSG #Help :" + text + QByteArray::number(i));
        }
    } else if (name == "joinsparts") {
        burst.inChannel = true;
        for (int i = 0; i < 20000; ++i)
            out += fromUser("j" + QByteArray::number(i), "JOIN :#Help");
        for (int i = 0; i < 20000; ++i)
            out += fromUser("j" + QByteArray::number(i), i % 2 ? "QUIT :Ping timeout" : "PART #Help");
    } else if (name == "pings") {
        burst.mostUnanswered = 10000;
        for (int i = 0; i < 100000; ++i)
            out += "PING :keep-" + QByteArray::number(i) + "\r\n";
    } else {
        return std::nullopt;
    }
    return burst;
}

double percentile(QList<double> values, double share)
{
    if (values.isEmpty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min<qsizetype>(values.size() - 1, static_cast<qsizetype>(share * values.size()))];
}

struct Run {
    double burstMs = 0;
    QList<double> pongMs;
    QList<double> echoMs;
    double clientPassMs = 0;
};

bool waitFor(const std::function<bool()>& done, int ms)
{
    QElapsedTimer limit;
    limit.start();
    while (!done()) {
        if (limit.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    return true;
}

std::optional<Run> runOnce(const QString& client, const Burst& burst)
{
    QTcpServer chat;
    QTcpServer gateway;
    if (!chat.listen(QHostAddress::LocalHost, 0) || !gateway.listen(QHostAddress::LocalHost, 0))
        return std::nullopt;
    // Game-list fetches of the channel window find a gateway that hangs up.
    QObject::connect(&gateway, &QTcpServer::newConnection, [&] {
        while (QTcpSocket* socket = gateway.nextPendingConnection())
            socket->disconnectFromHost();
    });

    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TAVIMERE_SERVICE"),
                       QStringLiteral("127.0.0.1:%1:%2").arg(gateway.serverPort()).arg(chat.serverPort()));
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(client, {burst.inChannel ? QStringLiteral("channel") : QStringLiteral("lobby")});
    QByteArray output;
    if (!waitFor([&] {
            output += process.readAllStandardOutput();
            return output.contains('\n') || process.state() == QProcess::NotRunning;
        },
                 10000)
        || !output.startsWith("ECHO ")) {
        std::fprintf(stderr, "the client did not start: %s\n", qPrintable(client));
        return std::nullopt;
    }
    QTcpSocket echo;
    echo.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    echo.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(output.mid(5).trimmed().toInt()));
    QTcpSocket* irc = nullptr;
    if (!waitFor([&] { return chat.hasPendingConnections() && echo.state() == QAbstractSocket::ConnectedState; },
                 10000))
        return std::nullopt;
    irc = chat.nextPendingConnection();
    irc->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    // A small send buffer keeps what waits ahead of a probe on this side to
    // what the client has not read yet.
    irc->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, static_cast<int>(kChunk));

    QByteArray received;
    bool ready = false;
    bool started = false;
    bool whoSeen = false;
    bool ended = false;
    QElapsedTimer clock;
    clock.start();
    QList<qint64> pingSent;
    qint64 answered = 0;
    Run run;
    const auto onLine = [&](const QByteArray& line) {
        if (line == "READY")
            ready = true;
        else if (line == "WHO #Help" && started)
            whoSeen = true;
        else if (line.startsWith("PING "))
            // The client paces its own requests on the answers to its pings,
            // as it does with a real server.
            irc->write(":irc.fenmoor.test PONG irc.fenmoor.test " + line.mid(5) + "\r\n");
        else if (line == "PONG :end")
            ended = true;
        else if (line.startsWith("PONG :keep-"))
            ++answered;
        else if (line.startsWith("PONG :probe-")) {
            const int n = line.mid(12).toInt();
            if (n >= 0 && n < pingSent.size())
                run.pongMs.append((clock.nsecsElapsed() - pingSent[n]) / 1e6);
        }
    };
    QObject::connect(irc, &QTcpSocket::readyRead, [&] {
        received += irc->readAll();
        // The lines read are dropped once per read: dropping each on its own
        // made 100,000 answers quadratic.
        qsizetype start = 0;
        for (qsizetype end; (end = received.indexOf("\r\n", start)) >= 0; start = end + 2)
            onLine(received.mid(start, end - start));
        received.remove(0, start);
    });
    if (!waitFor([&] { return ready; }, 10000)) {
        std::fprintf(stderr, "the client did not log in\n");
        return std::nullopt;
    }

    // The probes, every 50 ms from the first byte of the burst on.
    QList<qint64> echoSent;
    QByteArray echoed;
    QObject::connect(&echo, &QTcpSocket::readyRead, [&] {
        for (const char c : echo.readAll()) {
            if (c == 'p' && run.echoMs.size() < echoSent.size())
                run.echoMs.append((clock.nsecsElapsed() - echoSent[run.echoMs.size()]) / 1e6);
            else if (c != 'p')
                echoed += c;
        }
    });
    QTimer probes;
    probes.setTimerType(Qt::PreciseTimer);
    probes.setInterval(kProbeMs);
    const auto probe = [&] {
        pingSent.append(clock.nsecsElapsed());
        irc->write("PING :probe-" + QByteArray::number(pingSent.size() - 1) + "\r\n");
        echoSent.append(clock.nsecsElapsed());
        echo.write("p");
    };
    QObject::connect(&probes, &QTimer::timeout, probe);

    // The burst, as fast as the client takes it.
    qint64 sent = 0;
    qint64 linesSent = 0;
    bool whoAnswered = false;
    // The keep-alive that ends the burst goes after everything else.
    const auto feed = [&] {
        if (whoSeen && !whoAnswered) {
            whoAnswered = true;
            irc->write(burst.onWho + "PING :end\r\n");
        }
        while (sent < burst.lines.size() && irc->bytesToWrite() < kChunk
               && (burst.mostUnanswered == 0 || linesSent - answered < burst.mostUnanswered)) {
            // Whole lines only: a probe goes between two lines of the burst.
            qint64 end = std::min(sent + kChunk, burst.lines.size());
            if (end < burst.lines.size())
                end = burst.lines.lastIndexOf("\r\n", end - 2) + 2;
            irc->write(burst.lines.constData() + sent, end - sent);
            linesSent += std::count(burst.lines.constData() + sent, burst.lines.constData() + end, '\n');
            sent = end;
            if (sent == burst.lines.size() && burst.onWho.isEmpty())
                irc->write("PING :end\r\n");
        }
    };
    QObject::connect(irc, &QTcpSocket::bytesWritten, feed);
    QObject::connect(irc, &QTcpSocket::readyRead, feed);
    echo.write("r");
    started = true;
    const qint64 start = clock.nsecsElapsed();
    probes.start();
    feed();
    probe();
    if (!waitFor([&] { return ended; }, 120000)) {
        std::fprintf(stderr, "the burst was not handled in time\n");
        return std::nullopt;
    }
    run.burstMs = (clock.nsecsElapsed() - start) / 1e6;
    probes.stop();
    // The answers to the probes still on their way.
    waitFor([&] { return run.pongMs.size() == pingSent.size() && run.echoMs.size() == echoSent.size(); }, 5000);
    echo.write("s");
    waitFor([&] { return echoed.contains('\n'); }, 5000);
    run.clientPassMs = echoed.mid(2).trimmed().toDouble();
    echo.disconnectFromHost();
    if (!process.waitForFinished(10000))
        process.kill();
    process.waitForFinished(1000);
    irc->disconnectFromHost();
    return run;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QByteArray name = argc > 1 ? QByteArray(argv[1]) : QByteArray();
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    const std::optional<Burst> burst = makeBurst(name);
    if (!burst) {
        std::fprintf(stderr, "usage: tavimere-pingbench list100k|who200k|names|flood|joinsparts|pings [runs]\n");
        return 2;
    }
    const QString client = QCoreApplication::applicationDirPath() + QStringLiteral("/tavimere-benchclient");
    std::printf("%s: %.0f KiB, probes every %d ms; milliseconds\n", name.constData(), burst->lines.size() / 1024.0,
                kProbeMs);
    std::printf("%5s %9s %7s %9s %9s %9s %9s %9s %12s\n", "run", "burst", "probes", "pong med", "pong p95",
                "pong max", "echo med", "echo max", "client pass");
    QList<double> burstMs, pongMax, echoMax, passMs;
    for (int i = 1; i <= runs; ++i) {
        const std::optional<Run> run = runOnce(client, *burst);
        if (!run)
            return 1;
        std::printf("%5d %9.0f %7lld %9.1f %9.1f %9.1f %9.1f %9.1f %12.1f\n", i, run->burstMs,
                    static_cast<long long>(run->pongMs.size()), percentile(run->pongMs, 0.5),
                    percentile(run->pongMs, 0.95), percentile(run->pongMs, 1.0), percentile(run->echoMs, 0.5),
                    percentile(run->echoMs, 1.0), run->clientPassMs);
        std::fflush(stdout);
        burstMs << run->burstMs;
        pongMax << percentile(run->pongMs, 1.0);
        echoMax << percentile(run->echoMs, 1.0);
        passMs << run->clientPassMs;
    }
    std::printf("median over %d runs: burst %.0f, longest pong %.1f, longest echo %.1f, client pass %.1f "
                "(spread of the longest echo %.1f to %.1f)\n",
                runs, percentile(burstMs, 0.5), percentile(pongMax, 0.5), percentile(echoMax, 0.5),
                percentile(passMs, 0.5), percentile(echoMax, 0.0), percentile(echoMax, 1.0));
    return 0;
}
