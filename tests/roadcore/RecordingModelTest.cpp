#include "roadcore/CachePolicy.h"
#include "roadcore/DashClip.h"

#include "platform/Defaults.h"

#include <gtest/gtest.h>

#include <QLocale>
#include <QSet>
#include <QTimeZone>

namespace {

DashClip clip(std::map<Channel, QString> files, std::map<Channel, QString> originals = {})
{
    DashClip c;
    c.id = "id";
    c.name = "20240101_101010";
    c.files = std::move(files);
    c.originalFiles = std::move(originals);
    return c;
}

TEST(DashClip, DerivesChannelsLabelsAndPrimaryFile)
{
    const DashClip rearOnly = clip({{Channel::rear, "/c/X_R.mp4"}});
    EXPECT_FALSE(rearOnly.front());
    EXPECT_EQ(rearOnly.rear(), "/c/X_R.mp4");
    EXPECT_EQ(rearOnly.primaryURL(), "/c/X_R.mp4");
    EXPECT_EQ(rearOnly.channelLabel(), "R");

    const DashClip interior = clip({{Channel::interior, "/c/X_I.mp4"}});
    EXPECT_EQ(interior.rear(), "/c/X_I.mp4");
    EXPECT_EQ(interior.channelLabel(), "I");

    const DashClip onlyOriginal = clip({}, {{Channel::front, "/card/X_F.mp4"}});
    EXPECT_EQ(onlyOriginal.primaryURL(), "/card/X_F.mp4");
    EXPECT_TRUE(onlyOriginal.allURLs().isEmpty());
    EXPECT_EQ(onlyOriginal.channelLabel(), "F");

    const DashClip all3 = clip({{Channel::interior, "/i"}, {Channel::front, "/f"}, {Channel::rear, "/r"}});
    EXPECT_EQ(all3.channelLabel(), QString("F") + QChar(0xB7) + "R" + QChar(0xB7) + "I");
    EXPECT_EQ(all3.allURLs(), (QStringList{"/f", "/r", "/i"}));
    EXPECT_EQ(all3.rear(), "/r");

    const DashClip nothing = clip({});
    EXPECT_EQ(nothing.primaryURL(), "/dev/null");
    EXPECT_FALSE(nothing.isAVI());
    EXPECT_EQ(nothing.channelLabel(), "");

    EXPECT_TRUE(clip({{Channel::front, "/c/CLIP.AVI"}}).isAVI());
    EXPECT_FALSE(clip({{Channel::front, "/c/clip.avi.mp4"}}).isAVI());
}

TEST(DashClip, CatalogKeyUsesPlainDigitsInAnyLocale)
{
    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    DashClip c = clip({});
    c.byteSize = 1234567;
    EXPECT_EQ(c.catalogKey(), "20240101_101010#1234567");
    c.byteSize = -5;
    EXPECT_EQ(c.catalogKey(), "20240101_101010#-5");
    QLocale::setDefault(before);
}

TEST(DashClip, StoragePrecedenceAndFullCaching)
{
    using S = StorageState;
    struct Case {
        std::map<Channel, S> states;
        S expected;
    } cases[] = {
        {{}, S::original},
        {{{Channel::front, S::original}, {Channel::rear, S::original}}, S::original},
        {{{Channel::front, S::moved}, {Channel::rear, S::original}}, S::moved},
        {{{Channel::front, S::moved}, {Channel::rear, S::cached}}, S::cached},
        {{{Channel::front, S::cached}, {Channel::rear, S::missing}}, S::missing},
    };
    for (const auto &c : cases) {
        DashClip d = clip({});
        d.channelStates = c.states;
        EXPECT_EQ(d.storage(), c.expected) << rawValue(c.expected).toStdString();
    }

    DashClip d = clip({});
    d.cachedChannels = {Channel::front};
    EXPECT_FALSE(d.isFullyCached());
    d.channelStates = {{Channel::front, S::cached}};
    d.cachedChannels = {Channel::front, Channel::rear};
    EXPECT_TRUE(d.isFullyCached());
    d.channelStates[Channel::rear] = S::original;
    d.cachedChannels = {Channel::front};
    EXPECT_FALSE(d.isFullyCached());
}

TEST(DashClip, EqualityAndHashingCoverEveryField)
{
    DashClip a = clip({{Channel::front, "/f"}});
    a.date = QDateTime::fromSecsSinceEpoch(1700000000, Qt::UTC);
    DashClip b = a;
    b.date = a.date->toTimeZone(QTimeZone("Europe/Berlin")); // same instant
    EXPECT_EQ(a, b);
    EXPECT_EQ(qHash(a), qHash(b));
    QSet<DashClip> set{a, b};
    EXPECT_EQ(set.size(), 1);

    DashClip c = a;
    c.cachedChannels.insert(Channel::rear);
    EXPECT_NE(a, c);
    DashClip undated = a;
    undated.date.reset();
    EXPECT_NE(a, undated);
}

TEST(CachePolicy, CurrentReadsTheStoredValueExactlyOnEveryCall)
{
    auto &defaults = Defaults::standard();
    const struct {
        QVariant stored;
        CachePolicy expected;
    } cases[] = {{QVariant(), CachePolicy::all},
                 {"", CachePolicy::all},
                 {"Important", CachePolicy::all},
                 {"bogus", CachePolicy::all},
                 {"important", CachePolicy::important},
                 {"off", CachePolicy::off},
                 {"all", CachePolicy::all}};
    for (const auto &c : cases) {
        if (c.stored.isValid())
            defaults.setValue(CachePolicies::defaultsKey, c.stored);
        else
            defaults.remove(CachePolicies::defaultsKey);
        EXPECT_EQ(CachePolicies::current(), c.expected) << c.stored.toString().toStdString();
    }
    defaults.remove(CachePolicies::defaultsKey);
}

} // namespace
