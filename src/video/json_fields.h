#pragma once

#include <QJsonObject>
#include <QString>

#include <optional>

// Strict readers for the engine's JSON: a missing or null key is "absent", a value of the wrong
// type fails the whole document (as a typed decoder would) and names the key in `error`.
namespace JsonFields {

bool readString(const QJsonObject &object, const char *key, std::optional<QString> &out,
                QString *error);
// Integers also accept a number written with a zero fraction (1080.0), nothing else.
bool readInteger(const QJsonObject &object, const char *key, std::optional<qint64> &out,
                 QString *error);
bool readDouble(const QJsonObject &object, const char *key, std::optional<double> &out,
                QString *error);

} // namespace JsonFields
