#include "lobby/lobby.h"

#include "app/forms.h"
#include "app/pictures.h"
#include "chattext/chat_text.h"
#include "channel/channel.h"
#include "encryption/encryption.h"
#include "encryption/texts.h"
#include "lobby/game_list.h"
#include "login/login.h"
#include "platform/controls.h"
#include "platform/cp1252.h"
#include "platform/dialogs.h"
#include "platform/listview.h"
#include "platform/service.h"
#include "platform/socket.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSet>
#include <QTimer>

namespace {

constexpr int kChatConnectTimeoutMs = 20000;
constexpr int kGatewayTimeoutMs = 15000;

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

QLabel* makeLabel(QWidget* parent, const QString& text, int left, int top, int width, int height)
{
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    setTwipGeometry(label, left, top, width, height);
    return label;
}

} // namespace

Lobby::Lobby()
    : gameListTimeout_(new QTimer(this))
    , schemeTimeout_(new QTimer(this))
{
    for (const scrambled::FilterText& pair : scrambled::kFilter)
        filterPairs_.append({plainText(pair.word), plainText(pair.mask)});
    setWindowTitle(QStringLiteral("Fenmoor Lobby - Tavimere"));
    setWindowIcon(pictures::applicationIcon());
    setFixedSize(twipsToPixelsX(8670), twipsToPixelsY(6870));
    const QColor blue(65, 85, 112);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, blue);
    pal.setColor(QPalette::WindowText, Qt::white);
    setPalette(pal);

    Label1 = makeLabel(this, QStringLiteral("Welcome To The Fenmoor Lobby"), 2760, 120, 3255, 255);
    QFont bold = Label1->font();
    bold.setBold(true);
    Label1->setFont(bold);
    Label2 = makeLabel(this, QStringLiteral("Channels"), 120, 480, 975, 255);
    refreshChanButton = new QPushButton(QStringLiteral("Refresh"), this);
    setTwipGeometry(refreshChanButton, 7320, 430, 1215, 250);
    const QString enterTip = QStringLiteral("Double-click a channel name to enter.");
    channels = new ListView(this);
    channels->setColumns({QStringLiteral("Channel"), QStringLiteral("Users"), QStringLiteral("Description")});
    channels->setImageList(&pictures::channelIcons());
    channels->setToolTip(enterTip);
    setTwipGeometry(channels, 120, 720, 8415, 1695);
    channels->setColumnWidthPx(0, twipsToPixelsX(2200));
    channels->setColumnWidthPx(1, twipsToPixelsX(900));
    Label5 = makeLabel(this, QStringLiteral("Users"), 120, 2520, 975, 255);
    whoList = new ListView(this);
    whoList->setColumns({QStringLiteral("Username"), QStringLiteral("Channel")});
    whoList->setToolTip(enterTip);
    setTwipGeometry(whoList, 120, 2760, 8415, 1815);
    whoList->setColumnWidthPx(0, twipsToPixelsX(3000));
    Label3 = makeLabel(this, QStringLiteral("Server Data"), 120, 4680, 1095, 255);
    ircInfo = new InfoView(this);
    QPalette infoPal = ircInfo->palette();
    infoPal.setColor(QPalette::Base, blue);
    infoPal.setColor(QPalette::Text, Qt::white);
    ircInfo->setPalette(infoPal);
    setTwipGeometry(ircInfo, 120, 4920, 8415, 1455);
    Label4 = makeLabel(this, QString(), 120, 6480, 6495, 255);
    logoff = new QPushButton(QStringLiteral("Log Off Fenmoor"), this);
    setTwipGeometry(logoff, 6730, 6435, 1815, 300);

    irc = new Socket(QStringLiteral("irc"), this);
    irc->setConnectTimeout(kChatConnectTimeoutMs);
    http = new Socket(QStringLiteral("http"), this);
    http->setConnectTimeout(kGatewayTimeoutMs);
    chanScheme = new Socket(QStringLiteral("chanScheme"), this);
    chanScheme->setConnectTimeout(kGatewayTimeoutMs);

    listTimer = new QTimer(this);
    listTimer->setInterval(7000);
    whoTimerX = new QTimer(this);
    whoTimerX->setInterval(15000);
    gamesTimer = new QTimer(this);
    gamesTimer->setInterval(20000);
    whoisTimer = new QTimer(this);
    whoisTimer->setInterval(60000);
    gameListTimeout_->setSingleShot(true);
    gameListTimeout_->setInterval(kGatewayTimeoutMs);
    // Repeating, so that it still counts as running while its own timeout is
    // handled: the scheme handlers act only on a pending entry, and every
    // end of the entry stops it.
    schemeTimeout_->setInterval(kGatewayTimeoutMs);

    connect(irc, &Socket::connected, this, &Lobby::irc_Connect);
    connect(irc, &Socket::dataArrival, this, &Lobby::irc_DataArrival);
    connect(irc, &Socket::peerClosed, this, &Lobby::irc_Lost);
    connect(irc, &Socket::errorOccurred, this, &Lobby::irc_Lost);
    connect(chanScheme, &Socket::connected, this, &Lobby::chanScheme_Connect);
    connect(chanScheme, &Socket::dataArrival, this, &Lobby::chanScheme_DataArrival);
    connect(chanScheme, &Socket::peerClosed, this, &Lobby::chanScheme_Failed);
    connect(chanScheme, &Socket::errorOccurred, this, &Lobby::chanScheme_Failed);
    connect(schemeTimeout_, &QTimer::timeout, this, &Lobby::chanScheme_Failed);
    connect(http, &Socket::connected, this, &Lobby::http_Connect);
    connect(http, &Socket::dataArrival, this, &Lobby::http_DataArrival);
    connect(http, &Socket::peerClosed, this, &Lobby::http_Finished);
    connect(http, &Socket::errorOccurred, this, &Lobby::dropGameList);
    connect(gameListTimeout_, &QTimer::timeout, this, &Lobby::dropGameList);
    connect(listTimer, &QTimer::timeout, this, &Lobby::listTimer_Timer);
    connect(whoTimerX, &QTimer::timeout, this, &Lobby::whoTimerX_Timer);
    connect(gamesTimer, &QTimer::timeout, this, &Lobby::gamesTimer_Timer);
    connect(channels, &ListView::itemDoubleClicked, this, &Lobby::channels_DblClick);
    connect(refreshChanButton, &QPushButton::clicked, this, &Lobby::listTimer_Timer);
    connect(logoff, &QPushButton::clicked, this, &Form::unload);
}

