#pragma once

#include "roadcore/Channel.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <map>
#include <set>
#include <stdexcept>
#include <utility>

// What a recording has per channel: at most one value a channel, in channel order, held in place rather than
// in tree nodes, since a long library keeps several of these for every recording. Used as the std::map it
// stands for, and converts to and from one.
template <class T> class ChannelMap {
    template <class Map, class Value> class Iter {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = std::pair<Channel, T>;
        using difference_type = std::ptrdiff_t;
        using pointer = Value *;
        using reference = Value &;

        Iter() = default;
        Iter(Map *map, size_t at) : m_map(map), m_at(at) { skipAbsent(); }
        operator Iter<const Map, const Value>() const { return {m_map, m_at}; }

        reference operator*() const { return m_map->m_items[m_at]; }
        pointer operator->() const { return &m_map->m_items[m_at]; }
        Iter &operator++()
        {
            ++m_at;
            skipAbsent();
            return *this;
        }
        Iter operator++(int)
        {
            Iter before = *this;
            ++*this;
            return before;
        }
        friend bool operator==(const Iter &a, const Iter &b) { return a.m_at == b.m_at; }

    private:
        void skipAbsent()
        {
            while (m_map && m_at < channelCount && !m_map->has(m_at))
                ++m_at;
        }
        Map *m_map = nullptr;
        size_t m_at = channelCount;
    };

public:
    using key_type = Channel;
    using mapped_type = T;
    using value_type = std::pair<Channel, T>;
    using iterator = Iter<ChannelMap, value_type>;
    using const_iterator = Iter<const ChannelMap, const value_type>;

    ChannelMap() = default;
    ChannelMap(std::initializer_list<value_type> items)
    {
        for (const value_type &item : items)
            try_emplace(item.first, item.second);
    }
    ChannelMap(const std::map<Channel, T> &items)
    {
        for (const auto &[channel, value] : items)
            try_emplace(channel, value);
    }
    operator std::map<Channel, T>() const { return std::map<Channel, T>(begin(), end()); }

    iterator begin() { return {this, 0}; }
    iterator end() { return {this, channelCount}; }
    const_iterator begin() const { return {this, 0}; }
    const_iterator end() const { return {this, channelCount}; }
    const_iterator cbegin() const { return begin(); }
    const_iterator cend() const { return end(); }

    size_t size() const
    {
        size_t n = 0;
        for (size_t i = 0; i < channelCount; ++i)
            n += has(i);
        return n;
    }
    bool empty() const { return m_present == 0; }
    void clear()
    {
        for (size_t i = 0; i < channelCount; ++i)
            m_items[i].second = T();
        m_present = 0;
    }

    iterator find(Channel channel) { return has(slot(channel)) ? iterator(this, slot(channel)) : end(); }
    const_iterator find(Channel channel) const
    {
        return has(slot(channel)) ? const_iterator(this, slot(channel)) : end();
    }
    size_t count(Channel channel) const { return has(slot(channel)) ? 1 : 0; }
    bool contains(Channel channel) const { return has(slot(channel)); }
    // Throws std::out_of_range for a channel without a value.
    T &at(Channel channel)
    {
        if (!has(slot(channel)))
            throw std::out_of_range("no value for the channel");
        return m_items[slot(channel)].second;
    }
    const T &at(Channel channel) const { return const_cast<ChannelMap *>(this)->at(channel); }
    T &operator[](Channel channel) { return try_emplace(channel).first->second; }

    template <class... Args> std::pair<iterator, bool> try_emplace(Channel channel, Args &&...args)
    {
        const size_t at = slot(channel);
        if (has(at))
            return {iterator(this, at), false};
        m_items[at].second = T(std::forward<Args>(args)...);
        m_present |= std::uint8_t(1u << at);
        return {iterator(this, at), true};
    }
    template <class V> std::pair<iterator, bool> emplace(Channel channel, V &&value)
    {
        return try_emplace(channel, std::forward<V>(value));
    }
    std::pair<iterator, bool> insert(const value_type &item) { return try_emplace(item.first, item.second); }
    template <class V> std::pair<iterator, bool> insert_or_assign(Channel channel, V &&value)
    {
        auto [it, made] = try_emplace(channel);
        it->second = std::forward<V>(value);
        return {it, made};
    }
    size_t erase(Channel channel)
    {
        const size_t at = slot(channel);
        if (!has(at))
            return 0;
        m_items[at].second = T();
        m_present &= std::uint8_t(~(1u << at));
        return 1;
    }

    friend bool operator==(const ChannelMap &a, const ChannelMap &b)
    {
        if (a.m_present != b.m_present)
            return false;
        for (size_t i = 0; i < channelCount; ++i)
            if (a.has(i) && !(a.m_items[i].second == b.m_items[i].second))
                return false;
        return true;
    }

private:
    static constexpr size_t channelCount = allChannels.size();
    static size_t slot(Channel channel) { return size_t(channel); }
    bool has(size_t at) const { return at < channelCount && (m_present >> at) & 1u; }

    std::array<value_type, channelCount> m_items{
        {{Channel::front, T()}, {Channel::rear, T()}, {Channel::interior, T()}}};
    std::uint8_t m_present = 0;
};

