#pragma once

#include "roadcore/CatalogFileRecord.h"

#include <QSharedData>
#include <QString>
#include <QStringView>

#include <algorithm>
#include <cstddef>
#include <utility>

// The member name of a file record, read as the text it stands for, in the room of a pointer. The three
// channel letters are each one text for the whole program, never counted or freed: every file of a catalog
// read on several threads would otherwise count on the same two counters at once, each thread waiting for
// the others' caches. Any other name has a counted text of its own.
class CatalogLetter {
public:
    CatalogLetter(const QString &text);
    CatalogLetter(const CatalogLetter &other) noexcept : m_text(other.m_text) { hold(); }
    CatalogLetter &operator=(const CatalogLetter &other) noexcept
    {
        other.hold();
        release();
        m_text = other.m_text;
        return *this;
    }
    ~CatalogLetter() { release(); }

    operator const QString &() const { return m_text->text; }
    operator QStringView() const { return m_text->text; }
    const QString &text() const { return m_text->text; }

    friend bool operator==(const CatalogLetter &a, const CatalogLetter &b) { return a.text() == b.text(); }
    friend bool operator==(const CatalogLetter &a, const QString &b) { return a.text() == b; }

private:
    struct Text : QSharedData {
        explicit Text(QString text, bool channel = false) : text(std::move(text)), channel(channel) {}
        const QString text;
        const bool channel;
    };
    void hold() const
    {
        if (!m_text->channel)
            m_text->ref.ref();
    }
    void release() const
    {
        if (!m_text->channel && !m_text->ref.deref())
            delete m_text;
    }

    const Text *m_text;
};

// The files of a recording by channel letter, in letter order, as a map of them would be. A recording has
// a few at most: one array of exactly their number holds them instead of a tree node each, reached by a
// single pointer that also leads to their count.
class CatalogFiles {
public:
    using value_type = std::pair<CatalogLetter, CatalogFileRecord>;
    using iterator = value_type *;
    using const_iterator = const value_type *;

    CatalogFiles() = default;
    CatalogFiles(const CatalogFiles &other);
    CatalogFiles(CatalogFiles &&other) noexcept : m_block(std::exchange(other.m_block, nullptr)) {}
    CatalogFiles &operator=(const CatalogFiles &other);
    CatalogFiles &operator=(CatalogFiles &&other) noexcept;
    ~CatalogFiles() { clear(); }

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
    CatalogFileRecord &at(const QString &letter);
    const CatalogFileRecord &at(const QString &letter) const;
    CatalogFileRecord &operator[](const QString &letter) { return try_emplace(letter).first->second; }
    // The file of that letter, made from `file` when there was none.
    std::pair<iterator, bool> try_emplace(const QString &letter);
    std::pair<iterator, bool> try_emplace(const QString &letter, CatalogFileRecord file);
    std::pair<iterator, bool> emplace(const QString &letter, CatalogFileRecord file)
    {
        return try_emplace(letter, std::move(file));
    }
    std::pair<iterator, bool> insert_or_assign(const QString &letter, CatalogFileRecord file);
    iterator erase(const_iterator at);
    size_t erase(const QString &letter);

    friend bool operator==(const CatalogFiles &a, const CatalogFiles &b)
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
