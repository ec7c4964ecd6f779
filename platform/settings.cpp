#include "platform/settings.h"

#include <QSettings>
#include <limits>
#include <optional>

namespace {
// The store holds what write() put there: text. A value of any other type
// was not written by the program (a hand-edited line with a comma reads as a
// list, "@ByteArray(...)" as bytes) and counts as absent.
std::optional<QString> readStoredText(const QSettings& settings, const QString& key)
{
    const QVariant value = settings.value(key);
    if (value.typeId() != QMetaType::QString)
        return std::nullopt;
    return value.toString();
}

// Decimal digits with an optional sign and blanks around, nothing else.
// QString's own conversion stops at a NUL, so "0<NUL>x" would read as 0.
std::optional<qint64> readNumber(const QSettings& settings, const QString& key, qint64 low, qint64 high)
{
    const std::optional<QString> stored = readStoredText(settings, key);
    if (!stored)
        return std::nullopt;
    QStringView text = QStringView(*stored).trimmed();
    const bool negative = text.startsWith(u'-');
    if (negative || text.startsWith(u'+'))
        text = text.mid(1);
    if (text.isEmpty())
        return std::nullopt;
    qint64 magnitude = 0;
    for (const QChar ch : text) {
        if (ch < u'0' || ch > u'9')
            return std::nullopt;
        magnitude = magnitude * 10 + (ch.unicode() - u'0');
        // Both bounds are 32-bit, so anything past 2^40 is out of range;
        // stopping there keeps the sum from overflowing on long digit runs.
        if (magnitude > (qint64(1) << 40))
            return std::nullopt;
    }
    const qint64 number = negative ? -magnitude : magnitude;
    if (number < low || number > high)
        return std::nullopt;
    return number;
}
} // namespace

SettingsStore::SettingsStore()
    : settings_(std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Tavimere1.3")))
{
}

SettingsStore::~SettingsStore() = default;

QString SettingsStore::readText(const QString& key, const QString& defaultValue) const
{
    return readStoredText(*settings_, key).value_or(defaultValue);
}

qint16 SettingsStore::readInt16(const QString& key, qint16 defaultValue) const
{
    const auto n = readNumber(*settings_, key, std::numeric_limits<qint16>::min(), std::numeric_limits<qint16>::max());
    return n ? static_cast<qint16>(*n) : defaultValue;
}

qint32 SettingsStore::readInt32(const QString& key, qint32 defaultValue) const
{
    const auto n = readNumber(*settings_, key, std::numeric_limits<qint32>::min(), std::numeric_limits<qint32>::max());
    return n ? static_cast<qint32>(*n) : defaultValue;
}

void SettingsStore::write(const QString& key, const QString& value)
{
    settings_->setValue(key, value);
    settings_->sync();
}
