// How long the lobby takes from the arrival of a big burst of chat server
// lines to a list that is up to date and painted, how long the event loop is
// held up meanwhile, and how fast a flood of channel messages gets through
// to the chat view. The bursts go through a real loopback connection, so
// reading, splitting and decoding count too. A few pieces are also timed on
// their own: list removals, the chat view, the language filter, the entry
// line's paste.
//
//   cmake --build build --target tavimere-bench
//   QT_QPA_PLATFORM=offscreen build/bench/tavimere-bench [runs] [scenario]
//   QT_QPA_PLATFORM=offscreen build/bench/tavimere-bench 1 flood [lines]
//
// Scenarios: list, who, names (the default three); list100k, who200k,
// joinsparts, pings; remove, filter, paste; view, view-textedit; flood. The
// view scenarios and the flood run once per process: their memory figures
// are those of the whole process.

#include "app/forms.h"
#include "channel/channel.h"
#include "chattext/chat_text.h"
#include "encryption/encryption.h"
#include "encryption/texts.h"
#include "lobby/lobby.h"
#include "login/login.h"
#include "loop_watch.h"
#include "platform/controls.h"
#include "platform/listview.h"
#include "platform/service.h"
#include "platform/socket.h"
#include "support/fakes.h"
#include "support/test_session.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QElapsedTimer>
#include <QFile>
#include <QFont>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTimer>
#include <algorithm>
#include <cmath>
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
constexpr int kFloodLinesPerWrite = 1000;
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

QByteArray fromUser(const QByteArray& nick, const QByteArray& rest)
{
    return ':' + nick + "!~Username@players.fenmoor.test " + rest + "\r\n";
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
    // The longest pass of the event loop while the burst was handled; NaN
    // for pieces timed on their own, outside the event loop.
    double longestPassMs = std::nan("");
};

// The text of one channel message of the flood.
QString floodText(int index)
{
    const char* text = "anyone up for a game on the new map? round ";
    if (index % 20 == kFloodActionSlot)
        text = "/me waves \\rred\\w white, round ";
    else if (index % 20 == kFloodFilteredSlot)
        text = "what the fuck, round ";
    return QLatin1String(text) + QString::number(index);
}

const char* floodSpeaker(int index)
{
    static const char* const speakers[] = {"Kite", "Wren", "Moss", "Tarn"};
    return speakers[index % 4];
}

// One channel message of the flood, from one of a few speakers.
QByteArray floodLine(int index)
{
    return fromUser(floodSpeaker(index), "PRIVMSG #Help :" + floodText(index).toUtf8());
}

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

double mb(long kb)
{
    return kb / 1024.0;
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
        if (limit.elapsed() > 60000)
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
    LoopWatch watch;
    QElapsedTimer timer;
    watch.start();
    timer.start();
    server.send(0, burst);
    if (!runUntil(updated))
        return std::nullopt;
    Figures figures;
    figures.updatedMs = timer.nsecsElapsed() / 1e6;
    QCoreApplication::processEvents();
    window->repaint();
    figures.paintedMs = timer.nsecsElapsed() / 1e6;
    watch.stop();
    figures.longestPassMs = watch.longestMs();
    return figures;
}

struct FloodFigures {
    double heldMs = 0;
    double paintedMs = 0;
    double longestPassMs = 0;
    double cpuUsPerLine = 0;
    long rssBeforeKb = 0;
    // After each 100,000 lines.
    QList<long> rssKb;
    long peakRssKb = 0;
};

class Bench {
public:
    Bench() = default;
    Bench(const Bench&) = delete;
    Bench& operator=(const Bench&) = delete;

    bool open()
    {
        if (!session_.openLobby())
            return false;
        // Only the bursts below may reach the lists.
        session_.quietTimers();
        return true;
    }

    std::optional<Figures> channelList(int run, int channels)
    {
        QByteArray burst = reply("321", "Channel :Users  Name");
        burst.reserve(channels * 80);
        for (int i = 0; i < channels; ++i) {
            burst += reply("322", "#" + runName(run, "c", i) + ' ' + number(i % 97) + " :0" + number(i % 7)
                                      + " Channel number " + number(i) + " of the list");
        }
        burst += reply("323", ":End of LIST");
        const QString last = QString::fromLatin1("#" + runName(run, "c", channels - 1));
        return timeBurst(server, burst, &lobby(), [&] {
            return lobby().channels->count() == channels && lobby().channels->contains(last);
        });
    }

