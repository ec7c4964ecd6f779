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

// Turns every stored text (scrambled::kAll) back once and keeps it. Runs at
// start-up, before any window or connection exists, since the routine lets
// pending events run; later calls do nothing.
void turnBackStoredTexts();

// The plain form of a stored text, as turned back at start-up. Never runs
// pending events, so handlers may use it anywhere. A text missing from
// scrambled::kAll comes back empty.
const QString& plainText(const char* stored);

// The scrambled form of `plain`, for adding texts to the program; nullopt
// when a character has no group in the table.
std::optional<QString> scrambleText(const QString& plain);
