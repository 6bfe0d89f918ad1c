#pragma once

#include "roadcore/DashClip.h"
#include "roadcore/MediaCacheTypes.h"

#include <QList>
#include <QSet>
#include <QString>

// What the library store asks of the media cache's catalog. Called from scan threads; an implementation
// serialises its own access.
class LibraryCatalog {
public:
    virtual ~LibraryCatalog() = default;
    // Records freshly scanned recordings; returns them in the same order with their storage states.
    virtual QList<DashClip> registerClips(const QList<DashClip> &clips) = 0;
    // The catalogued recordings in the scope whose catalog keys are not excluded, newest first.
    virtual QList<DashClip> clips(const MediaCacheScope &scope, const QSet<QString> &excludingKeys) = 0;
};
