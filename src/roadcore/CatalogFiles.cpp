#include "roadcore/CatalogFiles.h"

#include <memory>
#include <new>
#include <stdexcept>
#include <type_traits>

CatalogLetter::CatalogLetter(const QString &text)
{
    // Never destroyed: a catalog may outlive any static object.
    static const Text *const channels[] = {new Text(QStringLiteral("F"), true),
                                           new Text(QStringLiteral("R"), true),
                                           new Text(QStringLiteral("I"), true)};
    // Looked at by its one character: every file of a catalog read comes here.
    if (text.size() == 1) {
        for (const Text *channel : channels) {
            if (text.front() == channel->text.front()) {
                m_text = channel;
                return;
            }
        }
    }
    m_text = new Text(text);
    m_text->ref.ref();
}

CatalogFiles::CatalogFiles(const CatalogFiles &other)
{
    *this = other;
}

CatalogFiles &CatalogFiles::operator=(const CatalogFiles &other)
{
    if (this == &other)
        return *this;
    clear();
    if (other.empty())
        return *this;
    auto *block = static_cast<Block *>(::operator new(itemsOffset + other.size() * sizeof(value_type)));
    block->count = 0;
    auto *into = reinterpret_cast<value_type *>(reinterpret_cast<char *>(block) + itemsOffset);
    try {
        for (const value_type &item : other) {
            new (into + block->count) value_type(item);
            ++block->count;
        }
    } catch (...) {
        std::destroy_n(into, block->count);
        ::operator delete(block);
        throw;
    }
    m_block = block;
    return *this;
}

CatalogFiles &CatalogFiles::operator=(CatalogFiles &&other) noexcept
{
    if (this != &other) {
        clear();
        m_block = std::exchange(other.m_block, nullptr);
    }
    return *this;
}

void CatalogFiles::clear()
{
    if (!m_block)
        return;
    std::destroy_n(items(), size());
    ::operator delete(m_block);
    m_block = nullptr;
}

CatalogFiles::iterator CatalogFiles::rebuild(size_t at, value_type *item)
{
    if (!item && empty())
        return end(); // nothing to leave out
    const size_t count = item ? size() + 1 : size() - 1;
    if (count == 0) {
        clear();
        return end();
    }
    // Moving the files cannot throw: only the allocation can, before anything changed.
    static_assert(std::is_nothrow_move_constructible_v<value_type>);
    auto *block = static_cast<Block *>(::operator new(itemsOffset + count * sizeof(value_type)));
    block->count = count;
    auto *into = reinterpret_cast<value_type *>(reinterpret_cast<char *>(block) + itemsOffset);
    value_type *from = items();
    const size_t before = size();
    size_t k = 0;
    for (size_t i = 0; i < before; ++i) {
        if (i == at) {
            if (item)
                new (into + k++) value_type(std::move(*item));
            else
                continue;
        }
        new (into + k++) value_type(std::move(from[i]));
    }
    if (item && at == before)
        new (into + k++) value_type(std::move(*item));
    clear();
    m_block = block;
    return items() + at;
}

CatalogFiles::iterator CatalogFiles::erase(const_iterator at)
{
    return rebuild(size_t(at - items()), nullptr);
}

CatalogFiles::iterator CatalogFiles::lowerBound(const QString &letter)
{
    return std::lower_bound(begin(), end(), letter,
                            [](const value_type &item, const QString &l) { return item.first.text() < l; });
}

CatalogFiles::iterator CatalogFiles::find(const QString &letter)
{
    const auto it = lowerBound(letter);
    return it != end() && it->first == letter ? it : end();
}

CatalogFiles::const_iterator CatalogFiles::find(const QString &letter) const
{
    return const_cast<CatalogFiles *>(this)->find(letter);
}

CatalogFileRecord &CatalogFiles::at(const QString &letter)
{
    const auto it = find(letter);
    if (it == end())
        throw std::out_of_range("no file of that channel");
    return it->second;
}

const CatalogFileRecord &CatalogFiles::at(const QString &letter) const
{
    return const_cast<CatalogFiles *>(this)->at(letter);
}

std::pair<CatalogFiles::iterator, bool> CatalogFiles::try_emplace(const QString &letter,
                                                                  CatalogFileRecord file)
{
    const auto it = lowerBound(letter);
    if (it != end() && it->first == letter)
        return {it, false};
    value_type item(letter, std::move(file));
    return {rebuild(size_t(it - begin()), &item), true};
}

std::pair<CatalogFiles::iterator, bool> CatalogFiles::try_emplace(const QString &letter)
{
    return try_emplace(letter, CatalogFileRecord());
}

std::pair<CatalogFiles::iterator, bool> CatalogFiles::insert_or_assign(const QString &letter,
                                                                       CatalogFileRecord file)
{
    auto [it, made] = try_emplace(letter);
    it->second = std::move(file);
    return {it, made};
}

size_t CatalogFiles::erase(const QString &letter)
{
    const auto it = find(letter);
    if (it == end())
        return 0;
    erase(it);
    return 1;
}
