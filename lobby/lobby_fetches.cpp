#include "lobby/lobby.h"

#include "app/forms.h"
#include "channel/channel.h"
#include "encryption/scramble.h"
#include "encryption/texts.h"
#include "lobby/game_list.h"
#include "login/login.h"
#include "platform/controls.h"
#include "platform/cp1252.h"
#include "platform/listview.h"
#include "platform/service.h"
#include "platform/socket.h"

#include <QLabel>
#include <QPushButton>
#include <QTimer>

// The lobby's two fetches from the gateway: the scheme that lets the user
// into a channel, and the channel's game list.

// -------------------------------------------------------- entering a channel

void Lobby::channels_DblClick()
{
    const std::optional<int> row = channels->selectedRow();
    if (!row)
        return;
    Channel& window = channel();
    window.ensureLoaded();
    window.Label2->setText(channels->key(*row));
    // The lobby stays on screen until the channel window takes its place;
    // its lists wait, so that the server is free for the channel.
    setEntering(true);
    listTimer->stop();
    whoTimerX->stop();
    outbox_.dropWaiting();
    // Running from here on marks the entry as pending.
    schemeTimeout_->start();
    chanScheme->close();
    // A name no request can carry would send nothing and wait for an answer
    // that cannot come: say so at once.
    if (!channelRequest(gateway::channelSchemePage))
        chanScheme_Failed(plainText(scrambled::kChannelUnrequestableText));
    else if (!chanScheme->connect(service().gatewayAddress, service().gatewayPort))
        chanScheme_Failed(plainText(scrambled::kSchemeUnreachableText));
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
    memory_.startVisit(name);
    // The names reply that the JOIN brings asks for every member.
    membersAsked_.start();
    // The visit's automatic requests start afresh; what was waiting was for
    // the lobby.
    outbox_.dropWaiting();
    sendToChat(joinSend(memory_, name));
    window.setWindowTitle(name + plainText(scrambled::kCaptionSuffix));
    window.Label3->setText(username);
    window.Form_Load();
    // Private messages that came while the lobby showed are kept here too.
    for (const ColourRun& run : std::as_const(pendingNotes_))
        window.chat->appendText(run.text, run.colour);
    pendingNotes_.clear();
    setEntering(false);
    // The lobby goes once the channel window is on screen, so that a window
    // of the program is there at every moment.
    handingOver_ = true;
    handOverTimeout_->start();
    window.show();
    gamesTimer_Timer();
    listTimer->stop();
    whoTimerX->stop();
    chanScheme->close();
}

void Lobby::settleHandOver()
{
    if (!handingOver_)
        return;
    handingOver_ = false;
    handOverTimeout_->stop();
    if (channel().isVisible())
        hide();
}

void Lobby::chanScheme_Failed(const QString& why)
{
    if (!isLoaded() || !schemeTimeout_->isActive())
        return;
    // The channel was never joined: undo the first step without the
    // channel window's farewell, and tell the user.
    schemeTimeout_->stop();
    chanScheme->close();
    channel().discard();
    refreshChanButton->setEnabled(true);
    setEntering(false);
    listTimer->start();
    whoTimerX->start();
    messageBox(this, why, plainText(scrambled::kSchemeFailedTitle), MessageIcon::Exclamation);
}

// The line at the foot of the lobby; while a channel is being entered it
// says so instead, and the greeting comes back afterwards.
void Lobby::showGreeting(const QString& text)
{
    if (greeting_.isNull())
        Label4->setText(text);
    else
        greeting_ = text;
}

// While a channel is being entered, the lobby says so and its lists wait.
void Lobby::setEntering(bool entering)
{
    channels->setEnabled(!entering);
    whoList->setEnabled(!entering);
    if (entering) {
        greeting_ = Label4->text();
        Label4->setText(QStringLiteral("Entering ") + channel().Label2->text() + QStringLiteral("..."));
    } else if (!greeting_.isNull()) {
        Label4->setText(greeting_);
        greeting_.clear();
    }
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
    // The WHO of the channel gives every member's flag; a whois of everyone
    // soon after it would only repeat part of that, at a higher price.
    if (!membersAsked_.isValid() || membersAsked_.hasExpired(gamesTimer->interval()))
        request(QByteArrayLiteral("whois *"));
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
        const int row = list->appendItem(shownText(game.name));
        list->setSubItemAt(row, 1, shownText(game.host));
        list->setIconAt(row, game.locked ? 2 : 1);
    }
}
