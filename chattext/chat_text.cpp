#include "chattext/chat_text.h"

#include "encryption/scramble.h"
#include "encryption/texts.h"

#include <QStringList>
#include <algorithm>

namespace {

struct ColourCode {
    QChar letter;
    QColor colour;
};

// Spaces only: a tab the sender typed on purpose stays part of the action.
QString trimBlanks(const QString& text)
{
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text.at(first) == u' ')
        ++first;
    while (last > first && text.at(last - 1) == u' ')
        --last;
    return text.mid(first, last - first);
}

} // namespace

namespace {

bool breaksLine(char16_t c)
{
    return c == u'\n' || c == u'\r' || c == 0x0B || c == 0x0C || c == 0x85 || c == 0x2028 || c == 0x2029
        || (c >= 0x1C && c <= 0x1E);
}

bool isInvisibleFormat(char16_t c)
{
    return (c >= 0x200B && c <= 0x200F) || (c >= 0x202A && c <= 0x202E) || (c >= 0x2060 && c <= 0x2069)
        || c == 0x061C || c == 0xFEFF || c == 0x180E || c == 0x00AD || c == 0x034F;
}

// Letters, digits, blanks and punctuation of ASCII: what nearly every
// received text is made of, kept as it is.
bool isPlainAscii(const QString& text)
{
    return std::all_of(text.begin(), text.end(), [](QChar ch) { return ch.unicode() >= 0x20 && ch.unicode() < 0x7F; });
}

QString shown(const QString& text, bool markHidden)
{
    if (isPlainAscii(text))
        return text;
    QString out;
    out.reserve(text.size());
    for (const QChar ch : text) {
        const char16_t c = ch.unicode();
        // A tab may space out what someone says, but is no part of a name.
        const bool control = (c < 0x20 && (c != u'\t' || markHidden)) || c == 0x7F || (c >= 0x80 && c < 0xA0);
        if (breaksLine(c))
            out += u' ';
        else if (!isInvisibleFormat(c) && !control)
            out += ch;
        else if (markHidden)
            out += QChar(QChar::ReplacementCharacter);
    }
    return out;
}

} // namespace

QString shownText(const QString& text)
{
    if (isPlainAscii(text))
        return text;
    for (const QChar ch : text) {
        const char16_t c = ch.unicode();
        if (c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0) || isInvisibleFormat(c) || breaksLine(c))
            return shown(text, false);
    }
    return text;
}

QString shownName(const QString& name)
{
    return shown(name, true);
}

bool isHiddenInName(QChar ch)
{
    const char16_t c = ch.unicode();
    return c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0) || isInvisibleFormat(c) || breaksLine(c);
}

QVector<FilterPair> languageFilterPairs()
{
    QVector<FilterPair> pairs;
    for (const scrambled::FilterText& pair : scrambled::kFilter)
        pairs.append({plainText(pair.word), plainText(pair.mask)});
    return pairs;
}

QString chatColourName(const QColor& colour)
{
    const std::pair<const QColor&, const char*> names[] = {
        {chatcolour::lightCyan, "cyan"}, {chatcolour::red, "red"},         {chatcolour::yellow, "yellow"},
        {chatcolour::white, "white"},    {chatcolour::orange, "orange"},   {chatcolour::paleRed, "palered"},
        {chatcolour::grey, "grey"},
    };
    for (const auto& [value, name] : names) {
        if (value == colour)
            return QLatin1String(name);
    }
    return colour.name();
}

QVector<ColourRun> actionRuns(QString& action)
{
    static const ColourCode codes[] = {
        {u'r', chatcolour::red},     {u'y', chatcolour::yellow},    {u'w', chatcolour::white},
        {u'b', chatcolour::lightCyan}, {u'B', chatcolour::orange}, {u'g', chatcolour::paleRed},
        {u'n', chatcolour::grey},
    };

    const qsizetype me = action.indexOf(u"/me");
    if (me >= 0)
        action.remove(me, 3);
    action = trimBlanks(action);

    const QStringList segments = action.split(u'\\');
    QVector<ColourRun> runs;
    runs.reserve(segments.size() + 1);
    runs.append(ColourRun{segments.at(0), std::nullopt});
    for (qsizetype i = 1; i < segments.size(); ++i) {
        const QString& segment = segments.at(i);
        const ColourCode* match = nullptr;
        if (!segment.isEmpty()) {
            for (const ColourCode& code : codes) {
                if (segment.at(0) == code.letter) {
                    match = &code;
                    break;
                }
            }
        }
        // A backslash without a known code is ordinary text, shown as typed
        // in whatever colour is already in force.
        if (match)
            runs.append(ColourRun{segment.mid(1), match->colour});
        else
            runs.append(ColourRun{u'\\' + segment, std::nullopt});
    }
    runs.append(ColourRun{QStringLiteral("\r\n"), std::nullopt});
    return runs;
}

