#include "lobby/session_rules.h"

#include "encryption/scramble.h"
#include "encryption/texts.h"

#include <QSet>

namespace {

const QString kCrLf = QStringLiteral("\r\n");

// Numerics whose text only goes into the server-data view.
bool isInfoNumeric(const QString& numeric)
{
    static const QSet<QString> info = {
        QStringLiteral("001"), QStringLiteral("002"), QStringLiteral("003"), QStringLiteral("004"),
        QStringLiteral("250"), QStringLiteral("251"), QStringLiteral("252"), QStringLiteral("253"),
        QStringLiteral("254"), QStringLiteral("255"), QStringLiteral("265"), QStringLiteral("266"),
        QStringLiteral("372"), QStringLiteral("375"), QStringLiteral("376"),
    };
    return info.contains(numeric);
}

QString withoutFirstColon(QString text)
{
    const qsizetype colon = text.indexOf(u':');
    if (colon >= 0)
        text.remove(colon, 1);
    return text;
}

// Builds the steps of one line in order.
class StepWriter {
public:
    explicit StepWriter(Steps& out)
        : out_(out)
    {
    }

    Step& add(Step::Kind kind)
    {
        out_.emplace_back();
        out_.back().kind = kind;
        return out_.back();
    }
    void member(Step::Kind kind, const QString& nick, int icon = 0)
    {
        Step& step = add(kind);
        step.nick = nick;
        step.icon = icon;
    }
    void send(const QByteArray& line) { add(Step::Kind::Send).lines = QByteArrayList{line}; }
    void send(const QString& line) { send(line.toUtf8()); }
    void chat(const QString& text, const QColor& colour)
    {
        add(Step::Kind::Chat).runs = {ColourRun{text + kCrLf, colour}};
    }
    void chat(QVector<ColourRun> runs) { add(Step::Kind::Chat).runs = std::move(runs); }
    void box(const QString& title, const QString& text, bool information, Step::After after)
    {
        Step& step = add(Step::Kind::Box);
        step.title = title;
        step.text = text;
        step.information = information;
        step.after = after;
    }

private:
    Steps& out_;
};

QString filtered(const SessionView& session, QString text)
{
    if (session.filter && session.filterPairs)
        profaneFilter(text, *session.filterPairs);
    return text;
}

// ------------------------------------------------------------ server lines

void onNames(const QString& text, const SessionView& session, StepWriter& steps)
{
    // With the lobby showing, no channel is open: the reply is late for a
    // channel already left. Taking it would bring the closed window back and
    // its members into the next channel's list.
    if (session.lobbyShown)
        return;
    const QString& from = plainText(scrambled::kSpecialNameFrom);
    const QString& to = plainText(scrambled::kSpecialNameTo);
    for (QString name : parseNames(text)) {
        if (name == from)
            name = to;
        steps.member(Step::Kind::AddMember, name,
                     name == to ? memberIcon::kSpecialBadge : memberIcon::kFlagUnknown);
    }
    steps.send(QByteArrayLiteral("who"));
    steps.add(Step::Kind::FocusEntry);
}

void onWhoEntry(const QString& text, const SessionView& session, StepWriter& steps)
{
    const std::optional<WhoEntry> entry = parseWhoEntry(text);
    if (!entry)
        return;
    if (session.lobbyShown) {
        Step& step = steps.add(Step::Kind::CollectWho);
        step.nick = entry->nick;
        step.text = entry->channel == QLatin1String("*") ? QStringLiteral(" ") : entry->channel;
        return;
    }
    if (entry->flag && session.channelLoaded)
        steps.member(Step::Kind::SetMemberIcon, entry->nick, *entry->flag + 1);
}

void onServerLine(const IrcLine& line, const SessionView& session, StepWriter& steps)
{
    if (!line.text)
        return;
    const QString& numeric = line.numeric;
    const QString& text = *line.text;
    if (isInfoNumeric(numeric)) {
        steps.add(Step::Kind::Info).text = withoutFirstColon(text);
    } else if (numeric == QLatin1String("321")) {
        steps.add(Step::Kind::ClearChannels);
    } else if (numeric == QLatin1String("322")) {
        const ListEntry entry = parseListEntry(text);
        // A name that could carry a line break into our requests is not offered.
        if (!entry.channel.isEmpty() && isSafeForWire(entry.channel))
            steps.add(Step::Kind::ListChannel).entry = entry;
    } else if (numeric == QLatin1String("353")) {
        onNames(text, session, steps);
    } else if (numeric == QLatin1String("352")) {
        onWhoEntry(text, session, steps);
    } else if (numeric == QLatin1String("315")) {
        if (session.lobbyShown)
            steps.add(Step::Kind::RebuildWhoList);
        else if (session.channelLoaded)
            steps.add(Step::Kind::AskUnknownFlags);
    } else if (numeric == QLatin1String("311")) {
        // Only the open channel's members have icons to set; a late reply is
        // dropped alone, the lines after it still count.
        if (!session.channelShown)
            return;
        if (const auto user = parseWhoisUser(text, plainText(scrambled::kWhoisIgnoreMarker)))
            steps.member(Step::Kind::SetMemberIcon, user->nick, user->flag + 1);
    } else if (numeric == QLatin1String("433")) {
        steps.box(QStringLiteral("Error"), QStringLiteral("The username you have selected is already logged on Fenmoor."),
                  true, Step::After::EndSession);
    }
}

// -------------------------------------------------------- players' traffic

void onJoin(const QString& nick, const SessionView& session, StepWriter& steps)
{
    steps.member(Step::Kind::AddMember, nick, memberIcon::kFlagUnknown);
    if (isSafeForWire(nick))
        steps.send(plainText(scrambled::kJoinRequest) + nick);
    if (session.notify && nick != session.username)
        steps.chat(QStringLiteral("** ") + nick + plainText(scrambled::kJoinNotice), chatcolour::paleRed);
}

void onLeave(const QString& nick, const SessionView& session, StepWriter& steps)
{
    if (nick == session.username) {
        steps.add(Step::Kind::BackToLobby);
        return;
    }
    steps.member(Step::Kind::RemoveMember, nick);
    steps.add(Step::Kind::FetchGames);
    if (session.notify)
        steps.chat(QStringLiteral("** ") + nick + plainText(scrambled::kLeaveNotice), chatcolour::paleRed);
}

void onMessage(const QString& nick, const QString& arguments, const SessionView& session, StepWriter& steps)
{
    const qsizetype space = arguments.indexOf(u' ');
    const QString target = arguments.left(space < 0 ? arguments.size() : space);
    if (target.isEmpty())
        return;
    QString text = withoutFirstColon(space < 0 ? QString() : arguments.mid(space + 1));

    // A window that is not loaded has no channel: such a message is for
    // another channel (or stale) and does not load it.
    const bool toChannel = session.channelLoaded && target == session.channel;
    if (!toChannel && target != session.username)
        return;
    text = filtered(session, text);
    if (toChannel) {
        if (text.startsWith(QLatin1String("/me")))
            steps.chat(actionLine(nick, text));
        else
            steps.chat(nick + QStringLiteral("> ") + text, chatcolour::white);
        return;
    }
    steps.chat(u'[' + nick + QStringLiteral("] ") + text, chatcolour::yellow);
    if (session.away && session.connected && isSafeForWire(nick) && isSafeForWire(session.awayMessage)) {
        steps.send(QStringLiteral("PRIVMSG ") + nick + QStringLiteral(" :") + session.awayMessage);
        steps.chat(QStringLiteral("Away message sent to ") + nick + QStringLiteral(": ") + session.awayMessage,
                   chatcolour::orange);
    }
}

void onKick(const QString& kicker, const QString& arguments, const SessionView& session, StepWriter& steps)
{
    const QStringList fields = arguments.split(u' ');
    if (fields.size() < 2)
        return;
    const QString& victim = fields.at(1);
    const QString reason = withoutFirstColon(arguments.section(u' ', 2));

    if (victim == session.username) {
        if (!session.channelLoaded)
            return;
        steps.add(Step::Kind::CloseChannel);
        // The server took us out of the channel: no PART of ours will be
        // echoed, so the lobby goes back to its refresh cycle here.
        steps.add(Step::Kind::BackToLobby);
        steps.box(plainText(scrambled::kKickedTitle),
                  plainText(scrambled::kKickedText) + kicker + plainText(scrambled::kKickedReason) + reason
                      + u'.',
                  true, Step::After::Nothing);
        return;
    }
    steps.member(Step::Kind::RemoveMember, victim);
    steps.chat(victim + plainText(scrambled::kKickNoticeChannel) + session.channel + plainText(scrambled::kKickNoticeBy)
                   + kicker + QStringLiteral(": ") + reason,
               chatcolour::paleRed);
}

} // namespace

