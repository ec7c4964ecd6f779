#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QList>
#include <QtGlobal>
#include <deque>
#include <optional>

// What the chat connection sends, and when. A chat server holds back every
// command a client sends until the time it charges for the earlier ones has
// passed: a stock ngircd charges 4 s for "who" and "whois *", 2 s for LIST
// and PART, 1 s for a whois of one nick, and nothing for a message. So the
// user's own lines go out at once, and the client's automatic requests wait
// until the server has worked off what it charged so far: one request at a
// time is ever pending there, and a line the user types is never stuck
// behind a pile of them.
class ChatOutbox {
public:
    // What the server is likely to charge for a line, in milliseconds.
    static int costMs(const QByteArray& line);

    // The most automatic requests that wait at once; more are refused, and
    // the rules ask again later (a member's flag at the next end of WHO).
    static constexpr int kMostWaiting = 500;

    // A line of the user's (or the registration, the keep-alive answer, the
    // farewell): it goes out now, and what the server charges for it counts.
    void sentNow(const QByteArrayList& lines, qint64 nowMs);

    // Queues an automatic request. False when the same request already
    // waits (it would only fetch the same again) or the queue is full.
    bool request(const QByteArray& line);

    // The next request whose turn has come, taken off the queue and counted.
    std::optional<QByteArray> takeDue(qint64 nowMs);
    // When the next waiting request will be due; nullopt when none waits.
    std::optional<qint64> nextDueMs(qint64 nowMs) const;

    // Whether what the server charges counts. Tests of other things turn it
    // off, so that requests go out as soon as they are made.
    void setPacing(bool on) { pacing_ = on; }

    // The bytes of the waiting requests.
    qsizetype waitingBytes() const { return waitingBytes_; }
    int waitingCount() const { return static_cast<int>(waiting_.size()); }
    bool isWaiting(const QByteArray& line) const;

    // Forgets the waiting requests (a channel left, a session ended); what
    // the server was charged still counts.
    void dropWaiting();
    // A new connection: nothing waits and nothing is charged.
    void reset();

private:
    std::deque<QByteArray> waiting_;
    qsizetype waitingBytes_ = 0;
    // Until when the server is still working off what it charged us.
    qint64 busyUntilMs_ = 0;
    bool pacing_ = true;
};
