#include "lobby/irc_lines.h"

#include "platform/cp1252.h"

#include <QByteArrayView>
#include <QStringConverter>
#include <QStringView>
#include <algorithm>

namespace {

constexpr QByteArrayView kLineEnd("\r\n");

// Every single space separates, so two spaces in a row give an empty field;
// the last of `limit` fields keeps the rest of the text with its spaces.
QStringList splitFields(const QString& text, qsizetype limit)
{
    QStringList fields;
    qsizetype start = 0;
    while (fields.size() + 1 < limit) {
        const qsizetype space = text.indexOf(u' ', start);
        if (space < 0)
            break;
        fields.append(text.mid(start, space - start));
        start = space + 1;
    }
    fields.append(text.mid(start));
    return fields;
}

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

// The server names the addressee right after the numeric; the first
// "nick " is taken to be that. An empty nick would match any blank.
void removeOwnNick(QString& line, const QString& ownNick)
{
    if (ownNick.isEmpty())
        return;
    const QString needle = ownNick + u' ';
    const qsizetype pos = line.indexOf(needle);
    if (pos >= 0)
        line.remove(pos, needle.size());
}

// Lines whose source carries `account@maskedHost`. Only the source (the
// first word) is looked at: the same text inside a message or a kick reason
// must neither make a line look like it came from someone else nor be cut
// out of what was said.
std::optional<IrcLine> sourceLine(const QString& line, LineKind kind,
                                  const QString& account, const QString& maskedHost)
{
    const QString mark = account + u'@' + maskedHost;
    const qsizetype space = line.indexOf(u' ');
    QString source = line.mid(1, space < 0 ? -1 : space - 1);
    if (!source.contains(mark))
        return std::nullopt;

    const QString withTilde = QStringLiteral("!~") + mark;
    const qsizetype tilde = source.indexOf(withTilde);
    if (tilde >= 0) {
        source.remove(tilde, withTilde.size());
    } else {
        const QString plain = u'!' + mark;
        const qsizetype bang = source.indexOf(plain);
        if (bang >= 0)
            source.remove(bang, plain.size());
    }

    const QStringList fields =
        splitFields(space < 0 ? source : source + line.mid(space), 3);
    IrcLine result;
    result.kind = kind;
    result.nick = fields.at(0);
    if (fields.size() > 1)
        result.command = fields.at(1);
    if (fields.size() > 2)
        result.arguments = fields.at(2);
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
        const qsizetype end = m_buffer.indexOf(kLineEnd, m_tailStart);
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
        const qsizetype end = m_buffer.indexOf(kLineEnd, m_readPos);
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
        const qsizetype end = m_buffer.indexOf(kLineEnd, at);
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
    const QString serverPrefix = u':' + chatServerHost;
    if (line.startsWith(serverPrefix)) {
        QString rest = line;
        // Only the prefix itself is cut; the same text later in the line is
        // part of what the server said.
        if (rest.startsWith(serverPrefix + u' '))
            rest.remove(0, serverPrefix.size() + 1);
        removeOwnNick(rest, ownNick);

        IrcLine result;
        result.kind = LineKind::Server;
        const qsizetype space = rest.indexOf(u' ');
        if (space < 0) {
            result.numeric = rest;
        } else {
            result.numeric = rest.left(space);
            result.text = rest.mid(space + 1);
        }
        return result;
    }

    if (!line.startsWith(u':'))
        return {};
    if (auto user = sourceLine(line, LineKind::User, QStringLiteral("Username"), maskedHost))
        return *user;
    if (auto chanServ = sourceLine(line, LineKind::ChanServ, QStringLiteral("ChanServ"), maskedHost))
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
    const QStringList fields = splitFields(text, 3);
    ListEntry entry;
    entry.channel = fields.at(0);
    if (fields.size() > 1)
        entry.count = fields.at(1);
    if (fields.size() < 3)
        return entry;
    QString topic = fields.at(2);
    const qsizetype colon = topic.startsWith(u':') ? 1 : 0;
    topic.remove(colon, modeListLength(QStringView(topic).mid(colon)));
    const QStringList words = splitFields(topic, 2);
    // The topic starts with ":" and a two-digit picture number, "05".
    QString word = words.at(0);
    const qsizetype marker = word.indexOf(QStringLiteral(":0"));
    if (marker >= 0)
        word.remove(marker, 2);
    if (const auto number = toInt16(word))
        entry.icon = *number + 1;
    if (words.size() > 1)
        entry.description = words.at(1);
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
    // A WHO burst brings thousands of these: views into the text, and only
    // the two fields kept are copied.
    const QList<QStringView> fields = QStringView(text).trimmed().split(u' ', Qt::KeepEmptyParts);
    if (fields.size() < 5 || fields.at(4).isEmpty())
        return std::nullopt;
    WhoEntry entry;
    entry.channel = fields.at(0).toString();
    entry.nick = fields.at(4).toString();
    if (fields.size() > 7)
        entry.flag = toInt16(fields.at(7));
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
