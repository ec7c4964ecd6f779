#pragma once

#include "chattext/chat_text.h"
#include "lobby/chat_outbox.h"
#include "lobby/irc_lines.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QHash>
#include <QSet>
#include <QString>
#include <QVector>
#include <functional>
#include <vector>

// What handling one line does to the session, as data: the rules below decide
// the steps, the lobby applies them in order, in one place. Nothing here
// touches a window or a socket, so every rule can be tested line by line.
struct Step {
    enum class Kind : quint8 {
        Info,             // text: one line for the server-data view
        ClearChannels,    // the channel list is emptied
        ListChannel,      // entry (description as shown): a channel listed or updated
        ChannelsListed,   // the channel list is complete
        AddMember,        // nick (the key) joins the member list as text, icon set
        SetMemberIcon,    // nick's icon, where the nick is listed
        RemoveMember,     // nick leaves the member list
        CollectWho,       // nick (shown as title) in channel text, kept until the end of WHO
        RebuildWhoList,   // the user list is filled from what was kept
        AskUnknownFlags,  // a whois for every member whose flag is not known yet
        Send,             // lines: what goes to the chat server now, in one send
        KeepAlive,        // lines: the answer to the server's PING, sent unless it floods
        Request,          // lines: an automatic request, sent when the server is ready
        Chat,             // runs: text for the chat view
        LobbyNote,        // runs: a private message while no channel is shown
        FocusEntry,       // the keyboard focus goes to the entry line
        Welcomed,         // the server has welcomed the user: the session is live
        Answered,         // text: the server answered our PING with this token
        BackToLobby,      // the user has left the channel: the lobby refreshes again
        FetchGames,       // the game list is fetched again
        CloseChannel,     // the channel window closes; with the farewell when `farewell`
        Box,              // title, text, icon: a message for the user; then `after`
        SetAway,          // text: the away message
        ClearAway,        // the user is back
        Alert,            // title, text: a whisper or a line naming the user, for the desktop to show
    };
    // What follows a message box once the user has closed it.
    enum class After : quint8 { Nothing, EndSession };

    Kind kind = Kind::Info;
    QString nick;
    QString text;
    QString title;
    QByteArrayList lines;
    QVector<ColourRun> runs;
    ListEntry entry;
    int icon = 0;
    bool information = true;
    bool farewell = true;
    After after = After::Nothing;
};
using Steps = std::vector<Step>;

// Member list pictures: 1 to 51 the flags of flag numbers 0 to 50, then these.
namespace memberIcon {
inline constexpr int kFlags = 51;
inline constexpr int kFlagUnknown = 52;
inline constexpr int kStaffBadge = 53;
} // namespace memberIcon

// The longest line a chat server takes, CR LF included.
inline constexpr int kMaxLineBytes = 512;

// What the rules need to know of the session, read from the windows once per
// line.
struct SessionView {
    QString username;
    // The user's own flag, as the member list shows it.
    int ownIcon = memberIcon::kFlagUnknown;
    // The channel in the channel window's Label2; empty when none is open.
    QString channel;
    bool lobbyShown = false;
    bool channelLoaded = false;
    bool channelShown = false;
    bool notify = true;
    bool filter = true;
    bool away = false;
    QString awayMessage;
    // The chat connection is up: lines can be sent.
    bool connected = true;
    const FilterMatcher* filterWords = nullptr;
    // How the chat server names itself and every user.
    QString chatServerHost;
    QString maskedHost;
    // How many more automatic requests may wait to be sent.
    qsizetype requestRoom = ChatOutbox::kMostWaiting;
    // Whether a nick is in the channel window's member list.
    std::function<bool(const QString&)> isMember;
};

// What the rules remember between the lines of one session. The lobby keeps
// one and starts it afresh with every connection.
struct SessionMemory {
    // The server's welcome (001) has arrived: the session is live.
    bool welcomed = false;
    // The marks a server puts before a member's nick in a names reply (from
    // its PREFIX option, e.g. "@" for a channel operator).
    QString memberMarks = QStringLiteral("~&@%+");
    // The server refused "who" without a mask, so it gets one from then on.
    bool whoNeedsMask = false;
    // The channel whose JOIN went out and has not been echoed yet.
    QString joining;
    // Away replies sent to each sender since the user went away.
    QHash<QString, int> awayReplies;
    // Members asked for with whois during this channel visit, and the
    // pictures their flags gave: a member who leaves and comes back on the
    // same connection has the same flag.
    QSet<QString> whoisAsked;
    QHash<QString, int> knownIcons;
    // Requests the server refused because they came before its welcome:
    // asked again once it has come.
    QSet<QString> askAtWelcome;
    // Names that came in lines that were not UTF-8: they go back out in the
    // bytes they came in, or they would name another channel or nick.
    QSet<QString> singleByteNames;

    // A channel is being entered: its JOIN is about to go out.
    void startVisit(const QString& channel);
};

// One received line, as the bytes arrived without CR LF: the server's keep-
// alive, its replies and the players' traffic.
void decideLine(const QByteArray& raw, const SessionView& session, SessionMemory& memory, Steps& out);

// One line the user typed in the channel window (line breaks already turned
// into blanks). `message` ends as the text that was acted on: filtered, and
// for an action line without its "/me" and outer blanks.
void decideTyped(QString& message, const SessionView& session, SessionMemory& memory, Steps& out);

// An action line: the subject and a blank in light cyan, then the action's
// coloured runs. `action` loses its "/me" and outer blanks.
QVector<ColourRun> actionLine(const QString& subject, QString& action);

// A name for the wire: in the bytes it came in.
QByteArray wireName(const SessionMemory& memory, const QString& name);

// The user list as the server takes it. In a channel, its members: a bare
// "who" lists at most a few dozen users on some servers and is refused on
// others, while every member's flag is wanted. In the lobby, "who", or
// everyone by mask where the server wants one.
QByteArray whoRequest(const SessionMemory& memory, const QString& openChannel);

// The whois requests for members whose flag is not known, each asked once a
// visit and at most `most` of them; names no server could read are left
// out. A member left over is asked at a later end of WHO.
QByteArrayList flagRequests(const QStringList& unknownMembers, SessionMemory& memory, qsizetype most);

// The registration, send by send: PASS; NICK and USER together; the channel
// list; the user list.
QList<QByteArrayList> registrationSends(const QString& username, quint8 flag);

// The line that enters a channel.
QByteArrayList joinSend(const SessionMemory& memory, const QString& channel);

// The farewell and PART that leave a channel, in one send.
QByteArrayList farewellSend(const QByteArray& channel, const QString& username);

// Every line for the chat server passes here: CR LF is added, and a line
// holding CR, LF or NUL (text from the network or the user could carry one),
// or one the server could not take whole, gives nothing, so nobody can put a
// second command into our mouth. A send of several lines goes whole or not
// at all.
std::optional<QByteArray> wireSend(const QByteArrayList& lines);

// The text cut into pieces of at most maxBytes bytes of UTF-8, at character
// boundaries and where it can at a blank; the pieces joined give the text.
QStringList splitForWire(const QString& text, int maxBytes);

// A readable form of a step for tests and failure messages, e.g.
// `send "whois Kite"` or `chat {palered}** Kite has entered the channel.\r\n`.
QString describe(const Step& step);
QStringList describe(const Steps& steps);
