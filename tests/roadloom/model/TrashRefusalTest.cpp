#include "AppModelHarness.h"

#include "platform/Trash.h"

#include <QFile>

using namespace AppHarness;
using TestSupport::waitFor;

namespace {

// A Trash that refuses, as a read-only card does for an ordinary user (the tests run as root, for whom
// the card's permissions would not refuse anything).
class RefusingTrash : public Trash {
public:
    Result<void> moveToTrash(const QStringList &paths) override
    {
        return Failure{Trash::failureText(paths.value(0))};
    }
};

using TrashRefusalTest = ModelTest;

TEST_F(TrashRefusalTest, ARefusedMoveShowsTheReasonAndShowsTheRecordingAgain)
{
    RefusingTrash bin;
    adjust = [&](AppModel::Services &s) {
        s.trash = nullptr;
        s.library.trash = &bin;
    };
    const QString frontFile = dir.filePath("card/REC_A_F.mp4");
    ASSERT_TRUE(QDir().mkpath(QFileInfo(frontFile).path()));
    QFile(frontFile).open(QIODevice::WriteOnly);
    const DashClip clip = recording("REC_A", at(1), {{Channel::front, frontFile}});
    make({clip});
    model->library().setSelectedClipID(clip.id);
    load(clip);

    alerts.answer = 0;
    model->trash(clip);
    ASSERT_TRUE(waitFor([&] { return model->toast().has_value(); }));
    EXPECT_EQ(model->toast()->systemImage, QString::fromLatin1(AppModel::errorSymbol));
    EXPECT_EQ(model->toast()->message, Trash::failureText(frontFile));
    EXPECT_EQ(model->library().lastError(), Trash::failureText(frontFile));
    EXPECT_EQ(model->library().selectedClipID(), clip.id);
    ASSERT_TRUE(waitFor([&] { return model->player().clip() && model->player().clip()->id == clip.id; }));
    EXPECT_TRUE(waitFor([&] { return front().hasFile(); }));
    EXPECT_TRUE(QFile::exists(frontFile));

    // Refused again with the same reason: reported again.
    model->show(QStringLiteral("other"), QStringLiteral("info.circle"));
    load(clip);
    model->trash(clip);
    EXPECT_TRUE(
        waitFor([&] { return model->toast() && model->toast()->message == Trash::failureText(frontFile); }));
    EXPECT_TRUE(waitFor([&] { return model->player().clip().has_value(); }));
}

} // namespace
