#pragma once

#include <QString>

#include <optional>

// The video screen's one-line state text and the error under it, as one part of the model
// hands them to the part that shows them.
struct StatusLine {
    QString status;
    std::optional<QString> error;
};
