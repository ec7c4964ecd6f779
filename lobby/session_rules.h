#pragma once

#include "chattext/chat_text.h"
#include "lobby/irc_lines.h"

#include <QByteArray>
#include <QByteArrayList>
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
        ListChannel,      // entry: a channel added, or updated where it is listed
        AddMember,        // nick joins the member list (kept where listed), icon set
        SetMemberIcon,    // nick's icon, where the nick is listed
        RemoveMember,     // nick leaves the member list
        CollectWho,       // nick and text (the channel) are kept until the end of WHO
        RebuildWhoList,   // the user list is filled from what was kept
        AskUnknownFlags,  // a whois for every member whose flag is not known
        Send,             // lines: what goes to the chat server in one send, each without CR LF
        Chat,             // runs: text for the chat view
        FocusEntry,       // the keyboard focus goes to the entry line
        BackToLobby,      // the user has left the channel: the lobby refreshes again
        FetchGames,       // the game list is fetched again
        CloseChannel,     // the channel window closes
        Box,              // title, text, icon: a message for the user; then `after`
        SetAway,          // text: the away message
        ClearAway,        // the user is back
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
    After after = After::Nothing;
};
using Steps = std::vector<Step>;

// Member list pictures beyond the flags.
namespace memberIcon {
inline constexpr int kSpecialBadge = 51;
inline constexpr int kFlagUnknown = 52;
} // namespace memberIcon

// What the rules need to know of the session, read from the windows once per
// line.
struct SessionView {
    QString username;
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
    const QVector<FilterPair>* filterPairs = nullptr;
    // How the chat server names itself and every user.
    QString chatServerHost;
    QString maskedHost;
};

// One received line, as the bytes arrived without CR LF: the server's keep-
// alive, its replies and the players' traffic.
void decideLine(const QByteArray& raw, const SessionView& session, Steps& out);

// One line the user typed in the channel window (line breaks already turned
// into blanks). `message` ends as the text that was acted on: filtered, and
// for an action line without its "/me" and outer blanks.
void decideTyped(QString& message, const SessionView& session, Steps& out);

// An action line: the subject and a blank in light cyan, then the action's
// coloured runs. `action` loses its "/me" and outer blanks.
QVector<ColourRun> actionLine(const QString& subject, QString& action);

// The registration, send by send: PASS; NICK and USER together; the channel
// list; the user list.
QList<QByteArrayList> registrationSends(const QString& username, quint8 flag);

// The farewell and PART that leave a channel, in one send.
QByteArrayList farewellSend(const QString& channel, const QString& username);

// Every line for the chat server passes here: CR LF is added, and a line
// holding CR, LF or NUL (text from the network or the user could carry one)
// gives nothing, so nobody can put a second command into our mouth. A send
// of several lines goes whole or not at all.
std::optional<QByteArray> wireSend(const QByteArrayList& lines);

// A readable form of a step for tests and failure messages, e.g.
// `send "whois Kite"` or `chat {palered}** Kite has entered the channel.\r\n`.
QString describe(const Step& step);
QStringList describe(const Steps& steps);
