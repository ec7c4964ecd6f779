#include "lobby/session_rules.h"

#include "encryption/scramble.h"
#include "encryption/texts.h"
#include "platform/cp1252.h"

#include <algorithm>
#include <initializer_list>

namespace {

const QString kCrLf = QStringLiteral("\r\n");

// The most names kept as having come in single bytes: a server that sends
// such names without end must not make the session grow without end.
constexpr qsizetype kMostSingleByteNames = 10000;

// Members whose flags are kept, and members asked for, in a visit: more
// than any channel holds.
constexpr qsizetype kMostKnownIcons = 100000;

// A table of a visit's members takes room for all it may hold at its first
// entry: growing one of tens of thousands of names in one step held the
// window up for up to 36 ms.
template <typename Table, typename... Value>
void insertMember(Table& table, const QString& nick, const Value&... value)
{
    if (table.isEmpty())
        table.reserve(kMostKnownIcons);
    if (table.size() < kMostKnownIcons)
        table.insert(nick, value...);
}

// Away replies to one sender in one away period: enough for a person who
// writes again, and an end to two automatic answerers talking forever.
constexpr int kMostAwayReplies = 3;

// Senders answered in one away period: more than write to anyone in an
// hour, and few enough that a crowd of them cannot make our replies a flood
// the server drops us for, nor the table of replies grow without end.
constexpr qsizetype kMostAwaySenders = 20;

// A reply's three-digit numeric as a number, -1 for any other word: a burst
// compares thousands of them, and numbers compare at once.
int numericCode(const QString& numeric)
{
    if (numeric.size() != 3)
        return -1;
    int code = 0;
    for (const QChar ch : numeric) {
        if (ch < u'0' || ch > u'9')
            return -1;
        code = code * 10 + (ch.unicode() - u'0');
    }
    return code;
}

bool isAmong(int code, std::initializer_list<int> codes)
{
    return std::find(codes.begin(), codes.end(), code) != codes.end();
}

// Numerics whose text only goes into the server-data view.
bool isInfoNumeric(int code)
{
    return isAmong(code, {1, 2, 3, 4, 250, 251, 252, 253, 254, 255, 265, 266, 372, 375, 376});
}

// Replies that refuse a JOIN: no such channel, too many channels, held,
// full, invite only, banned, wrong key, bad name, registered or secure
// users only, operators only.
bool refusesJoin(int code)
{
    return isAmong(code, {403, 405, 437, 471, 473, 474, 475, 476, 477, 479, 489, 520});
}

// Replies that refuse the registration itself: no nick, a nick the server
// does not take, a wrong password, a ban.
bool refusesRegistration(int code)
{
    return isAmong(code, {431, 432, 464, 465});
}

QString withoutFirstColon(QString text)
{
    const qsizetype colon = text.indexOf(u':');
    if (colon >= 0)
        text.remove(colon, 1);
    return text;
}

QString firstWord(const QString& text)
{
    const qsizetype space = text.indexOf(u' ');
    return space < 0 ? text : text.left(space);
}

// The command an error reply is about: its first word, past the "*" that
// stands for our nick before the server has taken one.
QString refusedCommand(const QString& text)
{
    const QString word = firstWord(text);
    return (word == QLatin1String("*") ? firstWord(text.section(u' ', 1)) : word).toUpper();
}

// The reason at the end of a reply: what follows " :" (or the last word).
QString reasonOf(const QString& text)
{
    if (text.startsWith(u':'))
        return text.mid(1);
    const qsizetype colon = text.indexOf(QLatin1String(" :"));
    if (colon >= 0)
        return text.mid(colon + 2);
    return text.section(u' ', -1);
}

// A name a server can read as a target: words with no control character,
// not starting with ":".
bool isSendableName(const QString& name)
{
    if (name.isEmpty() || name.startsWith(u':'))
        return false;
    for (const QChar c : name) {
        if (c.unicode() <= 0x20 || c.unicode() == 0x7F || (c.unicode() >= 0x80 && c.unicode() < 0xA0))
            return false;
    }
    return true;
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
    void member(Step::Kind kind, const QString& nick, int icon = 0, const QString& shown = QString())
    {
        Step& step = add(kind);
        step.nick = nick;
        step.icon = icon;
        step.text = shown;
    }
    void send(QByteArrayList lines) { add(Step::Kind::Send).lines = std::move(lines); }
    void request(const QByteArray& line) { add(Step::Kind::Request).lines = QByteArrayList{line}; }
    void chat(const QString& text, const QColor& colour)
    {
        add(Step::Kind::Chat).runs = {ColourRun{text + kCrLf, colour}};
    }
    void chat(QVector<ColourRun> runs) { add(Step::Kind::Chat).runs = std::move(runs); }
    void box(const QString& title, const QString& text, Step::After after)
    {
        Step& step = add(Step::Kind::Box);
        step.title = title;
        step.text = text;
        step.after = after;
    }
    void leaveChannel(bool farewell)
    {
        add(Step::Kind::CloseChannel).farewell = farewell;
        add(Step::Kind::BackToLobby);
    }

private:
    Steps& out_;
};

QString filtered(const SessionView& session, QString text)
{
    if (session.filter && session.filterWords)
        profaneFilter(text, *session.filterWords);
    return text;
}

// The bytes left for a message's text in one line: the server passes the
// line on with our full name in front, and that must fit too.
int textRoom(const SessionView& session, const QByteArray& commandAndTarget)
{
    const int relayPrefix = static_cast<int>(
        (QStringLiteral(":") + session.username + QStringLiteral("!~Username@") + session.maskedHost + u' ')
            .toUtf8()
            .size());
    return kMaxLineBytes - 2 - relayPrefix - static_cast<int>(commandAndTarget.size());
}

// A message in as many lines as it needs. An action goes on in further
// action lines.
QByteArrayList messageLines(const SessionView& session, const QByteArray& commandAndTarget, const QString& text)
{
    const int room = textRoom(session, commandAndTarget);
    QByteArrayList lines;
    if (text.startsWith(QLatin1String("/me"))) {
        const QStringList pieces = splitForWire(text.mid(3), room - 4);
        for (qsizetype i = 0; i < pieces.size(); ++i) {
            const QString& piece = pieces.at(i);
            const QString action = i > 0 && !piece.startsWith(u' ') ? QStringLiteral("/me ") : QStringLiteral("/me");
            lines.append(commandAndTarget + (action + piece).toUtf8());
        }
        return lines;
    }
    for (const QString& piece : splitForWire(text, room))
        lines.append(commandAndTarget + piece.toUtf8());
    return lines;
}

void rememberSingleByteNames(SessionMemory& memory, const QStringList& names)
{
    for (const QString& name : names) {
        if (memory.singleByteNames.size() >= kMostSingleByteNames)
            return;
        memory.singleByteNames.insert(name);
    }
}

// ------------------------------------------------------------ server lines

// A member's nick without the marks of its channel status ("@Marlow" is
// Marlow); the marks stay in what the list shows.
QString bareNick(const QString& name, const SessionMemory& memory)
{
    qsizetype marks = 0;
    while (marks < name.size() && memory.memberMarks.contains(name.at(marks)))
        ++marks;
    return name.mid(marks);
}

void onNames(const QString& text, const SessionView& session, const SessionMemory& memory, StepWriter& steps)
{
    // With the lobby showing, no channel is open: the reply is late for a
    // channel already left. Taking it would bring the closed window back and
    // its members into the next channel's list.
    const QStringList fields = text.trimmed().split(u' ');
    if (session.lobbyShown || !session.channelLoaded || fields.size() < 2 || fields.at(1) != session.channel)
        return;
    const QString& from = plainText(scrambled::kSpecialNameFrom);
    const QString& staff = plainText(scrambled::kSpecialNameTo);
    for (const QString& listed : parseNames(text)) {
        const QString name = listed == from ? staff : listed;
        const QString nick = bareNick(name, memory);
        if (nick.isEmpty())
            continue;
        // A member listed again (our own JOIN echo came first, or the
        // server sends the names twice) keeps the picture already known.
        const int known = nick == session.username ? session.ownIcon : memory.knownIcons.value(nick);
        const int icon = nick == staff ? memberIcon::kStaffBadge : known ? known : memberIcon::kFlagUnknown;
        steps.member(Step::Kind::AddMember, nick, icon, shownName(name));
    }
    steps.add(Step::Kind::FocusEntry);
}

// A member's picture for the flag the server gives: the flag, except that
// the staff account wears its badge whatever flag it registered with, and
// nobody else ever does.
void setMemberIcon(const QString& nick, int flag, SessionMemory& memory, StepWriter& steps)
{
    int icon = 0;
    if (nick == plainText(scrambled::kSpecialNameTo))
        icon = memberIcon::kStaffBadge;
    else if (flag >= 0 && flag < memberIcon::kFlags)
        icon = flag + 1;
    else
        return;
    steps.member(Step::Kind::SetMemberIcon, nick, icon);
    insertMember(memory.knownIcons, nick, icon);
}

void onWhoEntry(const QString& text, const SessionView& session, SessionMemory& memory, StepWriter& steps)
{
    const std::optional<WhoEntry> entry = parseWhoEntry(text);
    if (!entry)
        return;
    if (session.lobbyShown) {
        Step& step = steps.add(Step::Kind::CollectWho);
        step.nick = entry->nick;
        step.title = shownName(entry->nick);
        step.text = entry->channel == QLatin1String("*") ? QStringLiteral(" ") : shownName(entry->channel);
        return;
    }
    if (entry->flag && session.channelLoaded)
        setMemberIcon(entry->nick, *entry->flag, memory, steps);
}

void onServerOptions(const QString& text, SessionMemory& memory)
{
    for (const QString& option : text.split(u' ')) {
        if (!option.startsWith(QLatin1String("PREFIX=")))
            continue;
        // PREFIX=(ov)@+ : the modes in brackets, then their marks.
        const qsizetype close = option.indexOf(u')');
        const QString marks = close < 0 ? QString() : option.mid(close + 1);
        bool plain = true;
        for (const QChar c : marks)
            plain = plain && !c.isLetterOrNumber() && c.unicode() > 0x20 && c.unicode() < 0x7F;
        if (plain)
            memory.memberMarks = marks;
    }
}

void onServerLine(const IrcLine& line, const SessionView& session, SessionMemory& memory, StepWriter& steps)
{
    if (!line.text)
        return;
    const QString& numeric = line.numeric;
    const int code = numericCode(numeric);
    const QString& text = *line.text;
    if (isInfoNumeric(code)) {
        if (code == 1 && !memory.welcomed) {
            memory.welcomed = true;
            steps.add(Step::Kind::Welcomed);
            if (memory.askAtWelcome.contains(QStringLiteral("LIST")))
                steps.request(plainText(scrambled::kChannelListCommand).toUtf8());
            if (memory.askAtWelcome.contains(QStringLiteral("WHO")))
                steps.request(whoRequest(memory, session.lobbyShown ? QString() : session.channel));
            memory.askAtWelcome.clear();
        }
        steps.add(Step::Kind::Info).text = shownText(withoutFirstColon(text));
    } else if (numeric == QLatin1String("PONG")) {
        steps.add(Step::Kind::Answered).text = reasonOf(text);
    } else if (code == 5) {
        onServerOptions(text, memory);
    } else if (code == 321) {
        steps.add(Step::Kind::ClearChannels);
    } else if (code == 322) {
        ListEntry entry = parseListEntry(text);
        // A name that could carry a control character into our requests, or
        // read as another name, is not offered.
        if (entry.channel.isEmpty() || !isSendableName(entry.channel)
            || std::any_of(entry.channel.begin(), entry.channel.end(), isHiddenInName))
            return;
        if (entry.description)
            entry.description = shownText(*entry.description);
        if (entry.count)
            entry.count = shownText(*entry.count);
        steps.add(Step::Kind::ListChannel).entry = entry;
    } else if (code == 323) {
        steps.add(Step::Kind::ChannelsListed);
    } else if (code == 353) {
        onNames(text, session, memory, steps);
    } else if (code == 366) {
        // One who for the whole names reply, however many lines it took.
        if (!session.lobbyShown && session.channelLoaded && firstWord(text) == session.channel)
            steps.request(whoRequest(memory, session.channel));
    } else if (code == 352) {
        onWhoEntry(text, session, memory, steps);
    } else if (code == 315) {
        if (session.lobbyShown)
            steps.add(Step::Kind::RebuildWhoList);
        else if (session.channelLoaded)
            steps.add(Step::Kind::AskUnknownFlags);
    } else if (code == 311) {
        // Only the open channel's members have icons to set; a late reply is
        // dropped alone, the lines after it still count.
        if (!session.channelShown)
            return;
        if (const auto user = parseWhoisUser(text, plainText(scrambled::kWhoisIgnoreMarker)))
            setMemberIcon(user->nick, user->flag, memory, steps);
    } else if (code == 433) {
        steps.box(QStringLiteral("Error"), QStringLiteral("The username you have selected is already logged on Fenmoor."),
                  Step::After::EndSession);
    } else if (code == 451) {
        // Some servers take a moment to register us, and refuse what comes
        // before: the lists are asked for again once it has welcomed us.
        const QString command = refusedCommand(text);
        if (!memory.welcomed && (command == QLatin1String("LIST") || command == QLatin1String("WHO")))
            memory.askAtWelcome.insert(command);
    } else if (code == 461) {
        const QString command = refusedCommand(text);
        if (command == QLatin1String("WHO")) {
            // Some servers want a mask for the whole list: everyone.
            if (!memory.whoNeedsMask) {
                memory.whoNeedsMask = true;
                if (!memory.welcomed)
                    memory.askAtWelcome.insert(QStringLiteral("WHO"));
                else if (session.lobbyShown)
                    steps.request(whoRequest(memory, QString()));
            }
        } else if (!memory.welcomed && (command == QLatin1String("NICK") || command == QLatin1String("USER"))) {
            steps.box(plainText(scrambled::kNameRefusedTitle),
                      plainText(scrambled::kNameRefusedText) + session.username + QStringLiteral(": ")
                          + shownText(reasonOf(text)) + u'.',
                      Step::After::EndSession);
        }
    } else if (refusesRegistration(code)) {
        if (!memory.welcomed)
            steps.box(plainText(scrambled::kNameRefusedTitle),
                      plainText(scrambled::kNameRefusedText) + session.username + QStringLiteral(": ")
                          + shownText(reasonOf(text)) + u'.',
                      Step::After::EndSession);
    } else if (refusesJoin(code)) {
        const QString channel = firstWord(text);
        if (memory.joining.isEmpty() || channel != memory.joining || channel != session.channel)
            return;
        memory.joining.clear();
        // The channel was never entered: nobody there to say goodbye to.
        steps.leaveChannel(false);
        steps.box(plainText(scrambled::kSchemeFailedTitle),
                  plainText(scrambled::kJoinRefusedText) + shownName(channel) + QStringLiteral(": ")
                      + shownText(reasonOf(text)) + u'.',
                  Step::After::Nothing);
    }
}

// -------------------------------------------------------- players' traffic

// The channel a JOIN, PART or KICK names: its first word, without a colon.
QString channelArgument(const QString& arguments)
{
    QString channel = firstWord(arguments);
    if (channel.startsWith(u':'))
        channel.remove(0, 1);
    return channel;
}

bool forOpenChannel(const QString& channel, const SessionView& session)
{
    return session.channelLoaded && !session.channel.isEmpty() && channel == session.channel;
}

void onJoin(const QString& nick, const QString& arguments, const SessionView& session, SessionMemory& memory,
            StepWriter& steps)
{
    const QString channel = channelArgument(arguments);
    if (nick == session.username && channel == memory.joining)
        memory.joining.clear();
    if (!forOpenChannel(channel, session))
        return;
    // Our own flag needs no asking.
    const int known = nick == session.username ? session.ownIcon : memory.knownIcons.value(nick);
    steps.member(Step::Kind::AddMember, nick, known ? known : memberIcon::kFlagUnknown, shownName(nick));
    if (!known) {
        for (const QByteArray& whois : flagRequests({nick}, memory, session.requestRoom))
            steps.request(whois);
    }
    if (session.notify && nick != session.username)
        steps.chat(QStringLiteral("** ") + shownName(nick) + plainText(scrambled::kJoinNotice), chatcolour::paleRed);
}

void onLeave(const QString& nick, const QString& command, const QString& arguments, const SessionView& session,
             SessionMemory& memory, StepWriter& steps)
{
    const bool quit = command == QLatin1String("QUIT");
    // Whoever comes back under this name after quitting may have another flag.
    if (quit) {
        memory.knownIcons.remove(nick);
        memory.whoisAsked.remove(nick);
    }
    if (nick == session.username) {
        // The echo of our own PART; a server that parts us from the open
        // channel ends the visit too. A late echo for a channel left before
        // changes nothing in the one now open.
        if (session.lobbyShown)
            steps.add(Step::Kind::BackToLobby);
        else if (!quit && session.channelShown && forOpenChannel(channelArgument(arguments), session))
            steps.leaveChannel(false);
        return;
    }
    if (quit ? !(session.channelLoaded && session.isMember && session.isMember(nick))
             : !forOpenChannel(channelArgument(arguments), session))
        return;
    steps.member(Step::Kind::RemoveMember, nick);
    steps.add(Step::Kind::FetchGames);
    if (session.notify)
        steps.chat(QStringLiteral("** ") + shownName(nick) + plainText(scrambled::kLeaveNotice), chatcolour::paleRed);
}

// Whether a line names the user: the whole name, in any case, with no
// character of a nick right before or after it.
bool namesUser(const QString& text, const QString& username)
{
    if (username.isEmpty())
        return false;
    const auto inNick = [](QChar c) {
        return c.isLetterOrNumber() || QStringView(u"-[]\\`^{}_|").contains(c);
    };
    // Every message of a flood is looked through: only where a character
    // folds to the name's first is the name compared, which costs a fraction
    // of a search that folds the whole text.
    const auto folded = [](char16_t c) -> char16_t {
        if (c < 0x80)
            return c >= u'A' && c <= u'Z' ? char16_t(c + 0x20) : c;
        return QChar::toCaseFolded(c);
    };
    const char16_t first = folded(username.front().unicode());
    const QStringView view(text);
    for (qsizetype at = 0; at + username.size() <= view.size(); ++at) {
        if (folded(view[at].unicode()) != first
            || view.mid(at, username.size()).compare(username, Qt::CaseInsensitive) != 0)
            continue;
        const qsizetype end = at + username.size();
        if ((at == 0 || !inNick(text.at(at - 1))) && (end == text.size() || !inNick(text.at(end))))
            return true;
    }
    return false;
}

// The most characters of a line a desktop notification shows.
constexpr qsizetype kAlertPreview = 100;

// A line for the user's eye: who wrote it (and where), and its first words.
void alert(const QString& about, const QString& text, StepWriter& steps)
{
    QString preview = text.simplified();
    if (preview.size() > kAlertPreview) {
        qsizetype cut = preview.lastIndexOf(u' ', kAlertPreview);
        if (cut < kAlertPreview / 2)
            cut = kAlertPreview;
        if (preview.at(cut - 1).isHighSurrogate())
            --cut;
        preview = preview.left(cut) + QChar(0x2026);
    }
    Step& step = steps.add(Step::Kind::Alert);
    step.title = about;
    step.text = preview;
}

void onMessage(const QString& nick, const QString& arguments, const SessionView& session, SessionMemory& memory,
               StepWriter& steps)
{
    const qsizetype space = arguments.indexOf(u' ');
    const QString target = arguments.left(space < 0 ? arguments.size() : space);
    if (target.isEmpty())
        return;
    QString text = withoutFirstColon(space < 0 ? QString() : arguments.mid(space + 1));

    const bool toChannel = forOpenChannel(target, session);
    if (!toChannel && target != session.username)
        return;
    text = shownText(filtered(session, text));
    const QString sender = shownName(nick);
    if (toChannel) {
        if (text.startsWith(QLatin1String("/me"))) {
            const QVector<ColourRun> runs = actionLine(sender, text);
            steps.chat(runs);
            QString action;
            for (const ColourRun& run : runs)
                action += run.text;
            text = action.chopped(kCrLf.size());
        } else {
            steps.chat(sender + QStringLiteral("> ") + text, chatcolour::white);
        }
        if (namesUser(text, session.username))
            alert(sender + QStringLiteral(" in ") + session.channel, text, steps);
        return;
    }
    const QString line = u'[' + sender + QStringLiteral("] ") + text;
    if (session.channelShown)
        steps.chat(line, chatcolour::yellow);
    else
        steps.add(Step::Kind::LobbyNote).runs = {ColourRun{line + kCrLf, chatcolour::yellow}};
    alert(sender, text, steps);
    if (!session.away || !session.connected || !isSendableName(nick))
        return;
    if (!memory.awayReplies.contains(nick) && memory.awayReplies.size() >= kMostAwaySenders)
        return;
    int& replies = memory.awayReplies[nick];
    if (replies >= kMostAwayReplies)
        return;
    ++replies;
    steps.send(messageLines(session, QByteArrayLiteral("PRIVMSG ") + wireName(memory, nick) + " :", session.awayMessage));
    steps.chat(QStringLiteral("Away message sent to ") + sender + QStringLiteral(": ") + session.awayMessage,
               chatcolour::orange);
}

void onKick(const QString& kicker, const QString& arguments, const SessionView& session, StepWriter& steps)
{
    const QStringList fields = arguments.split(u' ');
    if (fields.size() < 2 || !forOpenChannel(fields.at(0), session))
        return;
    const QString& victim = fields.at(1);
    const QString reason = shownText(withoutFirstColon(arguments.section(u' ', 2)));

    if (victim == session.username) {
        // The server took us out of the channel: no PART of ours will be
        // echoed, so the lobby goes back to its refresh cycle here.
        steps.leaveChannel(false);
        steps.box(plainText(scrambled::kKickedTitle),
                  plainText(scrambled::kKickedText) + shownName(kicker) + plainText(scrambled::kKickedReason) + reason
                      + u'.',
                  Step::After::Nothing);
        return;
    }
    steps.member(Step::Kind::RemoveMember, victim);
    steps.chat(shownName(victim) + plainText(scrambled::kKickNoticeChannel) + session.channel
                   + plainText(scrambled::kKickNoticeBy) + shownName(kicker) + QStringLiteral(": ") + reason,
               chatcolour::paleRed);
}

// A KICK that names neither a player nor ChanServ as its source (an
// operator, a service under another name, the server itself) still takes
// the member out.
void onOtherSource(const QString& text, const SessionView& session, StepWriter& steps)
{
    if (!text.startsWith(u':'))
        return;
    const QStringList fields = text.mid(1).split(u' ');
    if (fields.size() < 4 || fields.at(1) != QLatin1String("KICK"))
        return;
    const QString source = fields.at(0);
    const QString kicker = source.left(source.indexOf(u'!') < 0 ? source.size() : source.indexOf(u'!'));
    onKick(kicker, text.section(u' ', 2), session, steps);
}

} // namespace

