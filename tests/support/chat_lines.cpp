#include "support/chat_lines.h"

QByteArray serverReply(const QByteArray& numeric, const QByteArray& rest)
{
    return ":irc.fenmoor.test " + numeric + ' ' + QByteArrayLiteral("Pilot42") + ' ' + rest + "\r\n";
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

QByteArray endOfNames(const QByteArray& channel)
{
    return serverReply("366", channel + " :End of NAMES list");
}