void decideLine(const QByteArray& raw, const SessionView& session, Steps& out)
{
    StepWriter steps(out);
    // The server drops a client that leaves its keep-alive unanswered. The
    // token goes back as the very bytes it came in.
    if (raw == "PING" || raw.startsWith("PING ")) {
        steps.send(QByteArrayLiteral("PONG") + raw.mid(4));
        return;
    }
    const IrcLine line = classifyLine(decodeLine(raw), session.username, session.chatServerHost, session.maskedHost);
    switch (line.kind) {
    case LineKind::Server:
        onServerLine(line, session, steps);
        break;
    case LineKind::User:
        if (line.command == QLatin1String("JOIN"))
            onJoin(line.nick, session, steps);
        else if (line.command == QLatin1String("PART") || line.command == QLatin1String("QUIT"))
            onLeave(line.nick, session, steps);
        else if (line.command == QLatin1String("PRIVMSG"))
            onMessage(line.nick, line.arguments.value_or(QString()), session, steps);
        break;
    case LineKind::ChanServ:
        if (line.command == QLatin1String("KICK"))
            onKick(line.nick, line.arguments.value_or(QString()), session, steps);
        break;
    case LineKind::Ignored:
        break;
    }
}

QVector<ColourRun> actionLine(const QString& subject, QString& action)
{
    QVector<ColourRun> runs{ColourRun{subject + u' ', chatcolour::lightCyan}};
    runs += actionRuns(action);
    return runs;
}

