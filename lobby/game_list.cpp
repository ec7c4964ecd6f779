#include "lobby/game_list.h"

#include <QStringView>

std::optional<QVector<GameRow>> parseGameList(const QString& response, const QString& emptyListText)
{
    const QString startMarker = QStringLiteral("<GAMELISTSTART>");
    const qsizetype start = response.indexOf(startMarker);
    if (start < 0)
        return std::nullopt;

    QVector<GameRow> rows;
    const qsizetype bodyStart = start + startMarker.size();
    if (bodyStart >= response.size() || response.at(bodyStart) != u'\n')
        return rows;
    QString body = response.mid(bodyStart + 1);
    if (body.size() == emptyListText.size() + 1 && body.endsWith(u'\n') && body.startsWith(emptyListText))
        return rows;

    // Only the end marker is cut out; anything the gateway puts after it stays
    // at the end of the last record.
    const QString endMarker = QStringLiteral("<BR>\n<GAMELISTEND>\n");
    const qsizetype end = body.indexOf(endMarker);
    if (end >= 0)
        body.remove(end, endMarker.size());

    const QList<QStringView> records = QStringView(body).split(u"<BR>\n");
    for (const QStringView record : records) {
        const QList<QStringView> fields = record.split(u' ');
        // Too short to name a game: a trailing empty record or a garbled line.
        if (fields.size() < 7)
            continue;
        rows.append(GameRow{fields.at(1).toString(), fields.at(2).toString(), fields.at(6) != u"0"});
    }
    return rows;
}