void Lobby::setChatConnectTimeout(int ms)
{
    irc->setConnectTimeout(ms);
}

void Lobby::setGatewayTimeout(int ms)
{
    http->setConnectTimeout(ms);
    chanScheme->setConnectTimeout(ms);
    gameListTimeout_->setInterval(ms);
    schemeTimeout_->setInterval(ms);
}

// ---------------------------------------------------------------- lifecycle

void Lobby::Form_Load()
{
    ++session_;
    chanW = login().getchX();
    chanH = login().getchY();
    chanState = login().getchS();
    myAwayMessage.clear();
    QPalette pal = palette();
    pal.setBrush(QPalette::Window, pictures::background());
    setPalette(pal);
}

void Lobby::Form_QueryUnload()
{
    // The session is ending: a late gateway answer must not enter a channel
    // or report a failure now.
    schemeTimeout_->stop();
    chanScheme->close();
    gameListTimeout_->stop();
    http->close();
    sendLine(plainText(scrambled::kFinalLine));
    irc->close();
    channel().unload();
    login().show();
    login().userTxt->setFocus();
    login().setchX(chanW);
    login().setchY(chanH);
    login().setchS(chanState);
}

void Lobby::resetToDesign()
{
    for (QTimer* t : {listTimer, whoTimerX, gamesTimer, whoisTimer, gameListTimeout_, schemeTimeout_})
        t->stop();
    irc->close();
    http->close();
    chanScheme->close();
    assembler_.clear();
    pendingInfo_.clear();
    gameListResponse_.clear();
    registered_ = false;
    channels->clear();
    whoList->clear();
    ircInfo->clear();
    Label4->clear();
    whoBuffer.clear();
    iAmAway = false;
    myAwayMessage.clear();
    refreshChanButton->setEnabled(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(65, 85, 112));
    setPalette(pal);
}

