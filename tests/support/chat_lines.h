#pragma once

#include <QByteArray>

// The lines a fake chat server sends, as the real one words them, each with
// its CR LF. "The user" is Pilot42.

// A numeric reply of the server to the user: ":server numeric user rest".
QByteArray serverReply(const QByteArray& numeric, const QByteArray& rest);
// A line from a player: the masked host marks it as one.
QByteArray fromPlayer(const QByteArray& nick, const QByteArray& rest);
// A line from the channel service.
QByteArray fromChanServ(const QByteArray& rest);

// One channel of a LIST reply; the topic is a two-digit picture number and
// the description.
QByteArray listEntry(const QByteArray& name, const QByteArray& users, const QByteArray& topic);
// One line of the NAMES reply of a channel, and the line that ends it.
QByteArray namesOf(const QByteArray& nicks, const QByteArray& channel = "#Help");
QByteArray endOfNames(const QByteArray& channel = "#Help");
// One WHO line; the first word of the real name is the player's flag.
QByteArray whoEntry(const QByteArray& channel, const QByteArray& nick, const QByteArray& flagWord);
QByteArray endOfWho();
// The WHOIS reply naming a player's real name.
QByteArray whoisReply(const QByteArray& nick, const QByteArray& realName);