void decideTyped(QString& message, const SessionView& session, Steps& out)
{
    StepWriter steps(out);
    message = filtered(session, message);
    const OutgoingDecision line = decideOutgoing(message, session.away);
    if (line.awayCleared) {
        steps.chat(QStringLiteral("Away message has been cleared."), chatcolour::paleRed);
        steps.add(Step::Kind::ClearAway);
    }
    const QString channelCommand = plainText(scrambled::kChannelMessageCommand) + session.channel + QStringLiteral(" :");
    const auto sendOrSay = [&](const QString& wireLine) {
        if (session.connected && isSafeForWire(wireLine)) {
            steps.send(wireLine);
            return true;
        }
        steps.chat(QStringLiteral("Not sent: there is no connection to the chat server."), chatcolour::paleRed);
        return false;
    };
    using Kind = OutgoingDecision::Kind;
    switch (line.kind) {
    case Kind::SetAway:
        steps.add(Step::Kind::SetAway).text = line.awayMessage;
        steps.chat(QStringLiteral("Away message set to \"") + line.awayMessage + u'"', chatcolour::paleRed);
        break;
    case Kind::Action:
        message = line.text;
        if (sendOrSay(channelCommand + message))
            steps.chat(actionLine(session.username, message));
        break;
    case Kind::PrivateMessage:
        if (sendOrSay(plainText(scrambled::kPrivateMessageCommand) + line.target + QStringLiteral(" :") + line.text))
            steps.chat(u'<' + line.target + QStringLiteral("> ") + line.text, chatcolour::orange);
        break;
    case Kind::UnknownCommand:
        steps.chat(QStringLiteral("Unknown Command"), chatcolour::paleRed);
        break;
    case Kind::ChannelMessage:
        if (sendOrSay(channelCommand + line.text))
            steps.chat(session.username + QStringLiteral(": ") + line.text, chatcolour::white);
        break;
    case Kind::Nothing:
        break;
    }
}