// ------------------------------------------------------- chat registration

void Lobby::ircConnect(const QString& txtusername, quint8 userflag)
{
    ensureLoaded();
    username = txtusername;
    myFlag = userflag;
    irc->connect(service().gatewayAddress, service().chatPort);
}

void Lobby::irc_Connect()
{
    registered_ = true;
    irc->sendData(QByteArrayLiteral("PASS MORBADENTILQ \r\n"));
    // Put together piece by piece: a name may hold "%1", which a format
    // string would fill in.
    irc->sendData((QStringLiteral("NICK ") + username + QStringLiteral(" \r\nUSER Username hostname servername :")
                   + QString::number(myFlag) + QStringLiteral(" 0 \r\n"))
                      .toUtf8());
    irc->sendData(QByteArrayLiteral("list\r\n"));
    irc->sendData(QByteArrayLiteral("who\r\n"));
    listTimer->start();
    whoTimerX->start();
    Label4->setText(plainText(scrambled::kGreeting) + username + QLatin1Char('.'));
    login().hide();
    login().showItems();
    show();
}

void Lobby::irc_Lost()
{
    if (!isLoaded())
        return;
    const bool wasRegistered = registered_;
    // The connection is gone: nothing may be sent on it any more, and the
    // closing sequence goes on without its final line.
    irc->close();
    unload();
    if (wasRegistered) {
        messageBox(&login(), plainText(scrambled::kChatLostText), plainText(scrambled::kChatLostTitle),
                   MessageIcon::Exclamation);
        return;
    }
    login().showItems();
    messageBox(&login(), plainText(scrambled::kChatUnreachableText), plainText(scrambled::kChatUnreachableTitle),
               MessageIcon::Exclamation);
    login().userTxt->setFocus();
}

// Text from the server can end up in a line (a nick, a token): a line break
// or NUL inside it would let the server put words in our mouth.
bool Lobby::sendLine(const QString& line)
{
    if (irc->state() != Socket::Connected || !isSafeForWire(line))
        return false;
    return irc->sendData((line + kCrLf).toUtf8());
}

// ------------------------------------------------------------------ timers

void Lobby::listTimer_Timer()
{
    if (!isLoaded() || irc->state() != Socket::Connected)
        return;
    sendLine(plainText(scrambled::kChannelListCommand));
}

void Lobby::whoTimerX_Timer()
{
    if (!isLoaded())
        return;
    whoBuffer.clear();
    sendLine(QStringLiteral("who"));
}

// ---------------------------------------------------------- line dispatch

void Lobby::irc_DataArrival()
{
    assembler_.append(irc->getData());
    // A handler that opened a message box lets this event run again; the
    // loop already running takes the new bytes, in order.
    if (dispatching_)
        return;
    dispatching_ = true;
    const quint64 session = session_;
    // A burst of chat lines is laid out and scrolled once.
    RichTextView* chat = channel().chat;
    chat->beginAppends();
    while (isLoaded() && session == session_) {
        const std::optional<QByteArray> line = assembler_.takeLine();
        if (!line) {
            const QByteArray more = irc->getData();
            if (more.isEmpty())
                break;
            assembler_.append(more);
            continue;
        }
        dispatchLine(decodeLine(*line));
    }
    dispatching_ = false;
    chat->endAppends();
    if (isLoaded() && session == session_)
        flushInfo();
    else
        pendingInfo_.clear();
}

void Lobby::dispatchLine(const QString& text)
{
    // The server drops a client that leaves its keep-alive unanswered.
    if (const std::optional<QString> pong = pongFor(text)) {
        sendLine(*pong);
        return;
    }
    const ServiceEndpoint& endpoint = service();
    const IrcLine line = classifyLine(text, username, endpoint.chatServerHost, endpoint.maskedHost);
    switch (line.kind) {
    case LineKind::Server:
        handleServerLine(line.numeric, line.text);
        break;
    case LineKind::User:
        if (line.command == QLatin1String("JOIN"))
            onJoin(line.nick);
        else if (line.command == QLatin1String("PART") || line.command == QLatin1String("QUIT"))
            onLeave(line.nick);
        else if (line.command == QLatin1String("PRIVMSG"))
            onMessage(line.nick, line.arguments.value_or(QString()));
        break;
    case LineKind::ChanServ:
        if (line.command == QLatin1String("KICK"))
            onKick(line.nick, line.arguments.value_or(QString()));
        break;
    case LineKind::Ignored:
        break;
    }
}

