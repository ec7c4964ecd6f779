#include "lobby/lobby.h"

#include "app/forms.h"
#include "app/pictures.h"
#include "chattext/chat_text.h"
#include "channel/channel.h"
#include "encryption/encryption.h"
#include "encryption/texts.h"
#include "lobby/game_list.h"
#include "lobby/session_rules.h"
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
#include <QScrollBar>
#include <QSet>
#include <QTimer>

namespace {

constexpr int kChatConnectTimeoutMs = 20000;
constexpr int kGatewayTimeoutMs = 15000;

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
    ircInfo = new QPlainTextEdit(this);
    ircInfo->setReadOnly(true);
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
    for (const QByteArrayList& send : registrationSends(username, myFlag))
        sendToChat(send);
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

bool Lobby::sendToChat(const QByteArrayList& lines)
{
    if (irc->state() != Socket::Connected)
        return false;
    const std::optional<QByteArray> bytes = wireSend(lines);
    return bytes && irc->sendData(*bytes);
}

bool Lobby::sendLine(const QString& line)
{
    return sendToChat({line.toUtf8()});
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

SessionView Lobby::view() const
{
    SessionView session;
    session.username = username;
    const Channel& window = channel();
    session.channelLoaded = window.isLoaded();
    session.channelShown = window.isVisible();
    session.channel = window.Label2->text();
    session.notify = window.notify->isChecked();
    session.filter = window.filter->isChecked();
    session.lobbyShown = isVisible();
    session.away = iAmAway;
    session.awayMessage = myAwayMessage;
    session.connected = irc->state() == Socket::Connected;
    session.filterPairs = &filterPairs_;
    session.chatServerHost = service().chatServerHost;
    session.maskedHost = service().maskedHost;
    return session;
}

void Lobby::irc_DataArrival()
{
    assembler_.append(irc->getData());
    // A message box lets this event run again; the loop already running
    // takes the new bytes, in order.
    if (dispatching_)
        return;
    dispatching_ = true;
    const quint64 session = session_;
    // A burst of chat lines is laid out and scrolled once.
    RichTextView* chat = channel().chat;
    chat->beginAppends();
    Steps steps;
    while (isLoaded() && session == session_) {
        const std::optional<QByteArray> line = assembler_.takeLine();
        if (!line) {
            const QByteArray more = irc->getData();
            if (more.isEmpty())
                break;
            assembler_.append(more);
            continue;
        }
        steps.clear();
        decideLine(*line, view(), steps);
        apply(steps);
    }
    dispatching_ = false;
    chat->endAppends();
    if (isLoaded() && session == session_)
        flushInfo();
    else
        pendingInfo_.clear();
}

// Every effect of a received or typed line happens here, in the order the
// rules gave. A message box runs nested events, and the session may end
// meanwhile: nothing after it is applied then.
bool Lobby::apply(const Steps& steps)
{
    const quint64 session = session_;
    for (const Step& step : steps) {
        if (!isLoaded() || session != session_)
            return false;
        applyStep(step);
    }
    return isLoaded() && session == session_;
}

void Lobby::applyStep(const Step& step)
{
    using Kind = Step::Kind;
    switch (step.kind) {
    case Kind::Info:
        appendInfo(step.text);
        break;
    case Kind::ClearChannels:
        channels->clear();
        break;
    case Kind::ListChannel: {
        const ListEntry& entry = step.entry;
        channels->add(entry.channel, entry.channel);
        if (entry.icon)
            channels->setIcon(entry.channel, *entry.icon);
        if (entry.count)
            channels->setSubItem(entry.channel, 1, *entry.count);
        if (entry.description)
            channels->setSubItem(entry.channel, 2, *entry.description);
        break;
    }
    case Kind::AddMember: {
        ListView* users = channelForText().users;
        users->add(step.nick, step.nick);
        users->setIcon(step.nick, step.icon);
        break;
    }
    case Kind::SetMemberIcon:
        if (channel().isLoaded())
            channel().users->setIcon(step.nick, step.icon);
        break;
    case Kind::RemoveMember:
        channelForText().users->remove(step.nick);
        break;
    case Kind::CollectWho:
        whoBuffer.append({step.nick, step.text});
        break;
    case Kind::RebuildWhoList:
        whoList->clear();
        for (const WhoPair& entry : std::as_const(whoBuffer)) {
            whoList->add(entry.nick, entry.nick);
            whoList->setSubItem(entry.nick, 1, entry.channel);
        }
        break;
    case Kind::AskUnknownFlags:
        askUnknownFlags();
        break;
    case Kind::Send:
        sendToChat(step.lines);
        break;
    case Kind::Chat: {
        RichTextView* chat = channelForText().chat;
        for (const ColourRun& run : step.runs)
            chat->appendText(run.text, run.colour);
        break;
    }
    case Kind::FocusEntry:
        channelForText().message->setFocus();
        break;
    case Kind::BackToLobby:
        listTimer->start();
        whoTimerX->start();
        refreshChanButton->setEnabled(true);
        listTimer_Timer();
        whoTimerX_Timer();
        break;
    case Kind::FetchGames:
        gamesTimer_Timer();
        break;
    case Kind::CloseChannel:
        channel().unload();
        break;
    case Kind::Box: {
        const quint64 session = session_;
        messageBox(this, step.text, step.title, step.information ? MessageIcon::Information : MessageIcon::Exclamation);
        // While the box was open the session may have ended another way (a
        // lost connection brings the login window back by itself).
        if (step.after == Step::After::EndSession && isLoaded() && session == session_)
            unload();
        break;
    }
    case Kind::SetAway:
        iAmAway = true;
        myAwayMessage = step.text;
        break;
    case Kind::ClearAway:
        iAmAway = false;
        break;
    }
}

void Lobby::askUnknownFlags()
{
    if (!channel().isLoaded())
        return;
    const ListView* users = channel().users;
    QStringList unknown;
    for (int row = 0; row < users->count(); ++row) {
        if (users->iconAt(row) == memberIcon::kFlagUnknown)
            unknown.append(users->text(row));
    }
    for (const QString& nick : std::as_const(unknown))
        sendLine(QStringLiteral("whois ") + nick);
}

// Kept until the received block is handled, then shown in one edit with one
// scroll: a long message of the day would otherwise redraw the view for
// every line.
void Lobby::appendInfo(const QString& text)
{
    if (!pendingInfo_.isEmpty() || !ircInfo->document()->isEmpty())
        pendingInfo_ += QLatin1Char('\n');
    pendingInfo_ += text;
}

void Lobby::flushInfo()
{
    if (pendingInfo_.isEmpty())
        return;
    QTextCursor cursor = ircInfo->textCursor();
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(pendingInfo_);
    pendingInfo_.clear();
    ircInfo->setTextCursor(cursor);
    ircInfo->verticalScrollBar()->setValue(ircInfo->verticalScrollBar()->maximum());
}

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

// ------------------------------------------------------------ chat text

QString Lobby::profaneFilter(QString& filterTxt) const
{
    return ::profaneFilter(filterTxt, filterPairs_);
}

void Lobby::printMe(const QString& actionSubject, QString& action)
{
    Step line;
    line.kind = Step::Kind::Chat;
    line.runs = actionLine(actionSubject, action);
    applyStep(line);
}

void Lobby::parseMessage(QString& message)
{
    channelForText();
    Steps steps;
    decideTyped(message, view(), steps);
    apply(steps);
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
