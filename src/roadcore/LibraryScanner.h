#pragma once

#include "roadcore/Channel.h"
#include "roadcore/ClipCategory.h"
#include "roadcore/DashClip.h"

#include <QDateTime>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>

// Turns cards, folders and single files into recordings: finds the video files, reads the camera's naming
// scheme (base name, channel letter, timestamp, category prefix) and groups the channel files of each
// recording. Stateless apart from its constant patterns; scans may run on several threads at once.
namespace LibraryScanner {

// A file stem without its channel suffix, and the channel its letter names.
struct ChannelSplit {
    QString base;
    Channel channel = Channel::front;

    friend bool operator==(const ChannelSplit &, const ChannelSplit &) = default;
};

// A video file with what the file system told about it.
struct VideoFile {
    QString path;
    qint64 size = 0;                  // 0 when it could not be read
    std::optional<QDateTime> created; // creation date, else modification date, in UTC

    friend bool operator==(const VideoFile &, const VideoFile &) = default;
};

// "mp4", "mov", "avi", "m4v": compared with the lower-cased extension.
const QSet<QString> &videoExtensions();
bool hasVideoExtension(QStringView path);

// The recordings in the given files and folders, newest first. Never fails: what cannot be read is skipped.
// Hidden items, names that are not UTF-8 and links to folders are passed over inside folders. Runs a few
// threads of its own while it lasts; callers run it off the GUI thread.
QList<DashClip> scan(const QStringList &paths);

// Groups video files, in the given order, into recordings and sorts them newest first.
QList<DashClip> group(const QList<VideoFile> &files);
// The same, reading each file's size and date from the file system.
QList<DashClip> group(const QStringList &paths);

// "REC_20230101_120000_F" gives "REC_20230101_120000" and front; a stem without a channel suffix stays whole.
ChannelSplit split(QStringView stem);

// The first timestamp in a name, read as local time in the Gregorian calendar; none for an impossible date.
std::optional<QDateTime> dateFromName(QStringView name);

// Reads the size and the creation date (else the modification date) of a file, following links.
VideoFile videoFile(const QString &path);

} // namespace LibraryScanner

// The category guess from a recording's base name, else from its folders (outermost first).
ClipCategory inferClipCategory(QStringView stem, const QStringList &folders);
