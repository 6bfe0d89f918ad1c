#include "roadloom/ui/export/ExportClipSheet.h"

#include "roadloom/model/AppModel.h"
#include "roadloom/model/ClipExportJob.h"
#include "roadloom/model/TimeText.h"
#include "roadloom/ui/widgets/FormSection.h"
#include "roadloom/ui/widgets/Palette.h"
#include "roadloom/ui/widgets/TextStyles.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>

#include <algorithm>
#include <cmath>

namespace {

constexpr int timeTextWidth = 64;
constexpr int progressWidth = 200;

QString cameraTitle(Channel channel)
{
    switch (channel) {
    case Channel::front:
        return QStringLiteral("Front");
    case Channel::rear:
        return QStringLiteral("Rear");
    case Channel::interior:
        return QStringLiteral("Interior");
    }
    return {};
}

// Lets the row's value take the width the label leaves.
void widenValue(FormSection *section, int row)
{
    QWidget *value = section->rowWidget(row);
    auto *line = value ? qobject_cast<QBoxLayout *>(value->parentWidget()->layout()) : nullptr;
    if (!line)
        return;
    for (int i = 0; i < line->count(); ++i)
        line->setStretch(i, line->itemAt(i)->widget() == value ? 1 : 0);
}

} // namespace

ExportClipSheet::ExportClipSheet(AppModel &model, QWidget *parent) : QDialog(parent), m_model(model)
{
    setWindowTitle(QStringLiteral("Export Clip"));
    setWindowModality(Qt::WindowModal);
    setFixedWidth(sheetWidth);
    buildForm();

    PlayerController &player = m_model.player();
    m_clip = player.clip();
    // The recording may still be loading: its length, files and telemetry arrive later.
    connect(&player, &PlayerController::clipChanged, this, &ExportClipSheet::takeFromPlayer);
    connect(&player, &PlayerController::durationChanged, this, &ExportClipSheet::takeFromPlayer);
    connect(&player, &PlayerController::sourcesChanged, this, &ExportClipSheet::takeFromPlayer);
    connect(&player, &PlayerController::telemetryChanged, this, &ExportClipSheet::takeFromPlayer);
    connect(&player, &PlayerController::isLoadingTelemetryChanged, this, &ExportClipSheet::takeFromPlayer);
    takeFromPlayer();

    rerange();
    showRange();
    showSources();
    showTelemetry();
    showRun();
}

ExportClipSheet::~ExportClipSheet()
{
    // From now on nobody shows this run's failure but the model.
    if (m_job)
        m_job->setWatched(false);
}

void ExportClipSheet::follow(AppModel &model, QWidget *window)
{
    auto present = [&model, window = QPointer<QWidget>(window)](bool show) {
        if (!show || !window || window->findChild<ExportClipSheet *>(QString(), Qt::FindDirectChildrenOnly))
            return;
        auto *sheet = new ExportClipSheet(model, window);
        sheet->setAttribute(Qt::WA_DeleteOnClose);
        connect(sheet, &QDialog::finished, &model, [&model] { model.setShowExportSheet(false); });
        sheet->open();
    };
    QObject::connect(&model, &AppModel::showExportSheetChanged, window, present);
    if (model.showExportSheet())
        present(true);
}

double ExportClipSheet::duration() const
{
    return std::isfinite(m_duration) && m_duration > 0 ? m_duration : 0;
}

bool ExportClipSheet::holdsRecording() const
{
    const std::optional<DashClip> &loaded = m_model.player().clip();
    return m_clip && loaded && loaded->id == m_clip->id;
}

void ExportClipSheet::takeFromPlayer()
{
    const PlayerController &player = m_model.player();
    const bool holds = holdsRecording();
    // The playhead is another recording's once the player has moved on.
    m_startPlayhead->setEnabled(holds);
    m_endPlayhead->setEnabled(holds);
    if (!holds)
        return;
    m_clip = player.clip(); // as resolved
    if (m_duration != player.duration()) {
        m_duration = player.duration();
        rerange();
        showRange();
    }
    if (m_sources != player.sources()) {
        m_sources = player.sources();
        showSources();
    }
    if (player.isTelemetryRead())
        m_telemetry = player.telemetry();
    else
        m_telemetry.reset();
    showTelemetry();
}

