#include "lobby/lobby.h"

#include "app/forms.h"
#include "app/pictures.h"
#include "chattext/chat_text.h"
#include "channel/channel.h"
#include "encryption/encryption.h"
#include "encryption/texts.h"
#include "lobby/session_rules.h"
#include "login/login.h"
#include "platform/alerts.h"
#include "platform/controls.h"
#include "platform/dialogs.h"
#include "platform/listview.h"
#include "platform/service.h"
#include "platform/socket.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

namespace {

constexpr int kChatConnectTimeoutMs = 20000;
constexpr int kGatewayTimeoutMs = 15000;
// A server that takes the connection but never welcomes us is not working.
constexpr int kWelcomeTimeoutMs = 30000;
// How long the echo of our PART may take before the lobby refreshes anyway.
constexpr int kPartEchoTimeoutMs = 5000;
// How long one slice of received lines may run: well under a frame.
constexpr qint64 kSliceMs = 8;
// The most bytes we hold unsent for a server that does not read them.
constexpr qint64 kMostUnsentBytes = 1024 * 1024;

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
    , handOverTimeout_(new QTimer(this))
    , welcomeTimeout_(new QTimer(this))
    , partEchoTimeout_(new QTimer(this))
    , outboxTimer_(new QTimer(this))
    , dispatchTimer_(new QTimer(this))
{
    filter_ = FilterMatcher(languageFilterPairs());
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
    // A window manager that never reports the channel window on screen
    // still gets the lobby hidden.
    handOverTimeout_->setSingleShot(true);
    handOverTimeout_->setInterval(2000);
    welcomeTimeout_->setSingleShot(true);
    welcomeTimeout_->setInterval(kWelcomeTimeoutMs);
    partEchoTimeout_->setSingleShot(true);
    partEchoTimeout_->setInterval(kPartEchoTimeoutMs);
    outboxTimer_->setSingleShot(true);
    dispatchTimer_->setSingleShot(true);
    dispatchTimer_->setInterval(0);
    clock_.start();

    connect(irc, &Socket::connected, this, &Lobby::irc_Connect);
    connect(irc, &Socket::dataArrival, this, &Lobby::irc_DataArrival);
    connect(irc, &Socket::peerClosed, this, &Lobby::irc_Lost);
    connect(irc, &Socket::errorOccurred, this, &Lobby::irc_Lost);
    connect(chanScheme, &Socket::connected, this, &Lobby::chanScheme_Connect);
    connect(chanScheme, &Socket::dataArrival, this, &Lobby::chanScheme_DataArrival);
    connect(chanScheme, &Socket::peerClosed, this,
            [this] { chanScheme_Failed(plainText(scrambled::kSchemeUnexpectedText)); });
    connect(chanScheme, &Socket::errorOccurred, this,
            [this] { chanScheme_Failed(plainText(scrambled::kSchemeUnreachableText)); });
    connect(schemeTimeout_, &QTimer::timeout, this,
            [this] { chanScheme_Failed(plainText(scrambled::kSchemeFailedText)); });
    connect(http, &Socket::connected, this, &Lobby::http_Connect);
    connect(http, &Socket::dataArrival, this, &Lobby::http_DataArrival);
    connect(http, &Socket::peerClosed, this, &Lobby::http_Finished);
    connect(http, &Socket::errorOccurred, this, &Lobby::dropGameList);
    connect(gameListTimeout_, &QTimer::timeout, this, &Lobby::dropGameList);
    connect(welcomeTimeout_, &QTimer::timeout, this, &Lobby::welcomeTimeout);
    connect(handOverTimeout_, &QTimer::timeout, this, &Lobby::settleHandOver);
    connect(partEchoTimeout_, &QTimer::timeout, this, [this] {
        // The server never echoed our PART: the lobby refreshes anyway.
        if (isLoaded() && isVisible() && !listTimer->isActive())
            backToLobby();
    });
    connect(outboxTimer_, &QTimer::timeout, this, &Lobby::pumpOutbox);
    connect(dispatchTimer_, &QTimer::timeout, this, [this] {
        if (!dispatching_)
            dispatch();
    });
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

void Lobby::setRequestPacing(bool on)
{
    outbox_.setPacing(on);
}

void Lobby::setPingLimit(bool on)
{
    outbox_.setPingLimit(on);
}

void Lobby::setSessionTimeouts(int welcomeMs, int partEchoMs)
{
    welcomeTimeout_->setInterval(welcomeMs);
    partEchoTimeout_->setInterval(partEchoMs);
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
    memory_ = SessionMemory();
    outbox_.reset();
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
    for (QTimer* t : {listTimer, whoTimerX, gamesTimer, whoisTimer, gameListTimeout_, schemeTimeout_, handOverTimeout_,
                      welcomeTimeout_, partEchoTimeout_, outboxTimer_, dispatchTimer_})
        t->stop();
    handingOver_ = false;
    membersAsked_.invalidate();
    irc->close();
    http->close();
    chanScheme->close();
    assembler_.clear();
    outbox_.reset();
    pendingInfo_.clear();
    pendingInfoColours_.clear();
    pendingNotes_.clear();
    rebuilding_.reset();
    gameListResponse_.clear();
    registered_ = false;
    setEntering(false);
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
    // A message of this session has nothing to say once it is over.
    closeMessageBoxes(this);
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
    welcomeTimeout_->start();
    for (const QByteArrayList& send : registrationSends(username, myFlag))
        sendToChat(send);
    listTimer->start();
    whoTimerX->start();
    showGreeting(QStringLiteral("Connecting to the Fenmoor chat server..."));
    login().hide();
    login().showItems();
    show();
}

void Lobby::irc_Lost()
{
    if (!isLoaded())
        return;
    lostConnection(registered_ ? plainText(scrambled::kChatLostText) : plainText(scrambled::kChatUnreachableText),
                   registered_ ? plainText(scrambled::kChatLostTitle) : plainText(scrambled::kChatUnreachableTitle));
}

// The session ends without its final line. A message that ends the session
// and already says why (a refused name) is the one the user gets.
void Lobby::lostConnection(const QString& text, const QString& title)
{
    std::optional<PendingBox> ending;
    for (const PendingBox& box : boxes_) {
        if (box.session == session_ && box.after == Step::After::EndSession) {
            ending = box;
            break;
        }
    }
    const bool explained = ending || endingBoxShown_;
    irc->close();
    unload();
    login().showItems();
    if (ending)
        messageBox(&login(), ending->text, ending->title, ending->icon);
    else if (!explained)
        messageBox(&login(), text, title, MessageIcon::Exclamation);
    if (login().isVisible())
        login().userTxt->setFocus();
}

void Lobby::welcomeTimeout()
{
    if (isLoaded() && !memory_.welcomed)
        lostConnection(plainText(scrambled::kNoWelcomeText), plainText(scrambled::kChatUnreachableTitle));
}

// The user's own lines, and the answers the session owes the server, go out
// at once.
bool Lobby::sendToChat(const QByteArrayList& lines)
{
    if (irc->state() != Socket::Connected)
        return false;
    const std::optional<QByteArray> bytes = wireSend(lines);
    if (!bytes || !irc->sendData(*bytes))
        return false;
    checkBacklog();
    return true;
}

bool Lobby::sendLine(const QString& line)
{
    return sendToChat({line.toUtf8()});
}

void Lobby::request(const QByteArray& line)
{
    if (irc->state() != Socket::Connected)
        return;
    outbox_.request(line, clock_.elapsed());
    pumpOutbox();
}

void Lobby::userTyping()
{
    outbox_.userTyping(clock_.elapsed());
}

void Lobby::pumpOutbox()
{
    const qint64 now = clock_.elapsed();
    while (irc->state() == Socket::Connected) {
        const std::optional<QByteArrayList> lines = outbox_.takeDue(now);
        if (!lines)
            break;
        if (const std::optional<QByteArray> bytes = wireSend(*lines))
            irc->sendData(*bytes);
    }
    if (const std::optional<qint64> due = outbox_.nextDueMs(now))
        outboxTimer_->start(static_cast<int>(std::max<qint64>(0, *due - now)));
    else
        outboxTimer_->stop();
    checkBacklog();
}

// A server that stops reading would make us hold ever more unsent lines: past
// a bound the connection counts as lost.
void Lobby::checkBacklog()
{
    if (irc->bytesToWrite() + outbox_.waitingBytes() > kMostUnsentBytes)
        QTimer::singleShot(0, this, [this, session = session_] {
            if (isLoaded() && session == session_)
                irc_Lost();
        });
}

// ------------------------------------------------------------------ timers

void Lobby::listTimer_Timer()
{
    if (!isLoaded())
        return;
    request(plainText(scrambled::kChannelListCommand).toUtf8());
}

void Lobby::whoTimerX_Timer()
{
    if (!isLoaded())
        return;
    whoBuffer.clear();
    request(whoRequest(memory_, QString()));
}

// ---------------------------------------------------------- line dispatch

SessionView Lobby::view() const
{
    SessionView session;
    session.username = username;
    session.ownIcon = myFlag + 1;
    const Channel& window = channel();
    session.channelLoaded = window.isLoaded();
    session.channelShown = window.isVisible();
    session.channel = window.Label2->text();
    session.notify = window.notify->isChecked();
    session.filter = window.filter->isChecked();
    session.lobbyShown = isVisible() && !handingOver_;
    session.away = iAmAway;
    session.awayMessage = myAwayMessage;
    session.connected = irc->state() == Socket::Connected;
    session.filterWords = &filter_;
    session.chatServerHost = service().chatServerHost;
    session.maskedHost = service().maskedHost;
    session.requestRoom = ChatOutbox::kMostWaiting - outbox_.waitingCount();
    session.isMember = [users = window.users](const QString& nick) { return users->contains(nick); };
    return session;
}

void Lobby::irc_DataArrival()
{
    // What arrives is handled at the next pass of the event loop, as the rest
    // of a burst is: a slice straight from here could follow one that has
    // just run in the same pass and hold the window up twice as long.
    if (!dispatching_)
        dispatchTimer_->start();
}

// Received lines are handled in slices of a few milliseconds, never splitting
// a line and never changing their order, so that a burst of thousands does
// not freeze the window: the next slice runs at the next pass of the event
// loop, as if the network had brought the rest in another read.
void Lobby::dispatch()
{
    dispatching_ = true;
    const quint64 session = session_;
    QElapsedTimer slice;
    slice.start();
    bool more = false;
    int handled = 0;
    RichTextView* chat = channel().chat;
    chat->beginAppends();
    // Each list takes the slice's changes in one go.
    const QList<ListView*> lists{channels, whoList, channel().users};
    for (ListView* list : lists)
        list->beginBatch();
    Steps steps;
    while (isLoaded() && session == session_) {
        if (slice.elapsed() >= kSliceMs || (sliceLines_ > 0 && handled == sliceLines_)) {
            more = rebuilding_ || assembler_.hasLine() || irc->bytesAvailable() > 0;
            break;
        }
        // The user list being filled comes before the lines after it.
        if (rebuilding_) {
            continueWhoList();
            continue;
        }
        std::optional<QByteArray> line = assembler_.takeLine();
        if (!line) {
            // Only what we are ready to handle is read from the socket: a
            // faster sender is held back by TCP.
            const QByteArray bytes = irc->getData();
            if (bytes.isEmpty())
                break;
            assembler_.append(bytes);
            continue;
        }
        steps.clear();
        decideLine(*line, view(), memory_, steps);
        apply(steps);
        ++handled;
    }
    chat->endAppends();
    for (ListView* list : lists)
        list->endBatch();
    for (const auto& [list, scroll] : std::as_const(scrollsToRestore_))
        list->setScrollPosition(scroll);
    scrollsToRestore_.clear();
    dispatching_ = false;
    if (!isLoaded() || session != session_) {
        pendingInfo_.clear();
        pendingInfoColours_.clear();
        return;
    }
    flushInfo();
    if (more)
        dispatchTimer_->start();
    pumpOutbox();
    // Opened from the event loop itself, not from under the socket's own
    // read: a connection lost while a box is open frees the socket.
    if (!boxes_.empty())
        QMetaObject::invokeMethod(this, &Lobby::showBoxes, Qt::QueuedConnection);
}

// Every effect of a received or typed line happens here, in the order the
// rules gave. Nothing here runs nested events: messages for the user wait
// until the lines before them are handled (see showBoxes()).
void Lobby::apply(const Steps& steps)
{
    for (const Step& step : steps)
        applyStep(step);
}

void Lobby::applyStep(const Step& step)
{
    using Kind = Step::Kind;
    switch (step.kind) {
    case Kind::Info:
        appendInfo(step.text);
        break;
    case Kind::ClearChannels:
        channelsKept_ = keepPlace(channels);
        channels->clear();
        break;
    case Kind::ChannelsListed:
        restorePlace(channels, channelsKept_);
        break;
    case Kind::ListChannel: {
        const ListEntry& entry = step.entry;
        channels->add(entry.channel, entry.channel);
        if (channelsKept_.key == entry.channel)
            channels->selectKey(entry.channel);
        if (entry.icon)
            channels->setIcon(entry.channel, *entry.icon);
        if (entry.count)
            channels->setSubItem(entry.channel, 1, *entry.count);
        if (entry.description)
            channels->setSubItem(entry.channel, 2, *entry.description);
        break;
    }
    case Kind::AddMember: {
        ListView* users = channel().users;
        users->add(step.nick, step.text);
        users->setIcon(step.nick, step.icon);
        break;
    }
    case Kind::SetMemberIcon:
        channel().users->setIcon(step.nick, step.icon);
        break;
    case Kind::RemoveMember:
        channel().users->remove(step.nick);
        break;
    case Kind::CollectWho:
        whoBuffer.append({step.nick, step.text, step.title});
        break;
    case Kind::RebuildWhoList:
        // Filled over as many slices as it takes: a server of 200,000 users
        // would hold the window up otherwise.
        whoKept_ = keepPlace(whoList);
        whoList->clear();
        rebuilding_ = whoBuffer;
        rebuilt_ = 0;
        break;
    case Kind::AskUnknownFlags:
        askUnknownFlags();
        break;
    case Kind::Send:
        sendToChat(step.lines);
        break;
    case Kind::KeepAlive:
        if (outbox_.mayAnswerPing(clock_.elapsed()))
            sendToChat(step.lines);
        break;
    case Kind::Request:
        for (const QByteArray& line : step.lines) {
            if (line == whoRequest(memory_, channel().Label2->text()))
                membersAsked_.start();
            outbox_.request(line, clock_.elapsed());
        }
        // Whatever the slices, a request due now goes out in its line's turn.
        pumpOutbox();
        break;
    case Kind::Chat: {
        RichTextView* chat = channel().chat;
        for (const ColourRun& run : step.runs)
            chat->appendText(run.text, run.colour);
        break;
    }
    case Kind::LobbyNote:
        // Seen in the lobby now, and still there in the next channel window.
        pendingNotes_.append(step.runs);
        for (const ColourRun& run : step.runs)
            appendInfo(run.text.chopped(run.text.endsWith(QLatin1String("\r\n")) ? 2 : 0),
                       run.colour.value_or(QColor()));
        break;
    case Kind::FocusEntry:
        channel().message->setFocus();
        // With the member list in, the user mostly says something first: the
        // big requests wait for that.
        userTyping();
        break;
    case Kind::Answered:
        outbox_.answered(step.text.toUtf8(), clock_.elapsed());
        break;
    case Kind::Welcomed:
        welcomeTimeout_->stop();
        showGreeting(plainText(scrambled::kGreeting) + username + QLatin1Char('.'));
        break;
    case Kind::BackToLobby:
        backToLobby();
        break;
    case Kind::FetchGames:
        gamesTimer_Timer();
        break;
    case Kind::CloseChannel:
        if (step.farewell)
            channel().unload();
        else
            channel().closeWithoutFarewell();
        break;
    case Kind::Box:
        boxes_.push_back({step.title, step.text,
                          step.information ? MessageIcon::Information : MessageIcon::Exclamation, step.after,
                          session_});
        break;
    case Kind::SetAway:
        iAmAway = true;
        myAwayMessage = step.text;
        break;
    case Kind::ClearAway:
        iAmAway = false;
        break;
    case Kind::Alert:
        alertUser(step.title, step.text);
        break;
    }
}

// A refresh keeps what the user was looking at: the selected item, where it
// is still there, and where the list was scrolled to.
Lobby::ListPlace Lobby::keepPlace(const ListView* list)
{
    return {list->selectedKey(), list->scrollPosition()};
}

void Lobby::restorePlace(ListView* list, const ListPlace& place)
{
    if (place.key && list->selectedKey() != place.key)
        return;
    // Laid out once the slice's batch is shown.
    scrollsToRestore_.append({list, place.scroll});
}

void Lobby::backToLobby()
{
    partEchoTimeout_->stop();
    listTimer->start();
    whoTimerX->start();
    refreshChanButton->setEnabled(true);
    listTimer_Timer();
    whoTimerX_Timer();
}

void Lobby::forgetChannelRequests()
{
    outbox_.dropWaiting();
}

void Lobby::awaitPartEcho()
{
    partEchoTimeout_->start();
}

// The messages that lines asked for, one at a time, once the lines before
// them are handled. While one is open, lines keep being handled (a PING
// above all); when it closes, the session it belonged to may have ended.
void Lobby::showBoxes()
{
    if (showingBoxes_)
        return;
    showingBoxes_ = true;
    while (!boxes_.empty()) {
        const PendingBox box = boxes_.front();
        boxes_.pop_front();
        if (!isLoaded() || box.session != session_)
            continue;
        const bool ending = box.after == Step::After::EndSession;
        // A message that ends the session stays when the session is gone.
        endingBoxShown_ = ending;
        messageBox(ending ? static_cast<QWidget*>(&login()) : this, box.text, box.title, box.icon);
        endingBoxShown_ = false;
        if (ending && isLoaded() && box.session == session_)
            unload();
    }
    showingBoxes_ = false;
}

void Lobby::continueWhoList()
{
    constexpr qsizetype kEntriesAtOnce = 500;
    const qsizetype end = std::min(rebuilt_ + kEntriesAtOnce, rebuilding_->size());
    for (; rebuilt_ < end; ++rebuilt_) {
        const WhoPair& entry = rebuilding_->at(rebuilt_);
        whoList->add(entry.nick, entry.shown);
        whoList->setSubItem(entry.nick, 1, entry.channel);
    }
    if (rebuilt_ < rebuilding_->size())
        return;
    rebuilding_.reset();
    if (whoKept_.key)
        whoList->selectKey(*whoKept_.key);
    restorePlace(whoList, whoKept_);
}

void Lobby::askUnknownFlags()
{
    const ListView* users = channel().users;
    QStringList unknown;
    for (int row = 0; row < users->count(); ++row) {
        if (users->iconAt(row) == memberIcon::kFlagUnknown)
            unknown.append(users->key(row));
    }
    for (const QByteArray& whois : flagRequests(unknown, memory_, ChatOutbox::kMostWaiting - outbox_.waitingCount()))
        outbox_.request(whois, clock_.elapsed());
    pumpOutbox();
}

// Kept until the slice of received lines is handled, then shown in one edit
// with one scroll: a long message of the day would otherwise redraw the view
// for every line.
void Lobby::appendInfo(const QString& line, const QColor& colour)
{
    pendingInfo_.append(line);
    pendingInfoColours_.append(colour);
}

void Lobby::flushInfo()
{
    ircInfo->appendLines(pendingInfo_, pendingInfoColours_);
    pendingInfo_.clear();
    pendingInfoColours_.clear();
}

// ------------------------------------------------------------ chat text

QString Lobby::profaneFilter(QString& filterTxt) const
{
    return ::profaneFilter(filterTxt, filter_);
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
    Steps steps;
    decideTyped(message, view(), memory_, steps);
    apply(steps);
    pumpOutbox();
}