void Lobby::handleServerLine(const QString& numeric, const std::optional<QString>& text)
{
    if (!text)
        return;
    if (isInfoNumeric(numeric))
        appendInfo(*text);
    else if (numeric == QLatin1String("321"))
        channels->clear();
    else if (numeric == QLatin1String("322"))
        onListEntry(*text);
    else if (numeric == QLatin1String("353"))
        onNames(*text);
    else if (numeric == QLatin1String("352"))
        onWhoEntry(*text);
    else if (numeric == QLatin1String("315"))
        onEndOfWho();
    else if (numeric == QLatin1String("311"))
        onWhoisUser(*text);
    else if (numeric == QLatin1String("433"))
        onNickInUse();
}

// Kept until the received block is handled, then shown in one edit with one
// scroll: a long message of the day would otherwise redraw the view for
// every line.
void Lobby::appendInfo(const QString& text)
{
    QString info = text;
    const qsizetype colon = info.indexOf(QLatin1Char(':'));
    if (colon >= 0)
        info.remove(colon, 1);
    pendingInfo_.append(info);
}

void Lobby::flushInfo()
{
    if (pendingInfo_.isEmpty())
        return;
    ircInfo->appendLines(pendingInfo_);
    pendingInfo_.clear();
}

bool Lobby::lobbyMode() const
{
    return isVisible();
}

// ------------------------------------------------------------ list replies

void Lobby::onListEntry(const QString& text)
{
    const ListEntry entry = parseListEntry(text);
    // A name that could carry a line break into our requests is not offered.
    if (entry.channel.isEmpty() || !isSafeForWire(entry.channel))
        return;
    channels->add(entry.channel, entry.channel);
    if (entry.icon)
        channels->setIcon(entry.channel, *entry.icon);
    if (entry.count)
        channels->setSubItem(entry.channel, 1, *entry.count);
    if (entry.description)
        channels->setSubItem(entry.channel, 2, *entry.description);
}

void Lobby::onNames(const QString& text)
{
    // With the lobby showing, no channel is open: the reply is late for a
    // channel already left. Taking it would bring the closed window back and
    // its members into the next channel's list.
    if (lobbyMode())
        return;
    const QString& from = plainText(scrambled::kSpecialNameFrom);
    const QString& to = plainText(scrambled::kSpecialNameTo);
    Channel& window = channel();
    window.ensureLoaded();
    for (QString name : parseNames(text)) {
        if (name == from)
            name = to;
        window.users->add(name, name);
        window.users->setIcon(name, Channel::kFlagUnknown);
        if (name == to)
            window.users->setIcon(name, Channel::kSpecialBadge);
    }
    sendLine(QStringLiteral("who"));
    window.message->setFocus();
}

void Lobby::onWhoEntry(const QString& text)
{
    const std::optional<WhoEntry> entry = parseWhoEntry(text);
    if (!entry)
        return;
    if (lobbyMode()) {
        whoBuffer.append({entry->nick, entry->channel == QLatin1String("*") ? QStringLiteral(" ") : entry->channel});
        return;
    }
    if (entry->flag && channel().isLoaded())
        channel().users->setIcon(entry->nick, *entry->flag + 1);
}

void Lobby::onEndOfWho()
{
    if (lobbyMode()) {
        whoList->clear();
        for (const WhoPair& entry : std::as_const(whoBuffer)) {
            whoList->add(entry.nick, entry.nick);
            whoList->setSubItem(entry.nick, 1, entry.channel);
        }
        return;
    }
    if (!channel().isLoaded())
        return;
    ListView* users = channel().users;
    QStringList unknown;
    for (int row = 0; row < users->count(); ++row) {
        if (users->iconAt(row) == Channel::kFlagUnknown && isSafeForWire(users->text(row)))
            unknown.append(users->text(row));
    }
    for (const QString& nick : std::as_const(unknown))
        sendLine(QStringLiteral("whois ") + nick);
}

