#pragma once

#include "roadcore/Channel.h"
#include "roadcore/DashClip.h"
#include "roadcore/Telemetry.h"
#include "roadloom/model/ExportQuality.h"
#include "roadloom/model/PlayerServices.h"

#include <QDialog>
#include <QList>
#include <QPointer>
#include <QSet>

#include <optional>
#include <utility>

class AppModel;
class ClipExportJob;
class FormSection;
class QCheckBox;
class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QSlider;

// The sheet in which the user exports a time range of the loaded recording: the range (with the playhead
// and the G-sensor peak as shortcuts), the cameras, the quality and a GPX track of the range. "Export…"
// starts a run owned by the application model; the sheet shows its progress, closes when it succeeds and
// shows its failure in red. Closing the sheet never stops a run. The sheet stays with the recording loaded
// when it opened: playback goes on beneath it and may move to the next recording, whose files, length and
// telemetry it never takes.
class ExportClipSheet : public QDialog {
    Q_OBJECT
public:
    static constexpr int sheetWidth = 520;
    static constexpr double minimumLength = 0.5; // seconds

    explicit ExportClipSheet(AppModel &model, QWidget *parent = nullptr);
    ~ExportClipSheet() override;

    // Presents a sheet over `window` each time the model's showExportSheet becomes true, deleted when it
    // closes, which sets the flag back.
    static void follow(AppModel &model, QWidget *window);

    double start() const { return m_start; }
    double end() const { return m_end; }
    void setStart(double seconds); // the end follows when passed
    void setEnd(double seconds);   // the start follows when passed
    // The ticked cameras the player can play, with their files, in channel order.
    QList<std::pair<Channel, QString>> selectedSources() const;
    std::optional<double> progress() const { return m_progress; }
    std::optional<QString> error() const { return m_error; }
    // The recording the sheet exports from.
    const std::optional<DashClip> &clip() const { return m_clip; }
    bool canExport() const;

    QSlider *startSlider() const { return m_startSlider; }
    QSlider *endSlider() const { return m_endSlider; }
    QPushButton *startPlayheadButton() const { return m_startPlayhead; }
    QPushButton *endPlayheadButton() const { return m_endPlayhead; }
    QPushButton *peakButton() const { return m_peak; }
    QCheckBox *cameraToggle(Channel channel) const;
    QComboBox *qualityPicker() const { return m_quality; }
    QCheckBox *gpxToggle() const { return m_gpx; }
    QPushButton *exportButton() const { return m_export; }
    QPushButton *cancelButton() const { return m_cancel; }
    QLabel *lengthLabel() const { return m_lengthText; }
    QLabel *startLabel() const { return m_startText; }
    QLabel *endLabel() const { return m_endText; }
    QLabel *errorLabel() const { return m_errorText; }
    QProgressBar *progressBar() const { return m_progressBar; }

protected:
    void showEvent(QShowEvent *event) override;

private:
    double duration() const;
    // The player still holds the sheet's recording.
    bool holdsRecording() const;
    // Takes what the player knows of the sheet's recording, while it holds it.
    void takeFromPlayer();
    void buildForm();
    void setInitialRange();
    void rerange();
    void showRange();
    void showSources();
    void showTelemetry();
    void showRun();
    void startExport();
    void aroundPeak();
    QSlider *makeSlider();

    AppModel &m_model;
    std::optional<DashClip> m_clip;
    ChannelFiles m_sources;
    double m_duration = 0;
    std::optional<Telemetry> m_telemetry; // none until read
    double m_start = 0;
    double m_end = 0;
    QSet<Channel> m_channels{Channel::front, Channel::rear};
    ExportQuality m_qualityValue = ExportQuality::original;
    bool m_includeGPX = true;
    std::optional<double> m_progress;
    std::optional<QString> m_error;
    QPointer<ClipExportJob> m_job;
    bool m_shown = false;

    QWidget *m_form = nullptr;
    QSlider *m_startSlider = nullptr;
    QSlider *m_endSlider = nullptr;
    QLabel *m_startText = nullptr;
    QLabel *m_endText = nullptr;
    QLabel *m_lengthText = nullptr;
    QPushButton *m_startPlayhead = nullptr;
    QPushButton *m_endPlayhead = nullptr;
    QPushButton *m_peak = nullptr;
    FormSection *m_cameras = nullptr;
    QList<std::pair<Channel, QCheckBox *>> m_cameraToggles;
    QComboBox *m_quality = nullptr;
    QCheckBox *m_gpx = nullptr;
    QLabel *m_errorText = nullptr;
    QProgressBar *m_progressBar = nullptr;
    QLabel *m_exporting = nullptr;
    QPushButton *m_cancel = nullptr;
    QPushButton *m_export = nullptr;
};
