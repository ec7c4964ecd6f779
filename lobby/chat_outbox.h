#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QtGlobal>
#include <deque>
#include <optional>

// What the chat connection sends, and when. A chat server charges time for
// every command a client sends, forgives a second of it each second, and
// holds back everything once the charge passes about ten seconds: a stock
// ngircd charges 4 s for "who" and "whois *", 2 s for LIST and 1 s for a
// whois of one nick; InspIRCd 5 s for LIST, a second for every few dozen
// users a WHO lists, 2 s for a whois and 1 s for anything else, a message
// too. So the user's own lines go out at once, and the client's automatic
// requests go one at a time: each is followed by a PING, and the next waits
// until the server's PONG shows it has worked off the one before, and as
// long again as it took, and until what the server still counts for the
// requests leaves room for the user's lines. A line the user types never
// queues behind a pile of requests.
class ChatOutbox {
public:
    // The most automatic requests that wait at once; more are refused, and
    // the rules ask again later (a member's flag at the next end of WHO).
    static constexpr int kMostWaiting = 500;
    // How long a PONG may take before the server counts as ready anyway.
    static constexpr qint64 kProbeTimeoutMs = 30000;
    // The most the requests and their PINGs may bring the server's count
    // to: the rest of its ten seconds is the user's, a few long lines at
    // once.
    static constexpr qint64 kRequestBudgetMs = 6000;
    // How long a paused typist holds back the costly requests, and the most
    // any request waits for typing.
    static constexpr qint64 kTypingPauseMs = 3000;
    static constexpr qint64 kMostTypingWaitMs = 20000;

    // Requests a server charges seconds for: asking about everyone or a
    // whole channel, the channel list.
    static bool isCostly(const QByteArray& line);
    // The most a server that counts commands charges for a line.
    static qint64 chargeMs(const QByteArray& line);
    // What the server still counts for the requests, as far as we can tell.
    qint64 countedMs(qint64 nowMs) const;

    // Queues an automatic request. False when the same request already
    // waits (it would only fetch the same again) or the queue is full.
    bool request(const QByteArray& line, qint64 nowMs);

    // The next request whose turn has come, taken off the queue, with the
    // PING that follows it; nullopt when none is due.
    std::optional<QByteArrayList> takeDue(qint64 nowMs);
    // When the next waiting request will be due; nullopt when none waits.
    std::optional<qint64> nextDueMs(qint64 nowMs) const;

    // The server answered a PING of ours with this token. A server that
    // took long to get to it is busy: the next request waits as long again,
    // so that what it still counts against us can wear off.
    void answered(const QByteArray& token, qint64 nowMs);

    // Whether the server's own PING may be answered now. A server pings
    // once a minute or so; one that pings without end gets a few answers
    // a while, not a flood of them.
    bool mayAnswerPing(qint64 nowMs);
    // A benchmark that times the answers to its own PINGs sends many more:
    // it turns the limit off.
    void setPingLimit(bool on) { pingLimit_ = on; }
    static constexpr int kMostPingAnswers = 5;
    static constexpr qint64 kPingAnswersPerMs = 10000;

    // The user is typing: a costly request waits until the typing has
    // paused (or has waited long enough), so that the line being typed does
    // not queue behind it at the server.
    void userTyping(qint64 nowMs);

    // Whether requests wait for the server. Tests of other things turn it
    // off, so that requests go out as soon as they are made.
    void setPacing(bool on) { pacing_ = on; }

    // The bytes of the waiting requests.
    qsizetype waitingBytes() const { return waitingBytes_; }
    int waitingCount() const { return static_cast<int>(waiting_.size()); }
    bool isWaiting(const QByteArray& line) const;

    // Forgets the waiting requests (a channel left, a session ended).
    void dropWaiting();
    // A new connection: nothing waits, nothing is outstanding.
    void reset();

private:
    struct Waiting {
        QByteArray line;
        qint64 sinceMs;
    };
    std::deque<Waiting> waiting_;
    qsizetype waitingBytes_ = 0;
    // The PING sent after the last request, until the server answers it.
    std::optional<QByteArray> probe_;
    qint64 probeSentMs_ = 0;
    // When the server may take the next request, as its last answer showed.
    qint64 restUntilMs_ = 0;
    quint64 probes_ = 0;
    qint64 typingUntilMs_ = 0;
    // What the server counted for the requests when the last one went out.
    qint64 countMs_ = 0;
    qint64 countAtMs_ = 0;
    // When the answers of the last few seconds were sent.
    std::deque<qint64> pingAnswers_;
    bool pacing_ = true;
    bool pingLimit_ = true;
};
