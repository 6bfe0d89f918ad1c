// Export Clip: the application model's side of the export run.
#include "roadloom/model/AppModel.h"

#include "platform/Panels.h"
#include "roadcore/ClipExporter.h"

#include <QDeadlineTimer>
#include <QDebug>

ClipExportJob *AppModel::exportClip(const ClipExportRequest &request)
{
    if (!request.clip)
        return nullptr;
    const std::optional<QString> folder =
        m_panels->chooseFolder(QStringLiteral("Export ") + request.clip->name, QStringLiteral("Export Here"));
    if (!folder)
        return nullptr;

    ClipExportJob::Plan plan;
    plan.request = request;
    plan.folder = *folder;
    // The player's telemetry counts only while it still holds this recording, read to the end; the run
    // reads the files itself otherwise, so another recording played meanwhile never lends its track.
    const std::optional<DashClip> &loaded = m_player->clip();
    if (loaded && loaded->id == request.clip->id && m_player->isTelemetryRead())
        plan.telemetry = m_player->telemetry();
    plan.services = m_playerServices;
    plan.unit = speedUnit();
    plan.exportMovie =
        m_services.exportMovie ? m_services.exportMovie : MovieExporter(&ClipExporter::exportMovie);

    auto *job = new ClipExportJob(std::move(plan), this);
    connect(job, &ClipExportJob::succeeded, this, [this, job](const QString &lastMovie, int count) {
        show(QStringLiteral("Exported %1 video(s)").arg(count), QStringLiteral("film.stack.fill"), lastMovie);
        job->deleteLater();
    });
    connect(job, &ClipExportJob::failed, this, [this, job](const QString &message) {
        // An open sheet shows the failure in its own red row; once it has closed, only a toast can.
        if (!job->isWatched())
            showError(message);
        job->deleteLater();
    });
    job->start();
    return job;
}

void AppModel::cancelExports()
{
    const QList<ClipExportJob *> jobs = findChildren<ClipExportJob *>(Qt::FindDirectChildrenOnly);
    for (ClipExportJob *job : jobs)
        job->cancel();
    const QDeadlineTimer deadline(exportStopWait);
    for (ClipExportJob *job : jobs) {
        if (job->endsWithin(std::chrono::milliseconds(deadline.remainingTime()))) {
            job->cancelAndWait(); // ended: only joined
            continue;
        }
        // Its movie is written into a folder that stopped answering. The run goes on with the job it lives
        // in, which is kept for it, and ends with the program: what it leaves is a killed run's hidden
        // ".part" file, which the next run into that folder removes.
        qWarning() << "An export did not stop within" << exportStopWait.count()
                   << "ms; it is left to end with the program";
        job->setParent(nullptr);
    }
}
