#include "roadcore/ChannelMap.h"

#include <gtest/gtest.h>

#include <QString>

#include <random>
#include <vector>

namespace {

std::vector<std::pair<Channel, QString>> items(const ChannelMap<QString> &map)
{
    return {map.begin(), map.end()};
}

std::vector<std::pair<Channel, QString>> items(const std::map<Channel, QString> &map)
{
    return {map.begin(), map.end()};
}

// The same operations on a ChannelMap and on the std::map it stands for leave the same contents.
TEST(ChannelMap, DoesWhatTheMapItStandsForDoes)
{
    std::mt19937 random(7);
    ChannelMap<QString> map;
    std::map<Channel, QString> reference;
    for (int step = 0; step < 2000; ++step) {
        const Channel channel = allChannels[random() % allChannels.size()];
        const QString value = QString::number(step);
        switch (random() % 7) {
        case 0:
            EXPECT_EQ(map.try_emplace(channel, value).second, reference.try_emplace(channel, value).second);
            break;
        case 1:
            EXPECT_EQ(map.insert_or_assign(channel, value).second,
                      reference.insert_or_assign(channel, value).second);
            break;
        case 2:
            map[channel] += value;
            reference[channel] += value;
            break;
        case 3:
            EXPECT_EQ(map.erase(channel), reference.erase(channel));
            break;
        case 4:
            EXPECT_EQ(map.emplace(channel, value).second, reference.emplace(channel, value).second);
            break;
        case 5:
            if (random() % 10 == 0) {
                map.clear();
                reference.clear();
            }
            break;
        default:
            if (const auto it = map.find(channel); it != map.end())
                it->second = value;
            if (const auto it = reference.find(channel); it != reference.end())
                it->second = value;
        }
        ASSERT_EQ(items(map), items(reference)) << step;
        ASSERT_EQ(map.size(), reference.size());
        ASSERT_EQ(map.empty(), reference.empty());
        ASSERT_EQ(map.count(channel), reference.count(channel));
        ASSERT_EQ(map.contains(channel), reference.contains(channel));
        if (reference.contains(channel))
            ASSERT_EQ(map.at(channel), reference.at(channel));
        else
            ASSERT_THROW(map.at(channel), std::out_of_range);
        // Converted either way, and compared, it is the same map.
        ASSERT_TRUE(ChannelMap<QString>(reference) == map);
        ASSERT_TRUE((std::map<Channel, QString>(map)) == reference);
    }
}

TEST(ChannelMap, EqualityLooksOnlyAtPresentValues)
{
    ChannelMap<QString> a{{Channel::rear, "r"}};
    ChannelMap<QString> b;
    b[Channel::front] = "f";
    b.erase(Channel::front);
    b[Channel::rear] = "r";
    EXPECT_TRUE(a == b);
    b[Channel::interior];
    EXPECT_FALSE(a == b);
    // The first of a repeated channel stays, as in a map.
    EXPECT_EQ(items(ChannelMap<QString>{{Channel::front, "1"}, {Channel::front, "2"}}),
              (std::vector<std::pair<Channel, QString>>{{Channel::front, "1"}}));
}

TEST(ChannelSet, DoesWhatTheSetItStandsForDoes)
{
    const std::vector<std::vector<Channel>> cases{{},
                                                  {Channel::interior, Channel::front},
                                                  {Channel::rear, Channel::rear},
                                                  {Channel::interior, Channel::rear, Channel::front}};
    for (const std::vector<Channel> &inserted : cases) {
        ChannelSet set;
        std::set<Channel> reference;
        for (Channel channel : inserted)
            EXPECT_EQ(set.insert(channel).second, reference.insert(channel).second);
        EXPECT_EQ(std::vector<Channel>(set.begin(), set.end()),
                  std::vector<Channel>(reference.begin(), reference.end()));
        EXPECT_EQ(set.size(), reference.size());
        EXPECT_EQ(set.empty(), reference.empty());
        for (Channel channel : allChannels) {
            EXPECT_EQ(set.contains(channel), reference.contains(channel));
            EXPECT_EQ(set.find(channel) != set.end(), reference.find(channel) != reference.end());
        }
        EXPECT_TRUE(ChannelSet(reference) == set);
        EXPECT_EQ(std::set<Channel>(set), reference);
        EXPECT_EQ(set.erase(Channel::rear), reference.erase(Channel::rear));
        EXPECT_EQ(std::set<Channel>(set), reference);
    }
}

} // namespace
