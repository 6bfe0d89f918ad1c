#include "AppModelHarness.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QImageReader>

#include "platform/StandardFolders.h"
#include <QRegularExpression>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>

#include <sys/resource.h>

using namespace AppHarness;
using TestSupport::waitFor;

namespace {

QImage frame(QColor color, QSize size = {64, 36})
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(color);
    return image;
}

class FrameActions : public ModelTest {
protected:
    const QString F = "/card/X_F.mp4", R = "/card/X_R.mp4", I = "/card/X_I.mp4";
    QString snapshots() const { return dir.filePath("Snapshots"); }

    void SetUp() override
    {
        make({});
        defaults.setValue("snapshotFolder", snapshots());
    }
    void loadWith(const ChannelFiles &files, const QString &name = "X")
    {
        load(recording(name, at(1), files));
        front().frameResult = frame(Qt::red);
        rear().frameResult = frame(Qt::blue);
    }
    QString toastText() const { return model->toast() ? model->toast()->message : QString(); }
    void snap(std::optional<Channel> channel = {})
    {
        ASSERT_TRUE(TestSupport::finish(model->snapshot(channel)));
    }
};

TEST_F(FrameActions, SnapshotIsNamedByRecordingChannelAndMillisecondAndDecodesToTheFrame)
{
    struct Case {
        ChannelFiles files;
        bool swapped;
        std::optional<Channel> channel;
        double time;
        const char *file;
        QRgb color;
    };
    const Case cases[] = {
        {{{Channel::front, F}}, false, {}, 2.5, "X_F_2500.png", qRgb(255, 0, 0)},
        {{{Channel::front, F}}, false, {}, 1.25, "X_F_1250.png", qRgb(255, 0, 0)},
        {{{Channel::front, F}}, false, {}, 0, "X_F_0.png", qRgb(255, 0, 0)},
        {{{Channel::front, F}}, false, {}, 0.0005, "X_F_1.png", qRgb(255, 0, 0)}, // halves away from zero
        {{{Channel::front, F}}, true, {}, 3, "X_F_3000.png", qRgb(255, 0, 0)}, // swapped, no second channel
        {{{Channel::front, F}, {Channel::rear, R}}, true, {}, 3, "X_R_3000.png", qRgb(0, 0, 255)},
        {{{Channel::front, F}, {Channel::interior, I}}, true, {}, 3, "X_R_3000.png", qRgb(0, 0, 255)},
        {{{Channel::front, F}, {Channel::interior, I}},
         false,
         Channel::interior,
         3,
         "X_I_3000.png",
         qRgb(0, 0, 255)},
        {{{Channel::front, F}, {Channel::rear, R}}, true, Channel::front, 3, "X_F_3000.png", qRgb(255, 0, 0)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.file);
        loadWith(c.files);
        model->player().setSwapped(c.swapped);
        model->player().setCurrentTime(c.time);
        snap(c.channel);
        const QString path = snapshots() + "/" + c.file;
        EXPECT_EQ(toastText(), "Snapshot saved");
        EXPECT_EQ(model->toast()->systemImage, "camera.fill");
        EXPECT_EQ(model->toast()->revealURL, path);
        QImageReader reader(path);
        EXPECT_EQ(reader.format(), "png");
        const QImage written = reader.read();
        ASSERT_FALSE(written.isNull());
        EXPECT_EQ(written.size(), QSize(64, 36));
        EXPECT_EQ(written.pixel(10, 10), c.color);
        QFile::remove(path);
    }
}

