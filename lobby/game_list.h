#pragma once

#include <QString>
#include <QVector>
#include <optional>

// One open game as the gateway's game-list page describes it.
struct GameRow {
    QString name;
    QString host;
    bool locked = false;
};

// Games are hosted by users of one channel, so a real list holds a few
// dozen rows; 2000 is far beyond any channel yet keeps a broken or hostile
// page from filling the window with millions of rows.
inline constexpr qsizetype kMaxGameRows = 2000;
// The host is a user name (at most 15 characters) and a game name is a
// short title typed into a game; 256 characters is far beyond both, and a
// longer field is garbage that would only stall the list view's drawing.
inline constexpr qsizetype kMaxGameFieldLength = 256;

// Reads the game-list page, HTTP headers included. nullopt when the page has
// no "<GAMELISTSTART>" marker: such a response is not a list, and the list
// on screen stays as it is. emptyListText is the gateway's sentence for
// "no games", which is not a record. A record whose name or host is longer
// than kMaxGameFieldLength is left out, and reading stops once
// kMaxGameRows rows are kept.
std::optional<QVector<GameRow>> parseGameList(const QString& response, const QString& emptyListText);
