#include "lobby/irc_lines.h"

#include "platform/cp1252.h"

#include <QByteArrayView>
#include <QStringConverter>
#include <QStringView>
#include <algorithm>
#include <cstring>

namespace {

constexpr QByteArrayView kLineEnd("\r\n");

// Where the first CR LF at or after `from` starts, or -1: a search for the
// LF, the rarer byte, then a look at the byte before it.
qsizetype lineEndIn(const QByteArray& bytes, qsizetype from)
{
    const char* data = bytes.constData();
    for (qsizetype at = from + 1; at < bytes.size();) {
        const void* lf = std::memchr(data + at, '\n', static_cast<size_t>(bytes.size() - at));
        if (!lf)
            return -1;
        const qsizetype end = static_cast<const char*>(lf) - data;
        if (data[end - 1] == '\r')
            return end - 1;
        at = end + 1;
    }
    return -1;
}

// Every single space separates, so two spaces in a row give an empty field.
QStringList splitAllFields(const QString& text)
{
    return text.split(u' ', Qt::KeepEmptyParts);
}

// Numbers in replies are small signed values; anything that is not plainly
// one (hex, exponents, thousands separators, out of range) is rejected rather
// than guessed at.
std::optional<qint16> toInt16(QStringView text)
{
    text = text.trimmed();
    bool negative = false;
    if (!text.isEmpty() && (text.front() == u'+' || text.front() == u'-')) {
        negative = text.front() == u'-';
        text = text.mid(1);
    }
    if (text.isEmpty())
        return std::nullopt;
    int value = 0;
    for (const QChar ch : text) {
        if (ch < u'0' || ch > u'9')
            return std::nullopt;
        value = value * 10 + (ch.unicode() - u'0');
        if (value > 32768)
            return std::nullopt;
    }
    if (negative)
        value = -value;
    if (value > 32767)
        return std::nullopt;
    return static_cast<qint16>(value);
}

// InspIRCd shows each channel's modes in brackets before its topic in LIST
// replies, "[+Pnt] 05 Help" or, with parameters, "[+klnt <key> 10] 05 Help". The
// length of that list and the one blank after it at the start of `topic`;
// 0 when the topic does not start with one, so any other topic is read as
// it always was.
qsizetype modeListLength(QStringView topic)
{
    if (!topic.startsWith(u"[+"))
        return 0;
    const auto isModeLetter = [](QChar ch) { return (ch >= u'a' && ch <= u'z') || (ch >= u'A' && ch <= u'Z'); };
    qsizetype end = 2;
    while (end < topic.size() && isModeLetter(topic[end]))
        ++end;
    if (end == 2)
        return 0;
    if (end < topic.size() && topic[end] == u' ') {
        end = topic.indexOf(u']', end);
        if (end < 0)
            return 0;
    }
    if (end >= topic.size() || topic[end] != u']')
        return 0;
    ++end;
    if (end == topic.size())
        return end;
    return topic[end] == u' ' ? end + 1 : 0;
}

QString joined(QStringView first, QStringView second)
{
    QString text;
    text.reserve(first.size() + second.size());
    text.append(first);
    text.append(second);
    return text;
}

// The server names the addressee right after the numeric; the first
// "nick " is taken to be that. An empty nick would match any blank. Where
// it stands in `line`, or -1.
qsizetype ownNickAt(QStringView line, const QString& ownNick)
{
    if (ownNick.isEmpty())
        return -1;
    for (qsizetype at = line.indexOf(ownNick); at >= 0; at = line.indexOf(ownNick, at + 1)) {
        const qsizetype end = at + ownNick.size();
        if (end < line.size() && line[end] == u' ')
            return at;
    }
    return -1;
}

// Where `account@host` first stands in `source` at or after `from`, or -1.
qsizetype markIn(QStringView source, QStringView account, QStringView host, qsizetype from)
{
    const qsizetype before = account.size() + 1;
    for (qsizetype at = source.indexOf(host, from + before); at >= 0; at = source.indexOf(host, at + 1)) {
        if (source[at - 1] == u'@' && source.mid(at - before, account.size()) == account)
            return at - before;
    }
    return -1;
}

// Lines whose source carries `account@maskedHost`. Only the source (the
// first word) is looked at: the same text inside a message or a kick reason
// must neither make a line look like it came from someone else nor be cut
// out of what was said.
std::optional<IrcLine> sourceLine(const QString& line, LineKind kind,
                                  QStringView account, const QString& maskedHost)
{
    // Views into the line: a flood of channel messages brings these by the
    // thousand, and only the nick, the command and the arguments are copied.
    const qsizetype space = line.indexOf(u' ');
    const QStringView source = QStringView(line).mid(1, space < 0 ? -1 : space - 1);
    const qsizetype first = markIn(source, account, maskedHost, 0);
    if (first < 0)
        return std::nullopt;

    // The mark goes with the "!~" or else the "!" before it: the first such
    // place counts.
    const auto markAfter = [&](QStringView lead) -> qsizetype {
        for (qsizetype at = first; at >= 0; at = markIn(source, account, maskedHost, at + 1)) {
            if (source.left(at).endsWith(lead))
                return at - lead.size();
        }
        return -1;
    };
    qsizetype cut = markAfter(u"!~");
    qsizetype cutLength = 2;
    if (cut < 0) {
        cut = markAfter(u"!");
        cutLength = 1;
    }
    cutLength += account.size() + 1 + maskedHost.size();

    IrcLine result;
    result.kind = kind;
    result.nick = cut < 0 ? source.toString() : joined(source.left(cut), source.mid(cut + cutLength));
    if (space < 0)
        return result;
    const QStringView rest = QStringView(line).mid(space + 1);
    const qsizetype commandEnd = rest.indexOf(u' ');
    result.command = rest.left(commandEnd).toString();
    if (commandEnd >= 0)
        result.arguments = rest.mid(commandEnd + 1).toString();
    return result;
}

} // namespace

