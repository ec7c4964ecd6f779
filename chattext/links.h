#pragma once

#include <QStringView>
#include <QUrl>
#include <QVector>

// A web address in a line of chat text.
struct TextLink {
    qsizetype start = 0;
    qsizetype length = 0;
    QUrl url;
};

// The http:// and https:// addresses in a line, in order. An address starts
// with its scheme (any case) where no letter or digit comes before it, and
// runs to the first blank, quote or angle bracket; the punctuation that ends a
// sentence after it is not part of it, nor a closing bracket that it did not
// open. What does not read as an address with a host is no link.
QVector<TextLink> findLinks(QStringView text);

// Whether an address may go to the user's browser: http and https only, with
// a host. Any other scheme could run or open something on the user's own
// machine.
bool isWebAddress(const QUrl& url);