void SessionMemory::startVisit(const QString& channel)
{
    joining = channel;
    whoisAsked.clear();
    knownIcons.clear();
}

QByteArray wireName(const SessionMemory& memory, const QString& name)
{
    if (memory.singleByteNames.contains(name)) {
        if (const std::optional<QByteArray> bytes = encodeWindows1252(name))
            return *bytes;
    }
    return name.toUtf8();
}

QByteArray whoRequest(const SessionMemory& memory, const QString& openChannel)
{
    if (!openChannel.isEmpty())
        return QByteArrayLiteral("WHO ") + wireName(memory, openChannel);
    return memory.whoNeedsMask ? QByteArrayLiteral("WHO *") : QByteArrayLiteral("who");
}

QByteArrayList flagRequests(const QStringList& unknownMembers, SessionMemory& memory, qsizetype most)
{
    QByteArrayList requests;
    for (const QString& nick : unknownMembers) {
        if (requests.size() >= most)
            break;
        if (!isSendableName(nick) || memory.whoisAsked.contains(nick))
            continue;
        // Past the bound a member's flag is no longer asked for.
        if (memory.whoisAsked.size() >= kMostKnownIcons)
            break;
        insertMember(memory.whoisAsked, nick);
        requests.append(plainText(scrambled::kJoinRequest).toUtf8() + wireName(memory, nick));
    }
    return requests;
}

