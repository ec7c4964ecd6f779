#include "encryption/encryption.h"

#include "platform/dialogs.h"

QString unscrambleText(QString& text)
{
    return unscrambleGroups(text, doEvents);
}

QString unscrambled(const char* stored)
{
    QString text = QString::fromLatin1(stored);
    return unscrambleText(text);
}

void turnBackStoredTexts()
{
    turnBackStoredTexts(doEvents);
}
