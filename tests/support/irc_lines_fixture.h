#pragma once

#include "support/chat_lines.h"

#include <QByteArray>
#include <QList>
#include <QStringList>

// What the tests read back from the windows, and the lines they send
// (support/chat_lines.h).

using Bytes = QList<QByteArray>;

// A stored text's plain form as it goes on the wire.
QByteArray bytesOf(const char* stored);

// The channel window's chat view, one entry per line; each run of one colour
// reads "{colour}text", colour being white, palered, yellow, orange, cyan,
// red or the colour's #rrggbb.
QStringList chatLines();
