#include "AppModelHarness.h"
#include "ScriptedExporter.h"

#include "fixtures/FFprobe.h"

#include <QJsonArray>
#include <QRegularExpression>

#include "fixtures/RefusedThreads.h"
#include "roadcore/ClipExporter.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

extern "C" {
#include <libavformat/avformat.h>
}

using namespace AppHarness;
using TestSupport::waitFor;

namespace {

Telemetry track(double latitude)
{
    QList<GPSFix> fixes;
    for (int i = 0; i < 200; ++i) {
        GPSFix fix;
        fix.time = i + 0.5;
        fix.latitude = latitude;
        fix.longitude = 10 + i / 1000.0;
        fix.speedKnots = 20;
        fixes.append(fix);
    }
    return Telemetry({}, fixes, QStringLiteral("scripted"));
}

class ClipExportRun : public ModelTest {
protected:
    ScriptedExporter exporter;
    QString out() const { return dir.filePath("out"); }
    DashClip clipA =
        recording("CONT_0001", at(1), {{Channel::front, "/card/A_F.mp4"}, {Channel::rear, "/card/A_R.mp4"}});
    DashClip clipB = recording("CONT_0002", at(2), {{Channel::front, "/card/B_F.mp4"}});

    void SetUp() override
    {
        adjust = [this](AppModel::Services &s) { s.exportMovie = exporter.make(); };
        services->telemetry["/card/A_F.mp4"] = track(50);
        services->telemetry["/card/B_F.mp4"] = track(60);
        QDir().mkpath(out());
        panels.folderAnswer = out();
    }

