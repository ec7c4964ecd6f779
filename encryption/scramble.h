#pragma once

#include <QString>
#include <functional>
#include <optional>

// Runs between the groups of a text being turned back: the program lets its
// pending events run there; tests and fuzz targets pass nothing.
using BetweenGroups = std::function<void()>;

// Turns a scrambled text back into plain text: every group of three
// characters is looked up in a fixed table; a group that is not in it (or a
// short group at the end) stands for itself. `betweenGroups` runs before and
// after each group. The plain text is also written back into `text`.
QString unscrambleGroups(QString& text, const BetweenGroups& betweenGroups);

// Turns every stored text (scrambled::kAll) back once and keeps it. The
// program runs it at start-up, before any window or connection exists,
// since its own routine lets pending events run; later calls do nothing.
void turnBackStoredTexts(const BetweenGroups& betweenGroups);

// The plain form of a stored text, as turned back at start-up. Never runs
// pending events, so handlers may use it anywhere. A text missing from
// scrambled::kAll comes back empty.
const QString& plainText(const char* stored);

// The scrambled form of `plain`, for adding texts to the program; nullopt
// when a character has no group in the table.
std::optional<QString> scrambleText(const QString& plain);