QSlider *ExportClipSheet::makeSlider()
{
    auto *slider = new QSlider(Qt::Horizontal);
    slider->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    return slider;
}

void ExportClipSheet::buildForm()
{
    m_form = new QWidget(this);
    auto *form = new QVBoxLayout(m_form);
    form->setContentsMargins(20, 20, 20, 12);
    form->setSpacing(18);

    // Range
    auto *range = new FormSection(QStringLiteral("Range"), m_form);
    auto rangeRow = [&](const QString &name, QSlider *&slider, QLabel *&text, QPushButton *&playhead) {
        auto *value = new QWidget;
        auto *line = new QHBoxLayout(value);
        line->setContentsMargins(0, 0, 0, 0);
        line->setSpacing(8);
        slider = makeSlider();
        slider->setAccessibleName(name);
        text = new QLabel;
        text->setFont(TextStyles::body());
        text->setFixedWidth(timeTextWidth);
        text->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        playhead = new QPushButton(QStringLiteral("Playhead"));
        playhead->setFont(TextStyles::callout());
        playhead->setAutoDefault(false);
        line->addWidget(slider, 1);
        line->addWidget(text);
        line->addWidget(playhead);
        const int row = range->addRow(value);
        widenValue(range, row);
    };
    rangeRow(QStringLiteral("Start"), m_startSlider, m_startText, m_startPlayhead);
    rangeRow(QStringLiteral("End"), m_endSlider, m_endText, m_endPlayhead);
    m_lengthText = new QLabel;
    m_lengthText->setFont(TextStyles::body());
    range->addRow(QStringLiteral("Length"), m_lengthText);
    form->addWidget(range);

    m_peak = new QPushButton(QStringLiteral("Around peak impact (\u00B110 s)"));
    m_peak->setFlat(true);
    m_peak->setAutoDefault(false);
    m_peak->setCursor(Qt::PointingHandCursor);
    m_peak->setFont(TextStyles::callout());
    {
        // A link: the accent colour, and a faint but legible grey when there is no peak to go to.
        QPalette p = m_peak->palette();
        p.setColor(QPalette::Active, QPalette::ButtonText, Palette::accent(palette()));
        p.setColor(QPalette::Inactive, QPalette::ButtonText, Palette::accent(palette()));
        p.setColor(QPalette::Disabled, QPalette::ButtonText, Palette::tertiaryText(palette()));
        m_peak->setPalette(p);
        m_peak->setStyleSheet(
            QStringLiteral("QPushButton { border: none; padding: 0 10px; text-align: left; }"));
    }
    // The footer of the range, close under its panel.
    form->addSpacing(-12);
    form->addWidget(m_peak, 0, Qt::AlignLeft);

    // Cameras
    m_cameras = new FormSection(QStringLiteral("Cameras"), m_form);
    for (Channel channel : allChannels) {
        auto *toggle = new QCheckBox(cameraTitle(channel));
        toggle->setChecked(m_channels.contains(channel));
        m_cameras->addRow(toggle);
        m_cameraToggles.append({channel, toggle});
        connect(toggle, &QCheckBox::toggled, this, [this, channel](bool on) {
            if (on)
                m_channels.insert(channel);
            else
                m_channels.remove(channel);
            showRun();
        });
    }
    form->addWidget(m_cameras);

    // Format
    auto *format = new FormSection(QStringLiteral("Format"), m_form);
    m_quality = new QComboBox;
    for (ExportQuality quality : allExportQualities)
        m_quality->addItem(label(quality), rawValue(quality));
    m_quality->setCurrentIndex(int(m_qualityValue));
    connect(m_quality, &QComboBox::activated, this,
            [this](int index) { m_qualityValue = allExportQualities[std::clamp(index, 0, 4)]; });
    format->addRow(QStringLiteral("Video"), m_quality);
    m_gpx = new QCheckBox(QStringLiteral("Also save GPS track (.gpx) for this range"));
    m_gpx->setChecked(m_includeGPX);
    connect(m_gpx, &QCheckBox::toggled, this, [this](bool on) { m_includeGPX = on; });
    format->addRow(m_gpx);
    form->addWidget(format);

    m_errorText = new QLabel;
    m_errorText->setWordWrap(true);
    m_errorText->setTextFormat(Qt::PlainText);
    m_errorText->setFont(TextStyles::callout());
    {
        QPalette p = m_errorText->palette();
        p.setColor(QPalette::WindowText, Palette::red(palette()));
        m_errorText->setPalette(p);
    }
    m_errorText->setContentsMargins(10, 0, 10, 0);
    form->addWidget(m_errorText);

    // The bar of buttons.
    auto *bar = new QWidget(this);
    auto *buttons = new QHBoxLayout(bar);
    buttons->setContentsMargins(16, 16, 16, 16);
    buttons->setSpacing(8);
    m_progressBar = new QProgressBar;
    m_progressBar->setRange(0, 1000);
    m_progressBar->setTextVisible(false);
    m_progressBar->setFixedWidth(progressWidth);
    m_exporting = new QLabel(QStringLiteral("Exporting\u2026"));
    {
        QPalette p = m_exporting->palette();
        p.setColor(QPalette::WindowText, Palette::secondaryText(palette()));
        m_exporting->setPalette(p);
    }
    m_cancel = new QPushButton(QStringLiteral("Cancel"));
    m_cancel->setAutoDefault(false);
    m_export = new QPushButton(QStringLiteral("Export\u2026"));
    m_export->setDefault(true);
    buttons->addWidget(m_progressBar);
    buttons->addWidget(m_exporting);
    buttons->addStretch(1);
    buttons->addWidget(m_cancel);
    buttons->addWidget(m_export);

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(m_form);
    column->addWidget(bar);

    connect(m_startSlider, &QSlider::valueChanged, this, [this](int ms) { setStart(ms / 1000.0); });
    connect(m_endSlider, &QSlider::valueChanged, this, [this](int ms) { setEnd(ms / 1000.0); });
    connect(m_startPlayhead, &QPushButton::clicked, this,
            [this] { setStart(std::min(m_model.player().currentTime(), m_end)); });
    connect(m_endPlayhead, &QPushButton::clicked, this,
            [this] { setEnd(std::max(m_model.player().currentTime(), m_start)); });
    connect(m_peak, &QPushButton::clicked, this, &ExportClipSheet::aroundPeak);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_export, &QPushButton::clicked, this, &ExportClipSheet::startExport);
}

