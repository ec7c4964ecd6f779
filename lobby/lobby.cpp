#include "lobby/lobby.h"

#include "app/forms.h"
#include "app/pictures.h"
#include "channel/channel.h"
#include "encryption/encryption.h"
#include "encryption/texts.h"
#include "lobby/game_list.h"
#include "login/login.h"
#include "platform/cp1252.h"
#include "platform/dialogs.h"
#include "platform/listview.h"
#include "platform/service.h"
#include "platform/socket.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSet>
#include <QSignalBlocker>
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
    // A fetch that fails or hangs is dropped whole (a list cut short would
    // hide games), and the next tick fetches again.
    const auto dropGameList = [this] {
        gameListTimeout_->stop();
        http->close();
        gameListResponse_.clear();
    };
    connect(http, &Socket::errorOccurred, this, dropGameList);
    connect(gameListTimeout_, &QTimer::timeout, this, dropGameList);
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
    // Turning the final line back lets pending events run. The session is
    // ending: a late gateway answer must not enter a channel or report a
    // failure now, and the server's close crossing the log-off is no lost
    // connection.
    const QSignalBlocker ending(irc);
    schemeTimeout_->stop();
    chanScheme->close();
    gameListTimeout_->stop();
    http->close();
    sendLine(unscrambled(scrambled::kFinalLine));
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
    // Turned back before anything is asked of the server: turning it back
    // runs pending events, and replies handled while the lobby is still
    // hidden would be taken for a channel's and lost.
    const QString greeting = unscrambled(scrambled::kGreeting);
    if (!isLoaded())
        return;
    irc->sendData(QByteArrayLiteral("PASS MORBADENTILQ \r\n"));
    irc->sendData(QStringLiteral("NICK %1 \r\nUSER Username hostname servername :%2 0 \r\n")
                      .arg(username)
                      .arg(myFlag)
                      .toUtf8());
    irc->sendData(QByteArrayLiteral("list\r\n"));
    irc->sendData(QByteArrayLiteral("who\r\n"));
    listTimer->start();
    whoTimerX->start();
    Label4->setText(greeting + username + QLatin1Char('.'));
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
        messageBox(&login(), unscrambled(scrambled::kChatLostText), unscrambled(scrambled::kChatLostTitle),
                   MessageIcon::Exclamation);
        return;
    }
    login().showItems();
    messageBox(&login(), unscrambled(scrambled::kChatUnreachableText), unscrambled(scrambled::kChatUnreachableTitle),
               MessageIcon::Exclamation);
    login().userTxt->setFocus();
}

bool Lobby::sendLine(const QString& line)
{
    if (irc->state() != Socket::Connected)
        return false;
    return irc->sendData((line + kCrLf).toUtf8());
}

// ------------------------------------------------------------------ timers

void Lobby::listTimer_Timer()
{
    if (!isLoaded() || irc->state() != Socket::Connected)
        return;
    sendLine(unscrambled(scrambled::kChannelListCommand));
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
}

void Lobby::dispatchLine(const QString& text)
{
    const ServiceEndpoint& endpoint = service();
    const IrcLine line = classifyLine(text, username, endpoint.chatServerHost, endpoint.maskedHost);
    switch (line.kind) {
    case LineKind::Server:
        handleServerLine(line.numeric, line.text);
        break;
    case LineKind::User:
        if ((line.command == QLatin1String("PART") || line.command == QLatin1String("QUIT")) && line.nick == username)
            onOwnLeave();
        break;
    case LineKind::ChanServ:
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
}

void Lobby::appendInfo(const QString& text)
{
    QString info = text;
    const qsizetype colon = info.indexOf(QLatin1Char(':'));
    if (colon >= 0)
        info.remove(colon, 1);
    QTextCursor cursor = ircInfo->textCursor();
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(ircInfo->document()->isEmpty() ? info : QLatin1Char('\n') + info);
    ircInfo->setTextCursor(cursor);
    ircInfo->verticalScrollBar()->setValue(ircInfo->verticalScrollBar()->maximum());
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
    const QString& from = cachedText(scrambled::kSpecialNameFrom);
    const QString& to = cachedText(scrambled::kSpecialNameTo);
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
    chanScheme->close();
    if (!chanScheme->connect(service().gatewayAddress, service().gatewayPort)) {
        chanScheme_Failed();
        return;
    }
    schemeTimeout_->start();
}

void Lobby::chanScheme_Connect()
{
    const QString name = gateway::withoutFirstHash(channel().Label2->text());
    if (chanScheme->state() != Socket::Connected)
        return;
    const QString request = gateway::buildRequest(service().gatewayAddress, gateway::channelSchemePage(name),
                                                  gateway::HeaderSet::CookieAndLevel, login().cookieTemText);
    chanScheme->sendData(encodeWindows1252(request).value_or(QByteArray()));
}

void Lobby::chanScheme_DataArrival()
{
    if (!isLoaded() || !schemeTimeout_->isActive())
        return;
    schemeTimeout_->stop();
    gateway::Response answer;
    answer.append(chanScheme->getData());
    answer.captureRemainingCookies(login().cookieTemText);
    Channel& window = channel();
    const QString name = window.Label2->text();
    sendLine(unscrambled(scrambled::kChannelEntryCommand) + name);
    if (!isLoaded())
        return;
    window.setWindowTitle(name + unscrambled(scrambled::kCaptionSuffix));
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
    messageBox(this, unscrambled(scrambled::kSchemeFailedText), unscrambled(scrambled::kSchemeFailedTitle),
               MessageIcon::Exclamation);
}

// ---------------------------------------------------------------- game list

void Lobby::gamesTimer_Timer()
{
    if (!isLoaded() || !channel().isLoaded() || channel().Label2->text().isEmpty())
        return;
    if (!http->connect(service().gatewayAddress, service().gatewayPort))
        return;
    gameListResponse_.clear();
    gameListTimeout_->start();
    sendLine(QStringLiteral("whois *"));
}

void Lobby::http_Connect()
{
    if (!channel().isLoaded())
        return;
    const QString name = gateway::withoutFirstHash(channel().Label2->text());
    if (http->state() != Socket::Connected)
        return;
    const QString request = gateway::buildRequest(service().gatewayAddress, gateway::gameListPage(name),
                                                  gateway::HeaderSet::CookieAndLevel, login().cookieTemText);
    http->sendData(encodeWindows1252(request).value_or(QByteArray()));
}

void Lobby::http_DataArrival()
{
    gameListResponse_.append(http->getData());
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
        parseGameList(gameListResponse_.text(), cachedText(scrambled::kEmptyGameList));
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
