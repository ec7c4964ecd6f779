#include "lobby/game_list.h"

#include <QStringTokenizer>
#include <QStringView>

namespace {

// Fields 1 (name), 2 (host) and 6 (padlock flag) of a record; the others are
// not read, and nothing after field 6 is even split.
struct RecordFields {
    QStringView name;
    QStringView host;
    QStringView lockFlag;
};

std::optional<RecordFields> readRecord(QStringView record)
{
    RecordFields fields;
    int index = 0;
    for (const QStringView field : QStringTokenizer(record, u' ')) {
        if (index == 1)
            fields.name = field;
        else if (index == 2)
            fields.host = field;
        else if (index == 6) {
            fields.lockFlag = field;
            return fields;
        }
        ++index;
    }
    // Too short to name a game: a trailing empty record or a garbled line.
    return std::nullopt;
}

} // namespace

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

    for (const QStringView record : QStringTokenizer(QStringView(body), u"<BR>\n")) {
        const std::optional<RecordFields> fields = readRecord(record);
        if (!fields || fields->name.size() > kMaxGameFieldLength || fields->host.size() > kMaxGameFieldLength)
            continue;
        rows.append(GameRow{fields->name.toString(), fields->host.toString(), fields->lockFlag != u"0"});
        if (rows.size() == kMaxGameRows)
            break;
    }
    return rows;
}