// Channels, in channel order, as a few bits; used as the std::set it stands for and converts to and from one.
class ChannelSet {
public:
    class const_iterator {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = Channel;
        using difference_type = std::ptrdiff_t;
        using pointer = const Channel *;
        using reference = Channel;

        const_iterator() = default;
        const_iterator(std::uint8_t bits, size_t at) : m_bits(bits), m_at(at) { skipAbsent(); }
        Channel operator*() const { return allChannels[m_at]; }
        const_iterator &operator++()
        {
            ++m_at;
            skipAbsent();
            return *this;
        }
        const_iterator operator++(int)
        {
            const_iterator before = *this;
            ++*this;
            return before;
        }
        friend bool operator==(const const_iterator &a, const const_iterator &b) { return a.m_at == b.m_at; }

    private:
        void skipAbsent()
        {
            while (m_at < allChannels.size() && !((m_bits >> m_at) & 1u))
                ++m_at;
        }
        std::uint8_t m_bits = 0;
        size_t m_at = allChannels.size();
    };
    using iterator = const_iterator;
    using key_type = Channel;
    using value_type = Channel;

    ChannelSet() = default;
    ChannelSet(std::initializer_list<Channel> channels)
    {
        for (Channel channel : channels)
            insert(channel);
    }
    ChannelSet(const std::set<Channel> &channels)
    {
        for (Channel channel : channels)
            insert(channel);
    }
    operator std::set<Channel>() const { return std::set<Channel>(begin(), end()); }

    const_iterator begin() const { return {m_bits, 0}; }
    const_iterator end() const { return {m_bits, allChannels.size()}; }
    size_t size() const
    {
        size_t n = 0;
        for (size_t i = 0; i < allChannels.size(); ++i)
            n += (m_bits >> i) & 1u;
        return n;
    }
    bool empty() const { return m_bits == 0; }
    void clear() { m_bits = 0; }
    bool contains(Channel channel) const { return (m_bits >> size_t(channel)) & 1u; }
    size_t count(Channel channel) const { return contains(channel) ? 1 : 0; }
    const_iterator find(Channel channel) const
    {
        return contains(channel) ? const_iterator(m_bits, size_t(channel)) : end();
    }
    std::pair<const_iterator, bool> insert(Channel channel)
    {
        const bool made = !contains(channel);
        m_bits |= std::uint8_t(1u << size_t(channel));
        return {const_iterator(m_bits, size_t(channel)), made};
    }
    size_t erase(Channel channel)
    {
        const bool had = contains(channel);
        m_bits &= std::uint8_t(~(1u << size_t(channel)));
        return had ? 1 : 0;
    }

    friend bool operator==(const ChannelSet &, const ChannelSet &) = default;

private:
    std::uint8_t m_bits = 0;
};