void ExportClipSheet::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!m_shown) {
        m_shown = true;
        setInitialRange();
        // Polished for the screen, the rows are smaller than the first estimate: fit the height to them.
        adjustSize();
    }
}

void ExportClipSheet::setInitialRange()
{
    const double d = duration();
    setEnd(d);
    if (d > 60) {
        const double t = holdsRecording() ? m_model.player().currentTime() : 0;
        setStart(std::max(0.0, t - 15));
        setEnd(std::min(m_start + 30, d));
    }
}

void ExportClipSheet::setStart(double seconds)
{
    m_start = std::isfinite(seconds) ? std::max(0.0, seconds) : 0.0;
    if (m_end < m_start)
        m_end = m_start;
    showRange();
}

void ExportClipSheet::setEnd(double seconds)
{
    m_end = std::isfinite(seconds) ? std::max(0.0, seconds) : 0.0;
    if (m_end < m_start)
        m_start = m_end;
    showRange();
}

void ExportClipSheet::rerange()
{
    // Milliseconds; before the duration is known the sliders still have a little room.
    const int top = int(std::llround(std::max(0.1, duration()) * 1000));
    for (QSlider *slider : {m_startSlider, m_endSlider}) {
        const QSignalBlocker block(slider);
        slider->setRange(0, top);
    }
}