TEST_F(FrameActions, SnapshotOverwritesAndStaysInsideItsFolder)
{
    loadWith({{Channel::front, F}}, "../20250101_120000_F");
    model->player().setCurrentTime(1);
    snap();
    const QString expected = snapshots() + "/..-20250101_120000_F_F_1000.png";
    EXPECT_TRUE(QFileInfo::exists(expected));
    EXPECT_EQ(model->toast()->revealURL, expected);
    EXPECT_TRUE(QDir(dir.path()).entryList({"*.png"}, QDir::Files | QDir::Hidden).isEmpty())
        << "nothing outside the snapshot folder";

    // The same millisecond again: the newer frame replaces the file.
    front().frameResult = frame(Qt::green);
    snap();
    EXPECT_EQ(QImage(expected).pixel(1, 1), qRgb(0, 255, 0));
    EXPECT_EQ(QDir(snapshots()).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

// A write cut off part way (here by the file size limit, as by a full disk) leaves the earlier snapshot of
// the same name as it was, no temporary file, and a toast with the system's reason.
TEST_F(FrameActions, ASnapshotThatCannotBeWrittenLeavesTheOldFileAndSaysWhy)
{
    loadWith({{Channel::front, F}});
    model->player().setCurrentTime(1);
    QImage noise(256, 256, QImage::Format_RGB32);
    for (int y = 0; y < noise.height(); ++y)
        for (int x = 0; x < noise.width(); ++x)
            noise.setPixel(x, y, qRgb((x * 7919 + y * 104729) % 251, (x * y) % 253, (x + y * 31) % 255));
    front().frameResult = noise;
    const QString path = snapshots() + "/X_F_1000.png";
    QDir().mkpath(snapshots());
    const QByteArray before = "the snapshot taken before";
    TestSupport::writeFile(path, before);

    struct rlimit old {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    struct rlimit small = old;
    small.rlim_cur = 4096;
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    snap();
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(model->toast()->systemImage, AppModel::errorSymbol);
    EXPECT_TRUE(toastText().contains("X_F_1000.png")) << toastText().toStdString();
    EXPECT_TRUE(toastText().endsWith(QString::fromLocal8Bit(std::strerror(EFBIG))))
        << toastText().toStdString();
    EXPECT_EQ(TestSupport::readFile(path), before);
    EXPECT_EQ(QDir(snapshots()).entryList(QDir::Files | QDir::Hidden), QStringList{"X_F_1000.png"});

    // Without the limit the same snapshot replaces it whole.
    snap();
    EXPECT_EQ(toastText(), "Snapshot saved");
    EXPECT_EQ(QImage(path).pixel(5, 9), noise.pixel(5, 9));
    EXPECT_EQ(QDir(snapshots()).entryList(QDir::Files | QDir::Hidden), QStringList{"X_F_1000.png"});
}

TEST_F(FrameActions, SnapshotFolderFallsBackToHomeAndFailuresBecomeToasts)
{
    loadWith({{Channel::front, F}});
    defaults.setValue("snapshotFolder", QStringList{"not", "a", "string"});
    EXPECT_EQ(model->snapshotFolder(), QDir::homePath());
    defaults.remove("snapshotFolder");
    EXPECT_EQ(model->snapshotFolder(), StandardFolders::snapshots());

    TestSupport::writeFile(dir.filePath("file"), "x");
    defaults.setValue("snapshotFolder", dir.filePath("file/sub"));
    snap();
    EXPECT_EQ(model->toast()->systemImage, AppModel::errorSymbol);

    defaults.setValue("snapshotFolder", snapshots());
    front().frameResult = Failure{"The frame could not be read."};
    snap();
    EXPECT_EQ(toastText(), "The frame could not be read.");
    EXPECT_FALSE(QFileInfo::exists(snapshots()));

    model->player().load(std::nullopt, false);
    model->show("before", "x");
    snap();
    EXPECT_EQ(toastText(), "before") << "nothing loaded: silent";
}

// The snapshot folder on a share that stopped answering: the window goes on, and the toast comes with the
// file.
TEST_F(FrameActions, ASnapshotFolderThatDoesNotAnswerHoldsOnlyTheSnapshot)
{
    loadWith({{Channel::front, F}});
    model->player().setCurrentTime(1);
    files.close(snapshots());
    const QFuture<void> saved =
        TestSupport::atOnce("a snapshot whose folder does not answer", [&] { return model->snapshot(); });
    model->copyFrame();
    EXPECT_EQ(toastText(), "Frame copied");
    EXPECT_FALSE(saved.isFinished());
    files.open();
    ASSERT_TRUE(TestSupport::finish(saved));
    EXPECT_EQ(toastText(), "Snapshot saved");
    EXPECT_TRUE(QFileInfo::exists(snapshots() + "/X_F_1000.png"));
}

TEST_F(FrameActions, CopyFramePutsTheMainStageImageOnTheClipboard)
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    loadWith({{Channel::front, F}, {Channel::rear, R}});
    model->copyFrame();
    EXPECT_EQ(toastText(), "Frame copied");
    EXPECT_EQ(model->toast()->systemImage, "doc.on.clipboard.fill");
    EXPECT_FALSE(model->toast()->revealURL);
    EXPECT_EQ(clipboard->image().size(), QSize(64, 36));
    EXPECT_EQ(clipboard->image().pixel(1, 1), qRgb(255, 0, 0));

    model->player().setSwapped(true);
    model->copyFrame();
    EXPECT_EQ(clipboard->image().pixel(1, 1), qRgb(0, 0, 255));

    // A failed grab leaves the clipboard alone.
    rear().frameResult = Failure{"No frame."};
    model->copyFrame();
    EXPECT_EQ(toastText(), "No frame.");
    EXPECT_EQ(clipboard->image().pixel(1, 1), qRgb(0, 0, 255));

    model->player().load(std::nullopt, false);
    model->copyFrame();
    EXPECT_EQ(model->toast()->systemImage, AppModel::errorSymbol) << "the player's own error when unloaded";
}

int pdfPages(const QString &path)
{
    const QString pdf = QString::fromLatin1(TestSupport::readFile(path));
    int count = 0;
    for (auto it = QRegularExpression(R"(/Type\s*/Page[^s])").globalMatch(pdf); it.hasNext(); it.next())
        ++count;
    return count;
}

TEST_F(FrameActions, PrintFramePrintsOnePageNamedByTheRecording)
{
    loadWith({{Channel::front, F}, {Channel::rear, R}});
    model->printFrame();
    ASSERT_EQ(printer.titles, QStringList{"X"});
    EXPECT_EQ(pdfPages(dir.filePath("printed.pdf")), 1);
    EXPECT_EQ(printer.images[0].width(), 1520);
    const int withRear = printer.images[0].height();

    // A rear frame that cannot be grabbed only leaves the rear image out.
    rear().frameResult = Failure{"No frame."};
    model->printFrame();
    ASSERT_EQ(printer.images.size(), 2);
    EXPECT_LT(printer.images[1].height(), withRear);

    front().frameResult = Failure{"No front frame."};
    model->printFrame();
    EXPECT_EQ(printer.images.size(), 2);
    EXPECT_EQ(toastText(), "No front frame.");

    model->player().load(std::nullopt, false);
    model->printFrame();
    EXPECT_EQ(printer.images.size(), 2);
}

// A frame in the player's layout: bgr0, its fourth byte zero.
QImage paddedFrame(QRgb color)
{
    QImage image(64, 36, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y)
        std::fill_n(reinterpret_cast<QRgb *>(image.scanLine(y)), image.width(), color & 0x00ffffffu);
    return image;
}

TEST_F(FrameActions, PrintedPageShowsTheFramesOfThePlayersLayout)
{
    if (!TestSupport::haveProgram("pdftoppm"))
        GTEST_SKIP() << "needs pdftoppm";
    loadWith({{Channel::front, F}, {Channel::rear, R}});
    front().frameResult = paddedFrame(qRgb(255, 0, 0));
    rear().frameResult = paddedFrame(qRgb(0, 0, 255));
    model->printFrame();
    ASSERT_EQ(printer.images.size(), 1);

    const QString stem = dir.filePath("page");
    ASSERT_TRUE(
        TestSupport::run("pdftoppm", {"-r", "40", "-png", "-singlefile", dir.filePath("printed.pdf"), stem})
            .ok());
    const QImage page(stem + ".png");
    ASSERT_FALSE(page.isNull());
    qint64 red = 0, blue = 0;
    for (int y = 0; y < page.height(); ++y)
        for (int x = 0; x < page.width(); ++x) {
            const QRgb c = page.pixel(x, y);
            red += qRed(c) > 200 && qGreen(c) < 60 && qBlue(c) < 60;
            blue += qBlue(c) > 200 && qRed(c) < 60 && qGreen(c) < 60;
        }
    const double area = double(page.width()) * page.height();
    EXPECT_GT(red / area, 0.2) << "the front frame fills the page's width";
    EXPECT_GT(blue / area, 0.1) << "the rear frame, 300 points tall";
}

} // namespace
