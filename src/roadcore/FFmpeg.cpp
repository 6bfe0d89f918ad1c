#include "roadcore/FFmpeg.h"

#include "platform/Defaults.h"
#include "platform/RegularFile.h"
#include "platform/StandardFolders.h"
#include "platform/Utf8.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QProcess>
#include <QTextBoundaryFinder>
#include <QWaitCondition>

#include <algorithm>

namespace FFmpeg {

namespace {

constexpr int descriptionTail = 600;

// The last `count` grapheme clusters of a text, or all of it when shorter.
QString lastGraphemes(const QString &text, int count)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    finder.toEnd();
    for (int i = 0; i < count; ++i) {
        if (finder.toPreviousBoundary() <= 0)
            return text;
    }
    return text.mid(finder.position());
}

// Two loads of one recording may convert the same stream at once; they must not write one partial movie
// together. A conversion holds its output path here until it ends.
class OutputPaths {
public:
    void acquire(const QString &path)
    {
        QMutexLocker lock(&m_mutex);
        while (m_busy.contains(path))
            m_released.wait(&m_mutex);
        m_busy.insert(path);
    }
    void release(const QString &path)
    {
        QMutexLocker lock(&m_mutex);
        m_busy.remove(path);
        m_released.wakeAll();
    }

private:
    QMutex m_mutex;
    QWaitCondition m_released;
    QSet<QString> m_busy;
};

OutputPaths &outputPaths()
{
    static OutputPaths paths;
    return paths;
}

class HeldPath {
public:
    explicit HeldPath(QString path) : m_path(std::move(path)) { outputPaths().acquire(m_path); }
    ~HeldPath() { outputPaths().release(m_path); }
    HeldPath(const HeldPath &) = delete;
    HeldPath &operator=(const HeldPath &) = delete;

private:
    QString m_path;
};

bool isExecutableFile(const QString &path)
{
    const QFileInfo info(path);
    return info.isFile() && info.isExecutable();
}

qint64 modificationSeconds(const QString &path)
{
    const QDateTime modified = QFileInfo(path).fileTime(QFileDevice::FileModificationTime);
    if (!modified.isValid())
        return 0;
    return modified.toMSecsSinceEpoch() / 1000; // cut toward zero
}

QStringList conversionArguments(const QString &aviPath, int streamIndex, const QString &partialPath,
                                bool reencode)
{
    QStringList arguments{QStringLiteral("-y"),
                          QStringLiteral("-v"),
                          QStringLiteral("error"),
                          QStringLiteral("-i"),
                          aviPath,
                          QStringLiteral("-map"),
                          QStringLiteral("0:v:") + QString::number(streamIndex),
                          QStringLiteral("-map"),
                          QStringLiteral("0:a:0?"),
                          QStringLiteral("-c:v")};
    if (reencode)
        arguments << QStringLiteral("libx264") << QStringLiteral("-b:v") << QStringLiteral("12M");
    else
        arguments << QStringLiteral("copy");
    arguments << QStringLiteral("-c:a") << QStringLiteral("aac") << partialPath;
    return arguments;
}

} // namespace

QString Failure::errorDescription() const
{
    switch (kind) {
    case Kind::failed:
        return QStringLiteral("ffmpeg could not convert this file.\n\n") +
               lastGraphemes(payload, descriptionTail);
    case Kind::missing:
        break;
    }
    return QStringLiteral(
        "AVI playback needs ffmpeg. Install it with your package manager (for example: sudo apt "
        "install ffmpeg) or choose its location in Settings.");
}

QStringList candidates()
{
    QStringList paths;
    const QString chosen = Defaults::standard().string(pathDefaultsKey);
    if (!chosen.isEmpty())
        paths << chosen;
    if (QCoreApplication::instance()) {
        const QString beside = QCoreApplication::applicationDirPath() + QStringLiteral("/ffmpeg");
        if (QFileInfo::exists(beside))
            paths << beside;
    }
    paths << QStringLiteral("/usr/bin/ffmpeg") << QStringLiteral("/usr/local/bin/ffmpeg");
    return paths;
}

std::optional<QString> executable()
{
    for (const QString &path : candidates()) {
        if (isExecutableFile(path))
            return path;
    }
    return std::nullopt;
}

QString cacheDirectory()
{
    const QString folder = StandardFolders::converted();
    QDir().mkpath(folder);
    return folder;
}

QString movieName(const QString &aviPath, int streamIndex)
{
    static const char letters[] = {'f', 'r', 'i'};
    const QChar letter = QLatin1Char(letters[std::clamp(streamIndex, 0, 2)]);
    return QFileInfo(aviPath).completeBaseName() + QLatin1Char('-') +
           QString::number(modificationSeconds(aviPath)) + QLatin1Char('_') + letter + QStringLiteral(".mov");
}

Result<QStringList> playableStreams(const QString &aviPath, int streamCount)
{
    return playableStreams(aviPath, streamCount, executable());
}

Result<QStringList> playableStreams(const QString &aviPath, int streamCount,
                                    const std::optional<QString> &program)
{
    if (!program)
        return ::Failure(Failure::missing());
    // ffmpeg would wait for good on a named pipe given as its input.
    if (RegularFile::openDescriptor(aviPath).special)
        return ::Failure{RegularFile::notRegularText(aviPath)};
    const QString folder = cacheDirectory();
    const int count = std::clamp(streamCount, 1, 3);
    QStringList outputs;
    for (int i = 0; i < count; ++i) {
        const QString output = folder + QLatin1Char('/') + movieName(aviPath, i);
        if (QFileInfo::exists(output)) {
            outputs << output;
            continue;
        }
        const HeldPath held(output);
        // Another conversion of the same stream may have finished while this one waited.
        if (QFileInfo::exists(output)) {
            outputs << output;
            continue;
        }
        const QString partial = output.chopped(3) + QStringLiteral("part.mov");
        Result<RunOutcome> rewrap = run(*program, conversionArguments(aviPath, i, partial, false));
        if (!rewrap)
            return rewrap.failure();
        if (rewrap->status != 0) {
            Result<RunOutcome> reencode = run(*program, conversionArguments(aviPath, i, partial, true));
            if (!reencode)
                return reencode.failure();
            if (reencode->status != 0)
                return ::Failure(Failure::failed(reencode->log));
        }
        QFile partialFile(partial);
        if (!partialFile.rename(output))
            return ::Failure{partialFile.errorString()};
        outputs << output;
    }
    return outputs;
}

Result<RunOutcome> run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.start(QIODevice::ReadOnly);
    if (!process.waitForStarted(-1))
        return ::Failure{process.errorString()};
    // Waiting drains the error pipe into the process's buffer as the program writes, so no amount of output
    // can stall it.
    process.waitForFinished(-1);
    RunOutcome outcome;
    outcome.log = Utf8::decode(process.readAllStandardError());
    outcome.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return outcome;
}

} // namespace FFmpeg
