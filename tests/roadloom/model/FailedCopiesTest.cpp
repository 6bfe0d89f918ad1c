#include "roadloom/model/FailedCopies.h"

#include <gtest/gtest.h>

namespace {

CacheJob job(const QString &name, Channel channel = Channel::front)
{
    return {"key-" + name, channel, "/card/" + name, 10, name};
}

Failure failure(const QString &name, const QString &cause)
{
    return {"The copy of “" + name + "” " + cause + ".", cause};
}

TEST(FailedCopies, EachCauseIsOneLineTheLatestFirstAndEachFileCountsOnce)
{
    const QString unsaved = "couldn't be recorded: the catalog couldn't be written";
    FailedCopies failed;
    failed.add(job("A"), failure("A", unsaved));
    EXPECT_EQ(failed.summary(), "A copy " + unsaved + ".");
    EXPECT_EQ(failed.detail(), failure("A", unsaved).message);

    failed.add(job("B"), failure("B", unsaved));
    failed.add(job("C"), Failure{"the card was removed"}); // no cause: a line of its own, named
    failed.add(job("D"), failure("D", "came out incomplete"));
    failed.add(job("A"), failure("A", unsaved)); // again: once, as it failed last
    EXPECT_EQ(failed.summary(),
              "2 copies " + unsaved + ".\nA copy came out incomplete.\nC: the card was removed");
    EXPECT_EQ(failed.summary(1), "2 copies " + unsaved + ".");
    EXPECT_EQ(failed.detail(),
              QStringList({failure("B", unsaved).message, "C: the card was removed",
                           failure("D", "came out incomplete").message, failure("A", unsaved).message})
                  .join('\n'));
    EXPECT_EQ(failed.detail(2), failure("B", unsaved).message + "\nC: the card was removed\n… and 2 more.");

    // A's rear file is another copy; D failing for another cause leaves its first one.
    failed.add(job("A", Channel::rear), failure("A", unsaved));
    failed.add(job("D"), failure("D", unsaved));
    EXPECT_EQ(failed.summary(), "4 copies " + unsaved + ".\nC: the card was removed");

    failed.clear();
    EXPECT_TRUE(failed.isEmpty());
    EXPECT_EQ(failed.summary(), QString());
}

} // namespace
