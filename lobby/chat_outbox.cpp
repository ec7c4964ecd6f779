#include "lobby/chat_outbox.h"

#include <algorithm>

namespace {

QByteArray commandOf(const QByteArray& line)
{
    const qsizetype space = line.indexOf(' ');
    return (space < 0 ? line : line.left(space)).toUpper();
}

} // namespace

bool ChatOutbox::isCostly(const QByteArray& line)
{
    const QByteArray command = commandOf(line);
    const qsizetype space = line.indexOf(' ');
    const QByteArray argument = space < 0 ? QByteArray() : line.mid(space + 1).trimmed();
    // A WHO of a channel costs as much as the channel has members.
    return command == "LIST" || command == "WHO" || (command == "WHOIS" && (argument.isEmpty() || argument == "*"));
}

qint64 ChatOutbox::chargeMs(const QByteArray& line)
{
    const QByteArray command = commandOf(line);
    if (command == "LIST")
        return 5000;
    // InspIRCd charges a WHO by the size of its answer: five seconds and
    // more for a lobby of a few hundred.
    if (isCostly(line))
        return 6000;
    if (command == "WHOIS" || command == "JOIN")
        return 2000;
    return 1000;
}

qint64 ChatOutbox::countedMs(qint64 nowMs) const
{
    return std::max<qint64>(0, countMs_ - (nowMs - countAtMs_));
}

bool ChatOutbox::request(const QByteArray& line, qint64 nowMs)
{
    if (waitingCount() >= kMostWaiting || isWaiting(line))
        return false;
    waiting_.push_back({line, nowMs});
    waitingBytes_ += line.size();
    return true;
}

void ChatOutbox::userTyping(qint64 nowMs)
{
    typingUntilMs_ = nowMs + kTypingPauseMs;
}

bool ChatOutbox::isWaiting(const QByteArray& line) const
{
    return std::any_of(waiting_.begin(), waiting_.end(), [&line](const Waiting& w) { return w.line == line; });
}

std::optional<QByteArrayList> ChatOutbox::takeDue(qint64 nowMs)
{
    const std::optional<qint64> due = nextDueMs(nowMs);
    if (!due || *due > nowMs)
        return std::nullopt;
    QByteArrayList lines{std::move(waiting_.front().line)};
    waiting_.pop_front();
    waitingBytes_ -= lines.front().size();
    if (pacing_) {
        probe_ = QByteArrayLiteral("tavimere-") + QByteArray::number(++probes_);
        probeSentMs_ = nowMs;
        lines.append(QByteArrayLiteral("PING :") + *probe_);
    }
    countMs_ = countedMs(nowMs);
    countAtMs_ = nowMs;
    for (const QByteArray& line : lines)
        countMs_ += chargeMs(line);
    return lines;
}

std::optional<qint64> ChatOutbox::nextDueMs(qint64 nowMs) const
{
    if (waiting_.empty())
        return std::nullopt;
    if (!pacing_)
        return nowMs;
    const Waiting& next = waiting_.front();
    // When the count has fallen far enough for the request and its PING; a
    // request bigger than that goes once the server counts nothing.
    const qint64 allowed = std::max<qint64>(0, kRequestBudgetMs - chargeMs(next.line) - chargeMs("PING"));
    const qint64 room = countAtMs_ + countMs_ - allowed;
    qint64 due = std::max({nowMs, room, restUntilMs_});
    if (probe_)
        due = std::max(due, probeSentMs_ + kProbeTimeoutMs);
    if (isCostly(next.line))
        due = std::max(due, std::min(typingUntilMs_, next.sinceMs + kMostTypingWaitMs));
    return due;
}

void ChatOutbox::answered(const QByteArray& token, qint64 nowMs)
{
    if (!probe_ || token != *probe_)
        return;
    probe_.reset();
    restUntilMs_ = nowMs + std::min(nowMs - probeSentMs_, kProbeTimeoutMs);
}

bool ChatOutbox::mayAnswerPing(qint64 nowMs)
{
    if (!pingLimit_)
        return true;
    while (!pingAnswers_.empty() && pingAnswers_.front() <= nowMs - kPingAnswersPerMs)
        pingAnswers_.pop_front();
    if (static_cast<int>(pingAnswers_.size()) >= kMostPingAnswers)
        return false;
    pingAnswers_.push_back(nowMs);
    return true;
}

void ChatOutbox::dropWaiting()
{
    waiting_.clear();
    waitingBytes_ = 0;
}

void ChatOutbox::reset()
{
    dropWaiting();
    probe_.reset();
    restUntilMs_ = 0;
    countMs_ = 0;
    pingAnswers_.clear();
}
