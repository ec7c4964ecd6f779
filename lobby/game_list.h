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

// Reads the game-list page, HTTP headers included. nullopt when the page has
// no "<GAMELISTSTART>" marker: such a response is not a list, and the list
// on screen stays as it is. emptyListText is the gateway's sentence for
// "no games", which is not a record.
std::optional<QVector<GameRow>> parseGameList(const QString& response, const QString& emptyListText);
