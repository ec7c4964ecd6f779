// Text from other players and from the user: the action-line segmenter,
// the profanity filter and the web addresses the chat view shows as links.

#include "chattext/chat_text.h"
#include "chattext/links.h"
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

    // Links stand in the text in order, apart, each an http or https address
    // without a blank, and nothing else ever goes to the browser.
    qsizetype after = 0;
    for (const TextLink& link : findLinks(original)) {
        FUZZ_CHECK(link.start >= after && link.length > 0 && link.start + link.length <= original.size());
        const QStringView address = QStringView(original).sliced(link.start, link.length);
        FUZZ_CHECK(address.startsWith(QLatin1String("http://"), Qt::CaseInsensitive)
                   || address.startsWith(QLatin1String("https://"), Qt::CaseInsensitive));
        for (const QChar c : address)
            FUZZ_CHECK(!c.isSpace());
        FUZZ_CHECK(isWebAddress(link.url));
        after = link.start + link.length;
    }
    return 0;
}
