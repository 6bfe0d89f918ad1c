#include "roadloom/model/ClipExportJob.h"

#include "roadloom/model/TimeText.h"

#include "platform/FileIO.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(exportLog, "roadloom.export")

namespace {

QString fileName(const QString &path)
{
    return QFileInfo(path).fileName();
}

QString couldNotSave(const QString &path, const QString &reason)
{
    return QStringLiteral("The file \u201C%1\u201D couldn\u2019t be saved: %2").arg(fileName(path), reason);
}

} // namespace

ClipExportJob::ClipExportJob(Plan plan, QObject *parent) : QObject(parent), m_plan(std::move(plan))
{
    m_poll.setInterval(200);
    connect(&m_poll, &QTimer::timeout, this, &ClipExportJob::poll);
}

ClipExportJob::~ClipExportJob()
{
    cancelAndWait();
}

void ClipExportJob::start()
{
    if (m_started)
        return;
    m_started = true;
    m_poll.start();
    m_threadStarted = m_thread.start([this] {
        m_outcome = run();
        m_ended.release();
        // Delivered on the GUI thread; a job deleted meanwhile takes the call with it.
        QMetaObject::invokeMethod(this, &ClipExportJob::deliver, Qt::QueuedConnection);
        std::lock_guard lock(m_endMutex);
        m_threadEnded = true;
        m_endChanged.notify_all();
    });
    if (m_threadStarted)
        return;
    m_threadEnded = true;
    m_outcome.error =
        QStringLiteral("The export couldn\u2019t be started: the system has no thread to spare.");
    // Told later, as a run's end is, so that its caller has connected by then.
    QMetaObject::invokeMethod(this, &ClipExportJob::deliver, Qt::QueuedConnection);
}

bool ClipExportJob::cancelAndWait(QDeadlineTimer deadline)
{
    m_cancel = true;
    if (m_started && !deadline.isForever()) {
        std::unique_lock lock(m_endMutex);
        if (!m_endChanged.wait_for(lock, std::chrono::milliseconds(deadline.remainingTime()),
                                   [this] { return m_threadEnded; }))
            return false;
    }
    m_thread.join();
    m_poll.stop();
    return true;
}

void ClipExportJob::cancel()
{
    m_cancel = true;
    m_poll.stop();
}

bool ClipExportJob::endsWithin(std::chrono::milliseconds wait)
{
    if (!m_threadStarted || !m_ended.tryAcquire(1, int(wait.count())))
        return !m_threadStarted;
    m_ended.release(); // for the next one who asks
    return true;
}

QString ClipExportJob::nameSuffix(double start, double end)
{
    QString suffix = QLatin1Char('_') + timeString(start) + QLatin1Char('-') + timeString(end);
    return suffix.replace(QLatin1Char(':'), QLatin1Char('m'));
}

QString ClipExportJob::partialPath(const QString &path)
{
    const QFileInfo info(path);
    return info.dir().filePath(QLatin1Char('.') + info.fileName() + QStringLiteral(".part"));
}

