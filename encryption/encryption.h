#pragma once

#include <QString>
#include <optional>

// Turns a scrambled text back into plain text: every group of three
// characters is looked up in a fixed table; a group that is not in it (or a
// short group at the end) stands for itself. Pending events run before and
// after each group. The plain text is also written back into `text`.
QString unscrambleText(QString& text);

// unscrambleText() on a stored scrambled text.
QString unscrambled(const char* stored);

// The plain form of a stored text, turned back once at first use and kept:
// for texts needed on every received line, where running the routine (and
// its event processing) again each time would stall a burst.
const QString& cachedText(const char* stored);

// The scrambled form of `plain`, for adding texts to the program; nullopt
// when a character has no group in the table.
std::optional<QString> scrambleText(const QString& plain);
