#pragma once

#include <QString>

#include <optional>

// One progress report of the engine: bytes of the current file so far and its total when
// known (the exact total, else the engine's estimate).
struct VideoProgressSnapshot {
    qint64 downloadedBytes = 0;
    std::optional<qint64> totalBytes;

    bool operator==(const VideoProgressSnapshot &) const = default;
};

// Reads a line printed with the program's progress template: the marker, then
// downloaded|total|estimate. Nothing for a line without the marker, without exactly three
// fields, or without a downloaded count.
std::optional<VideoProgressSnapshot> parseProgressLine(const QString &line);
