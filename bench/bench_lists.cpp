// How long the lobby takes from the arrival of a big burst of chat server
// lines to a list that is up to date and painted, and how fast a flood of
// channel messages gets through to the chat view. The bursts go through a
// real loopback connection, so reading, splitting and decoding count too.
//
//   cmake --build build --target tavimere-bench
//   QT_QPA_PLATFORM=offscreen build/bench/tavimere-bench [runs] [list|who|names]
//   QT_QPA_PLATFORM=offscreen build/bench/tavimere-bench 1 flood
//
// The optional name runs one burst only, e.g. under a profiler. The flood
// runs only when named, once per process: it keeps its lines in the view, and
// its memory figures are those of the whole process.

#include "app/forms.h"
#include "channel/channel.h"
#include "lobby/lobby.h"
#include "login/login.h"
#include "platform/controls.h"
#include "platform/listview.h"
#include "platform/service.h"
#include "platform/socket.h"
#include "support/fakes.h"
#include "support/lobby_session.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <QFont>
#include <QLabel>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <sys/resource.h>

namespace {

constexpr int kChannels = 5000;
constexpr int kLobbyUsers = 10000;
constexpr int kChannelMembers = 2000;
// A real server keeps each line under 512 bytes, so a big NAMES reply comes
// in many lines.
constexpr int kNamesPerLine = 40;
constexpr double kTargetMs = 50.0;
constexpr int kFloodWrites = 100;
constexpr int kFloodLinesPerWrite = 1000;
constexpr int kFloodLines = kFloodWrites * kFloodLinesPerWrite;
constexpr double kFloodTargetLinesPerSecond = 40000;
// Which lines of every twenty take the other paths: an action line with
// colour codes, and a line the filter masks.
constexpr int kFloodActionSlot = 7;
constexpr int kFloodFilteredSlot = 13;

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

// One channel message of the flood, from one of a few speakers.
QByteArray floodLine(int index)
{
    static const char* const speakers[] = {"Kite", "Wren", "Moss", "Tarn"};
    const char* text = "anyone up for a game on the new map? round ";
    if (index % 20 == kFloodActionSlot)
        text = "/me waves \\rred\\w white, round ";
    else if (index % 20 == kFloodFilteredSlot)
        text = "what the fuck, round ";
    return QByteArray(":") + speakers[index % 4] + "!~Username@players.fenmoor.test PRIVMSG #Help :" + text
        + number(index) + "\r\n";
}

struct FloodFigures {
    double heldMs = 0;
    double paintedMs = 0;
    double longestBlockMs = 0;
    double cpuUsPerLine = 0;
    long rssBeforeKb = 0;
    long rssAfterKb = 0;
    long peakRssKb = 0;
};

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& time) { return double(time.tv_sec) + double(time.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// A size line of /proc/self/status ("VmRSS", "VmHWM"), in kB; 0 if absent.
long statusKb(const QByteArray& field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field + ':'))
            return line.mid(field.size() + 1).trimmed().split(' ').value(0).toLong();
    }
    return 0;
}

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

    // 100,000 messages to #Help with the filter on. Each write goes out once
    // the view holds the one before, so the client takes the flood in reads
    // of about one write each. A 0-ms timer's longest gap between ticks is
    // the longest time the program could not react to anything.
    std::optional<FloodFigures> flood()
    {
        channel().filter->setChecked(true);
        const RichTextView* chat = channel().chat;
        const int first = chat->lineCount();
        // Lines are shown in order: once the last of a write is there, so are
        // the ones before it.
        const auto held = [&](int lines) {
            const int count = chat->lineCount();
            return count > 0 && chat->lineText(count - 1).endsWith(QStringLiteral("round %1").arg(lines - 1));
        };

        FloodFigures figures;
        figures.rssBeforeKb = statusKb("VmRSS");
        QElapsedTimer clock;
        qint64 lastTick = 0;
        qint64 longestGap = 0;
        QTimer ticker;
        ticker.setInterval(0);
        QObject::connect(&ticker, &QTimer::timeout, [&] {
            const qint64 now = clock.nsecsElapsed();
            longestGap = std::max(longestGap, now - lastTick);
            lastTick = now;
        });
        const double cpuBefore = cpuSeconds();
        clock.start();
        ticker.start();
        for (int write = 0; write < kFloodWrites; ++write) {
            QByteArray burst;
            burst.reserve(kFloodLinesPerWrite * 90);
            for (int i = 0; i < kFloodLinesPerWrite; ++i)
                burst += floodLine(write * kFloodLinesPerWrite + i);
            server.send(0, burst);
            if (!runUntil([&] { return held((write + 1) * kFloodLinesPerWrite); }))
                return std::nullopt;
        }
        figures.heldMs = clock.nsecsElapsed() / 1e6;
        QCoreApplication::processEvents();
        channel().repaint();
        figures.paintedMs = clock.nsecsElapsed() / 1e6;
        ticker.stop();
        figures.cpuUsPerLine = (cpuSeconds() - cpuBefore) * 1e6 / kFloodLines;
        figures.longestBlockMs = std::max(longestGap, clock.nsecsElapsed() - lastTick) / 1e6;
        figures.rssAfterKb = statusKb("VmRSS");
        figures.peakRssKb = statusKb("VmHWM");

        // The timing means nothing unless the lines took their real paths.
        const QString filtered = chat->lineText(first + kFloodFilteredSlot);
        const QString action = chat->lineText(first + kFloodActionSlot);
        if (chat->lineCount() != first + kFloodLines || filtered.contains(QLatin1String("fuck"))
            || action != QLatin1String("Tarn waves red white, round 7")) {
            std::fprintf(stderr, "flood: unexpected view: %d lines, \"%s\", \"%s\"\n", chat->lineCount(),
                         qPrintable(filtered), qPrintable(action));
            return std::nullopt;
        }
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

bool reportFlood(Bench& bench)
{
    const std::optional<FloodFigures> figures = bench.flood();
    if (!figures) {
        std::fprintf(stderr, "flood: the lines did not all reach the view\n");
        return false;
    }
    const double linesPerSecond = kFloodLines / (figures->paintedMs / 1e3);
    const auto mb = [](long kb) { return kb / 1024.0; };
    std::printf("flood: %d x PRIVMSG #Help in %d writes of %d, filter on\n", kFloodLines, kFloodWrites,
                kFloodLinesPerWrite);
    std::printf("  held %.0f ms, painted %.0f ms: %.0f lines/s  %s (target %.0f)\n", figures->heldMs,
                figures->paintedMs, linesPerSecond, linesPerSecond >= kFloodTargetLinesPerSecond ? "ok" : "UNDER",
                kFloodTargetLinesPerSecond);
    std::printf("  CPU %.1f us/line, event loop blocked at most %.1f ms\n", figures->cpuUsPerLine,
                figures->longestBlockMs);
    std::printf("  RSS %.1f MB before, %.1f MB after, peak %.1f MB; %.0f bytes per kept line\n",
                mb(figures->rssBeforeKb), mb(figures->rssAfterKb), mb(figures->peakRssKb),
                (figures->rssAfterKb - figures->rssBeforeKb) * 1024.0 / kFloodLines);
    std::fflush(stdout);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // The program's own font: text layout costs depend on it.
    applyProgramLook();
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 9;
    const QByteArray only = argc > 2 ? QByteArray(argv[2]) : QByteArray();
    const auto wanted = [&](const char* scenario) { return only.isEmpty() || only == scenario; };

    Bench bench;
    if (!bench.open()) {
        std::fprintf(stderr, "could not start a chat session against the fake server\n");
        return 1;
    }
    if (only == "flood") {
        bench.enterChannel();
        return reportFlood(bench) ? 0 : 1;
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
