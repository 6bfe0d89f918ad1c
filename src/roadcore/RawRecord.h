#pragma once

#include <QString>

#include <optional>

// One piece of embedded text as a reader found it: the input of the telemetry parser.
struct RawRecord {
    qint64 index = 0;           // running number within its source, in source order
    std::optional<double> time; // seconds from the recording's start, when the source gives it
    QString text;

    friend bool operator==(const RawRecord &, const RawRecord &) = default;
};
