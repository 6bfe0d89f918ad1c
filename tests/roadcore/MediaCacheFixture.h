#pragma once

#include "roadcore/CatalogJournal.h"
#include "roadcore/CatalogLoader.h"
#include "roadcore/MediaCache.h"

#include "fixtures/FolderLock.h"
#include "fixtures/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <unistd.h>

// The catalog a cache opened on `root` starts with: "catalog.json" and the copies its journal recorded
// since; none when the catalog file cannot be read. Reads only.
inline std::optional<CatalogEntry::Catalog> catalogOnDisk(const QString &root)
{
    CatalogLoader::FileReading reading = CatalogLoader::readFile(root + "/catalog.json");
    if (reading.failed || (!reading.absent && !reading.catalog))
        return std::nullopt;
    CatalogEntry::Catalog catalog = std::move(reading.catalog).value_or(CatalogEntry::Catalog{});
    const CatalogJournal::Reading journal =
        CatalogJournal::read(TestSupport::readFile(root + "/catalog.journal"));
    for (const CatalogJournal::Record &record : journal.records)
        CatalogJournal::apply(catalog, record,
                              [&](const QString &stored) { return QFileInfo(root + "/" + stored).isFile(); });
    return catalog;
}

// A cache in a temporary folder with recordings on a "card" folder beside it, for the tests of copying and
// maintenance.
class MediaCacheFixture : public testing::Test {
protected:
    QTemporaryDir tmp;
    QString root = tmp.filePath("Media Cache");
    QString card = tmp.filePath("CARD");
    std::unique_ptr<MediaCache> cache = open();

    std::unique_ptr<MediaCache> open(const QString &at = {})
    {
        return std::make_unique<MediaCache>(at.isEmpty() ? root : at, [] { return QList<MountEntry>{}; });
    }

    static QDateTime utc(int y, int mo, int d) { return QDateTime(QDate(y, mo, d), QTime(8, 0), Qt::UTC); }

    // Registers a recording whose channel files, written into `folder`, hold the given bytes.
    DashClip add(const QString &name, const std::map<Channel, QByteArray> &contents,
                 std::optional<QDateTime> date = utc(2024, 5, 1),
                 ClipCategory category = ClipCategory::continuous, const QString &folder = {})
    {
        DashClip clip;
        clip.name = name;
        clip.id = name;
        clip.category = category;
        clip.date = date;
        for (const auto &[channel, bytes] : contents) {
            const QString path =
                (folder.isEmpty() ? card : folder) + "/" + name + "_" + rawValue(channel) + ".mp4";
            TestSupport::writeFile(path, bytes);
            clip.files[channel] = path;
            clip.byteSize += bytes.size();
        }
        cache->registerClips({clip});
        return clip;
    }

    CatalogEntry::Catalog catalog() const { return catalogOnDisk(root).value_or(CatalogEntry::Catalog{}); }
    CatalogEntry::File record(const DashClip &clip, Channel channel) const
    {
        return catalog().at(clip.catalogKey()).files.at(rawValue(channel));
    }

    // Whether the recording is catalogued on disk and one of its channel files has no stored copy recorded.
    bool isPending(const QString &key) const
    {
        const CatalogEntry::Catalog onDisk = catalog();
        const auto entry = onDisk.find(key);
        return entry != onDisk.end() &&
               std::any_of(entry->second.files.begin(), entry->second.files.end(), [](const auto &file) {
                   return channelFromRaw(file.first) && !file.second.usableStoredPath();
               });
    }

    // Copies every planned file; fails the test on an error.
    void cacheAll(CachePolicy policy = CachePolicy::all)
    {
        for (const CacheJob &job : cache->pendingJobs(policy)) {
            const Result<void> done = cache->perform(job);
            EXPECT_TRUE(done.ok()) << job.name.toStdString() << ": " << done.error().toStdString();
        }
    }

    // Regular files and links under "Files", relative to it, sorted.
    QStringList storedFiles() const
    {
        QStringList found;
        QDirIterator it(root + "/Files", QDir::Files | QDir::Hidden | QDir::System,
                        QDirIterator::Subdirectories);
        while (it.hasNext())
            found.append(it.next().mid(root.size() + 7));
        found.sort();
        return found;
    }
};

// Bytes whose first and last 64 KiB differ, from a fixed pattern.
inline QByteArray pattern(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char((i * 31 + 7) % 251);
    return bytes;
}
