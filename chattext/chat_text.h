#pragma once

#include <QColor>
#include <QString>
#include <QVector>
#include <array>
#include <optional>

// The chat view's colours, as red, green, blue. One name means one value for
// every writer of the view.
namespace chatcolour {
inline const QColor lightCyan{136, 255, 255};   // line start of an action and code "b"
inline const QColor red{255, 16, 16};           // "r"
inline const QColor yellow{238, 238, 16};       // "y", also private message received
inline const QColor white{255, 255, 255};       // "w", channel messages
inline const QColor orange{255, 128, 16};       // "B", own private message, away reply
inline const QColor paleRed{255, 192, 192};     // "g", status lines, join/part/kick notices
inline const QColor grey{160, 160, 160};        // "n"
} // namespace chatcolour

// A colour's name as tests and failure messages read it: "cyan", "red",
// "yellow", "white", "orange", "palered", "grey", else "#rrggbb".
QString chatColourName(const QColor& colour);

// One piece of an action line: text, and the colour to set before inserting it
// (nullopt: inserted without setting a colour, so it takes the colour in force).
struct ColourRun {
    QString text;
    std::optional<QColor> colour;
};

// The runs that follow the subject and its blank on an action line. `action`
// loses its first "/me" (once, wherever it stands, case-sensitive) and its
// leading and trailing blanks (spaces only); the caller's variable is changed
// so. It is then split at every backslash: segment 0 has no colour; a later
// segment that starts with one of r y w b B g n loses that letter and gets the
// code's colour; any other segment (an empty one too) is printed literally as
// a backslash and the segment, without a colour. The last run is "\r\n"
// without a colour.
QVector<ColourRun> actionRuns(QString& action);

// Word pairs of the language filter: each replacement has its word's length.
struct FilterPair {
    QString word;
    QString replacement;
};

// Replaces, pair by pair in order, every case-insensitive occurrence of the
// word by its replacement (plain substring match, scanning from the start;
// each pair's result is the next pair's input). Writes the result back into
// filterTxt and returns it. Pairs whose replacement length differs from the
// word's, or whose word is empty, are skipped.
QString profaneFilter(QString& filterTxt, const QVector<FilterPair>& pairs);

// Received text as the views show it. A line or paragraph separator (U+2028,
// U+2029, U+0085, a lone CR or LF, and the like) would make one line look
// like two, so anyone could print what looks like another member's line: it
// becomes a blank. Bidirectional embeddings, overrides and isolates would
// reorder what follows them, and zero-width characters hide inside words;
// both are taken out, and so are other control characters except the tab.
QString shownText(const QString& text);

// A name as the views show it: as shownText(), but a zero-width,
// bidirectional or control character becomes a visible U+FFFD, so that
// "Ki" + U+200B + "te" never passes for "Kite".
QString shownName(const QString& name);

// True for a character shownText() takes out of a name: it could make the
// name read as another one, or carry a control character to the wire.
bool isHiddenInName(QChar c);

// The filter's words, made ready once to be looked for in a single pass. It
// finds a word exactly where the pair-by-pair replacement above would (the
// same case folding, a surrogate pair folded as one character), so a text in
// which it finds none would come back unchanged.
class FilterMatcher {
public:
    FilterMatcher() = default;
    explicit FilterMatcher(const QVector<FilterPair>& pairs);

    // Whether any word that can mask something occurs in `text`, in any case.
    bool occursIn(QStringView text) const;
    const QVector<FilterPair>& pairs() const { return pairs_; }

private:
    QVector<FilterPair> pairs_;
    // The words, folded; per low byte of a folded first character, the
    // words that start with it; and whether an ASCII character starts any.
    QVector<QVector<char32_t>> words_;
    QVector<QVector<int>> byFirst_;
    std::array<bool, 128> asciiStarts_{};
};

// The language filter's fourteen word pairs, longer words first where one
// holds another, as the stored texts give them once turned back.
QVector<FilterPair> languageFilterPairs();

// profaneFilter above, at the cost of one pass over a text that holds none of
// the words; a text that holds one gets the pair-by-pair replacement.
QString profaneFilter(QString& filterTxt, const FilterMatcher& matcher);

// What one typed line asks for, after the filter has been applied by the caller.
struct OutgoingDecision {
    enum class Kind { SetAway, Action, PrivateMessage, NoTarget, Nothing, UnknownCommand, ChannelMessage };
    Kind kind = Kind::Nothing;
    // The user was away and this line is not an away command: the caller prints
    // "Away message has been cleared." first and clears the away state.
    bool awayCleared = false;
    QString awayMessage;  // SetAway: everything after the first blank (empty when none)
    QString target;       // PrivateMessage: the nick
    QString text;         // PrivateMessage: the rest, blanks kept; Action and ChannelMessage: the whole line
};

// Decides what a typed line does. Line breaks and NULs in the line become
// blanks first, so nothing the decision hands out can split a server line.
OutgoingDecision decideOutgoing(const QString& message, bool iAmAway);

// The text with every CR, LF and NUL replaced by a blank, so it can go inside one chat line.
QString oneLine(const QString& text);

// oneLine(), and every other control character taken out.
QString withoutControls(const QString& text);