LineAssembler::LineAssembler(qsizetype maxLine)
    : m_maxLine(std::max<qsizetype>(0, maxLine))
{
}

void LineAssembler::append(const QByteArray& bytes)
{
    if (bytes.isEmpty())
        return;
    compact();
    const qsizetype oldSize = m_buffer.size();
    m_buffer.append(bytes);

    qsizetype searchFrom = std::max(m_tailStart, oldSize - 1);
    if (m_discarding) {
        const qsizetype end = lineEndIn(m_buffer, m_tailStart);
        if (end < 0) {
            dropOverlongTail();
            return;
        }
        m_buffer.remove(m_tailStart, end + kLineEnd.size() - m_tailStart);
        m_discarding = false;
        searchFrom = m_tailStart;
    }

    // Only the newly arrived bytes (plus a CR left at the end of the previous
    // read) can complete a line, so the search never revisits older data.
    const qsizetype lastEnd = QByteArrayView(m_buffer).sliced(searchFrom).lastIndexOf(kLineEnd);
    if (lastEnd >= 0)
        m_tailStart = searchFrom + lastEnd + kLineEnd.size();

    // A CR at the very end may be the first half of the line's end.
    const qsizetype unfinished = m_buffer.size() - m_tailStart - (m_buffer.endsWith('\r') ? 1 : 0);
    if (unfinished > m_maxLine) {
        m_discarding = true;
        dropOverlongTail();
    }
}

std::optional<QByteArray> LineAssembler::takeLine()
{
    while (m_readPos < m_tailStart) {
        const qsizetype end = lineEndIn(m_buffer, m_readPos);
        const qsizetype start = m_readPos;
        m_readPos = end + kLineEnd.size();
        const bool fits = end - start <= m_maxLine;
        QByteArray line = fits ? m_buffer.mid(start, end - start) : QByteArray();
        if (m_readPos == m_buffer.size()) {
            m_buffer.clear();
            m_readPos = 0;
            m_tailStart = 0;
        }
        if (fits)
            return line;
    }
    return std::nullopt;
}

bool LineAssembler::hasLine() const
{
    for (qsizetype at = m_readPos; at < m_tailStart;) {
        const qsizetype end = lineEndIn(m_buffer, at);
        if (end - at <= m_maxLine)
            return true;
        at = end + kLineEnd.size();
    }
    return false;
}

void LineAssembler::clear()
{
    m_buffer.clear();
    m_readPos = 0;
    m_tailStart = 0;
    m_discarding = false;
}

// A CR at the very end is kept: if the next read starts with LF, that pair
// ends the dropped line.
void LineAssembler::dropOverlongTail()
{
    const bool endsWithCr = m_buffer.size() > m_tailStart && m_buffer.endsWith('\r');
    m_buffer.truncate(m_tailStart);
    if (endsWithCr)
        m_buffer.append('\r');
}

// Handed-out lines are cut off in one go once they make up half the buffer,
// which keeps a burst of many lines linear instead of moving the rest of the
// buffer for every line.
void LineAssembler::compact()
{
    if (m_readPos == 0 || m_readPos < m_buffer.size() / 2)
        return;
    m_buffer.remove(0, m_readPos);
    m_tailStart -= m_readPos;
    m_readPos = 0;
}

QString decodeLine(const QByteArray& line, bool* singleByte)
{
    QStringDecoder decoder(QStringConverter::Utf8,
                           QStringConverter::Flag::Stateless
                               | QStringConverter::Flag::ConvertInitialBom);
    QString text = decoder.decode(line);
    const bool failed = decoder.hasError();
    if (singleByte)
        *singleByte = failed;
    return failed ? decodeWindows1252(line) : text;
}

