#pragma once

#include <QHash>
#include <QString>
#include <QStringList>
#include <optional>

// The lines sent from the entry line, for Up and Down to bring back, as a
// shell does: the newest first, the oldest forgotten past kMostLines. A
// recalled line the user edits keeps the edit while the user walks on and
// comes back, and so does the line being written when the walk began;
// sending a line ends the walk and drops the edits, so that the history
// keeps what was really sent.
class EntryHistory {
public:
    static constexpr int kMostLines = 100;

    // A line sent. Empty and blank lines are not kept, nor one the same as
    // the newest.
    void add(const QString& line);

    // The line before or after the one shown, the box holding `shown` now;
    // nullopt, and nothing changes, past either end.
    std::optional<QString> older(const QString& shown);
    std::optional<QString> newer(const QString& shown);

    // The box has been emptied from outside (the window closed): the next
    // Up starts from the newest line again, and the edits go.
    void endWalk();

    int size() const { return static_cast<int>(lines_.size()); }

private:
    std::optional<QString> walkTo(int position, const QString& shown);

    // Oldest first.
    QStringList lines_;
    // Where the walk stands: a line's index, or lines_.size() for the line
    // being written; and what the user made of each line on the way.
    int at_ = 0;
    QHash<int, QString> edits_;
};

// What a completion leaves in the box.
struct Completed {
    QString text;
    int caret = 0;
};

// Tab in the entry line: the word before the caret completed from the
// member list, matched by its start whatever the case. Tab again, with
// nothing else done meanwhile, puts the next match in its place, in list
// order, and after the last the first. A name that starts the line is
// followed by ": ", as one addresses a player; anywhere else by a blank.
class NameCompletion {
public:
    // nullopt when nothing before the caret can be completed: the Tab is then
    // left to move the focus.
    std::optional<Completed> complete(const QString& text, int caret, const QStringList& names);

private:
    // The last completion, to know a repeated Tab, and the word it replaced.
    int wordStart_ = 0;
    QStringList matches_;
    int match_ = 0;
    std::optional<Completed> last_;
};