namespace {

QByteArray native(const QString &path)
{
    return QFile::encodeName(path);
}

bool existsAt(const QByteArray &path)
{
    struct stat st {};
    return ::lstat(path.constData(), &st) == 0;
}

// Whether the path still names the open file: a file removed and made again under the name is another.
bool stillNamed(int fd, const QByteArray &path)
{
    struct stat held {
    }, named{};
    return ::fstat(fd, &held) == 0 && ::lstat(path.constData(), &named) == 0 && held.st_dev == named.st_dev &&
           held.st_ino == named.st_ino;
}

QString systemText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

ClipExportJob::Reservation::Reservation(QString path, QString partial, UniqueFd lock)
    : m_path(std::move(path)), m_partial(std::move(partial)), m_lock(std::move(lock))
{
}

ClipExportJob::Reservation::~Reservation()
{
    if (m_lock && stillNamed(m_lock.get(), native(m_partial)))
        ::unlink(native(m_partial).constData());
}

Result<QString> ClipExportJob::Reservation::complete()
{
    std::optional<Reservation> next; // keeps the next name until this file has it
    const QString wanted = m_path;   // numbered again from the name asked for, not from a taken " 2"
    for (int attempt = 0; attempt < 100; ++attempt) {
        const int error = moveWithoutReplacing(native(m_partial), native(m_path));
        if (error == 0) {
            m_lock.reset();
            return m_path;
        }
        if (error != EEXIST)
            return Failure{couldNotSave(m_path, systemText(error))};
        // Someone else's file took the name while this one was written: the next free name instead.
        Result<Reservation> other = reserve(wanted);
        if (!other)
            return other.failure();
        m_path = other->path();
        next.reset();
        next.emplace(std::move(*other));
    }
    return Failure{couldNotSave(m_path, systemText(EEXIST))};
}

int ClipExportJob::moveWithoutReplacing(const QByteArray &from, const QByteArray &to, bool oneStep)
{
    if (oneStep) {
        if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
            return 0;
        if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
            return errno;
    }
    // The file system cannot rename without replacing: a second name never replaces either, and the
    // first one goes once the file has the new one.
    if (::link(from.constData(), to.constData()) == 0) {
        ::unlink(from.constData());
        return 0;
    }
    if (errno == EEXIST)
        return EEXIST;
    if (errno != EPERM && errno != ENOTSUP && errno != ENOSYS && errno != EMLINK)
        return errno;
    // Nor a second name (FAT): a look just before the move has to do.
    if (existsAt(to))
        return EEXIST;
    return ::rename(from.constData(), to.constData()) == 0 ? 0 : errno;
}

Result<ClipExportJob::Reservation> ClipExportJob::reserve(const QString &path)
{
    const QFileInfo info(path);
    const QString base = info.completeBaseName();
    const QString ext = info.suffix();
    int retries = 0;
    for (int n = 1; n < 100000; ++n) {
        QString candidate = path;
        if (n > 1) {
            QString name = base + QLatin1Char(' ') + QString::number(n);
            if (!ext.isEmpty())
                name += QLatin1Char('.') + ext;
            candidate = info.dir().filePath(name);
        }
        const QByteArray named = native(candidate);
        if (existsAt(named))
            continue;
        const QString partial = partialPath(candidate);
        const QByteArray hidden = native(partial);
        UniqueFd fd(::open(hidden.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
        if (!fd) {
            // Held by another run: try the next name. Anything else will fail for every name.
            if (errno == EEXIST)
                continue;
            return Failure{couldNotSave(candidate, systemText(errno))};
        }
        // Waits out a run clearing up abandoned files, which may have taken this one for such a file. Where
        // the file system has no locks the file stays unlocked, and no run removes it as abandoned.
        ::flock(fd.get(), LOCK_EX);
        if (!stillNamed(fd.get(), hidden)) {
            if (++retries < 100)
                --n;
            continue;
        }
        if (existsAt(named)) { // a run finished into the name just now
            ::unlink(hidden.constData());
            continue;
        }
        return Reservation(candidate, partial, std::move(fd));
    }
    return Failure{couldNotSave(path, QStringLiteral("Too many files of that name."))};
}

void ClipExportJob::removeAbandoned(const QString &folder)
{
    const QDir dir(folder);
    const QStringList names = dir.entryList({QStringLiteral(".*.mov.part"), QStringLiteral(".*.gpx.part")},
                                            QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks);
    for (const QString &name : names) {
        const QByteArray hidden = native(dir.filePath(name));
        const UniqueFd fd(::open(hidden.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        struct stat st {};
        if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
            continue;
        // A run still going holds its lock; only a run that ended without clearing up lets it go.
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0 || !stillNamed(fd.get(), hidden))
            continue;
        ::unlink(hidden.constData());
        // Earlier versions also created the name itself, empty, as the reservation.
        const QByteArray named = native(dir.filePath(name.sliced(1, name.size() - 6)));
        struct stat reserved {};
        if (::lstat(named.constData(), &reserved) == 0 && S_ISREG(reserved.st_mode) && reserved.st_size == 0)
            ::unlink(named.constData());
    }
}

ClipExportJob::Outcome ClipExportJob::run()
{
    const ClipExportRequest &request = m_plan.request;
    Outcome outcome;
    if (!request.clip)
        return outcome;
    QString base = request.clip->name;
    base.replace(QLatin1Char('/'), QLatin1Char('-'));
    const QString stem = QDir(m_plan.folder).filePath(base + nameSuffix(request.start, request.end));
    const ExportPreset moviePreset = preset(request.quality);

    removeAbandoned(m_plan.folder);
    for (qsizetype i = 0; i < request.sources.size(); ++i) {
        if (m_cancel) {
            outcome.cancelled = true;
            return outcome;
        }
        const auto &[channel, source] = request.sources[i];
        m_fraction = 0;
        m_index = int(i);
        Result<Reservation> reserved =
            reserve(stem + QLatin1Char('_') + rawValue(channel) + QStringLiteral(".mov"));
        if (!reserved) {
            outcome.error = reserved.error();
            return outcome;
        }
        const Result<void> written = m_plan.exportMovie(source, request.start, request.end, moviePreset,
                                                        reserved->partial(), &m_fraction, &m_cancel);
        if (!written || m_cancel) {
            if (m_cancel)
                outcome.cancelled = true;
            else
                outcome.error = written.error();
            return outcome;
        }
        const Result<QString> named = reserved->complete();
        if (!named) {
            outcome.error = named.error();
            return outcome;
        }
        m_fraction = 1;
        outcome.lastMovie = *named;
        ++outcome.movies;
    }
    if (request.includeGPX)
        outcome.error = writeTrack();
    return outcome;
}

std::optional<QString> ClipExportJob::writeTrack()
{
    const ClipExportRequest &request = m_plan.request;
    const DashClip &clip = *request.clip;
    Telemetry telemetry;
    if (m_plan.telemetry) {
        telemetry = *m_plan.telemetry;
    } else if (m_plan.services.readTelemetry) {
        const DashClip resolved = m_plan.services.resolve ? m_plan.services.resolve(clip) : clip;
        telemetry = m_plan.services.readTelemetry(resolved.files);
    }
    if (!telemetry.hasGPS())
        return std::nullopt;

    QList<GPSFix> kept;
    for (GPSFix fix : telemetry.gps) {
        if (fix.time < request.start || fix.time > request.end)
            continue;
        fix.time -= request.start;
        kept.append(fix);
    }
    Telemetry range = telemetry;
    range.gps = kept;
    std::optional<QDateTime> startDate;
    if (clip.date)
        startDate = clip.date->addMSecs(std::llround(request.start * 1000));
    const QByteArray text =
        TelemetryExporter::exportText(range, TelemetryFormat::gpx, clip.name, startDate, m_plan.unit)
            .toUtf8();

    QString base = clip.name;
    base.replace(QLatin1Char('/'), QLatin1Char('-'));
    Result<Reservation> reserved = reserve(
        QDir(m_plan.folder).filePath(base + nameSuffix(request.start, request.end) + QStringLiteral(".gpx")));
    if (!reserved)
        return reserved.error();
    if (!FileIO::writeFully(reserved->descriptor(), text.constData(), text.size()))
        return couldNotSave(reserved->path(), systemText(errno));
    if (::fsync(reserved->descriptor()) != 0)
        return couldNotSave(reserved->path(), systemText(errno));
    if (const Result<QString> named = reserved->complete(); !named)
        return named.error();
    return std::nullopt;
}

void ClipExportJob::poll()
{
    const qsizetype n = m_plan.request.sources.size();
    if (n == 0)
        return;
    const double f = std::clamp(m_fraction.load(), 0.0, 1.0);
    const double overall = std::clamp((m_index.load() + f) / double(n), 0.0, 1.0);
    // The index and the fraction are read apart; the bar never steps back for it.
    if (overall <= m_progress)
        return;
    m_progress = overall;
    emit progressChanged(m_progress);
}

void ClipExportJob::deliver()
{
    m_thread.join();
    m_poll.stop();
    m_done = true;
    if (m_outcome.cancelled)
        return;
    if (m_outcome.error) {
        qCWarning(exportLog) << "export failed:" << *m_outcome.error;
        emit failed(*m_outcome.error);
        return;
    }
    poll();
    emit succeeded(m_outcome.lastMovie, m_outcome.movies);
}
