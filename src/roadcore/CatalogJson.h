#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QString>
#include <QStringView>

#include <optional>

// The pieces of JSON text that the catalog and its journal are written and read with.
namespace CatalogJson {

// ISO 8601 in UTC with whole seconds: "2024-05-01T08:30:00Z".
QString dateText(const QDateTime &date);
std::optional<QDateTime> parseDate(QByteArrayView text);

// JSON text of a string: UTF-8 with quotes, backslashes and control characters escaped.
void appendString(QByteArray &out, QStringView text);
void appendName(QByteArray &out, const char *name);
// A member and the comma after it; the writer drops the last comma of an object.
void appendMember(QByteArray &out, const char *name, QStringView value);

// Base64 text decoded into `out`, whose room is kept from one call to the next.
bool decodeBase64(QByteArrayView text, QByteArray &out);

// The member name of a file record: the three channel letters share one text each across the catalog.
QString channelLetter(QByteArrayView name);

} // namespace CatalogJson
