#include "channel/entry_line.h"

#include <algorithm>

// ----------------------------------------------------------------- history

void EntryHistory::add(const QString& line)
{
    endWalk();
    if (line.trimmed().isEmpty() || (!lines_.isEmpty() && lines_.constLast() == line))
        return;
    lines_.append(line);
    if (lines_.size() > kMostLines)
        lines_.removeFirst();
    at_ = size();
}

void EntryHistory::endWalk()
{
    at_ = size();
    edits_.clear();
}

std::optional<QString> EntryHistory::older(const QString& shown)
{
    if (at_ == 0)
        return std::nullopt;
    return walkTo(at_ - 1, shown);
}

std::optional<QString> EntryHistory::newer(const QString& shown)
{
    if (at_ >= size())
        return std::nullopt;
    return walkTo(at_ + 1, shown);
}

std::optional<QString> EntryHistory::walkTo(int position, const QString& shown)
{
    // What the box holds now stays with the place the walk leaves: the line
    // being written always, a recalled line only where the user changed it.
    if (at_ == size() || shown != lines_.at(at_))
        edits_.insert(at_, shown);
    else
        edits_.remove(at_);
    at_ = position;
    return edits_.value(at_, at_ < size() ? lines_.at(at_) : QString());
}

// -------------------------------------------------------------- completion

namespace {

// The line's first word: nothing before it but the line break the previous
// Enter left at the front of the box, which the next Enter takes out.
bool startsLine(const QString& text, int wordStart)
{
    return wordStart == 0 || (wordStart == 1 && text.at(0).isSpace() && text.at(0) != u' ');
}

} // namespace

std::optional<Completed> NameCompletion::complete(const QString& text, int caret, const QStringList& names)
{
    caret = std::clamp(caret, 0, static_cast<int>(text.size()));
    const bool again = last_ && last_->text == text && last_->caret == caret && !matches_.isEmpty();
    if (again) {
        match_ = (match_ + 1) % static_cast<int>(matches_.size());
    } else {
        last_.reset();
        int start = caret;
        while (start > 0 && !text.at(start - 1).isSpace())
            --start;
        const QString prefix = text.mid(start, caret - start);
        if (prefix.isEmpty())
            return std::nullopt;
        QStringList matches;
        for (const QString& name : names) {
            if (name.startsWith(prefix, Qt::CaseInsensitive))
                matches.append(name);
        }
        if (matches.isEmpty())
            return std::nullopt;
        wordStart_ = start;
        matches_ = matches;
        match_ = 0;
    }
    // The text after what this completion replaces: after the word, or after
    // the previous completion with what followed it.
    const QString rest = text.mid(caret);
    QString name = matches_.at(match_);
    if (startsLine(text, wordStart_))
        name += u':';
    if (!rest.startsWith(u' '))
        name += u' ';
    Completed done;
    done.text = text.left(wordStart_) + name + rest;
    done.caret = wordStart_ + static_cast<int>(name.size());
    last_ = done;
    return done;
}
