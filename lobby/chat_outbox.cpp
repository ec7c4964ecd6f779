#include "lobby/chat_outbox.h"

#include <algorithm>

bool ChatOutbox::isCostly(const QByteArray& line)
{
    const qsizetype space = line.indexOf(' ');
    const QByteArray command = (space < 0 ? line : line.left(space)).toUpper();
    const QByteArray argument = space < 0 ? QByteArray() : line.mid(space + 1).trimmed();
    // A WHO of a channel costs as much as the channel has members.
    return command == "LIST" || command == "WHO" || (command == "WHOIS" && (argument.isEmpty() || argument == "*"));
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
    return lines;
}

std::optional<qint64> ChatOutbox::nextDueMs(qint64 nowMs) const
{
    if (waiting_.empty())
        return std::nullopt;
    if (!pacing_)
        return nowMs;
    qint64 due = std::max({nowMs, probes_ > 0 ? probeSentMs_ + kLeastGapMs : nowMs, restUntilMs_});
    if (probe_)
        due = std::max(due, probeSentMs_ + kProbeTimeoutMs);
    const Waiting& next = waiting_.front();
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
    pingAnswers_.clear();
}
