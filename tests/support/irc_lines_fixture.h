#pragma once

#include "support/channel_session.h"

#include <QByteArray>
#include <QList>
#include <QStringList>

using Bytes = QList<QByteArray>;

// A stored text's plain form as it goes on the wire.
QByteArray bytesOf(const char* stored);

// What the fake chat server says to ChannelSession::kUser.
QByteArray serverReply(const QByteArray& numeric, const QByteArray& rest);
// A line from a player: the masked host marks it as one.
QByteArray fromPlayer(const QByteArray& nick, const QByteArray& rest);
// A line from the channel service.
QByteArray fromChanServ(const QByteArray& rest);

// The channel window's chat view, one entry per line; each run of one colour
// reads "{colour}text", colour being white, palered, yellow, orange, cyan,
// red or the colour's #rrggbb.
QStringList chatLines();

// Enters #Help, lets its first game list finish and stops the periodic
// fetches, so that what the client sends afterwards is only what a test
// caused. The members are Kite and Ace, flag unknown.
bool openQuietChannel(ChannelSession& session);

// Lines are handled in order: once a list entry sent after them has reached
// the lobby's list, so have they. The marker is taken out again.
bool allHandled(ChannelSession& session);
