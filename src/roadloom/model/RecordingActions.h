#pragma once

#include "platform/Alerts.h"
#include "roadcore/DashClip.h"
#include "roadcore/Telemetry.h"
#include "roadcore/TelemetryExporter.h"
#include "platform/LoneThreads.h"
#include "roadloom/model/PlayerServices.h"

#include <QFuture>
#include <QObject>
#include <QString>
#include <QThreadPool>

#include <functional>
#include <optional>

class AppModel;
class Panels;

// The user's actions on a whole recording: save its original files, export its telemetry, move it to the
// Trash. Each reports its result as a toast of the model; the returned futures end when it was shown.
class RecordingActions : public QObject {
    Q_OBJECT
public:
    using FileAccess = std::function<void(const QString &path)>;
    // `trash`, when given, replaces what a confirmed Move to Trash does; `beforeFileAccess`, when given, is
    // called off the GUI thread before a user's file is looked at or written.
    RecordingActions(AppModel &model, Panels &panels, Alerts &alerts, PlayerServices services,
                     std::function<void(const DashClip &clip)> trash, FileAccess beforeFileAccess = {});
    ~RecordingActions() override;

    QFuture<void> saveOriginals(const std::optional<DashClip> &clip);
    QFuture<void> exportTelemetry(TelemetryFormat format, const std::optional<DashClip> &clip);
    // Asks before a recording goes to the Trash; whether its card files are back is asked of the disk off
    // the GUI thread first, so the question may come later. The future finishes once it was answered.
    QFuture<void> trash(const DashClip &clip);

    // The path itself when nothing is there, else the first free "base N.ext" for N = 2, 3, ...
    static QString uniqueURL(const QString &path);
    // The confirmation asked before a recording goes to the Trash, worded by its storage.
    static Alert trashAlert(const DashClip &clip);
    // The MIME type the save panel offers for an export format.
    static QString mimeType(TelemetryFormat format);

private:
    QFuture<void> writeExport(const Telemetry &telemetry, TelemetryFormat format, const DashClip &clip);
    void confirmTrash(const DashClip &clip);

    AppModel &m_model;
    Panels &m_panels;
    Alerts &m_alerts;
    PlayerServices m_playerServices;
    std::function<void(const DashClip &clip)> m_trash;
    FileAccess m_beforeFileAccess;
    QThreadPool m_pool;
    LoneThreads m_looks{this}; // last: no answer arrives once the rest is gone
};
