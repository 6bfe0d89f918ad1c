#pragma once

#include "platform/Alerts.h"
#include "roadcore/DashClip.h"
#include "roadcore/Telemetry.h"
#include "roadcore/TelemetryExporter.h"
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
    // `trash`, when given, replaces what a confirmed Move to Trash does.
    RecordingActions(AppModel &model, Panels &panels, Alerts &alerts, PlayerServices services,
                     std::function<void(const DashClip &clip)> trash);
    ~RecordingActions() override;

    QFuture<void> saveOriginals(const std::optional<DashClip> &clip);
    QFuture<void> exportTelemetry(TelemetryFormat format, const std::optional<DashClip> &clip);
    void trash(const DashClip &clip);

    // The path itself when nothing is there, else the first free "base N.ext" for N = 2, 3, ...
    static QString uniqueURL(const QString &path);
    // The confirmation asked before a recording goes to the Trash, worded by its storage.
    static Alert trashAlert(const DashClip &clip);
    // The MIME type the save panel offers for an export format.
    static QString mimeType(TelemetryFormat format);

private:
    void writeExport(const Telemetry &telemetry, TelemetryFormat format, const DashClip &clip);

    AppModel &m_model;
    Panels &m_panels;
    Alerts &m_alerts;
    PlayerServices m_playerServices;
    std::function<void(const DashClip &clip)> m_trash;
    QThreadPool m_pool;
};
