#pragma once

#include "roadcore/ClipCategory.h"
#include "roadcore/PrefixBytes.h"
#include "roadcore/SlimOptional.h"

#include "platform/StringOrder.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QExplicitlySharedDataPointer>
#include <QSharedData>
#include <QString>

#include <algorithm>
#include <atomic>
#include <map>
#include <optional>
#include <utility>
#include <vector>

// One recording the media cache has registered, with where each channel file was last seen, how to find it
// again and where its stored copy lies. Private to the media cache.
struct CatalogEntry {
    // One channel file of the recording.
    struct File {
        QString originalPath;               // where the file was last seen
        SlimOptional<QString> importedPath; // where it was first registered; never changed
        PrefixBytes bookmark;               // finds the file after a move or rename
        qint64 size = 0;                    // the test of whether a file found on disk is this one
        SlimOptional<QDateTime> modified;   // for information only
        SlimOptional<QString> fingerprint;  // of the content, once a copy was made or reused
        SlimOptional<QString> storedPath;   // of the stored copy, relative to the cache root

        // The stored path when the cache may use it: below "Files/", relative, without "..". The catalog
        // is a file the user can edit; anything else must not make the program play or reuse an arbitrary
        // file. The text is kept as read either way.
        std::optional<QString> usableStoredPath() const;

        // Appends the file object to JSON text.
        void writeJson(QByteArray &out) const;

        friend bool operator==(const File &, const File &) = default;
    };

    // The member name of a file record, read as the text it stands for, in the room of a pointer. The three
    // channel letters are each one text for the whole program; any other name has a text of its own.
    class Letter {
    public:
        Letter(const QString &text);
        operator const QString &() const { return m_text->text; }
        operator QStringView() const { return m_text->text; }
        const QString &text() const { return m_text->text; }

        friend bool operator==(const Letter &a, const Letter &b) { return a.text() == b.text(); }
        friend bool operator==(const Letter &a, const QString &b) { return a.text() == b; }

    private:
        struct Text : QSharedData {
            explicit Text(QString text) : text(std::move(text)) {}
            const QString text;
        };
        QExplicitlySharedDataPointer<const Text> m_text;
    };

    // The files of a recording by channel letter, in letter order, as a map of them would be. A recording has
    // a few at most: one array of exactly their number holds them instead of a tree node each, reached by a
    // single pointer that also leads to their count.
    class Files {
    public:
        using value_type = std::pair<Letter, File>;
        using iterator = value_type *;
        using const_iterator = const value_type *;

        Files() = default;
        Files(const Files &other);
        Files(Files &&other) noexcept : m_block(std::exchange(other.m_block, nullptr)) {}
        Files &operator=(const Files &other);
        Files &operator=(Files &&other) noexcept;
        ~Files() { clear(); }

        iterator begin() { return items(); }
        iterator end() { return items() + size(); }
        const_iterator begin() const { return items(); }
        const_iterator end() const { return items() + size(); }
        size_t size() const { return m_block ? m_block->count : 0; }
        bool empty() const { return size() == 0; }
        void clear();

        iterator find(const QString &letter);
        const_iterator find(const QString &letter) const;
        size_t count(const QString &letter) const { return find(letter) != end() ? 1 : 0; }
        // Throws std::out_of_range for a letter without a file.
        File &at(const QString &letter);
        const File &at(const QString &letter) const;
        File &operator[](const QString &letter) { return try_emplace(letter).first->second; }
        // The file of that letter, made from `file` when there was none.
        std::pair<iterator, bool> try_emplace(const QString &letter);
        std::pair<iterator, bool> try_emplace(const QString &letter, File file);
        std::pair<iterator, bool> emplace(const QString &letter, File file)
        {
            return try_emplace(letter, std::move(file));
        }
        std::pair<iterator, bool> insert_or_assign(const QString &letter, File file);
        iterator erase(const_iterator at);
        size_t erase(const QString &letter);

        friend bool operator==(const Files &a, const Files &b)
        {
            return std::equal(a.begin(), a.end(), b.begin(), b.end());
        }

    private:
        // The count, then the files.
        struct Block {
            size_t count;
        };
        static constexpr size_t itemsOffset =
            (sizeof(Block) + alignof(value_type) - 1) / alignof(value_type) * alignof(value_type);

        value_type *items() const
        {
            return m_block ? reinterpret_cast<value_type *>(reinterpret_cast<char *>(m_block) + itemsOffset)
                           : nullptr;
        }
        iterator lowerBound(const QString &letter);
        // The files with `item` moved in at `at`, or with the file at `at` left out when `item` is null.
        iterator rebuild(size_t at, value_type *item);

        Block *m_block = nullptr;
    };

    QString key; // name, "#", total byte size
    QString name;
    ClipCategory category = ClipCategory::other;
    SlimOptional<QDateTime> date;
    Files files; // by channel letter; other member names are carried along
    QDateTime importedAt;

    // Appends the entry object, compact, members in name order, optional members left out.
    void writeJson(QByteArray &out) const;

    friend bool operator==(const CatalogEntry &, const CatalogEntry &) = default;

    // Catalog keys in the order of the catalog file: code points, which is byte order for ASCII keys.
    struct KeyOrder {
        bool operator()(const QString &a, const QString &b) const { return StringOrder::less(a, b); }
    };
    using Catalog = std::map<QString, CatalogEntry, KeyOrder>;

    // The contents of "catalog.json": one compact JSON array of the entries in key order.
    static QByteArray writeCatalog(const Catalog &catalog);
    // All or nothing: any fault anywhere makes the whole text unreadable. Of entries sharing a key the
    // first is kept. Also nothing once `*stop` turns true, which is looked at every few entries.
    static std::optional<Catalog> readCatalog(QByteArrayView json, const std::atomic<bool> *stop = nullptr);

    // The copies recorded since the catalog file was last written, kept beside it in "catalog.journal" so
    // that recording one copy appends a line instead of rewriting the whole catalog. Its first line names
    // the catalog file it continues (`catalogIdentity`); every further line records one copy as a compact
    // JSON object. Only lines ended by a line feed count: a line cut off by a crash is no record.
    struct JournalRecord {
        QString key;
        QString letter; // of the channel
        QString fingerprint;
        QString storedPath;

        friend bool operator==(const JournalRecord &, const JournalRecord &) = default;
    };
    static QByteArray journalHeader(QByteArrayView catalogIdentity);
    static QByteArray journalLine(const JournalRecord &record);
    struct JournalReading {
        QList<JournalRecord> records;
        // Bytes from the start up to the end of the last good line; 0 when the journal continues another
        // catalog file or its header is unreadable. Appending goes on from there.
        qsizetype goodBytes = 0;
    };
    // The records of a journal that continues the catalog file `catalogIdentity`, up to the first line that
    // is cut off or unreadable.
    static JournalReading readJournal(QByteArrayView journal, QByteArrayView catalogIdentity);
    // Records a copy in the entry and channel it names; false when the catalog has no such record.
    static bool apply(Catalog &catalog, const JournalRecord &record);
};
