#include "support/irc_lines_fixture.h"

#include "channel/channel.h"
#include "chattext/chat_text.h"
#include "encryption/encryption.h"
#include "platform/controls.h"
#include "support/test_session.h"

#include <QTextBlock>
#include <QTextDocument>

QByteArray bytesOf(const char* stored)
{
    return plainText(stored).toUtf8();
}

QByteArray serverReply(const QByteArray& numeric, const QByteArray& rest)
{
    return ":irc.fenmoor.test " + numeric + ' ' + TestSession::kUser.toUtf8() + ' ' + rest + "\r\n";
}

QByteArray fromPlayer(const QByteArray& nick, const QByteArray& rest)
{
    return ':' + nick + "!~Username@players.fenmoor.test " + rest + "\r\n";
}

QByteArray fromChanServ(const QByteArray& rest)
{
    return ":ChanServ!~ChanServ@players.fenmoor.test " + rest + "\r\n";
}

QByteArray listEntry(const QByteArray& name, const QByteArray& users, const QByteArray& topic)
{
    return serverReply("322", name + ' ' + users + " :" + topic);
}

QByteArray namesOf(const QByteArray& nicks, const QByteArray& channel)
{
    return serverReply("353", "= " + channel + " :" + nicks);
}

QByteArray whoEntry(const QByteArray& channel, const QByteArray& nick, const QByteArray& flagWord)
{
    return serverReply("352", channel + " ~Username players.fenmoor.test irc.fenmoor.test " + nick + " H :0 " + flagWord
                                  + " 0");
}

QByteArray endOfWho()
{
    return serverReply("315", "* :End of WHO list");
}

QByteArray whoisReply(const QByteArray& nick, const QByteArray& realName)
{
    return serverReply("311", nick + " Username players.fenmoor.test * :" + realName);
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
    const QTextDocument* document = channel().chat->document();
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        QString line;
        QString colour;
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            const QString name = colourName(fragment.charFormat().foreground().color());
            if (name != colour)
                line += u'{' + name + u'}';
            colour = name;
            line += fragment.text();
        }
        lines.append(line);
    }
    // The break that ends the last line opens an empty block.
    if (!lines.isEmpty() && lines.constLast().isEmpty())
        lines.removeLast();
    return lines;
}
