// The routine that turns scrambled texts back, on any text, and the round
// trip through the scrambling tool.

#include "encryption/scramble.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    FuzzedDataProvider data(bytes, size);
    const bool raw = data.ConsumeBool();
    const std::string rest = data.ConsumeRemainingBytesAsString();
    const QByteArray input(rest.data(), static_cast<qsizetype>(rest.size()));
    QString text = raw ? QString(reinterpret_cast<const QChar*>(input.constData()), input.size() / 2)
                       : QString::fromUtf8(input);

    const QString original = text;
    const QString plain = unscrambleGroups(text, {});
    FUZZ_CHECK(text == plain);
    // A group becomes one character or stays as it is.
    FUZZ_CHECK(plain.size() <= original.size());
    FUZZ_CHECK(plain.size() >= (original.size() + 2) / 3);

    if (const auto scrambled = scrambleText(original)) {
        FUZZ_CHECK(scrambled->size() == 3 * original.size());
        QString back = *scrambled;
        FUZZ_CHECK(unscrambleGroups(back, {}) == original);
    }
    return 0;
}
