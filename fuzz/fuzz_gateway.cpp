// A gateway answer, read by read: the bounded response buffer, marker
// polling, cookie capture, the next request built with the captured cookie
// line, and the game-list page.

#include "fuzz_support.h"
#include "lobby/game_list.h"
#include "login/gateway_http.h"

#include <QStringList>

namespace {

const QStringList kMarkers = {QStringLiteral("<LOGINOK>"), QStringLiteral("<GAMELISTSTART>"),
                              QStringLiteral("\r\n\r\n"), QStringLiteral("Set-Cookie: ")};

void checkCookieLine(const QString& cookieLine)
{
    FUZZ_CHECK(cookieLine.size() <= gateway::kMaxCookieLineLength);
    FUZZ_CHECK(cookieLine.isEmpty() || cookieLine.startsWith(QLatin1String("Cookie: ")));
    FUZZ_CHECK(gateway::isRequestSafe(cookieLine));
}

void checkRequest(const QString& page, const QString& cookieLine)
{
    const QString request = gateway::buildRequest(QStringLiteral("127.0.0.1"), page,
                                                  gateway::HeaderSet::CookieAndLevel, cookieLine);
    if (!gateway::isRequestSafe(page)) {
        FUZZ_CHECK(request.isEmpty());
        return;
    }
    // Seven lines and the blank line after them, nothing more.
    FUZZ_CHECK(request.count(QLatin1String("\r\n")) == 7);
    FUZZ_CHECK(request.count(u'\r') == 7 && request.count(u'\n') == 7);
    FUZZ_CHECK(!request.contains(QChar(u'\0')));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    FuzzedDataProvider data(bytes, size);
    const qsizetype limit = data.ConsumeIntegralInRange<qsizetype>(0, 8192);
    const QString page = takeText(data, 64);
    const QString emptyListText = takeText(data, 32);

    gateway::Response response(limit);
    QString incremental;
    QList<bool> found(kMarkers.size(), false);
    while (data.remaining_bytes() > 0) {
        response.append(takeBytes(data, 700));
        FUZZ_CHECK(response.text().size() <= limit);
        response.captureNewCookies(incremental);
        checkCookieLine(incremental);
        for (qsizetype i = 0; i < kMarkers.size(); ++i) {
            const bool now = response.contains(kMarkers.at(i));
            FUZZ_CHECK(now == response.text().contains(kMarkers.at(i)));
            // Text only grows, so a marker once seen stays seen.
            FUZZ_CHECK(now || !found.at(i));
            found[i] = now;
        }
    }
    response.captureRemainingCookies(incremental);
    checkCookieLine(incremental);
    // Taking the remaining line twice must not count it twice.
    const QString once = incremental;
    response.captureRemainingCookies(incremental);
    FUZZ_CHECK(incremental == once);

    if (!response.overflowed()) {
        QString whole;
        gateway::captureCookies(response.text(), whole);
        FUZZ_CHECK(whole == incremental);
    }
    checkRequest(page, incremental);

    if (const auto rows = parseGameList(response.text(), emptyListText)) {
        FUZZ_CHECK(rows->size() <= kMaxGameRows);
        for (const GameRow& row : *rows) {
            FUZZ_CHECK(row.name.size() <= kMaxGameFieldLength && row.host.size() <= kMaxGameFieldLength);
            FUZZ_CHECK(!row.name.contains(u' ') && !row.host.contains(u' '));
        }
    } else {
        FUZZ_CHECK(!response.text().contains(QLatin1String("<GAMELISTSTART>")));
    }
    return 0;
}
