#include "chattext/links.h"

#include <algorithm>

namespace {

// Characters that end an address: a blank of any kind, and what surrounds
// addresses in text or never stands in one unescaped.
bool endsAddress(QChar c)
{
    return c.isSpace() || c == u'"' || c == u'<' || c == u'>' || c.category() == QChar::Other_Control
        || c.category() == QChar::Other_Format;
}

// Sentence punctuation after an address.
bool trailingPunctuation(QChar c)
{
    return c == u'.' || c == u',' || c == u';' || c == u':' || c == u'!' || c == u'?' || c == u'\'';
}

QChar openerOf(QChar closer)
{
    return closer == u')' ? u'(' : closer == u']' ? u'[' : u'{';
}

// The end of the address that starts at `start`, past its trailing
// punctuation and unmatched closing brackets.
qsizetype addressEnd(QStringView text, qsizetype start)
{
    qsizetype end = start;
    while (end < text.size() && !endsAddress(text[end]))
        ++end;
    while (end > start) {
        const QChar last = text[end - 1];
        if (trailingPunctuation(last)) {
            --end;
            continue;
        }
        if (last == u')' || last == u']' || last == u'}') {
            const QStringView address = text.sliced(start, end - start);
            if (address.count(openerOf(last)) < address.count(last)) {
                --end;
                continue;
            }
        }
        break;
    }
    return end;
}

} // namespace

QVector<TextLink> findLinks(QStringView text)
{
    QVector<TextLink> links;
    // One pass for both schemes: every "http", then what follows it.
    for (qsizetype start = text.indexOf(QLatin1String("http"), 0, Qt::CaseInsensitive); start >= 0;) {
        qsizetype schemeEnd = start + 4;
        if (schemeEnd < text.size() && text[schemeEnd].toLower() == u's')
            ++schemeEnd;
        const bool scheme = text.sliced(schemeEnd).startsWith(QLatin1String("://"));
        qsizetype next = start + 4;
        if (scheme && (start == 0 || !text[start - 1].isLetterOrNumber())) {
            schemeEnd += 3;
            const qsizetype end = addressEnd(text, start);
            const QUrl url(text.sliced(start, end - start).toString());
            if (end > schemeEnd && isWebAddress(url))
                links.append({start, end - start, url});
            next = std::max(end, schemeEnd);
        }
        start = text.indexOf(QLatin1String("http"), next, Qt::CaseInsensitive);
    }
    return links;
}

bool isWebAddress(const QUrl& url)
{
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https"))
        && !url.host().isEmpty();
}
