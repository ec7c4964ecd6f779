#include "lobby/chat_outbox.h"

#include <algorithm>

namespace {

// A little beyond what the server charges, for the time the line and its
// answer take on the way.
constexpr qint64 kMarginMs = 250;

QByteArray commandOf(const QByteArray& line, QByteArray* argument)
{
    const qsizetype space = line.indexOf(' ');
    if (argument)
        *argument = space < 0 ? QByteArray() : line.mid(space + 1).trimmed();
    return (space < 0 ? line : line.left(space)).toUpper();
}

} // namespace

int ChatOutbox::costMs(const QByteArray& line)
{
    QByteArray argument;
    const QByteArray command = commandOf(line, &argument);
    if (command == "PRIVMSG" || command == "NOTICE" || command == "JOIN" || command == "PONG" || command == "PASS"
        || command == "NICK" || command == "USER" || command == "QUIT")
        return 0;
    // Asking about everyone makes the server look at every user.
    if ((command == "WHO" || command == "WHOIS") && (argument.isEmpty() || argument == "*"))
        return 4000;
    if (command == "LIST" || command == "PART")
        return 2000;
    return 1000;
}

void ChatOutbox::sentNow(const QByteArrayList& lines, qint64 nowMs)
{
    for (const QByteArray& line : lines) {
        const int cost = costMs(line);
        if (cost > 0 && pacing_)
            busyUntilMs_ = std::max(busyUntilMs_, nowMs) + cost;
    }
}

bool ChatOutbox::request(const QByteArray& line)
{
    if (waitingCount() >= kMostWaiting || isWaiting(line))
        return false;
    waiting_.push_back(line);
    waitingBytes_ += line.size();
    return true;
}

bool ChatOutbox::isWaiting(const QByteArray& line) const
{
    return std::find(waiting_.begin(), waiting_.end(), line) != waiting_.end();
}

std::optional<QByteArray> ChatOutbox::takeDue(qint64 nowMs)
{
    const std::optional<qint64> due = nextDueMs(nowMs);
    if (!due || *due > nowMs)
        return std::nullopt;
    QByteArray line = std::move(waiting_.front());
    waiting_.pop_front();
    waitingBytes_ -= line.size();
    sentNow({line}, nowMs);
    return line;
}

std::optional<qint64> ChatOutbox::nextDueMs(qint64 nowMs) const
{
    if (waiting_.empty())
        return std::nullopt;
    return busyUntilMs_ == 0 ? nowMs : std::max(nowMs, busyUntilMs_ + kMarginMs);
}

void ChatOutbox::dropWaiting()
{
    waiting_.clear();
    waitingBytes_ = 0;
}

void ChatOutbox::reset()
{
    dropWaiting();
    busyUntilMs_ = 0;
}