void decideLine(const QByteArray& raw, const SessionView& session, SessionMemory& memory, Steps& out)
{
    StepWriter steps(out);
    // The server drops a client that leaves its keep-alive unanswered. The
    // token goes back as the very bytes it came in; one that no line could
    // carry (too long, or holding a NUL) is not answered.
    if (raw == "PING" || raw.startsWith("PING ")) {
        const QByteArrayList pong{QByteArrayLiteral("PONG") + raw.mid(4)};
        if (wireSend(pong))
            steps.add(Step::Kind::KeepAlive).lines = pong;
        return;
    }
    bool singleByte = false;
    const QString text = decodeLine(raw, &singleByte);
    if (text.startsWith(QLatin1String("ERROR "))) {
        // The server refuses the session before it began, and says why.
        if (!memory.welcomed)
            steps.box(plainText(scrambled::kNameRefusedTitle),
                      plainText(scrambled::kSessionEndedText) + shownText(withoutFirstColon(text.mid(6))) + u'.',
                      Step::After::EndSession);
        return;
    }
    const IrcLine line = classifyLine(text, session.username, session.chatServerHost, session.maskedHost);
    if (singleByte) {
        if (line.kind == LineKind::Server && line.numeric == QLatin1String("322"))
            rememberSingleByteNames(memory, {parseListEntry(line.text.value_or(QString())).channel});
        else if (line.kind == LineKind::Server && line.numeric == QLatin1String("353"))
            rememberSingleByteNames(memory, parseNames(line.text.value_or(QString())));
        else if (line.kind == LineKind::User)
            rememberSingleByteNames(memory, {line.nick});
    }
    switch (line.kind) {
    case LineKind::Server:
        onServerLine(line, session, memory, steps);
        break;
    case LineKind::User: {
        const QString arguments = line.arguments.value_or(QString());
        if (line.command == QLatin1String("JOIN"))
            onJoin(line.nick, arguments, session, memory, steps);
        else if (line.command == QLatin1String("PART") || line.command == QLatin1String("QUIT"))
            onLeave(line.nick, line.command, arguments, session, memory, steps);
        else if (line.command == QLatin1String("PRIVMSG"))
            onMessage(line.nick, arguments, session, memory, steps);
        else if (line.command == QLatin1String("KICK"))
            onKick(line.nick, arguments, session, steps);
        break;
    }
    case LineKind::ChanServ:
        if (line.command == QLatin1String("KICK"))
            onKick(line.nick, line.arguments.value_or(QString()), session, steps);
        break;
    case LineKind::Ignored:
        onOtherSource(text, session, steps);
        break;
    }
}

