#include "support/irc_lines_fixture.h"

#include "channel/channel.h"
#include "chattext/chat_text.h"
#include "encryption/encryption.h"
#include "lobby/lobby.h"
#include "platform/controls.h"
#include "platform/listview.h"

#include <QTest>
#include <QTimer>

QByteArray bytesOf(const char* stored)
{
    return plainText(stored).toUtf8();
}

QByteArray serverReply(const QByteArray& numeric, const QByteArray& rest)
{
    return ":irc.fenmoor.test " + numeric + ' ' + ChannelSession::kUser.toUtf8() + ' ' + rest + "\r\n";
}

QByteArray fromPlayer(const QByteArray& nick, const QByteArray& rest)
{
    return ':' + nick + "!~Username@players.fenmoor.test " + rest + "\r\n";
}

QByteArray fromChanServ(const QByteArray& rest)
{
    return ":ChanServ!~ChanServ@players.fenmoor.test " + rest + "\r\n";
}

namespace {

QString colourName(const QColor& colour)
{
    const std::pair<QColor, const char*> names[] = {
        {chatcolour::white, "white"},   {chatcolour::paleRed, "palered"}, {chatcolour::yellow, "yellow"},
        {chatcolour::orange, "orange"}, {chatcolour::lightCyan, "cyan"},  {chatcolour::red, "red"},
    };
    for (const auto& [value, name] : names) {
        if (value == colour)
            return QLatin1String(name);
    }
    return colour.name();
}

} // namespace

QStringList chatLines()
{
    QStringList lines;
    const RichTextView* chat = channel().chat;
    for (int i = 0; i < chat->lineCount(); ++i) {
        const QString text = chat->lineText(i);
        QString line;
        QString colour;
        for (const ChatRun& run : chat->lineRuns(i)) {
            const QString name = colourName(run.colour);
            if (name != colour)
                line += u'{' + name + u'}';
            colour = name;
            line += text.mid(run.start, run.length);
        }
        lines.append(line);
    }
    return lines;
}

bool openQuietChannel(ChannelSession& session)
{
    const QByteArray noGames = QByteArrayLiteral("HTTP/1.0 200 OK\r\n\r\n<GAMELISTSTART>\n<GAMELISTEND>\n");
    if (!session.enter(QStringLiteral("#Help")) || !session.finishGameList(1, noGames))
        return false;
    for (QTimer* timer : {lobby().listTimer, lobby().whoTimerX, lobby().gamesTimer, lobby().whoisTimer})
        timer->stop();
    for (const QString& nick : {QStringLiteral("Kite"), QStringLiteral("Ace")}) {
        channel().users->add(nick, nick);
        channel().users->setIcon(nick, Channel::kFlagUnknown);
    }
    return true;
}

bool allHandled(ChannelSession& session)
{
    static int markers = 0;
    const QString marker = QStringLiteral("#handled-%1").arg(++markers);
    session.irc.send(0, serverReply("322", marker.toUtf8() + " 1 :00 marker"));
    if (!QTest::qWaitFor([&] { return lobby().channels->contains(marker); }))
        return false;
    lobby().channels->remove(marker);
    return true;
}
