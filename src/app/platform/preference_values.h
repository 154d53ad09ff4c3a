#pragma once

#include "app/platform/preferences.h"

#include <QByteArray>
#include <QDateTime>

#include <optional>

// Typed reads over Preferences. A stored value of the wrong type reads as absent, so a
// hand-edited or corrupt store can never feed garbage into the models.
std::optional<qint64> readInteger(const Preferences &prefs, const QString &key);
std::optional<QString> readString(const Preferences &prefs, const QString &key);
std::optional<QByteArray> readData(const Preferences &prefs, const QString &key);
std::optional<QDateTime> readDate(const Preferences &prefs, const QString &key);