IrcLine classifyLine(const QString& line, const QString& ownNick,
                     const QString& chatServerHost, const QString& maskedHost)
{
    // A burst brings thousands of server lines: they are read through views,
    // and only the numeric and the text are copied.
    if (line.startsWith(u':') && QStringView(line).mid(1).startsWith(chatServerHost)) {
        QStringView rest(line);
        // Only the prefix itself is cut; the same text later in the line is
        // part of what the server said.
        const qsizetype prefix = chatServerHost.size() + 1;
        if (rest.size() > prefix && rest[prefix] == u' ')
            rest = rest.mid(prefix + 1);
        QString withoutNick;
        const qsizetype nick = ownNickAt(rest, ownNick);
        const qsizetype space = rest.indexOf(u' ');
        IrcLine result;
        result.kind = LineKind::Server;
        if (nick >= 0 && nick == space + 1) {
            // The usual place, right after the numeric.
            result.numeric = rest.left(space).toString();
            result.text = rest.mid(nick + ownNick.size() + 1).toString();
            return result;
        }
        if (nick >= 0) {
            withoutNick = joined(rest.left(nick), rest.mid(nick + ownNick.size() + 1));
            rest = withoutNick;
        }
        const qsizetype cut = rest.indexOf(u' ');
        if (cut < 0) {
            result.numeric = rest.toString();
        } else {
            result.numeric = rest.left(cut).toString();
            result.text = rest.mid(cut + 1).toString();
        }
        return result;
    }

    if (!line.startsWith(u':'))
        return {};
    if (auto user = sourceLine(line, LineKind::User, u"Username", maskedHost))
        return *user;
    if (auto chanServ = sourceLine(line, LineKind::ChanServ, u"ChanServ", maskedHost))
        return *chanServ;
    return {};
}

std::optional<QString> pongFor(const QString& line)
{
    if (line != QLatin1String("PING") && !line.startsWith(QLatin1String("PING ")))
        return std::nullopt;
    return QStringLiteral("PONG") + line.mid(4);
}

ListEntry parseListEntry(const QString& text)
{
    // Views into the text; only the fields kept are copied.
    QStringView rest(text);
    ListEntry entry;
    const qsizetype channelEnd = rest.indexOf(u' ');
    entry.channel = rest.left(channelEnd).toString();
    if (channelEnd < 0)
        return entry;
    rest = rest.mid(channelEnd + 1);
    const qsizetype countEnd = rest.indexOf(u' ');
    entry.count = rest.left(countEnd).toString();
    if (countEnd < 0)
        return entry;
    QStringView topic = rest.mid(countEnd + 1);
    QString withoutModes;
    const qsizetype colon = topic.startsWith(u':') ? 1 : 0;
    if (const qsizetype modes = modeListLength(topic.mid(colon))) {
        withoutModes = joined(topic.left(colon), topic.mid(colon + modes));
        topic = withoutModes;
    }
    // The topic starts with ":" and a two-digit picture number, "05".
    const qsizetype wordEnd = topic.indexOf(u' ');
    const QStringView word = topic.left(wordEnd);
    const qsizetype marker = word.indexOf(u":0");
    const auto number = marker < 0 ? toInt16(word)
        : marker == 0              ? toInt16(word.mid(2))
                                   : toInt16(joined(word.left(marker), word.mid(marker + 2)));
    if (number)
        entry.icon = *number + 1;
    if (wordEnd >= 0)
        entry.description = topic.mid(wordEnd + 1).toString();
    return entry;
}

QStringList parseNames(const QString& text)
{
    QStringList fields = splitAllFields(text.trimmed());
    if (fields.size() < 3)
        return {};
    QString& first = fields[2];
    const qsizetype colon = first.indexOf(u':');
    if (colon >= 0)
        first.remove(colon, 1);

    QStringList names;
    names.reserve(fields.size() - 2);
    for (qsizetype i = 2; i < fields.size(); ++i) {
        if (!fields.at(i).isEmpty())
            names.append(fields.at(i));
    }
    return names;
}

std::optional<WhoEntry> parseWhoEntry(const QString& text)
{
    // A WHO burst brings thousands of these: the fields are found in the
    // text, and only the two kept are copied.
    const QStringView line = QStringView(text).trimmed();
    QStringView fields[8];
    qsizetype count = 0;
    for (qsizetype start = 0; count < 8;) {
        const qsizetype space = line.indexOf(u' ', start);
        fields[count++] = line.mid(start, space < 0 ? -1 : space - start);
        if (space < 0)
            break;
        start = space + 1;
    }
    if (count < 5 || fields[4].isEmpty())
        return std::nullopt;
    WhoEntry entry;
    entry.channel = fields[0].toString();
    entry.nick = fields[4].toString();
    if (count > 7)
        entry.flag = toInt16(fields[7]);
    return entry;
}

std::optional<WhoisUser> parseWhoisUser(const QString& text, const QString& ignoreMarker)
{
    const QStringList fields = splitAllFields(text.trimmed());
    if (fields.size() < 5)
        return std::nullopt;
    QString flagWord = fields.at(4);
    if (!ignoreMarker.isEmpty() && flagWord.contains(ignoreMarker))
        return std::nullopt;
    flagWord.remove(u':');
    const auto flag = toInt16(flagWord);
    if (!flag)
        return std::nullopt;
    return WhoisUser{fields.at(0), *flag};
}

bool isSafeForWire(const QString& value)
{
    return !value.contains(u'\r') && !value.contains(u'\n') && !value.contains(QChar(u'\0'));
}
