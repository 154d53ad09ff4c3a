#pragma once

#include <QString>

#include <optional>

// The Russian name of a language tag ("en", "pt-br", "es_419"), capitalised word by word, or
// nothing when the locale data have no real name for it. ICU hands unknown tags back unchanged
// ("xx", "qaa") and calls "und" "неизвестный язык"; none of those is a name.
std::optional<QString> russianLanguageName(const QString &tag);
