// How long the lobby takes from the arrival of a big burst of chat server
// lines to a list that is up to date and painted. The bursts go through a
// real loopback connection, so reading, splitting and decoding count too.
//
//   cmake --build build --target tavimere-bench
//   QT_QPA_PLATFORM=offscreen build/bench/tavimere-bench [runs] [list|who|names]
//
// The optional name runs one burst only, e.g. under a profiler.

#include "app/forms.h"
#include "channel/channel.h"
#include "lobby/lobby.h"
#include "login/login.h"
#include "platform/listview.h"
#include "platform/service.h"
#include "platform/socket.h"
#include "support/fakes.h"
#include "support/lobby_session.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>

namespace {

constexpr int kChannels = 5000;
constexpr int kLobbyUsers = 10000;
constexpr int kChannelMembers = 2000;
// A real server keeps each line under 512 bytes, so a big NAMES reply comes
// in many lines.
constexpr int kNamesPerLine = 40;
constexpr double kTargetMs = 50.0;

QByteArray reply(const QByteArray& numeric, const QByteArray& rest)
{
    return ":irc.fenmoor.test " + numeric + " Pilot42 " + rest + "\r\n";
}

QByteArray whoLine(const QByteArray& channelName, const QByteArray& nick, int flag)
{
    return reply("352", channelName + " ~Username players.fenmoor.test irc.fenmoor.test " + nick + " H :0 "
                            + QByteArray::number(flag) + " 0");
}

QByteArray number(int value)
{
    return QByteArray::number(value);
}

// Each run uses names of its own, so that a run cannot be mistaken as
// finished because of what the previous one left in the list.
QByteArray runName(int run, const char* kind, int index)
{
    return "r" + number(run) + kind + number(index);
}

struct Figures {
    double updatedMs = 0;
    double paintedMs = 0;
};

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    const qsizetype n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Waits for `done` while events run; false if it does not come true within
// a generous limit (then the burst was not handled at all).
bool runUntil(const std::function<bool()>& done)
{
    QElapsedTimer limit;
    limit.start();
    while (!done()) {
        if (limit.elapsed() > 30000)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

// Times one burst: from handing it to the connection until the list shows
// it (updated), then until the window has laid it out and painted it once.
std::optional<Figures> timeBurst(FakeServer& server, const QByteArray& burst, QWidget* window,
                                 const std::function<bool()>& updated)
{
    QElapsedTimer timer;
    timer.start();
    server.send(0, burst);
    if (!runUntil(updated))
        return std::nullopt;
    Figures figures;
    figures.updatedMs = timer.nsecsElapsed() / 1e6;
    QCoreApplication::processEvents();
    window->repaint();
    figures.paintedMs = timer.nsecsElapsed() / 1e6;
    return figures;
}

class Bench {
public:
    Bench() = default;
    Bench(const Bench&) = delete;
    Bench& operator=(const Bench&) = delete;

    bool open()
    {
        useFreshSettings();
        if (!session_.start(QStringLiteral("Pilot42")))
            return false;
        // Only the bursts below may reach the lists.
        for (QTimer* timer : {lobby().listTimer, lobby().whoTimerX, lobby().gamesTimer})
            timer->stop();
        return true;
    }

    std::optional<Figures> channelList(int run)
    {
        QByteArray burst = reply("321", "Channel :Users  Name");
        burst.reserve(kChannels * 80);
        for (int i = 0; i < kChannels; ++i) {
            burst += reply("322", "#" + runName(run, "c", i) + ' ' + number(i % 97) + " :0" + number(i % 7)
                                      + " Channel number " + number(i) + " of the list");
        }
        burst += reply("323", ":End of LIST");
        const QString last = QString::fromLatin1("#" + runName(run, "c", kChannels - 1));
        return timeBurst(server, burst, &lobby(), [&] {
            return lobby().channels->count() == kChannels && lobby().channels->contains(last);
        });
    }

    std::optional<Figures> lobbyUsers(int run)
    {
        lobby().whoTimerX_Timer();
        QByteArray burst;
        burst.reserve(kLobbyUsers * 100);
        for (int i = 0; i < kLobbyUsers; ++i)
            burst += whoLine(i % 5 ? "#c" + number(i % 300) : QByteArray("*"), runName(run, "u", i), i % 50);
        burst += reply("315", "* :End of WHO list");
        const QString last = QString::fromLatin1(runName(run, "u", kLobbyUsers - 1));
        return timeBurst(server, burst, &lobby(), [&] {
            return lobby().whoList->count() == kLobbyUsers && lobby().whoList->contains(last);
        });
    }

    // The NAMES reply of a freshly joined channel; the WHO reply follows as
    // soon as the server has the client's "who".
    std::optional<Figures> channelMembers(int run)
    {
        channel().users->clear();
        QByteArray names;
        for (int i = 0; i < kChannelMembers; i += kNamesPerLine) {
            QByteArray line = "= #Help :";
            for (int j = i; j < std::min(i + kNamesPerLine, kChannelMembers); ++j)
                line += runName(run, "m", j) + ' ';
            names += reply("353", line.trimmed());
        }
        names += reply("366", "#Help :End of NAMES list");
        QByteArray who;
        who.reserve(kChannelMembers * 100);
        for (int i = 0; i < kChannelMembers; ++i)
            who += whoLine("#Help", runName(run, "m", i), i % 50);
        who += reply("315", "* :End of WHO list");

        const qsizetype before = server.received(0).size();
        bool answered = false;
        server.onReceived = [&](int) {
            if (!answered && server.received(0).indexOf("who\r\n", before) >= 0) {
                answered = true;
                server.send(0, who);
            }
        };
        const QString last = QString::fromLatin1(runName(run, "m", kChannelMembers - 1));
        const int lastIcon = (kChannelMembers - 1) % 50 + 1;
        const std::optional<Figures> figures = timeBurst(server, names, &channel(), [&] {
            return channel().users->count() == kChannelMembers && channel().users->icon(last) == lastIcon;
        });
        server.onReceived = nullptr;
        return figures;
    }

    // The channel window up and the lobby hidden, as after joining #Help.
    void enterChannel()
    {
        channel().ensureLoaded();
        channel().Label2->setText(QStringLiteral("#Help"));
        lobby().hide();
        channel().show();
        // Showing the window starts the game-list fetch and its timers;
        // they are not what is measured.
        runUntil([] { return channel().isVisible(); });
        for (QTimer* timer : {lobby().gamesTimer, lobby().whoisTimer})
            timer->stop();
    }

    Forms forms;
    LobbySession session_;
    FakeServer& server = session_.chat;
};

using Scenario = std::function<std::optional<Figures>(int)>;

bool report(const char* name, const Scenario& scenario, int runs, bool wanted)
{
    if (!wanted)
        return true;
    // The first run builds caches (fonts, icons, hash tables): left out.
    if (!scenario(0)) {
        std::fprintf(stderr, "%s: the burst was not handled\n", name);
        return false;
    }
    QList<double> updated;
    QList<double> painted;
    for (int run = 1; run <= runs; ++run) {
        const std::optional<Figures> figures = scenario(run);
        if (!figures) {
            std::fprintf(stderr, "%s: the burst was not handled\n", name);
            return false;
        }
        updated.append(figures->updatedMs);
        painted.append(figures->paintedMs);
    }
    const double result = median(painted);
    std::printf("%-44s %9.1f %9.1f %9.1f %9.1f  %s\n", name, median(updated), result,
                *std::min_element(painted.begin(), painted.end()), *std::max_element(painted.begin(), painted.end()),
                result < kTargetMs ? "ok" : "OVER");
    std::fflush(stdout);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 9;
    const QByteArray only = argc > 2 ? QByteArray(argv[2]) : QByteArray();
    const auto wanted = [&](const char* scenario) { return only.isEmpty() || only == scenario; };

    Bench bench;
    if (!bench.open()) {
        std::fprintf(stderr, "could not start a chat session against the fake server\n");
        return 1;
    }
    std::printf("median of %d runs, milliseconds; target %.0f ms per burst (updated and painted)\n", runs, kTargetMs);
    std::printf("%-44s %9s %9s %9s %9s\n", "burst", "updated", "painted", "min", "max");
    std::fflush(stdout);
    bool ok = report("LIST: 321 + 5,000 x 322 + 323", [&](int run) { return bench.channelList(run); }, runs,
                     wanted("list"));
    ok = ok
      && report("WHO in the lobby: 10,000 x 352 + 315", [&](int run) { return bench.lobbyUsers(run); }, runs,
                wanted("who"));
    if (ok && wanted("names")) {
        bench.enterChannel();
        ok = report("NAMES 2,000 in 50 x 353 + 366, WHO 2,000 + 315",
                    [&](int run) { return bench.channelMembers(run); }, runs, true);
    }
    return ok ? 0 : 1;
}
