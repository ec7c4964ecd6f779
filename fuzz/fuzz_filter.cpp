// The language filter's one-pass matcher against the pair-by-pair
// replacement it stands in front of: for the program's own words and for any
// words, the filtered text must come out exactly as the replacement alone
// makes it.

#include "chattext/chat_text.h"
#include "fuzz_support.h"
#include "tests/support/filter_reference.h"

namespace {

// One of the words, each letter's case chosen by the input.
QString variant(FuzzedDataProvider& data, const QString& word)
{
    QString out = word;
    for (QChar& c : out) {
        if (data.ConsumeBool())
            c = c.isUpper() ? c.toLower() : c.toUpper();
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    FuzzedDataProvider data(bytes, size);
    QVector<FilterPair> pairs;
    if (data.ConsumeBool()) {
        pairs = programPairs();
    } else {
        const int count = data.ConsumeIntegralInRange(0, 6);
        for (int i = 0; i < count; ++i) {
            const QString word = takeText(data, 8);
            const QString replacement = data.ConsumeBool() ? QString(word.size(), u'*') : takeText(data, 8);
            pairs.append({word, replacement});
        }
    }
    QString text = takeText(data, 4096);
    // Words where the input says, so that hits are as common as misses.
    const int inserts = data.ConsumeIntegralInRange(0, 3);
    for (int i = 0; i < inserts && !pairs.isEmpty(); ++i) {
        const FilterPair& pair = pairs.at(data.ConsumeIntegralInRange<qsizetype>(0, pairs.size() - 1));
        text.insert(data.ConsumeIntegralInRange<qsizetype>(0, text.size()), variant(data, pair.word));
    }

    const FilterMatcher matcher(pairs);
    const QString expected = pairByPair(text, pairs);
    if (!matcher.occursIn(text))
        FUZZ_CHECK(expected == text);
    QString filterTxt = text;
    const QString filtered = profaneFilter(filterTxt, matcher);
    FUZZ_CHECK(filtered == expected);
    FUZZ_CHECK(filterTxt == expected);
    return 0;
}
