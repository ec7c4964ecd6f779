#pragma once

#include "encryption/scramble.h"

// Turns a scrambled text back as the program does: pending window, timer and
// socket events run before and after each group. The plain text is also
// written back into `text`.
QString unscrambleText(QString& text);

// unscrambleText() on a stored scrambled text.
QString unscrambled(const char* stored);

// Turns every stored text back once, at start-up, letting pending events run.
void turnBackStoredTexts();