void ExportClipSheet::showRange()
{
    {
        const QSignalBlocker blockStart(m_startSlider);
        const QSignalBlocker blockEnd(m_endSlider);
        m_startSlider->setValue(int(std::llround(m_start * 1000)));
        m_endSlider->setValue(int(std::llround(m_end * 1000)));
    }
    m_startText->setText(timeString(m_start));
    m_endText->setText(timeString(m_end));
    m_lengthText->setText(timeString(m_end - m_start));
    showRun();
}

void ExportClipSheet::showSources()
{
    for (int i = 0; i < m_cameraToggles.size(); ++i)
        m_cameras->setRowVisible(i, m_sources.count(m_cameraToggles[i].first) > 0);
    showRun();
}

void ExportClipSheet::showTelemetry()
{
    m_peak->setEnabled(m_telemetry && m_telemetry->peakG().has_value());
    // Until the telemetry is read the track may still come: the choice stays open.
    m_gpx->setEnabled(!m_telemetry || m_telemetry->hasGPS());
}

QCheckBox *ExportClipSheet::cameraToggle(Channel channel) const
{
    for (const auto &[c, toggle] : m_cameraToggles)
        if (c == channel)
            return toggle;
    return nullptr;
}

QList<std::pair<Channel, QString>> ExportClipSheet::selectedSources() const
{
    QList<std::pair<Channel, QString>> selected;
    for (Channel channel : allChannels) {
        const auto it = m_sources.find(channel);
        if (m_channels.contains(channel) && it != m_sources.end())
            selected.append({channel, it->second});
    }
    return selected;
}

bool ExportClipSheet::canExport() const
{
    // The sliders move by milliseconds; a range that reads 0.5 s counts as 0.5 s.
    return !m_progress && m_end - m_start >= minimumLength - 1e-9 && !selectedSources().isEmpty();
}

void ExportClipSheet::showRun()
{
    if (!m_export)
        return;
    m_form->setEnabled(!m_progress);
    m_export->setEnabled(canExport());
    m_progressBar->setVisible(m_progress.has_value());
    m_exporting->setVisible(m_progress.has_value());
    m_progressBar->setValue(int(std::llround(m_progress.value_or(0) * 1000)));
    const bool errorChanged = m_errorText->isVisibleTo(this) != m_error.has_value();
    m_errorText->setVisible(m_error.has_value());
    m_errorText->setText(m_error.value_or(QString()));
    // The sheet's height follows its content.
    if (errorChanged)
        adjustSize();
}

void ExportClipSheet::aroundPeak()
{
    const std::optional<SensorSample> peak = m_telemetry ? m_telemetry->peakG() : std::nullopt;
    if (!peak)
        return;
    setStart(std::max(0.0, peak->time - 10));
    setEnd(std::min(peak->time + 10, duration()));
}

void ExportClipSheet::startExport()
{
    if (!canExport())
        return;
    ClipExportRequest request;
    request.clip = m_clip;
    request.sources = selectedSources();
    request.start = m_start;
    request.end = m_end;
    request.quality = m_qualityValue;
    // Without GPS there is nothing to write, whatever the disabled toggle still shows. Telemetry not read yet
    // is read by the run, which writes the track when there is one.
    request.includeGPX = m_includeGPX && (!m_telemetry || m_telemetry->hasGPS());
    ClipExportJob *job = m_model.exportClip(request);
    if (!job)
        return; // no recording, or the folder panel was cancelled: the sheet stays as it was
    if (m_job)
        m_job->setWatched(false);
    m_job = job;
    job->setWatched(true);
    m_error.reset();
    m_progress = 0;
    connect(job, &ClipExportJob::progressChanged, this, [this](double progress) {
        if (m_progress) {
            m_progress = progress;
            showRun();
        }
    });
    connect(job, &ClipExportJob::succeeded, this, [this] {
        m_progress.reset();
        showRun();
        accept();
    });
    connect(job, &ClipExportJob::failed, this, [this](const QString &message) {
        m_progress.reset();
        m_error = message;
        showRun();
    });
    showRun();
}
