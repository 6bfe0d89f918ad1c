#pragma once

#include "roadcore/Channel.h"

#include <QString>

// One channel file that still needs a backup copy.
struct CacheJob {
    QString key;       // the recording's catalog key
    Channel channel = Channel::front;
    QString source;    // the file at its catalogued original path
    qint64 size = 0;   // its size when the job was made
    QString name;      // the file name the stored copy keeps

    friend bool operator==(const CacheJob &, const CacheJob &) = default;
};
