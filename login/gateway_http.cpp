#include "login/gateway_http.h"

#include "platform/cp1252.h"

#include <QStringView>

#include <algorithm>

namespace gateway {

namespace {

const QString kSetCookie = QStringLiteral("Set-Cookie: ");
const QString kCrLf = QStringLiteral("\r\n");
const QString kCookiePrefix = QStringLiteral("Cookie: ");
const QString kCookieSeparator = QStringLiteral("; ");

bool isControl(QChar ch)
{
    return ch.unicode() < 0x20 || ch.unicode() == 0x7F;
}

void takeCookieLine(QStringView line, QString& cookieLine)
{
    if (!line.startsWith(kSetCookie))
        return;
    QString value = line.toString();
    value.remove(kSetCookie);
    if (value.trimmed().isEmpty() || std::any_of(value.cbegin(), value.cend(), isControl))
        return;
    const qsizetype newLength = cookieLine.isEmpty() ? kCookiePrefix.size() + value.size()
                                                     : cookieLine.size() + kCookieSeparator.size() + value.size();
    if (newLength > kMaxCookieLineLength)
        return;
    if (cookieLine.isEmpty())
        cookieLine = kCookiePrefix + value;
    else
        cookieLine += kCookieSeparator + value;
}

} // namespace

bool isRequestSafe(const QString& text)
{
    return std::none_of(text.cbegin(), text.cend(), isControl);
}

QString buildRequest(const QString& gatewayAddress, const QString& pageAndQuery, HeaderSet set,
                     const QString& cookieLine)
{
    const bool withCookie = set != HeaderSet::Plain;
    if (!isRequestSafe(gatewayAddress) || !isRequestSafe(pageAndQuery)
        || (withCookie && !isRequestSafe(cookieLine)))
        return {};

    QString request = QStringLiteral("GET Http://") + gatewayAddress + QStringLiteral(":80/glimmerfallweb/")
        + pageAndQuery + QStringLiteral(" HTTP/1.0") + kCrLf;
    request += QStringLiteral("User-Agent: Zx7Client/1.2") + kCrLf;
    request += QStringLiteral("Pragma: No-Cache") + kCrLf;
    if (withCookie)
        request += cookieLine + kCrLf;
    if (set == HeaderSet::CookieAndLevel)
        request += QStringLiteral("UserLevel: 0") + kCrLf;
    request += QStringLiteral("UserServerIdent: 2") + kCrLf;
    request += kCrLf;
    return request;
}

QString welcomePage()
{
    return QStringLiteral("welcomeloginform.asp");
}

QString loginFormPage()
{
    return QStringLiteral("LoginForm.asp");
}

QString loginPage(const QString& userName, const QString& localIp)
{
    return QStringLiteral("Login.asp?UserName=") + userName + QStringLiteral("&Password=&IPAddress=") + localIp;
}

QString gameListPage(const QString& channelWithoutHash)
{
    return QStringLiteral("GameList.asp?Channel=") + channelWithoutHash;
}

QString channelSchemePage(const QString& channelWithoutHash)
{
    return QStringLiteral("RequestChannelScheme.asp?Channel=") + channelWithoutHash;
}

QString withoutFirstHash(const QString& channel)
{
    QString result = channel;
    const qsizetype hash = result.indexOf(QLatin1Char('#'));
    if (hash >= 0)
        result.remove(hash, 1);
    return result;
}

void captureCookies(const QString& text, QString& cookieLine)
{
    if (!text.contains(kSetCookie))
        return;
    const QStringView view(text);
    qsizetype start = 0;
    while (start <= view.size()) {
        qsizetype end = text.indexOf(kCrLf, start);
        if (end < 0)
            end = view.size();
        takeCookieLine(view.mid(start, end - start), cookieLine);
        start = end + kCrLf.size();
    }
}

Response::Response(qsizetype limit)
    : m_limit(std::max<qsizetype>(0, limit))
{
}

void Response::append(const QByteArray& bytes)
{
    if (m_overflowed)
        return;
    // Windows-1252 gives one character per byte, so the limit counts both.
    const qsizetype room = m_limit - m_text.size();
    if (bytes.size() <= room) {
        m_text += decodeWindows1252(bytes);
        return;
    }
    m_text += decodeWindows1252(bytes.left(room));
    m_overflowed = true;
}

bool Response::overflowed() const
{
    return m_overflowed;
}

qsizetype Response::limit() const
{
    return m_limit;
}

bool Response::contains(const QString& marker) const
{
    if (marker.isEmpty())
        return true;
    const auto known = m_searchedUpTo.constFind(marker);
    const qsizetype from = known == m_searchedUpTo.constEnd() ? 0 : *known;
    if (from < 0)
        return true;
    if (m_text.indexOf(marker, from) >= 0) {
        // The text only grows, so a marker once found stays found.
        m_searchedUpTo.insert(marker, -1);
        return true;
    }
    // A marker cut by the end of the text may still be completed by the next read.
    m_searchedUpTo.insert(marker, std::max<qsizetype>(0, m_text.size() - marker.size() + 1));
    return false;
}

QString Response::text() const
{
    return m_text;
}

void Response::captureNewCookies(QString& cookieLine)
{
    const QStringView view(m_text);
    for (;;) {
        const qsizetype end = m_text.indexOf(kCrLf, m_lineEndSearchFrom);
        if (end < 0) {
            // A CR at the very end may be joined by its LF in the next read.
            m_lineEndSearchFrom = std::max(m_lineStart, m_text.size() - 1);
            return;
        }
        if (!m_lineStartTaken)
            takeCookieLine(view.mid(m_lineStart, end - m_lineStart), cookieLine);
        m_lineStartTaken = false;
        m_lineStart = end + kCrLf.size();
        m_lineEndSearchFrom = m_lineStart;
    }
}

void Response::captureRemainingCookies(QString& cookieLine)
{
    captureNewCookies(cookieLine);
    if (m_overflowed || m_lineStartTaken || m_lineStart >= m_text.size())
        return;
    takeCookieLine(QStringView(m_text).mid(m_lineStart), cookieLine);
    m_lineStartTaken = true;
}

void Response::clear()
{
    m_overflowed = false;
    m_text.clear();
    m_searchedUpTo.clear();
    m_lineStart = 0;
    m_lineEndSearchFrom = 0;
    m_lineStartTaken = false;
}

} // namespace gateway