void Lobby::onOwnLeave()
{
    listTimer->start();
    whoTimerX->start();
    refreshChanButton->setEnabled(true);
    listTimer_Timer();
    whoTimerX_Timer();
}

// ---------------------------------------------------------- channel traffic

// The channel window holds every chat line, loaded (not shown) for one that
// arrives in the lobby. Loading it for a line is not entering a channel, so
// the lobby's Refresh button keeps its state.
Channel& Lobby::channelForText()
{
    Channel& window = channel();
    if (!window.isLoaded()) {
        const bool refreshEnabled = refreshChanButton->isEnabled();
        window.ensureLoaded();
        refreshChanButton->setEnabled(refreshEnabled);
    }
    return window;
}

void Lobby::onJoin(const QString& nick)
{
    Channel& window = channelForText();
    window.users->add(nick, nick);
    window.users->setIcon(nick, Channel::kFlagUnknown);
    sendLine(plainText(scrambled::kJoinRequest) + nick);
    if (window.notify->isChecked() && nick != username)
        window.chat->appendText(QStringLiteral("** ") + nick + plainText(scrambled::kJoinNotice) + kCrLf,
                                chatcolour::paleRed);
}

void Lobby::onLeave(const QString& nick)
{
    if (nick == username) {
        onOwnLeave();
        return;
    }
    Channel& window = channelForText();
    window.users->remove(nick);
    gamesTimer_Timer();
    if (window.notify->isChecked())
        window.chat->appendText(QStringLiteral("** ") + nick + plainText(scrambled::kLeaveNotice) + kCrLf,
                                chatcolour::paleRed);
}

void Lobby::onMessage(const QString& nick, const QString& arguments)
{
    const qsizetype space = arguments.indexOf(QLatin1Char(' '));
    const QString target = arguments.left(space < 0 ? arguments.size() : space);
    if (target.isEmpty())
        return;
    QString text = space < 0 ? QString() : arguments.mid(space + 1);
    const qsizetype colon = text.indexOf(QLatin1Char(':'));
    if (colon >= 0)
        text.remove(colon, 1);

    // A window that is not loaded has no channel: such a message is for
    // another channel (or stale) and does not load it.
    const bool toChannel = channel().isLoaded() && target == channel().Label2->text();
    if (!toChannel && target != username)
        return;
    Channel& window = channelForText();
    if (window.filter->isChecked())
        profaneFilter(text);
    if (toChannel) {
        if (text.startsWith(QLatin1String("/me")))
            printMe(nick, text);
        else
            window.chat->appendText(nick + QStringLiteral("> ") + text + kCrLf, chatcolour::white);
        return;
    }
    window.chat->appendText(QLatin1Char('[') + nick + QStringLiteral("] ") + text + kCrLf, chatcolour::yellow);
    if (iAmAway && sendLine(QStringLiteral("PRIVMSG ") + nick + QStringLiteral(" :") + myAwayMessage))
        window.chat->appendText(QStringLiteral("Away message sent to ") + nick + QStringLiteral(": ") + myAwayMessage
                                    + kCrLf,
                                chatcolour::orange);
}

void Lobby::onKick(const QString& nick, const QString& arguments)
{
    const QStringList fields = arguments.split(QLatin1Char(' '));
    if (fields.size() < 2)
        return;
    const QString& victim = fields.at(1);
    QString reason = arguments.section(QLatin1Char(' '), 2);
    const qsizetype colon = reason.indexOf(QLatin1Char(':'));
    if (colon >= 0)
        reason.remove(colon, 1);

    if (victim == username) {
        if (!channel().isLoaded())
            return;
        channel().unload();
        // The server took us out of the channel: no PART of ours will be
        // echoed, so the lobby goes back to its refresh cycle here.
        onOwnLeave();
        messageBox(this, plainText(scrambled::kKickedText) + nick + plainText(scrambled::kKickedReason) + reason
                             + QLatin1Char('.'),
                   plainText(scrambled::kKickedTitle), MessageIcon::Information);
        return;
    }
    Channel& window = channelForText();
    window.users->remove(victim);
    window.chat->appendText(victim + plainText(scrambled::kKickNoticeChannel) + window.Label2->text()
                                + plainText(scrambled::kKickNoticeBy) + nick + QStringLiteral(": ") + reason + kCrLf,
                            chatcolour::paleRed);
}