QVector<ColourRun> actionLine(const QString& subject, QString& action)
{
    QVector<ColourRun> runs{ColourRun{subject + u' ', chatcolour::lightCyan}};
    runs += actionRuns(action);
    return runs;
}

void decideTyped(QString& message, const SessionView& session, SessionMemory& memory, Steps& out)
{
    StepWriter steps(out);
    const auto refuseName = [&steps](const QString& name) {
        steps.chat(QStringLiteral("Not sent: \"") + shownName(name) + QStringLiteral("\" cannot be the name of a player."),
                   chatcolour::paleRed);
    };
    const bool whisper = message.startsWith(QLatin1String("/msg "));
    // A member whose name holds a control character is whispered to by that
    // name or not at all: without it, the name may be another player's.
    if (whisper) {
        const QString target = message.mid(5).section(u' ', 0, 0);
        if (withoutControls(target) != target) {
            refuseName(target);
            return;
        }
    }
    // Control characters a paste brought along (a tab, an escape, the
    // marker of client-to-client requests) are no part of a chat line.
    message = withoutControls(message);
    // The filter masks what a whisper says, never whom it goes to: a masked
    // name would send it to nobody.
    if (!whisper)
        message = filtered(session, message);
    OutgoingDecision line = decideOutgoing(message, session.away);
    if (whisper && line.kind == OutgoingDecision::Kind::PrivateMessage) {
        // The text is the end of the line; masking keeps its length.
        message.chop(line.text.size());
        line.text = filtered(session, line.text);
        message += line.text;
    }
    if (line.awayCleared) {
        steps.chat(QStringLiteral("Away message has been cleared."), chatcolour::paleRed);
        steps.add(Step::Kind::ClearAway);
    }
    const auto sendOrSay = [&](const QByteArrayList& lines) {
        if (session.connected && wireSend(lines)) {
            steps.send(lines);
            return true;
        }
        steps.chat(QStringLiteral("Not sent: there is no connection to the chat server."), chatcolour::paleRed);
        return false;
    };
    const QByteArray channelCommand =
        plainText(scrambled::kChannelMessageCommand).toUtf8() + wireName(memory, session.channel) + " :";
    using Kind = OutgoingDecision::Kind;
    switch (line.kind) {
    case Kind::SetAway:
        memory.awayReplies.clear();
        steps.add(Step::Kind::SetAway).text = line.awayMessage;
        steps.chat(QStringLiteral("Away message set to \"") + line.awayMessage + u'"', chatcolour::paleRed);
        break;
    case Kind::Action:
        message = line.text;
        if (sendOrSay(messageLines(session, channelCommand, message)))
            steps.chat(actionLine(session.username, message));
        break;
    case Kind::PrivateMessage:
        if (!isSendableName(line.target) || line.target.contains(u':')) {
            refuseName(line.target);
            break;
        }
        if (sendOrSay(messageLines(session,
                                   plainText(scrambled::kPrivateMessageCommand).toUtf8() + wireName(memory, line.target)
                                       + " :",
                                   line.text)))
            steps.chat(u'<' + line.target + QStringLiteral("> ") + line.text, chatcolour::orange);
        break;
    case Kind::NoTarget:
        steps.chat(QStringLiteral("Not sent: the name of a player must follow \"/msg \"."), chatcolour::paleRed);
        break;
    case Kind::UnknownCommand:
        steps.chat(QStringLiteral("Unknown Command"), chatcolour::paleRed);
        break;
    case Kind::ChannelMessage:
        if (sendOrSay(messageLines(session, channelCommand, line.text)))
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

QByteArrayList joinSend(const SessionMemory& memory, const QString& channel)
{
    return {plainText(scrambled::kChannelEntryCommand).toUtf8() + wireName(memory, channel)};
}

QByteArrayList farewellSend(const QByteArray& channel, const QString& username)
{
    return {
        QByteArrayLiteral("privmsg ") + channel + " :#me " + username.toUtf8() + " is returning to the Fenmoor lobby",
        QByteArrayLiteral("PART ") + channel,
    };
}

std::optional<QByteArray> wireSend(const QByteArrayList& lines)
{
    QByteArray out;
    for (const QByteArray& line : lines) {
        if (line.size() + 2 > kMaxLineBytes || line.contains('\r') || line.contains('\n') || line.contains('\0'))
            return std::nullopt;
        out += line;
        out += "\r\n";
    }
    return out;
}

QStringList splitForWire(const QString& text, int maxBytes)
{
    maxBytes = std::max(maxBytes, 4);
    QStringList pieces;
    QString piece;
    int pieceBytes = 0;
    qsizetype lastBlank = -1;
    int bytesAtBlank = 0;
    for (qsizetype i = 0; i < text.size();) {
        // One character: a surrogate pair stays whole.
        const qsizetype length = text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()
            ? 2
            : 1;
        const QString character = text.mid(i, length);
        const int bytes = static_cast<int>(character.toUtf8().size());
        if (pieceBytes + bytes > maxBytes) {
            // Where the piece has a blank in its second half, it ends there
            // rather than in the middle of a word.
            if (lastBlank > piece.size() / 2) {
                // The blank begins the next piece: some servers trim one at
                // the end of a line.
                pieces.append(piece.left(lastBlank));
                piece = piece.mid(lastBlank);
                pieceBytes -= bytesAtBlank - 1;
            } else {
                pieces.append(piece);
                piece.clear();
                pieceBytes = 0;
            }
            lastBlank = -1;
        }
        if (character == QLatin1String(" ")) {
            lastBlank = piece.size();
            bytesAtBlank = pieceBytes + 1;
        }
        piece += character;
        pieceBytes += bytes;
        i += length;
    }
    if (!piece.isEmpty() || pieces.isEmpty())
        pieces.append(piece);
    return pieces;
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

QString linesText(const QByteArrayList& lines)
{
    QStringList out;
    for (const QByteArray& line : lines)
        out.append(QString::fromUtf8(line));
    return u'"' + out.join(QStringLiteral("\" + \"")) + u'"';
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
    case Kind::ChannelsListed:
        return QStringLiteral("channels listed");
    case Kind::ListChannel:
        return QStringLiteral("channel %1 icon %2 count %3 about %4")
            .arg(step.entry.channel, step.entry.icon ? QString::number(*step.entry.icon) : QStringLiteral("-"),
                 step.entry.count.value_or(QStringLiteral("-")), step.entry.description.value_or(QStringLiteral("-")));
    case Kind::AddMember:
        return QStringLiteral("member+ %1 %2").arg(step.nick).arg(step.icon)
            + (step.text == step.nick ? QString() : QStringLiteral(" as ") + step.text);
    case Kind::SetMemberIcon:
        return QStringLiteral("icon %1 %2").arg(step.nick).arg(step.icon);
    case Kind::RemoveMember:
        return QStringLiteral("member- ") + step.nick;
    case Kind::CollectWho:
        return QStringLiteral("who+ %1|%2").arg(step.nick, step.text)
            + (step.title == step.nick ? QString() : QStringLiteral(" as ") + step.title);
    case Kind::RebuildWhoList:
        return QStringLiteral("who list rebuilt");
    case Kind::AskUnknownFlags:
        return QStringLiteral("whois unknown flags");
    case Kind::Send:
        return QStringLiteral("send ") + linesText(step.lines);
    case Kind::Request:
        return QStringLiteral("request ") + linesText(step.lines);
    case Kind::KeepAlive:
        return QStringLiteral("keep-alive ") + linesText(step.lines);
    case Kind::Chat:
        return QStringLiteral("chat ") + runsText(step.runs);
    case Kind::LobbyNote:
        return QStringLiteral("lobby note ") + runsText(step.runs);
    case Kind::FocusEntry:
        return QStringLiteral("focus entry");
    case Kind::Welcomed:
        return QStringLiteral("welcomed");
    case Kind::Answered:
        return QStringLiteral("answered ") + step.text;
    case Kind::BackToLobby:
        return QStringLiteral("back to lobby");
    case Kind::FetchGames:
        return QStringLiteral("fetch games");
    case Kind::CloseChannel:
        return step.farewell ? QStringLiteral("close channel") : QStringLiteral("close channel without farewell");
    case Kind::Box:
        return QStringLiteral("box %1 | %2 | %3%4")
            .arg(step.title, step.text, step.information ? QStringLiteral("information") : QStringLiteral("exclamation"),
                 step.after == Step::After::EndSession ? QStringLiteral(" | then end session") : QString());
    case Kind::SetAway:
        return QStringLiteral("away ") + step.text;
    case Kind::ClearAway:
        return QStringLiteral("back from away");
    case Kind::Alert:
        return QStringLiteral("alert %1 | %2").arg(step.title, step.text);
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