QList<QByteArrayList> registrationSends(const QString& username, quint8 flag)
{
    // Put together piece by piece: a name may hold "%1", which a format
    // string would fill in.
    return {
        {QByteArrayLiteral("PASS MORBADENTILQ ")},
        {QByteArrayLiteral("NICK ") + username.toUtf8() + ' ',
         QByteArrayLiteral("USER Username hostname servername :") + QByteArray::number(flag) + " 0 "},
        {QByteArrayLiteral("list")},
        {QByteArrayLiteral("who")},
    };
}

QByteArrayList farewellSend(const QString& channel, const QString& username)
{
    const QByteArray name = channel.toUtf8();
    return {
        QByteArrayLiteral("privmsg ") + name + " :#me " + username.toUtf8() + " is returning to the Fenmoor lobby",
        QByteArrayLiteral("PART ") + name,
    };
}

std::optional<QByteArray> wireSend(const QByteArrayList& lines)
{
    QByteArray out;
    for (const QByteArray& line : lines) {
        if (line.contains('\r') || line.contains('\n') || line.contains('\0'))
            return std::nullopt;
        out += line;
        out += "\r\n";
    }
    return out;
}

namespace {
QString runsText(const QVector<ColourRun>& runs)
{
    QString text;
    std::optional<QColor> current;
    for (const ColourRun& run : runs) {
        if (run.colour && run.colour != current) {
            text += u'{' + chatColourName(*run.colour) + u'}';
            current = run.colour;
        }
        text += run.text;
    }
    text.replace(kCrLf, QStringLiteral("\\r\\n"));
    return text;
}
} // namespace

QString describe(const Step& step)
{
    using Kind = Step::Kind;
    switch (step.kind) {
    case Kind::Info:
        return QStringLiteral("info ") + step.text;
    case Kind::ClearChannels:
        return QStringLiteral("channels cleared");
    case Kind::ListChannel:
        return QStringLiteral("channel %1 icon %2 count %3 about %4")
            .arg(step.entry.channel, step.entry.icon ? QString::number(*step.entry.icon) : QStringLiteral("-"),
                 step.entry.count.value_or(QStringLiteral("-")), step.entry.description.value_or(QStringLiteral("-")));
    case Kind::AddMember:
        return QStringLiteral("member+ %1 %2").arg(step.nick).arg(step.icon);
    case Kind::SetMemberIcon:
        return QStringLiteral("icon %1 %2").arg(step.nick).arg(step.icon);
    case Kind::RemoveMember:
        return QStringLiteral("member- ") + step.nick;
    case Kind::CollectWho:
        return QStringLiteral("who+ %1|%2").arg(step.nick, step.text);
    case Kind::RebuildWhoList:
        return QStringLiteral("who list rebuilt");
    case Kind::AskUnknownFlags:
        return QStringLiteral("whois unknown flags");
    case Kind::Send: {
        QStringList lines;
        for (const QByteArray& line : step.lines)
            lines.append(QString::fromUtf8(line));
        return QStringLiteral("send \"") + lines.join(QStringLiteral("\" + \"")) + u'"';
    }
    case Kind::Chat:
        return QStringLiteral("chat ") + runsText(step.runs);
    case Kind::FocusEntry:
        return QStringLiteral("focus entry");
    case Kind::BackToLobby:
        return QStringLiteral("back to lobby");
    case Kind::FetchGames:
        return QStringLiteral("fetch games");
    case Kind::CloseChannel:
        return QStringLiteral("close channel");
    case Kind::Box:
        return QStringLiteral("box %1 | %2 | %3%4")
            .arg(step.title, step.text, step.information ? QStringLiteral("information") : QStringLiteral("exclamation"),
                 step.after == Step::After::EndSession ? QStringLiteral(" | then end session") : QString());
    case Kind::SetAway:
        return QStringLiteral("away ") + step.text;
    case Kind::ClearAway:
        return QStringLiteral("back from away");
    }
    return QString();
}

QStringList describe(const Steps& steps)
{
    QStringList out;
    for (const Step& step : steps)
        out.append(describe(step));
    return out;
}
