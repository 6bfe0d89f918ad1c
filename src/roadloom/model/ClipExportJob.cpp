#include "roadloom/model/ClipExportJob.h"

#include "roadloom/model/TimeText.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSaveFile>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

Q_LOGGING_CATEGORY(exportLog, "roadloom.export")

namespace {

QString fileName(const QString &path)
{
    return QFileInfo(path).fileName();
}

// The hidden name a movie is written under until it is complete.
QString partialPath(const QString &reserved)
{
    const QFileInfo info(reserved);
    return info.dir().filePath(QLatin1Char('.') + info.fileName() + QStringLiteral(".part"));
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
    if (m_thread.joinable())
        return;
    m_poll.start();
    m_thread = std::thread([this] {
        m_outcome = run();
        // Delivered on the GUI thread; a job deleted meanwhile takes the call with it.
        QMetaObject::invokeMethod(this, &ClipExportJob::deliver, Qt::QueuedConnection);
    });
}

void ClipExportJob::cancelAndWait()
{
    m_cancel = true;
    if (m_thread.joinable())
        m_thread.join();
    m_poll.stop();
}

QString ClipExportJob::nameSuffix(double start, double end)
{
    QString suffix = QLatin1Char('_') + timeString(start) + QLatin1Char('-') + timeString(end);
    return suffix.replace(QLatin1Char(':'), QLatin1Char('m'));
}

Result<QString> ClipExportJob::reserve(const QString &path)
{
    const QFileInfo info(path);
    const QString base = info.completeBaseName();
    const QString ext = info.suffix();
    for (int n = 1; n < 100000; ++n) {
        QString candidate = path;
        if (n > 1) {
            QString name = base + QLatin1Char(' ') + QString::number(n);
            if (!ext.isEmpty())
                name += QLatin1Char('.') + ext;
            candidate = info.dir().filePath(name);
        }
        QFile file(candidate);
        if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            return candidate;
        // Another name is taken: try the next. Anything else will fail for every name.
        if (!QFileInfo::exists(candidate) && !QFileInfo(candidate).isSymLink())
            return Failure{couldNotSave(candidate, file.errorString())};
    }
    return Failure{couldNotSave(path, QStringLiteral("Too many files of that name."))};
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

    for (qsizetype i = 0; i < request.sources.size(); ++i) {
        if (m_cancel) {
            outcome.cancelled = true;
            return outcome;
        }
        const auto &[channel, source] = request.sources[i];
        m_fraction = 0;
        m_index = int(i);
        const Result<QString> reserved =
            reserve(stem + QLatin1Char('_') + rawValue(channel) + QStringLiteral(".mov"));
        if (!reserved) {
            outcome.error = reserved.error();
            return outcome;
        }
        const QString partial = partialPath(*reserved);
        const Result<void> written = m_plan.exportMovie(source, request.start, request.end, moviePreset,
                                                        partial, &m_fraction, &m_cancel);
        if (!written || m_cancel) {
            QFile::remove(partial);
            QFile::remove(*reserved);
            if (m_cancel)
                outcome.cancelled = true;
            else
                outcome.error = written.error();
            return outcome;
        }
        // rename(2) replaces the reservation in one step; QFile::rename would refuse an existing name.
        if (std::rename(QFile::encodeName(partial).constData(), QFile::encodeName(*reserved).constData()) !=
            0) {
            const QString reason = QString::fromLocal8Bit(std::strerror(errno));
            QFile::remove(partial);
            QFile::remove(*reserved);
            outcome.error = couldNotSave(*reserved, reason);
            return outcome;
        }
        m_fraction = 1;
        outcome.lastMovie = *reserved;
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
    const Result<QString> reserved = reserve(
        QDir(m_plan.folder).filePath(base + nameSuffix(request.start, request.end) + QStringLiteral(".gpx")));
    if (!reserved)
        return reserved.error();
    QSaveFile file(*reserved);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit()) {
        const QString reason = file.errorString();
        QFile::remove(*reserved);
        return couldNotSave(*reserved, reason);
    }
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
    if (m_thread.joinable())
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
