#pragma once

#include <QByteArray>
#include <QString>
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <string>

// A broken invariant is reported like a crash, so libFuzzer keeps the input.
#define FUZZ_CHECK(condition)                                                              \
    do {                                                                                   \
        if (!(condition)) {                                                                \
            std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                  \
        }                                                                                  \
    } while (false)

inline QByteArray takeBytes(FuzzedDataProvider& data, size_t most)
{
    const std::string bytes = data.ConsumeRandomLengthString(most);
    return QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

// Text as a peer or the user could produce it: mostly UTF-8, sometimes raw
// UTF-16 so that lone surrogates and every code unit are reached too.
inline QString takeText(FuzzedDataProvider& data, size_t most)
{
    const bool raw = data.ConsumeBool();
    const QByteArray bytes = takeBytes(data, most);
    if (!raw)
        return QString::fromUtf8(bytes);
    return QString(reinterpret_cast<const QChar*>(bytes.constData()), bytes.size() / 2);
}

inline QString remainingText(FuzzedDataProvider& data)
{
    const std::string bytes = data.ConsumeRemainingBytesAsString();
    return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

inline bool hasLineBreakOrNul(const QString& text)
{
    return text.contains(u'\r') || text.contains(u'\n') || text.contains(QChar(u'\0'));
}
