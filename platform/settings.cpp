#include "platform/settings.h"

#include <QSettings>
#include <limits>
#include <optional>

namespace {
std::optional<qint64> readNumber(const QSettings& settings, const QString& key, qint64 low, qint64 high)
{
    const QVariant value = settings.value(key);
    if (!value.isValid())
        return std::nullopt;
    bool ok = false;
    const qint64 number = value.toString().trimmed().toLongLong(&ok);
    if (!ok || number < low || number > high)
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
    const QVariant value = settings_->value(key);
    return value.isValid() ? value.toString() : defaultValue;
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
