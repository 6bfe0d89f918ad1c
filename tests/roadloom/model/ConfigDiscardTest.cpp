#include "AppModelHarness.h"

#include "roadloom/model/ConfigStore.h"

using namespace AppHarness;

namespace {

class ConfigDiscardTest : public ModelTest {};

// A file opened from outside (a drop, the command line, Open Files…) asks before it replaces unsaved edits.
TEST_F(ConfigDiscardTest, OpeningAnotherFileAsksBeforeUnsavedEditsAreLost)
{
    make({});
    const QString first = card() + "/SETTING/blackbox.cfg";
    const QString second = dir.filePath("profile.cfg");
    TestSupport::writeFile(first, "[Rec]\nrec_quality=1\n");
    TestSupport::writeFile(second, "[Rec]\nrec_quality=2\n");
    ConfigStore &config = model->config();
    const ConfigFile::Entry quality{"Rec", "rec_quality", "1", 1};

    // A clean document is replaced without a question.
    ASSERT_TRUE(TestSupport::finish(model->library().open({first})));
    ASSERT_TRUE(TestSupport::finish(model->library().open({first})));
    EXPECT_TRUE(alerts.shown.isEmpty());

    struct Case {
        int answer;
        QString url;
        QString value;
        bool dirty;
    };
    const Case cases[] = {{1, first, "0", true}, {-1, first, "0", true}, {0, second, "2", false}};
    for (const Case &c : cases) {
        config.setValue(quality, "0");
        alerts.shown.clear();
        alerts.answer = c.answer;
        ASSERT_TRUE(TestSupport::finish(model->library().open({second})));
        ASSERT_EQ(alerts.shown.size(), 1) << c.answer;
        EXPECT_EQ(alerts.shown[0].messageText, "The camera settings have unsaved changes.");
        EXPECT_EQ(alerts.shown[0].buttons, (QStringList{"Discard Changes", "Cancel"}));
        EXPECT_EQ(alerts.shown[0].defaultButton, 1);
        EXPECT_EQ(config.url(), c.url) << c.answer;
        EXPECT_EQ(config.value(quality), c.value) << c.answer;
        EXPECT_EQ(config.isDirty(), c.dirty) << c.answer;
        EXPECT_EQ(TestSupport::readFile(first), "[Rec]\nrec_quality=1\n");
        config.setFile(config.saved()); // Revert, then back to the card
        ASSERT_TRUE(TestSupport::finish(config.open(first)));
    }

    // A file that cannot be read asks nothing and keeps the edits, reporting why.
    config.setValue(quality, "2");
    alerts.shown.clear();
    ASSERT_TRUE(TestSupport::finish(config.open(dir.filePath("missing.cfg"))));
    EXPECT_TRUE(alerts.shown.isEmpty());
    EXPECT_TRUE(config.isDirty());
    EXPECT_TRUE(config.message().contains("missing.cfg"));
}

// Quitting asks the same question while the document has unsaved edits.
TEST_F(ConfigDiscardTest, QuittingWithUnsavedEditsAsksFirst)
{
    make({});
    const QString path = card() + "/SETTING/blackbox.cfg";
    TestSupport::writeFile(path, "[Rec]\nrec_quality=1\n");
    ConfigStore &config = model->config();
    EXPECT_TRUE(config.mayDiscardEdits()); // nothing open
    ASSERT_TRUE(TestSupport::finish(config.open(path)));
    EXPECT_TRUE(config.mayDiscardEdits()); // clean
    EXPECT_TRUE(alerts.shown.isEmpty());

    config.setValue({"Rec", "rec_quality", "1", 1}, "2");
    alerts.answer = 1; // Cancel
    EXPECT_FALSE(config.mayDiscardEdits());
    alerts.answer = -1; // closed otherwise
    EXPECT_FALSE(config.mayDiscardEdits());
    alerts.answer = 0; // Discard Changes
    EXPECT_TRUE(config.mayDiscardEdits());
    ASSERT_EQ(alerts.shown.size(), 3);
    EXPECT_EQ(alerts.shown[0], ConfigStore::discardAlert());
    EXPECT_TRUE(config.isDirty()) << "asking changes nothing";
    EXPECT_EQ(TestSupport::readFile(path), "[Rec]\nrec_quality=1\n");
}

} // namespace