// ------------------------------------------------------- whois and errors

void Lobby::onWhoisUser(const QString& text)
{
    // Only the open channel's members have icons to set; a late reply is
    // dropped alone, the lines after it still count.
    if (!channel().isVisible())
        return;
    const std::optional<WhoisUser> user = parseWhoisUser(text, plainText(scrambled::kWhoisIgnoreMarker));
    if (user)
        channel().users->setIcon(user->nick, user->flag + 1);
}

void Lobby::onNickInUse()
{
    const quint64 session = session_;
    messageBox(this, QStringLiteral("The username you have selected is already logged on Fenmoor."),
               QStringLiteral("Error"), MessageIcon::Information);
    // While the box was open the session may have ended another way (a lost
    // connection brings the login window back by itself).
    if (isLoaded() && session == session_)
        unload();
}

// ------------------------------------------------------------ chat text

QString Lobby::profaneFilter(QString& filterTxt) const
{
    return ::profaneFilter(filterTxt, filterPairs_);
}

void Lobby::printMe(const QString& actionSubject, QString& action)
{
    RichTextView* chat = channelForText().chat;
    chat->appendText(actionSubject + QLatin1Char(' '), chatcolour::lightCyan);
    for (const ColourRun& run : actionRuns(action))
        chat->appendText(run.text, run.colour);
}

void Lobby::sendFailed()
{
    channelForText().chat->appendText(QStringLiteral("Not sent: there is no connection to the chat server.") + kCrLf,
                                      chatcolour::paleRed);
}

void Lobby::parseMessage(QString& message)
{
    Channel& window = channelForText();
    if (window.filter->isChecked())
        profaneFilter(message);
    const OutgoingDecision line = decideOutgoing(message, iAmAway);
    RichTextView* chat = window.chat;
    if (line.awayCleared) {
        chat->appendText(QStringLiteral("Away message has been cleared.") + kCrLf, chatcolour::paleRed);
        iAmAway = false;
    }
    const QString channelCommand = plainText(scrambled::kChannelMessageCommand) + window.Label2->text()
        + QStringLiteral(" :");
    switch (line.kind) {
    case OutgoingDecision::Kind::SetAway:
        iAmAway = true;
        myAwayMessage = line.awayMessage;
        chat->appendText(QStringLiteral("Away message set to \"") + myAwayMessage + QLatin1Char('"') + kCrLf,
                         chatcolour::paleRed);
        break;
    case OutgoingDecision::Kind::Action:
        message = line.text;
        if (sendLine(channelCommand + message))
            printMe(username, message);
        else
            sendFailed();
        break;
    case OutgoingDecision::Kind::PrivateMessage:
        if (sendLine(plainText(scrambled::kPrivateMessageCommand) + line.target + QStringLiteral(" :") + line.text))
            chat->appendText(QLatin1Char('<') + line.target + QStringLiteral("> ") + line.text + kCrLf,
                             chatcolour::orange);
        else
            sendFailed();
        break;
    case OutgoingDecision::Kind::UnknownCommand:
        chat->appendText(QStringLiteral("Unknown Command") + kCrLf, chatcolour::paleRed);
        break;
    case OutgoingDecision::Kind::ChannelMessage:
        if (sendLine(channelCommand + line.text))
            chat->appendText(username + QStringLiteral(": ") + line.text + kCrLf, chatcolour::white);
        else
            sendFailed();
        break;
    case OutgoingDecision::Kind::Nothing:
        break;
    }
}

// -------------------------------------------------------- entering a channel

void Lobby::channels_DblClick()
{
    const std::optional<int> row = channels->selectedRow();
    if (!row)
        return;
    Channel& window = channel();
    window.ensureLoaded();
    window.Label2->setText(channels->key(*row));
    hide();
    // Running from here on marks the entry as pending.
    schemeTimeout_->start();
    chanScheme->close();
    // A name no request can carry would send nothing and wait for an answer
    // that cannot come: say so at once.
    if (!channelRequest(gateway::channelSchemePage)
        || !chanScheme->connect(service().gatewayAddress, service().gatewayPort))
        chanScheme_Failed();
}

