#include "support/irc_lines_fixture.h"

#include "app/forms.h"
#include "channel/channel.h"
#include "chattext/chat_text.h"
#include "encryption/encryption.h"
#include "platform/controls.h"

#include <QTextBlock>
#include <QTextDocument>

QByteArray bytesOf(const char* stored)
{
    return plainText(stored).toUtf8();
}

QStringList chatLines()
{
    QStringList lines;
    const QTextDocument* document = channel().chat->document();
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        QString line;
        QString colour;
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            const QString name = chatColourName(fragment.charFormat().foreground().color());
            if (name != colour)
                line += u'{' + name + u'}';
            colour = name;
            line += fragment.text();
        }
        lines.append(line);
    }
    // The break that ends the last line opens an empty block.
    if (!lines.isEmpty() && lines.constLast().isEmpty())
        lines.removeLast();
    return lines;
}
