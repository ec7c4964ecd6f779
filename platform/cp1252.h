#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// Windows-1252, the single-byte code page of the gateway's pages and of
// older chat clients. Qt's own converters do not offer it everywhere.

// nullopt when a character has no Windows-1252 byte: sending it as "?" or as
// several bytes would put a different text on the wire than the user typed.
std::optional<QByteArray> encodeWindows1252(const QString& text);

// Every byte decodes; the five bytes Windows-1252 leaves undefined map to the
// C1 control of the same value, as Windows does.
QString decodeWindows1252(const QByteArray& bytes);