QString profaneFilter(QString& filterTxt, const QVector<FilterPair>& pairs)
{
    for (const FilterPair& pair : pairs) {
        // An empty word matches everywhere and a replacement of another length
        // would change what the sender wrote beyond masking; neither is a mask.
        if (pair.word.isEmpty() || pair.replacement.size() != pair.word.size())
            continue;
        filterTxt.replace(pair.word, pair.replacement, Qt::CaseInsensitive);
    }
    return filterTxt;
}

namespace {

// A character as the case-insensitive replacement compares it: folded, and a
// low surrogate together with the high surrogate before it.
char32_t foldedAt(QStringView text, qsizetype i)
{
    const char16_t c = text[i].unicode();
    if (c < 0x80)
        return c >= u'A' && c <= u'Z' ? char32_t(c + 32) : char32_t(c);
    char32_t ucs4 = c;
    if (QChar::isLowSurrogate(c) && i > 0 && text[i - 1].isHighSurrogate())
        ucs4 = QChar::surrogateToUcs4(text[i - 1].unicode(), c);
    return QChar::toCaseFolded(ucs4);
}

} // namespace

FilterMatcher::FilterMatcher(const QVector<FilterPair>& pairs)
    : pairs_(pairs)
    , byFirst_(256)
{
    for (const FilterPair& pair : pairs) {
        if (pair.word.isEmpty() || pair.replacement.size() != pair.word.size())
            continue;
        QVector<char32_t> folded;
        folded.reserve(pair.word.size());
        for (qsizetype i = 0; i < pair.word.size(); ++i)
            folded.append(foldedAt(pair.word, i));
        byFirst_[folded.first() & 0xff].append(static_cast<int>(words_.size()));
        words_.append(folded);
    }
    for (char16_t c = 0; c < 128; ++c)
        asciiStarts_[c] = !byFirst_[foldedAt(QStringView(&c, 1), 0) & 0xff].isEmpty();
}

bool FilterMatcher::occursIn(QStringView text) const
{
    const qsizetype size = text.size();
    for (qsizetype at = 0; at < size; ++at) {
        // Most characters start no word, and a table says so at once.
        const char16_t c = text[at].unicode();
        if (c < 0x80 && !asciiStarts_[c])
            continue;
        const char32_t first = foldedAt(text, at);
        for (const int w : byFirst_[first & 0xff]) {
            const QVector<char32_t>& word = words_[w];
            if (word.first() != first || word.size() > size - at)
                continue;
            qsizetype k = 1;
            while (k < word.size() && foldedAt(text, at + k) == word[k])
                ++k;
            if (k == word.size())
                return true;
        }
    }
    return false;
}

QString profaneFilter(QString& filterTxt, const FilterMatcher& matcher)
{
    // No word in the text means no pair changes it, so no later pair sees
    // anything an earlier one wrote.
    if (!matcher.occursIn(filterTxt))
        return filterTxt;
    return profaneFilter(filterTxt, matcher.pairs());
}

OutgoingDecision decideOutgoing(const QString& message, bool iAmAway)
{
    using Kind = OutgoingDecision::Kind;
    const QString line = oneLine(message);
    OutgoingDecision decision;

    if (line.startsWith(u"/away")) {
        // Setting a new away text while away just replaces it; the user has
        // not come back.
        decision.kind = Kind::SetAway;
        const qsizetype blank = line.indexOf(u' ');
        if (blank >= 0)
            decision.awayMessage = line.mid(blank + 1);
        return decision;
    }

    // Any other line, even one that is refused below, means the user is back.
    decision.awayCleared = iAmAway;

    if (line.startsWith(u"/me")) {
        decision.kind = Kind::Action;
        decision.text = line;
        return decision;
    }

    const QString msgCommand = QStringLiteral("/msg ");
    if (line.startsWith(msgCommand)) {
        const qsizetype nickStart = msgCommand.size();
        const qsizetype nickEnd = line.indexOf(u' ', nickStart);
        const QString target = line.mid(nickStart, nickEnd < 0 ? -1 : nickEnd - nickStart);
        // "/msg " alone does nothing; a second blank where the nick should be
        // names nobody, and the user is told so.
        if (target.isEmpty()) {
            if (line.size() > msgCommand.size())
                decision.kind = Kind::NoTarget;
            return decision;
        }
        decision.kind = Kind::PrivateMessage;
        decision.target = target;
        if (nickEnd >= 0)
            decision.text = line.mid(nickEnd + 1);
        return decision;
    }

    if (line.startsWith(u'/')) {
        decision.kind = Kind::UnknownCommand;
        return decision;
    }

    decision.kind = Kind::ChannelMessage;
    decision.text = line;
    return decision;
}

QString oneLine(const QString& text)
{
    QString out = text;
    for (QChar& c : out) {
        if (c == u'\r' || c == u'\n' || c == QChar::Null)
            c = u' ';
    }
    return out;
}

QString withoutControls(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : oneLine(text)) {
        const char16_t u = c.unicode();
        if (u >= 0x20 && u != 0x7F && (u < 0x80 || u >= 0xA0))
            out += c;
    }
    return out;
}
