// Text from other players and from the user: the action-line segmenter and
// the profanity filter.

#include "chattext/chat_text.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    FuzzedDataProvider data(bytes, size);

    QVector<FilterPair> pairs;
    const int pairCount = data.ConsumeIntegralInRange(0, 4);
    for (int i = 0; i < pairCount; ++i) {
        const QString word = takeText(data, 12);
        const QString replacement = data.ConsumeBool() ? QString(word.size(), u'*') : takeText(data, 12);
        pairs.append(FilterPair{word, replacement});
    }
    QString action = takeText(data, 2048);
    QString message = data.remaining_bytes() > 0 ? remainingText(data) : action;

    const QString before = action;
    const QVector<ColourRun> runs = actionRuns(action);
    FUZZ_CHECK(!runs.isEmpty());
    FUZZ_CHECK(runs.last().text == QLatin1String("\r\n") && !runs.last().colour);
    FUZZ_CHECK(action.size() <= before.size());
    FUZZ_CHECK(!action.startsWith(u' ') && !action.endsWith(u' '));
    // Every character of the action is shown: a colour code takes its
    // backslash and letter, a backslash without one stays.
    qsizetype shown = 0;
    for (qsizetype i = 0; i + 1 < runs.size(); ++i)
        shown += runs.at(i).text.size() + (runs.at(i).colour ? 2 : 0);
    FUZZ_CHECK(shown == action.size());

    const QString original = message;
    const QString filtered = profaneFilter(message, pairs);
    FUZZ_CHECK(filtered == message);
    // Masking never changes the length of what was said.
    FUZZ_CHECK(filtered.size() == original.size());
    return 0;
}
