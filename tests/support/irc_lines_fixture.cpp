#include "support/irc_lines_fixture.h"

#include "app/forms.h"
#include "channel/channel.h"
#include "chattext/chat_text.h"
#include "encryption/encryption.h"
#include "platform/controls.h"


QByteArray bytesOf(const char* stored)
{
    return plainText(stored).toUtf8();
}

QStringList chatLines()
{
    QStringList lines;
    const RichTextView* chat = channel().chat;
    for (int i = 0; i < chat->lineCount(); ++i) {
        const QString text = chat->lineText(i);
        QString line;
        QString colour;
        for (const ChatRun& run : chat->lineRuns(i)) {
            const QString name = chatColourName(run.colour);
            if (name != colour)
                line += u'{' + name + u'}';
            colour = name;
            line += text.mid(run.start, run.length);
        }
        lines.append(line);
    }
    return lines;
}
