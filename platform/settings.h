#pragma once

#include <QString>
#include <QtGlobal>
#include <memory>

class QSettings;

// The per-user settings of application "Tavimere1.3", at the top level of
// its store. Values are stored as text; one that is absent, or does not read
// as a number of the right size, gives the caller's default.
class SettingsStore {
public:
    SettingsStore();
    ~SettingsStore();
    QString readText(const QString& key, const QString& defaultValue) const;
    qint16 readInt16(const QString& key, qint16 defaultValue) const;
    qint32 readInt32(const QString& key, qint32 defaultValue) const;
    void write(const QString& key, const QString& value);

private:
    std::unique_ptr<QSettings> settings_;
};