std::optional<QByteArray> Lobby::channelRequest(QString (*page)(const QString&)) const
{
    const QString name = gateway::withoutFirstHash(channel().Label2->text());
    const QString request = gateway::buildRequest(service().gatewayAddress, page(name),
                                                  gateway::HeaderSet::CookieAndLevel, login().cookieTemText);
    if (request.isEmpty())
        return std::nullopt;
    return encodeWindows1252(request);
}

void Lobby::chanScheme_Connect()
{
    const std::optional<QByteArray> request = channelRequest(gateway::channelSchemePage);
    if (chanScheme->state() != Socket::Connected || !request)
        return;
    chanScheme->sendData(*request);
}

void Lobby::chanScheme_DataArrival()
{
    if (!isLoaded() || !schemeTimeout_->isActive())
        return;
    schemeTimeout_->stop();
    gateway::Response answer;
    answer.append(chanScheme->getData());
    // Only this first read is taken: a cookie line it cuts short is left out
    // rather than kept cut.
    answer.captureNewCookies(login().cookieTemText);
    Channel& window = channel();
    const QString name = window.Label2->text();
    sendLine(plainText(scrambled::kChannelEntryCommand) + name);
    window.setWindowTitle(name + plainText(scrambled::kCaptionSuffix));
    window.Label3->setText(username);
    window.Form_Load();
    window.show();
    gamesTimer_Timer();
    listTimer->stop();
    whoTimerX->stop();
    chanScheme->close();
}

void Lobby::chanScheme_Failed()
{
    if (!isLoaded() || !schemeTimeout_->isActive())
        return;
    // The channel was never joined: undo the first step without the
    // channel window's farewell, and tell the user.
    schemeTimeout_->stop();
    chanScheme->close();
    channel().discard();
    refreshChanButton->setEnabled(true);
    show();
    messageBox(this, plainText(scrambled::kSchemeFailedText), plainText(scrambled::kSchemeFailedTitle),
               MessageIcon::Exclamation);
}

// ---------------------------------------------------------------- game list

void Lobby::gamesTimer_Timer()
{
    if (!isLoaded() || !channel().isLoaded() || channel().Label2->text().isEmpty())
        return;
    if (!channelRequest(gateway::gameListPage) || !http->connect(service().gatewayAddress, service().gatewayPort))
        return;
    gameListResponse_.clear();
    gameListTimeout_->start();
    sendLine(QStringLiteral("whois *"));
}

void Lobby::http_Connect()
{
    if (!channel().isLoaded())
        return;
    const std::optional<QByteArray> request = channelRequest(gateway::gameListPage);
    if (http->state() != Socket::Connected || !request)
        return;
    http->sendData(*request);
}

void Lobby::http_DataArrival()
{
    gameListResponse_.append(http->getData());
    if (gameListResponse_.overflowed())
        dropGameList();
}

// A fetch that fails, hangs or overflows is dropped whole (a list cut short
// would hide games), and the next tick fetches again.
void Lobby::dropGameList()
{
    gameListTimeout_->stop();
    http->close();
    gameListResponse_.clear();
}

// The gateway ends an HTTP/1.0 answer by closing the connection: only then
// is the whole list known.
void Lobby::http_Finished()
{
    gameListTimeout_->stop();
    gameListResponse_.append(http->getData());
    http->close();
    if (!isLoaded())
        return;
    gameListResponse_.captureRemainingCookies(login().cookieTemText);
    const std::optional<QVector<GameRow>> games =
        parseGameList(gameListResponse_.text(), plainText(scrambled::kEmptyGameList));
    gameListResponse_.clear();
    if (!games || !channel().isLoaded())
        return;
    ListView* list = channel().games;
    list->clear();
    for (const GameRow& game : *games) {
        const int row = list->appendItem(game.name);
        list->setSubItemAt(row, 1, game.host);
        list->setIconAt(row, game.locked ? 2 : 1);
    }
}
