#include "roadloom/model/FrameActions.h"

#include "platform/AtomicFile.h"
#include "platform/Defaults.h"
#include "platform/gui/ImagePrinter.h"
#include "roadloom/model/AppModel.h"
#include "roadloom/model/PrintReport.h"

#include <QBuffer>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>

#include <cmath>

FrameActions::FrameActions(AppModel &model, ImagePrinter &printer, FileAccess beforeFileAccess)
    : m_model(model), m_printer(printer), m_beforeFileAccess(std::move(beforeFileAccess)), m_writes(&model)
{
}

VideoPlayer &FrameActions::mainStagePlayer() const
{
    return m_model.player().swapped() && m_model.player().hasRear() ? m_model.player().rear()
                                                                    : m_model.player().front();
}

Result<QByteArray> FrameActions::pngData(const QImage &image)
{
    QByteArray data;
    QBuffer buffer(&data);
    if (image.isNull() || !buffer.open(QIODevice::WriteOnly) || !image.save(&buffer, "PNG"))
        return Failure{QStringLiteral("The file couldn\u2019t be saved.")};
    return data;
}

QString FrameActions::snapshotFileName(const QString &clipName, Channel channel, double seconds)
{
    QString name = clipName;
    name.replace(QLatin1Char('/'), QLatin1Char('-'));
    const double millis = std::isfinite(seconds) ? std::round(seconds * 1000) : 0.0;
    return name + QLatin1Char('_') + rawValue(channel) + QLatin1Char('_') +
           QString::number(static_cast<qint64>(millis)) + QStringLiteral(".png");
}

QString FrameActions::snapshotFolder() const
{
    const QVariant stored = m_model.defaults().value(QStringLiteral("snapshotFolder"));
    const QString path = stored.typeId() == QMetaType::QString ? stored.toString() : QString();
    return path.isEmpty() ? QDir::homePath() : path;
}

QFuture<void> FrameActions::snapshot(std::optional<Channel> channel)
{
    const std::optional<DashClip> clip = m_model.player().clip();
    if (!clip)
        return QtFuture::makeReadyFuture();
    Channel shown = Channel::front;
    VideoPlayer *player = &m_model.player().front();
    if (channel) {
        shown = *channel;
        player = shown == Channel::front ? &m_model.player().front() : &m_model.player().rear();
    } else if (m_model.player().swapped() && m_model.player().hasRear()) {
        shown = Channel::rear;
        player = &m_model.player().rear();
    }
    const Result<QImage> image = m_model.player().frameImage(*player);
    if (!image) {
        m_model.showError(image.error());
        return QtFuture::makeReadyFuture();
    }
    const QString folder = snapshotFolder();
    const QString name = snapshotFileName(clip->name, shown, m_model.player().currentTime());
    return m_writes.run(
        [folder, name, image = *image, before = m_beforeFileAccess]() -> Result<QString> {
            if (before)
                before(folder);
            if (!QDir().mkpath(folder))
                return Failure{
                    QStringLiteral("The folder \u201C%1\u201D couldn\u2019t be created.").arg(folder)};
            const QString path = QDir(folder).filePath(name);
            const Result<QByteArray> data = pngData(image);
            if (!data)
                return data.failure();
            // Written beside it and renamed into place: a full disk leaves no cut-off picture under the name.
            if (const Result<void> written = AtomicFile::write(path, *data); !written)
                return written.failure();
            return path;
        },
        [model = &m_model](const Result<QString> &saved) {
            if (!saved)
                return model->showError(saved.error());
            model->show(QStringLiteral("Snapshot saved"), QStringLiteral("camera.fill"), *saved);
        });
}

void FrameActions::copyFrame()
{
    const Result<QImage> image = m_model.player().frameImage(mainStagePlayer());
    if (!image)
        return m_model.showError(image.error());
    QClipboard *clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setImage(*image);
    m_model.show(QStringLiteral("Frame copied"), QStringLiteral("doc.on.clipboard.fill"));
}

void FrameActions::printFrame()
{
    const std::optional<DashClip> clip = m_model.player().clip();
    if (!clip)
        return;
    const Result<QImage> front = m_model.player().frameImage(m_model.player().front());
    if (!front)
        return m_model.showError(front.error());
    std::optional<QImage> rear;
    if (m_model.player().hasRear())
        if (Result<QImage> image = m_model.player().frameImage(m_model.player().rear()))
            rear = *image;
    const double t = m_model.player().currentTime();
    const Telemetry &telemetry = m_model.player().telemetry();
    const PrintReport report{
        *clip, t, *front, rear, telemetry.gpsAt(t), telemetry.sensorAt(t), m_model.speedUnit()};
    const QImage page = report.render(2.0);
    if (page.isNull())
        return;
    m_printer.print(page, clip->name);
}