    std::optional<Figures> lobbyUsers(int run, int users)
    {
        lobby().whoTimerX_Timer();
        QByteArray burst;
        burst.reserve(users * 100);
        for (int i = 0; i < users; ++i)
            burst += whoLine(i % 5 ? "#c" + number(i % 300) : QByteArray("*"), runName(run, "u", i), i % 50);
        burst += reply("315", "* :End of WHO list");
        const QString last = QString::fromLatin1(runName(run, "u", users - 1));
        return timeBurst(server, burst, &lobby(), [&] {
            return lobby().whoList->count() == users && lobby().whoList->contains(last);
        });
    }

    // The NAMES reply of a freshly joined channel; the WHO reply follows as
    // soon as the server has the client's "WHO #Help".
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
            if (!answered && server.received(0).indexOf("WHO #Help\r\n", before) >= 0) {
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

    // 20,000 members join the open channel one line each, then leave again
    // (a netsplit and its return); joins and parts are timed one after the
    // other, the figures are their sums.
    std::optional<Figures> joinsThenParts(int run)
    {
        constexpr int kMembers = 20000;
        channel().users->clear();
        QByteArray joins;
        QByteArray parts;
        for (int i = 0; i < kMembers; ++i) {
            const QByteArray nick = runName(run, "j", i);
            joins += fromUser(nick, "JOIN :#Help");
            parts += fromUser(nick, i % 2 ? "QUIT :Ping timeout" : "PART #Help");
        }
        ListView* users = channel().users;
        const std::optional<Figures> joined =
            timeBurst(server, joins, &channel(), [&] { return users->count() == kMembers; });
        if (!joined)
            return std::nullopt;
        const std::optional<Figures> left = timeBurst(server, parts, &channel(), [&] { return users->count() == 0; });
        if (!left)
            return std::nullopt;
        return Figures{joined->updatedMs + left->updatedMs, joined->paintedMs + left->paintedMs,
                       std::max(joined->longestPassMs, left->longestPassMs)};
    }

    // 100,000 keep-alives in one go, a few of them answered (a server that
    // pings without end gets a few answers a while): updated once the
    // channel list entry that follows them is in.
    std::optional<Figures> pings(int run)
    {
        constexpr int kPings = 100000;
        QByteArray burst;
        burst.reserve(kPings * 24);
        for (int i = 0; i < kPings; ++i)
            burst += "PING :" + runName(run, "p", i) + "\r\n";
        const QByteArray after = "#" + runName(run, "after", 0);
        burst += reply("322", after + " 1 :00 After the pings");
        const QString marker = QString::fromLatin1(after);
        return timeBurst(server, burst, &lobby(), [&] { return lobby().channels->contains(marker); });
    }

    // `lines` messages to #Help with the filter on. Each write goes out once
    // the view holds the one before, so the client takes the flood in reads
    // of about one write each.
    std::optional<FloodFigures> flood(int lines)
    {
        channel().filter->setChecked(true);
        const RichTextView* chat = channel().chat;
        // Lines are shown in order: once the last of a write is there, so are
        // the ones before it.
        const auto held = [&](int count) {
            const int shown = chat->lineCount();
            return shown > 0 && chat->lineText(shown - 1).endsWith(QStringLiteral("round %1").arg(count - 1));
        };

        FloodFigures figures;
        figures.rssBeforeKb = statusKb("VmRSS");
        LoopWatch watch;
        QElapsedTimer clock;
        const double cpuBefore = cpuSeconds();
        clock.start();
        watch.start();
        for (int write = 0; write * kFloodLinesPerWrite < lines; ++write) {
            QByteArray burst;
            burst.reserve(kFloodLinesPerWrite * 90);
            for (int i = 0; i < kFloodLinesPerWrite; ++i)
                burst += floodLine(write * kFloodLinesPerWrite + i);
            server.send(0, burst);
            const int sent = (write + 1) * kFloodLinesPerWrite;
            if (!runUntil([&] { return held(sent); }))
                return std::nullopt;
            if (sent % 100000 == 0)
                figures.rssKb.append(statusKb("VmRSS"));
        }
        figures.heldMs = clock.nsecsElapsed() / 1e6;
        QCoreApplication::processEvents();
        channel().repaint();
        figures.paintedMs = clock.nsecsElapsed() / 1e6;
        watch.stop();
        figures.cpuUsPerLine = (cpuSeconds() - cpuBefore) * 1e6 / lines;
        figures.longestPassMs = watch.longestMs();
        figures.peakRssKb = statusKb("VmHWM");

        // The timing means nothing unless the lines took their real paths:
        // the last twenty lines, as the user sees them.
        const int base = chat->lineCount() - 20;
        const QString filtered = chat->lineText(base + kFloodFilteredSlot);
        const QString action = chat->lineText(base + kFloodActionSlot);
        const QString expectedAction = QStringLiteral("%1 waves red white, round %2")
                                           .arg(QLatin1String(floodSpeaker(lines - 20 + kFloodActionSlot)))
                                           .arg(lines - 20 + kFloodActionSlot);
        if (chat->lineCount() != std::min(lines, RichTextView::kMaxLines) || filtered.contains(QLatin1String("fuck"))
            || action != expectedAction) {
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

    TestSession session_;
    FakeServer& server = session_.chat;
};

// 20,000 members leave a list of 20,000 (a netsplit of a big channel), in
// an order unrelated to the list's, straight through the list view on
// screen: updated when the list is empty, painted after one pass of events
// and a repaint. `batched` puts all removals in one batch.
std::optional<Figures> listRemoval(bool batched)
{
    constexpr int kMembers = 20000;
    static ImageList images;
    if (images.count() == 0)
        images.add(QPixmap(16, 16));
    ListView list;
    list.setColumns({QStringLiteral("Users")});
    list.setImageList(&images);
    list.resize(200, 600);
    list.show();
    QStringList order;
    list.beginBatch();
    for (int i = 0; i < kMembers; ++i) {
        const QString nick = QStringLiteral("member%1").arg(i);
        list.add(nick, nick);
        list.setIcon(nick, 1);
        order.append(nick);
    }
    list.endBatch();
    // A fixed shuffle: the same order in every run and process.
    for (int i = kMembers - 1; i > 0; --i)
        order.swapItemsAt(i, (i * 7919) % (i + 1));
    QCoreApplication::processEvents();
    list.repaint();

    QElapsedTimer timer;
    timer.start();
    if (batched)
        list.beginBatch();
    for (const QString& nick : std::as_const(order))
        list.remove(nick);
    if (batched)
        list.endBatch();
    Figures figures;
    figures.updatedMs = timer.nsecsElapsed() / 1e6;
    QCoreApplication::processEvents();
    list.repaint();
    figures.paintedMs = timer.nsecsElapsed() / 1e6;
    if (list.count() != 0 || list.model()->rowCount() != 0)
        return std::nullopt;
    return figures;
}

// The flood's 100,000 message texts through the language filter with the
// program's fourteen words: pair by pair, or with the one-pass matcher in
// front (updated is the time, painted the same).
std::optional<Figures> filterTexts(bool matcher)
{
    constexpr int kTexts = 100000;
    static const QStringList texts = [] {
        QStringList all;
        for (int i = 0; i < kTexts; ++i)
            all.append(floodText(i));
        return all;
    }();
    const QVector<FilterPair> pairs = languageFilterPairs();
    const FilterMatcher words(pairs);
    qsizetype masked = 0;
    QElapsedTimer timer;
    timer.start();
    for (const QString& text : texts) {
        QString filterTxt = text;
        const QString filtered = matcher ? profaneFilter(filterTxt, words) : profaneFilter(filterTxt, pairs);
        masked += filtered.contains(u'*') ? 1 : 0;
    }
    Figures figures;
    figures.updatedMs = figures.paintedMs = timer.nsecsElapsed() / 1e6;
    if (masked != kTexts / 20)
        return std::nullopt;
    return figures;
}

// A paste of `size` characters into the entry line on screen, until it is
// painted. The clipboard is filled beforehand.
std::optional<Figures> paste(int size)
{
    EntryLine box(Channel::kMessageMaxLength);
    box.resize(600, 20);
    box.show();
    QGuiApplication::clipboard()->setText(QString(size, u'x'));
    QCoreApplication::processEvents();
    QElapsedTimer timer;
    timer.start();
    box.paste();
    Figures figures;
    figures.updatedMs = timer.nsecsElapsed() / 1e6;
    QCoreApplication::processEvents();
    box.repaint();
    figures.paintedMs = timer.nsecsElapsed() / 1e6;
    if (box.toPlainText().size() != Channel::kMessageMaxLength)
        return std::nullopt;
    return figures;
}

using Scenario = std::function<std::optional<Figures>(int)>;

bool report(const char* name, const Scenario& scenario, int runs)
{
    // The first run builds caches (fonts, icons, hash tables): left out.
    if (!scenario(0)) {
        std::fprintf(stderr, "%s: the burst was not handled\n", name);
        return false;
    }
    QList<double> updated;
    QList<double> painted;
    double longestPass = std::nan("");
    for (int run = 1; run <= runs; ++run) {
        const std::optional<Figures> figures = scenario(run);
        if (!figures) {
            std::fprintf(stderr, "%s: the burst was not handled\n", name);
            return false;
        }
        updated.append(figures->updatedMs);
        painted.append(figures->paintedMs);
        if (!std::isnan(figures->longestPassMs))
            longestPass = std::isnan(longestPass) ? figures->longestPassMs
                                                  : std::max(longestPass, figures->longestPassMs);
    }
    const double result = median(painted);
    char pass[32] = "        -";
    if (!std::isnan(longestPass))
        std::snprintf(pass, sizeof pass, "%9.1f", longestPass);
    std::printf("%-48s %9.1f %9.1f %9.1f %9.1f %s  %s\n", name, median(updated), result,
                *std::min_element(painted.begin(), painted.end()), *std::max_element(painted.begin(), painted.end()),
                pass, result < kTargetMs ? "ok" : "OVER");
    std::fflush(stdout);
    return true;
}

bool reportFlood(Bench& bench, int lines)
{
    const std::optional<FloodFigures> figures = bench.flood(lines);
    if (!figures) {
        std::fprintf(stderr, "flood: the lines did not all reach the view\n");
        return false;
    }
    const double linesPerSecond = lines / (figures->paintedMs / 1e3);
    std::printf("flood: %d x PRIVMSG #Help in writes of %d, filter on\n", lines, kFloodLinesPerWrite);
    std::printf("  held %.0f ms, painted %.0f ms: %.0f lines/s  %s (target %.0f)\n", figures->heldMs,
                figures->paintedMs, linesPerSecond, linesPerSecond >= kFloodTargetLinesPerSecond ? "ok" : "UNDER",
                kFloodTargetLinesPerSecond);
    std::printf("  CPU %.2f us/line, longest pass of the event loop %.1f ms\n", figures->cpuUsPerLine,
                figures->longestPassMs);
    std::printf("  RSS %.1f MB before", mb(figures->rssBeforeKb));
    for (qsizetype i = 0; i < figures->rssKb.size(); ++i)
        std::printf(", %.1f MB after %lld lines", mb(figures->rssKb[i]), static_cast<long long>(i + 1) * 100000);
    std::printf("; peak %.1f MB\n", mb(figures->peakRssKb));
    if (!figures->rssKb.isEmpty()) {
        const long kept = std::min(lines, RichTextView::kMaxLines);
        std::printf("  %.0f bytes per kept line (growth over the first 100,000 lines)\n",
                    (figures->rssKb.first() - figures->rssBeforeKb) * 1024.0 / std::min(kept, 100000L));
    }
    std::fflush(stdout);
    return true;
}

// The chat view as it was: a text edit written by the same append step, for
// the figures it is compared with.
class TextEditView : public QPlainTextEdit {
public:
    TextEditView() { setUndoRedoEnabled(false); }
    void appendText(const QString& text, std::optional<QColor> colour = std::nullopt)
    {
        if (colour)
            current_ = *colour;
        batch_.movePosition(QTextCursor::End);
        QTextCharFormat format;
        if (current_.isValid())
            format.setForeground(current_);
        QString plain = text;
        plain.replace(QLatin1String("\r\n"), QLatin1String("\n"));
        batch_.insertText(plain, format);
    }
    void beginAppends()
    {
        batch_ = QTextCursor(document());
        batch_.beginEditBlock();
    }
    void endAppends()
    {
        batch_.endEditBlock();
        verticalScrollBar()->setValue(verticalScrollBar()->maximum());
    }

private:
    QColor current_;
    QTextCursor batch_;
};

// 100,000 lines straight into a chat view on screen, in blocks of 1,000 as
// the dispatcher hands them over, each block laid out and painted: the
// flood's lines without the network, the dispatch and the filter.
template <typename View>
bool reportView(const char* name)
{
    constexpr int kLines = 100000;
    View view;
    view.resize(800, 500);
    view.show();
    QStringList lines;
    lines.reserve(kLines);
    for (int i = 0; i < kLines; ++i)
        lines.append(floodText(i));
    QCoreApplication::processEvents();
    const long rssBefore = statusKb("VmRSS");
    const double cpuBefore = cpuSeconds();
    LoopWatch watch;
    QElapsedTimer clock;
    clock.start();
    watch.start();
    for (int block = 0; block < kLines; block += kFloodLinesPerWrite) {
        view.beginAppends();
        for (int i = block; i < block + kFloodLinesPerWrite; ++i) {
            const QString speaker = QLatin1String(floodSpeaker(i));
            if (i % 20 == kFloodActionSlot) {
                view.appendText(speaker + u' ', chatcolour::lightCyan);
                view.appendText(QStringLiteral("waves "));
                view.appendText(QStringLiteral("red"), chatcolour::red);
                view.appendText(QStringLiteral(" white, round ") + QString::number(i), chatcolour::white);
                view.appendText(QStringLiteral("\r\n"));
            } else {
                view.appendText(speaker + QStringLiteral("> ") + lines.at(i) + QStringLiteral("\r\n"),
                                chatcolour::white);
            }
        }
        view.endAppends();
        QCoreApplication::processEvents();
        view.repaint();
    }
    const double ms = clock.nsecsElapsed() / 1e6;
    watch.stop();
    const double cpuUs = (cpuSeconds() - cpuBefore) * 1e6 / kLines;
    const long rssAfter = statusKb("VmRSS");
    std::printf("%s: %d lines in blocks of %d: %.0f ms, CPU %.2f us/line, longest pass %.1f ms\n", name, kLines,
                kFloodLinesPerWrite, ms, cpuUs, watch.longestMs());
    std::printf("  RSS %.1f MB before, %.1f MB after: %.0f bytes per kept line\n", mb(rssBefore), mb(rssAfter),
                (rssAfter - rssBefore) * 1024.0 / kLines);
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
    const auto wanted = [&](const char* scenario) { return only.isEmpty() ? false : only == scenario; };
    const bool defaults = only.isEmpty();

    if (only == "view")
        return reportView<RichTextView>("chat view") ? 0 : 1;
    if (only == "view-textedit")
        return reportView<TextEditView>("text edit (the chat view before)") ? 0 : 1;

    Bench bench;
    if (!bench.open()) {
        std::fprintf(stderr, "could not start a chat session against the fake server\n");
        return 1;
    }
    if (only == "flood") {
        bench.enterChannel();
        return reportFlood(bench, argc > 3 ? std::max(1000, std::atoi(argv[3]) / 1000 * 1000) : 100000) ? 0 : 1;
    }
    std::printf("median of %d runs, milliseconds; target %.0f ms per burst (updated and painted);\n"
                "longest pass: the longest the event loop was held up, over all runs\n",
                runs, kTargetMs);
    std::printf("%-48s %9s %9s %9s %9s %9s\n", "burst", "updated", "painted", "min", "max", "longest");
    std::fflush(stdout);
    bool ok = true;
    const auto run = [&](bool selected, const char* name, const Scenario& scenario) {
        if (ok && selected)
            ok = report(name, scenario, runs);
    };
    run(defaults || wanted("list"), "LIST: 321 + 5,000 x 322 + 323",
        [&](int r) { return bench.channelList(r, kChannels); });
    run(wanted("list100k"), "LIST: 321 + 100,000 x 322 + 323", [&](int r) { return bench.channelList(r, 100000); });
    run(defaults || wanted("who"), "WHO in the lobby: 10,000 x 352 + 315",
        [&](int r) { return bench.lobbyUsers(r, kLobbyUsers); });
    run(wanted("who200k"), "WHO in the lobby: 200,000 x 352 + 315", [&](int r) { return bench.lobbyUsers(r, 200000); });
    run(wanted("pings"), "100,000 x PING", [&](int r) { return bench.pings(r); });
    run(wanted("remove"), "ListView: remove 20,000 of 20,000", [](int) { return listRemoval(false); });
    run(wanted("remove"), "ListView: remove 20,000 of 20,000, one batch", [](int) { return listRemoval(true); });
    run(wanted("filter"), "filter: 100,000 texts, pair by pair", [](int) { return filterTexts(false); });
    run(wanted("filter"), "filter: 100,000 texts, one-pass matcher first", [](int) { return filterTexts(true); });
    run(wanted("paste"), "entry line: paste 64 KiB", [](int) { return paste(64 * 1024); });
    run(wanted("paste"), "entry line: paste 256 KiB", [](int) { return paste(256 * 1024); });
    run(wanted("paste"), "entry line: paste 1 MiB", [](int) { return paste(1024 * 1024); });
    if (ok && (defaults || wanted("names") || wanted("joinsparts"))) {
        bench.enterChannel();
        run(defaults || wanted("names"), "NAMES 2,000 in 50 x 353 + 366, WHO 2,000 + 315",
            [&](int r) { return bench.channelMembers(r); });
        run(wanted("joinsparts"), "20,000 x JOIN, then 20,000 x PART or QUIT",
            [&](int r) { return bench.joinsThenParts(r); });
    }
    return ok ? 0 : 1;
}
