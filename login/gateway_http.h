#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

// The web gateway speaks a fixed HTTP/1.0 dialect: the service compares the
// request bytes with what its own client sends, so the request is built by
// hand, header by header, instead of with QNetworkAccessManager.
namespace gateway {

enum class HeaderSet { Plain = 1, Cookie = 2, CookieAndLevel = 3 };

// One whole request, every line ended by CR LF. For the cookie sets the
// cookie line keeps its place even when empty, which leaves a blank line
// after "Pragma: No-Cache"; the gateway expects exactly that.
// Returns an empty string when the address, the page or the cookie line holds
// a line break or another control character: such a request would carry
// headers nobody wrote, so nothing is built.
QString buildRequest(const QString& gatewayAddress, const QString& pageAndQuery, HeaderSet set,
                     const QString& cookieLine);

// True when the text can go into a request without changing its framing.
bool isRequestSafe(const QString& text);

// The pages, relative to the gateway's web folder. Values go in unencoded,
// as the gateway reads them.
QString welcomePage();
QString loginFormPage();
QString loginPage(const QString& userName, const QString& localIp);
QString gameListPage(const QString& channelWithoutHash);
QString channelSchemePage(const QString& channelWithoutHash);

// "#a#b" -> "a#b": drops the first "#" wherever it stands, once.
QString withoutFirstHash(const QString& channel);

// The longest cookie line, in characters without its CR LF, that requests
// carry. The gateway wants every value it ever set sent back, so the line
// only grows during a run; 8 KiB is the header size web servers commonly
// accept, and a line beyond it would make every later request fail or
// carry a burden a hostile gateway chose.
inline constexpr qsizetype kMaxCookieLineLength = 8192;

// Adds the value of every line of the text that begins with "Set-Cookie: "
// to the cookie line ("Cookie: v1; v2"). Lines are split at CR LF; every
// "Set-Cookie: " in such a line is removed and the rest, attributes
// included, is the value. Values are only ever appended. Empty values and
// values holding control characters are skipped: they would produce a
// malformed or forged header in the next request. A value that would take
// the line past kMaxCookieLineLength is skipped too; later, shorter values
// may still fit.
void captureCookies(const QString& text, QString& cookieLine);

// The bytes received so far on one gateway connection, decoded as
// Windows-1252. Markers and Set-Cookie lines may be split across reads, so
// every read is appended and the whole is searched. Work per read is
// proportional to the new bytes, not to the whole response.
//
// Nothing past a byte limit is kept: a login page, a channel scheme or a
// game list is a few KiB, so a gateway sending megabytes is broken or
// hostile, and the exchange is to be given up (see overflowed()).
class Response {
public:
    static constexpr qsizetype kDefaultLimit = 4 * 1024 * 1024;

    // limit: the most bytes kept; at least 0.
    explicit Response(qsizetype limit = kDefaultLimit);

    // Keeps the bytes up to the limit. The first byte beyond it sets
    // overflowed(); those bytes, and everything appended later, are dropped.
    void append(const QByteArray& bytes);
    // More bytes arrived than the limit allows: text() holds only the first
    // limit() of them, so the answer is incomplete.
    bool overflowed() const;
    qsizetype limit() const;
    // Searched in all text received so far.
    bool contains(const QString& marker) const;
    QString text() const;
    // Captures the Set-Cookie lines completed (ended by CR LF) since the
    // last call, each exactly once; an unfinished last line waits.
    void captureNewCookies(QString& cookieLine);
    // For a response known to be whole (the peer closed): also takes a
    // final line without CR LF. After an overflow the final line was cut by
    // the limit, so it is not taken.
    void captureRemainingCookies(QString& cookieLine);
    // Empties the text and forgets an overflow; the limit stays.
    void clear();

private:
    qsizetype m_limit;
    bool m_overflowed = false;
    QString m_text;
    // Where each marker asked for has already been searched without a hit,
    // so polling after every read does not search old text again.
    mutable QHash<QString, qsizetype> m_searchedUpTo;
    // Start of the first line not yet looked at for cookies.
    qsizetype m_lineStart = 0;
    // No CR LF ends the current line before this position.
    qsizetype m_lineEndSearchFrom = 0;
    // The current line was taken unfinished by captureRemainingCookies; text
    // that later completes it must not count it a second time.
    bool m_lineStartTaken = false;
};

} // namespace gateway
