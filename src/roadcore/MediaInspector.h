#pragma once

#include "platform/MediaFile.h"
#include "roadcore/MediaInfo.h"

#include <QString>

// Describes one recording file for the inspector: container, brand, creation time, duration, size, bitrate,
// tracks and the camera's own boxes. Reads headers only; safe to call from any thread.
namespace MediaInspector {

// Never fails: whatever cannot be read stays empty.
MediaInfo inspect(const QString &path);

// A four-character code or codec name to a readable name; unknown codes come back unchanged.
QString codecName(const QString &code);
// A stream's type to a readable kind; a data stream's kind follows its codec tag ("tmcd" is a timecode).
QString kindName(MediaStream::Type type, const QString &codecTag);

} // namespace MediaInspector
