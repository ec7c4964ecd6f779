#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <optional>

// Turns the chat server's byte stream into whole lines. TCP hands data over
// in arbitrary pieces, so the incomplete end of one read is kept as bytes and
// completed by the next; decoding only whole lines keeps a multi-byte
// character that straddles two reads intact.
class LineAssembler {
public:
    // A line longer than maxLine bytes is dropped whole, whether it comes in
    // one read or in many: no line of the chat protocol comes near 8 KiB, and
    // a server that never ends a line cannot make the client hoard memory.
    explicit LineAssembler(qsizetype maxLine = 8 * 1024);

    void append(const QByteArray& bytes);

    // The next complete line without its CR LF, lines over the bound left
    // out; an empty line comes back as an empty array. nullopt when no
    // complete line is waiting.
    std::optional<QByteArray> takeLine();
    bool hasLine() const;

    // Forgets everything buffered, e.g. when the connection is replaced.
    void clear();

private:
    void dropOverlongTail();
    void compact();

    QByteArray m_buffer;
    // Bytes before m_readPos were already handed out.
    qsizetype m_readPos = 0;
    // Start of the incomplete tail: [m_readPos, m_tailStart) holds only whole
    // lines, each ended by CR LF.
    qsizetype m_tailStart = 0;
    // The tail is the rest of a line that was dropped for being too long; it
    // is discarded up to and including its CR LF.
    bool m_discarding = false;
    qsizetype m_maxLine;
};

// UTF-8 where the bytes are valid UTF-8; otherwise Windows-1252, which older
// clients in the lobby still send (and *singleByte, when given, says so).
QString decodeLine(const QByteArray& line, bool* singleByte = nullptr);

enum class LineKind { Server, User, ChanServ, Ignored };

struct IrcLine {
    LineKind kind = LineKind::Ignored;
    // Server lines.
    QString numeric;
    std::optional<QString> text;
    // User and ChanServ lines.
    QString nick;
    QString command;
    std::optional<QString> arguments;
};

// Sorts one decoded line into what the lobby reacts to: replies of the chat
// server (prefix and own nick removed), lines from players (their masked
// host identifies them) and lines from ChanServ. Everything else is Ignored.
IrcLine classifyLine(const QString& line, const QString& ownNick,
                     const QString& chatServerHost, const QString& maskedHost);

// The answer to the server's keep-alive "PING :token": "PONG :token", the
// same parameter sent back. nullopt for any other line.
std::optional<QString> pongFor(const QString& line);

// 322, one channel of a LIST reply.
struct ListEntry {
    QString channel;
    std::optional<QString> count;
    // The channel's flag picture, 1-based; nullopt when the topic carries
    // no usable number. Not range-checked.
    std::optional<int> icon;
    std::optional<QString> description;
};
ListEntry parseListEntry(const QString& text);

// 353, the nicks of a NAMES reply, in the server's order.
QStringList parseNames(const QString& text);

// 352, one WHO reply line.
struct WhoEntry {
    QString channel;
    QString nick;
    std::optional<qint16> flag;
};
std::optional<WhoEntry> parseWhoEntry(const QString& text);

// 311, the first WHOIS reply line. nullopt when the real name carries
// ignoreMarker or no flag number.
struct WhoisUser {
    QString nick;
    qint16 flag = 0;
};
std::optional<WhoisUser> parseWhoisUser(const QString& text, const QString& ignoreMarker);

// False for text that would break a line the client sends: a nick or channel
// name taken from the server must not smuggle a second command onto the wire.
bool isSafeForWire(const QString& value);