    ClipExportRequest request(double start = 75.5, double end = 105.5, bool rear = true) const
    {
        ClipExportRequest r;
        r.clip = clipA;
        r.sources = {{Channel::front, "/card/A_F.mp4"}};
        if (rear)
            r.sources.append({Channel::rear, "/card/A_R.mp4"});
        r.start = start;
        r.end = end;
        return r;
    }
    QStringList files() const
    {
        return QDir(out()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    }
    // A finished job deletes itself once its result is shown.
    void finish(QPointer<ClipExportJob> job)
    {
        ASSERT_TRUE(waitFor([&] { return !job || job->isFinished(); }, 10000));
        QCoreApplication::processEvents();
    }
    QString toastText() const { return model->toast() ? model->toast()->message : QString(); }
};

TEST_F(ClipExportRun, SuffixShowsTheRangeWithMinutesForColons)
{
    EXPECT_EQ(ClipExportJob::nameSuffix(75.5, 105.5), "_1m15.5-1m45.5");
    EXPECT_EQ(ClipExportJob::nameSuffix(3723, 3753), "_1m02m03-1m02m33");
    EXPECT_EQ(ClipExportJob::nameSuffix(0, 9.99), "_0m00.0-0m09.9");
}

TEST_F(ClipExportRun, WritesEachCameraAndTheTrackUnderFreshNames)
{
    make({clipA});
    load(clipA);
    ClipExportRequest r = request();
    r.quality = ExportQuality::h264720;

    finish(model->exportClip(r));
    EXPECT_EQ(panels.calls, QStringList{"chooseFolder Export CONT_0001 | Export Here"});
    EXPECT_EQ(files(), (QStringList{"CONT_0001_1m15.5-1m45.5.gpx", "CONT_0001_1m15.5-1m45.5_F.mov",
                                    "CONT_0001_1m15.5-1m45.5_R.mov"}));
    EXPECT_EQ(TestSupport::readFile(out() + "/CONT_0001_1m15.5-1m45.5_R.mov"), "movie of /card/A_R.mp4");
    EXPECT_EQ(exporter.presets.value(0), preset(ExportQuality::h264720));
    EXPECT_EQ(toastText(), "Exported 2 video(s)");
    EXPECT_EQ(model->toast()->systemImage, "film.stack.fill");
    EXPECT_EQ(model->toast()->revealURL, out() + "/CONT_0001_1m15.5-1m45.5_R.mov");

    // The track holds the fixes of the range, both ends included, timed from the range's start.
    const QString gpx = out() + "/CONT_0001_1m15.5-1m45.5.gpx";
    if (TestSupport::haveProgram("xmllint")) {
        EXPECT_TRUE(TestSupport::run("xmllint", {"--noout", gpx}).ok());
    }
    const QString text = QString::fromUtf8(TestSupport::readFile(gpx));
    EXPECT_EQ(text.count("<trkpt "), 31);
    const QRegularExpressionMatch first = QRegularExpression("<time>([^<]+)</time>").match(text);
    ASSERT_TRUE(first.hasMatch());
    EXPECT_EQ(QDateTime::fromString(first.captured(1), Qt::ISODateWithMs), at(1).addMSecs(75500));

    finish(model->exportClip(r));
    EXPECT_EQ(files(), (QStringList{"CONT_0001_1m15.5-1m45.5 2.gpx", "CONT_0001_1m15.5-1m45.5.gpx",
                                    "CONT_0001_1m15.5-1m45.5_F 2.mov", "CONT_0001_1m15.5-1m45.5_F.mov",
                                    "CONT_0001_1m15.5-1m45.5_R 2.mov", "CONT_0001_1m15.5-1m45.5_R.mov"}));
    EXPECT_EQ(model->toast()->revealURL, out() + "/CONT_0001_1m15.5-1m45.5_R 2.mov");
}

TEST_F(ClipExportRun, ProgressRunsAcrossTheMovies)
{
    make({clipA});
    exporter.gated = true;
    QPointer<ClipExportJob> job = model->exportClip(request());
    ASSERT_TRUE(job);
    QList<double> seen;
    QObject::connect(job, &ClipExportJob::progressChanged, [&](double p) { seen.append(p); });
    ASSERT_TRUE(waitFor([&] { return job->progress() == 0.25; }));
    exporter.gate.release();
    ASSERT_TRUE(waitFor([&] { return job->progress() == 0.75; }));
    exporter.gate.release();
    finish(job);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    EXPECT_EQ(seen.value(0), 0.25);
    EXPECT_EQ(seen.last(), 1.0);
    EXPECT_EQ(toastText(), "Exported 2 video(s)");
}

TEST_F(ClipExportRun, AFailureKeepsEarlierMoviesAndIsShownWhereTheUserLooks)
{
    // With the sheet open the failure is its red row only; after it closed, a toast.
    for (const bool watched : {true, false}) {
        SCOPED_TRACE(watched ? "sheet open" : "sheet closed");
        make({clipA});
        load(clipA);
        QDir(out()).removeRecursively();
        QDir().mkpath(out());
        exporter.failing = {"/card/A_R.mp4"};
        exporter.gated = true;
        QString failure;
        QPointer<ClipExportJob> job = model->exportClip(request());
        ASSERT_TRUE(job);
        job->setWatched(watched);
        QObject::connect(job, &ClipExportJob::failed, [&](const QString &message) { failure = message; });
        exporter.gate.release(2);
        finish(job);
        EXPECT_EQ(failure, "\u201CA_R.mp4\u201D couldn\u2019t be exported: boom");
        EXPECT_EQ(files(), QStringList{"CONT_0001_1m15.5-1m45.5_F.mov"});
        if (watched) {
            EXPECT_FALSE(model->toast());
        } else {
            EXPECT_EQ(toastText(), failure);
            EXPECT_EQ(model->toast()->systemImage, AppModel::errorSymbol);
        }
        model.reset();
    }
}

TEST_F(ClipExportRun, ARunWhoseThreadCannotStartFailsAsAnExport)
{
    make({clipA});
    load(clipA);
    const RefusedThreads noThreads;
    QString failure;
    QPointer<ClipExportJob> job = model->exportClip(request());
    ASSERT_TRUE(job);
    job->setWatched(true);
    QObject::connect(job, &ClipExportJob::failed, [&](const QString &message) { failure = message; });
    finish(job);
    EXPECT_EQ(failure, "The export couldn\u2019t be started: the system has no thread to spare.");
    EXPECT_EQ(files(), QStringList{});
}

TEST_F(ClipExportRun, NothingWithoutARecordingOrAFolder)
{
    make({clipA});
    ClipExportRequest none = request();
    none.clip.reset();
    EXPECT_FALSE(model->exportClip(none));
    EXPECT_TRUE(panels.calls.isEmpty());
    panels.folderAnswer.reset();
    EXPECT_FALSE(model->exportClip(request()));
    EXPECT_EQ(panels.calls.size(), 1);
    QCoreApplication::processEvents();
    EXPECT_TRUE(exporter.callLog().isEmpty());
    EXPECT_FALSE(model->toast());
}

TEST_F(ClipExportRun, SimultaneousRunsReserveDistinctNames)
{
    make({clipA});
    exporter.gated = true;
    QPointer<ClipExportJob> first = model->exportClip(request(75.5, 105.5, false));
    QPointer<ClipExportJob> second = model->exportClip(request(75.5, 105.5, false));
    ASSERT_TRUE(first && second);
    ASSERT_TRUE(waitFor([&] { return exporter.callLog().size() == 2; }));
    exporter.gate.release(2);
    finish(first);
    finish(second);
    EXPECT_EQ(files(), (QStringList{"CONT_0001_1m15.5-1m45.5 2.gpx", "CONT_0001_1m15.5-1m45.5.gpx",
                                    "CONT_0001_1m15.5-1m45.5_F 2.mov", "CONT_0001_1m15.5-1m45.5_F.mov"}));
    for (const QString &name : files().filter(".mov"))
        EXPECT_EQ(TestSupport::readFile(out() + "/" + name), "movie of /card/A_F.mp4");
}

TEST_F(ClipExportRun, EndingTheModelMidMovieLeavesNoIncompleteFile)
{
    make({clipA});
    exporter.gated = true;
    ASSERT_TRUE(model->exportClip(request()));
    // Only the hidden file is there while the movie is written: nothing yet under its name.
    ASSERT_TRUE(waitFor([&] { return files().size() == 1; }));
    EXPECT_EQ(files(), QStringList{".CONT_0001_1m15.5-1m45.5_F.mov.part"});
    model.reset();
    EXPECT_EQ(files(), QStringList());
}

// A movie written into a folder that stopped answering holds neither the quit nor the model's end: the run
// is left to end by itself.
TEST_F(ClipExportRun, TheQuitLeavesARunItsFolderHolds)
{
    make({clipA});
    exporter.gated = exporter.deaf = true;
    const QPointer<ClipExportJob> job = model->exportClip(request());
    ASSERT_TRUE(waitFor([&] { return exporter.callLog().size() == 1; }));
    {
        TestSupport::Deadline deadline(int(AppModel::exportStopWait.count()) + 5000,
                                       "a quit during a stuck export");
        model->cancelExports();
        model.reset();
    }
    ASSERT_TRUE(job);
    EXPECT_TRUE(job->isRunning());
    exporter.gate.release();
    ASSERT_TRUE(waitFor([&] { return job->isFinished(); }));
    delete job.data();
}

// What a run killed between reserving names and finishing leaves: this version's hidden file (reserved in a
// process that then died), and the empty file and hidden file that earlier versions left.
TEST_F(ClipExportRun, AKilledRunLeavesNothingTheNextRunKeeps)
{
    const QString movie = out() + "/CONT_0001_1m15.5-1m45.5_F.mov";
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const Result<ClipExportJob::Reservation> reserved = ClipExportJob::reserve(movie);
        ::_exit(reserved.ok() ? 0 : 1); // no clearing up, as when killed
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    TestSupport::writeFile(out() + "/CONT_0001_1m15.5-1m45.5.gpx", QByteArray());
    TestSupport::writeFile(out() + "/.CONT_0001_1m15.5-1m45.5.gpx.part", "half a track");
    // Not ours: a hidden file of another pattern, and an empty movie without a hidden file beside it.
    TestSupport::writeFile(out() + "/.notes.part", "mine");
    TestSupport::writeFile(out() + "/OTHER.mov", QByteArray());
    const QStringList left = {".CONT_0001_1m15.5-1m45.5.gpx.part", ".CONT_0001_1m15.5-1m45.5_F.mov.part",
                              ".notes.part", "CONT_0001_1m15.5-1m45.5.gpx", "OTHER.mov"};
    EXPECT_EQ(files(), left);

    // A reservation still held by a live run is not taken for abandoned.
    {
        Result<ClipExportJob::Reservation> live = ClipExportJob::reserve(out() + "/LIVE.mov");
        ASSERT_TRUE(live);
        ClipExportJob::removeAbandoned(out());
        EXPECT_EQ(files(), QStringList({".LIVE.mov.part", ".notes.part", "OTHER.mov"}));
    }
    EXPECT_EQ(files(), QStringList({".notes.part", "OTHER.mov"}));

    make({clipA});
    load(clipA);
    finish(model->exportClip(request(75.5, 105.5, false)));
    EXPECT_EQ(toastText(), "Exported 1 video(s)");
    EXPECT_EQ(files(), (QStringList{".notes.part", "CONT_0001_1m15.5-1m45.5.gpx",
                                    "CONT_0001_1m15.5-1m45.5_F.mov", "OTHER.mov"}));
    EXPECT_EQ(TestSupport::readFile(movie), "movie of /card/A_F.mp4");
    EXPECT_EQ(TestSupport::readFile(out() + "/.notes.part"), "mine");
}

// A file that takes the reserved name while the movie is written is never replaced: the movie gets the next
// free name. Either way of moving, in one step or by a second name where the file system refuses the first.
TEST_F(ClipExportRun, ANameTakenAfterItsReservationIsNeverReplaced)
{
    Result<ClipExportJob::Reservation> reserved = ClipExportJob::reserve(out() + "/TAKEN.mov");
    ASSERT_TRUE(reserved);
    ASSERT_EQ(::write(reserved->descriptor(), "ours", 4), 4);
    TestSupport::writeFile(out() + "/TAKEN.mov", "theirs");
    const Result<QString> named = reserved->complete();
    ASSERT_TRUE(named);
    EXPECT_EQ(*named, out() + "/TAKEN 2.mov");
    EXPECT_EQ(TestSupport::readFile(out() + "/TAKEN.mov"), "theirs");
    EXPECT_EQ(TestSupport::readFile(out() + "/TAKEN 2.mov"), "ours");
    EXPECT_EQ(files(), (QStringList{"TAKEN 2.mov", "TAKEN.mov"}));

    for (const bool oneStep : {true, false}) {
        SCOPED_TRACE(oneStep);
        const QByteArray from = QFile::encodeName(out() + "/from"), to = QFile::encodeName(out() + "/to");
        TestSupport::writeFile(out() + "/from", "new");
        TestSupport::writeFile(out() + "/to", "old");
        EXPECT_EQ(ClipExportJob::moveWithoutReplacing(from, to, oneStep), EEXIST);
        EXPECT_EQ(TestSupport::readFile(out() + "/to"), "old");
        EXPECT_EQ(TestSupport::readFile(out() + "/from"), "new");
        QFile::remove(out() + "/to");
        EXPECT_EQ(ClipExportJob::moveWithoutReplacing(from, to, oneStep), 0);
        EXPECT_EQ(TestSupport::readFile(out() + "/to"), "new");
        EXPECT_FALSE(QFileInfo::exists(out() + "/from"));
        QFile::remove(out() + "/to");
    }
}

// A read that fails mid-way (a card pulled, a bad sector) fails the run with the reason, and no movie, whole
// or cut off, is left.
TEST_F(ClipExportRun, AReadErrorFailsTheRunAndLeavesNoMovie)
{
    for (const bool failing : {true, false}) {
        SCOPED_TRACE(failing ? "read error" : "end of file");
        adjust = [failing](AppModel::Services &s) {
            s.exportMovie = [failing](const QString &source, double start, double end,
                                      const ExportPreset &preset, const QString &destination,
                                      std::atomic<double> *progress, const std::atomic<bool> *cancel) {
                int packets = 0;
                return ClipExporter::exportMovieReading(
                    source, start, end, preset, destination, progress, cancel,
                    [&packets, failing](AVFormatContext *input, AVPacket *packet) {
                        if (++packets > 40)
                            return failing ? AVERROR(EIO) : AVERROR_EOF;
                        return av_read_frame(input, packet);
                    });
            };
        };
        make({clipA});
        load(clipA);
        QDir(out()).removeRecursively();
        QDir().mkpath(out());
        ClipExportRequest r = request(0.5, 3.5, false);
        r.sources = {{Channel::front, TestSupport::media("export_aac.mp4")}};
        r.includeGPX = false;
        finish(model->exportClip(r));
        if (failing) {
            EXPECT_EQ(model->toast()->systemImage, AppModel::errorSymbol);
            EXPECT_TRUE(toastText().endsWith(QString::fromLocal8Bit(std::strerror(EIO))))
                << toastText().toStdString();
            EXPECT_EQ(files(), QStringList());
        } else {
            EXPECT_EQ(toastText(), "Exported 1 video(s)");
            EXPECT_EQ(files(), QStringList{"CONT_0001_0m00.5-0m03.5_F.mov"});
        }
        model.reset();
    }
}

TEST_F(ClipExportRun, TheTrackIsTheExportedRecordingsWhateverPlaysMeanwhile)
{
    struct Case {
        const char *name;
        bool loadFirst; // the exported recording is in the player at "Export…"
    };
    for (const Case c : {Case{"loaded", true}, Case{"not loaded", false}}) {
        SCOPED_TRACE(c.name);
        make({clipA, clipB});
        QDir(out()).removeRecursively();
        QDir().mkpath(out());
        if (c.loadFirst)
            load(clipA);
        exporter.gated = true;
        QPointer<ClipExportJob> job = model->exportClip(request(75.5, 105.5, false));
        ASSERT_TRUE(job);
        ASSERT_TRUE(waitFor([&] { return exporter.callLog().size() >= 1; }));
        load(clipB);
        exporter.gate.release();
        finish(job);
        const QString text = QString::fromUtf8(TestSupport::readFile(out() + "/CONT_0001_1m15.5-1m45.5.gpx"));
        EXPECT_TRUE(text.contains("lat=\"50.0000000\"")) << text.left(400).toStdString();
        EXPECT_FALSE(text.contains("lat=\"60.0000000\""));
        model.reset();
        exporter.calls.clear();
    }
}

TEST_F(ClipExportRun, NoTrackWithoutGpsOrWhenNotAsked)
{
    make({clipA});
    services->telemetry.clear();
    finish(model->exportClip(request(75.5, 105.5, false)));
    ClipExportRequest noTrack = request(75.5, 105.5, false);
    services->telemetry["/card/A_F.mp4"] = track(50);
    noTrack.includeGPX = false;
    finish(model->exportClip(noTrack));
    EXPECT_EQ(files(), (QStringList{"CONT_0001_1m15.5-1m45.5_F 2.mov", "CONT_0001_1m15.5-1m45.5_F.mov"}));
    EXPECT_EQ(toastText(), "Exported 1 video(s)");
}

// The application's own exporter writes a real movie.
TEST_F(ClipExportRun, TheStandardExporterWritesAMovie)
{
    adjust = nullptr;
    make({clipA});
    ClipExportRequest r = request(0.5, 2.5, false);
    r.sources = {{Channel::front, TestSupport::media("export_aac.mp4")}};
    r.includeGPX = false;
    finish(model->exportClip(r));
    ASSERT_EQ(files(), QStringList{"CONT_0001_0m00.5-0m02.5_F.mov"});
    const QJsonObject probe = TestSupport::ffprobe(out() + "/" + files().first());
    EXPECT_NEAR(probe.value("format").toObject().value("duration").toString().toDouble(), 2.0, 0.04);
}

} // namespace
