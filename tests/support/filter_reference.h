#pragma once

// The language filter before it had a matcher: every pair in order, each a
// case-insensitive replacement of the whole text. The matcher must agree
// with it on every text; the filter tests and the fuzz target hold it to
// that.

#include "chattext/chat_text.h"
#include "encryption/scramble.h"

inline QString pairByPair(QString text, const QVector<FilterPair>& pairs)
{
    for (const FilterPair& pair : pairs) {
        if (pair.word.isEmpty() || pair.replacement.size() != pair.word.size())
            continue;
        text.replace(pair.word, pair.replacement, Qt::CaseInsensitive);
    }
    return text;
}

inline const QVector<FilterPair>& programPairs()
{
    static const QVector<FilterPair> pairs = [] {
        turnBackStoredTexts({});
        return languageFilterPairs();
    }();
    return pairs;
}
