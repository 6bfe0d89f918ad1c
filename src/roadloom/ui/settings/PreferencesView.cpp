#include "roadloom/ui/settings/PreferencesView.h"

#include "platform/Defaults.h"
#include "platform/Panels.h"
#include "platform/gui/MapTileLoader.h"
#include "roadcore/FFmpeg.h"
#include "roadloom/model/AppModel.h"
#include "roadloom/model/MapStyleChoice.h"
#include "roadloom/model/Preferences.h"
#include "roadloom/ui/settings/MediaCacheSettings.h"
#include "roadloom/ui/widgets/ElidedLabel.h"
#include "roadloom/ui/widgets/FormSection.h"
#include "roadloom/ui/widgets/Palette.h"
#include "roadloom/ui/widgets/SegmentedControl.h"
#include "roadloom/ui/widgets/SymbolLabel.h"
#include "roadloom/ui/widgets/TextStyles.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <algorithm>

namespace {

const QString invalidTileText = QStringLiteral("Needs an http or https address with {z}, {x} and {y}.");

int indexOf(MapStyleChoice style)
{
    return int(std::find(allMapStyleChoices.begin(), allMapStyleChoices.end(), style) -
               allMapStyleChoices.begin());
}

QWidget *row(std::initializer_list<QWidget *> widgets, QWidget *stretching)
{
    auto *content = new QWidget;
    auto *layout = new QHBoxLayout(content);
    layout->setContentsMargins(0, 0, 0, 0);
    for (QWidget *widget : widgets)
        layout->addWidget(widget, widget == stretching ? 1 : 0);
    return content;
}

} // namespace

PreferencesView::PreferencesView(AppModel &model, FFmpegLookup lookup, QWidget *parent)
    : QWidget(parent), m_model(model), m_lookup(std::move(lookup))
{
    if (!m_lookup) {
        m_lookup = [](const QString &chosen) { return FFmpeg::executable(chosen, FFmpeg::standardPlaces()); };
    }
    setFixedWidth(width);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(20);
    layout->addWidget(playbackSection());
    layout->addWidget(snapshotSection());
    m_mediaCache = new MediaCacheSettings(model);
    layout->addWidget(m_mediaCache);
    layout->addWidget(aviSection());
    layout->addWidget(tileSection());
    layout->addStretch();
    applyColors();
    refreshFFmpegStatus();
}

FormSection *PreferencesView::playbackSection()
{
    Preferences *prefs = &m_model.preferences();
    auto *section = new FormSection(QStringLiteral("Playback"));

    m_unit = new SegmentedControl({QStringLiteral("km/h"), QStringLiteral("mph")});
    m_unit->setCurrentIndex(int(prefs->speedUnit()));
    section->addRow(QStringLiteral("Speed unit"), m_unit);
    connect(prefs, &Preferences::speedUnitChanged, this, [this](SpeedUnit unit) {
        const QSignalBlocker block(m_unit);
        m_unit->setCurrentIndex(int(unit));
    });
    connect(m_unit, &SegmentedControl::activated, prefs, [prefs](int index) {
        prefs->setSpeedUnit(index == int(SpeedUnit::mph) ? SpeedUnit::mph : SpeedUnit::kmh);
    });

    m_autoPlay = new QCheckBox(QStringLiteral("Play next recording automatically"));
    m_autoPlay->setChecked(prefs->autoPlayNext());
    section->addRow(m_autoPlay);
    connect(prefs, &Preferences::autoPlayNextChanged, this, [this](bool on) {
        const QSignalBlocker block(m_autoPlay);
        m_autoPlay->setChecked(on);
    });
    connect(m_autoPlay, &QCheckBox::toggled, prefs, [prefs](bool on) { prefs->setAutoPlayNext(on); });

    m_mapStyle = new QComboBox;
    for (MapStyleChoice style : allMapStyleChoices)
        m_mapStyle->addItem(title(style));
    m_mapStyle->setCurrentIndex(indexOf(prefs->mapStyle()));
    section->addRow(QStringLiteral("Map style"), m_mapStyle);
    connect(prefs, &Preferences::mapStyleChanged, this, [this](MapStyleChoice style) {
        const QSignalBlocker block(m_mapStyle);
        m_mapStyle->setCurrentIndex(indexOf(style));
    });
    connect(m_mapStyle, &QComboBox::activated, prefs, [prefs](int index) {
        if (index >= 0 && index < int(allMapStyleChoices.size()))
            prefs->setMapStyle(allMapStyleChoices.at(std::size_t(index)));
    });
    return section;
}

FormSection *PreferencesView::snapshotSection()
{
    Preferences *prefs = &m_model.preferences();
    auto *section = new FormSection(QStringLiteral("Snapshots"));
    m_snapshotFolder = new ElidedLabel(prefs->snapshotFolder(), Qt::ElideLeft);
    m_snapshotFolder->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_snapshotFolder->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    m_snapshotChoose = new QPushButton(QStringLiteral("Choose…"));
    section->addRow(QStringLiteral("Save to"), row({m_snapshotFolder, m_snapshotChoose}, m_snapshotFolder));
    connect(prefs, &Preferences::snapshotFolderChanged, m_snapshotFolder, &ElidedLabel::setText);
    connect(m_snapshotChoose, &QPushButton::clicked, this, [this] {
        const auto folder =
            m_model.panels().chooseFolder(QStringLiteral("Snapshot Folder"), QStringLiteral("Choose"));
        if (folder)
            m_model.preferences().setSnapshotFolder(*folder);
    });
    return section;
}

FormSection *PreferencesView::aviSection()
{
    Preferences *prefs = &m_model.preferences();
    auto *section = new FormSection(QStringLiteral("AVI Support"));
    section->setFooter(
        QStringLiteral("Older Thinkware models record AVI files, which are converted to MOV once "
                       "and cached. MP4 and MOV files play directly."));

    m_ffmpeg = new QLineEdit(prefs->ffmpegPath());
    m_ffmpeg->setPlaceholderText(QStringLiteral("Auto-detect"));
    m_ffmpeg->setMinimumWidth(220);
    m_ffmpegChoose = new QPushButton(QStringLiteral("Choose…"));
    section->addRow(QStringLiteral("ffmpeg"), row({m_ffmpeg, m_ffmpegChoose}, m_ffmpeg));
    connect(m_ffmpeg, &QLineEdit::textEdited, prefs,
            [prefs](const QString &path) { prefs->setFfmpegPath(path); });
    connect(prefs, &Preferences::ffmpegPathChanged, this, [this](const QString &path) {
        if (m_ffmpeg->text() != path) {
            const QSignalBlocker block(m_ffmpeg);
            m_ffmpeg->setText(path);
        }
        refreshFFmpegStatus();
    });
    connect(m_ffmpegChoose, &QPushButton::clicked, this, [this] {
        const auto file = m_model.panels().chooseFile(QStringLiteral("ffmpeg"), QStringLiteral("Choose"));
        if (file)
            m_model.preferences().setFfmpegPath(*file);
    });

    m_statusSymbol = new SymbolLabel(QString(), 16);
    m_statusText = new ElidedLabel(QString(), Qt::ElideLeft);
    m_statusText->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    m_statusText->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    auto *status = new QWidget;
    auto *statusLayout = new QHBoxLayout(status);
    statusLayout->setContentsMargins(0, 0, 0, 0);
    statusLayout->setSpacing(6);
    statusLayout->addWidget(m_statusText, 1);
    statusLayout->addWidget(m_statusSymbol);
    section->addRow(QStringLiteral("Status"), status);
    return section;
}

FormSection *PreferencesView::tileSection()
{
    Preferences *prefs = &m_model.preferences();
    auto *section = new FormSection(QStringLiteral("Map Tiles"));
    section->setFooter(QStringLiteral("Tile addresses use {z}, {x} and {y}. Without a satellite address, "
                                      "Satellite and Hybrid show the street map."));
    addTileRow(section, QStringLiteral("Street map"), Preferences::Keys::mapTileURL,
               Preferences::defaultMapTileURL,
               [](AppModel &model, const QString &url) { model.preferences().setMapTileURL(url); });
    addTileRow(section, QStringLiteral("Satellite"), Preferences::Keys::mapSatelliteTileURL,
               QStringLiteral("None"),
               [](AppModel &model, const QString &url) { model.preferences().setMapSatelliteTileURL(url); });
    addTileRow(section, QStringLiteral("Labels"), Preferences::Keys::mapLabelsTileURL, QStringLiteral("None"),
               [](AppModel &model, const QString &url) { model.preferences().setMapLabelsTileURL(url); });
    // The preferences announce the template in use; the fields show what is stored, empty included.
    const auto follow = [this](int index, const QString &key) {
        return [this, index, key] { showTile(index, m_model.defaults().string(key)); };
    };
    connect(prefs, &Preferences::mapTileURLChanged, this, follow(0, Preferences::Keys::mapTileURL));
    connect(prefs, &Preferences::mapSatelliteTileURLChanged, this,
            follow(1, Preferences::Keys::mapSatelliteTileURL));
    connect(prefs, &Preferences::mapLabelsTileURLChanged, this,
            follow(2, Preferences::Keys::mapLabelsTileURL));
    return section;
}

void PreferencesView::addTileRow(FormSection *section, const QString &label, const QString &key,
                                 const QString &placeholder, void (*store)(AppModel &, const QString &))
{
    TileRow tile;
    tile.field = new QLineEdit;
    tile.field->setPlaceholderText(placeholder);
    tile.field->setMinimumWidth(320); // room for a whole address
    tile.warning = new QLabel(invalidTileText);
    tile.warning->setFont(TextStyles::caption());
    tile.warning->setWordWrap(true);
    auto *content = new QWidget;
    auto *layout = new QVBoxLayout(content);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    layout->addWidget(tile.field);
    layout->addWidget(tile.warning);
    section->addRow(label, content);
    const int index = int(m_tiles.size());
    m_tiles.append(tile);
    showTile(index, m_model.defaults().string(key));
    connect(tile.field, &QLineEdit::textEdited, this, [this, index, store](const QString &url) {
        store(m_model, url);
        // A change that leaves the template in use as it was is not announced: show the warning anyway.
        showTile(index, url);
    });
}

void PreferencesView::showTile(int index, const QString &value)
{
    const TileRow &tile = m_tiles.at(index);
    if (tile.field->text() != value) {
        const QSignalBlocker block(tile.field);
        tile.field->setText(value);
    }
    const QString url = value.trimmed();
    // The map ignores what this rejects: both ask the same question.
    tile.warning->setVisible(!url.isEmpty() && !MapTileLoader::isUsableTemplate(url));
}

void PreferencesView::refreshFFmpegStatus()
{
    const quint64 lookup = ++m_lookups;
    m_lookupThreads.run(
        [look = m_lookup, chosen = m_model.preferences().ffmpegPath()] { return look(chosen); },
        [this, lookup](const std::optional<QString> &found) {
            if (lookup != m_lookups)
                return; // a newer look answers
            m_shownLookup = lookup;
            showFFmpegStatus(found);
        });
}

void PreferencesView::showFFmpegStatus(const std::optional<QString> &found)
{
    m_ffmpegFound = found.has_value();
    m_statusSymbol->setSymbol(m_ffmpegFound ? QStringLiteral("checkmark.circle.fill")
                                            : QStringLiteral("xmark.octagon.fill"));
    const QString missing = QStringLiteral("Not found — sudo apt install ffmpeg");
    m_statusText->setText(found ? *found : missing);
    // A path gives way at its head; the advice is always read whole.
    m_statusText->setElideMode(found ? Qt::ElideLeft : Qt::ElideNone);
    m_statusText->setMinimumWidth(found ? 0 : m_statusText->fontMetrics().horizontalAdvance(missing) + 2);
    applyColors();
}

void PreferencesView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    refreshFFmpegStatus();
}

bool PreferencesView::event(QEvent *event)
{
    // ffmpeg may have been installed while the window stood in the background.
    if (event->type() == QEvent::WindowActivate)
        refreshFFmpegStatus();
    return QWidget::event(event);
}

void PreferencesView::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange && m_statusText)
        applyColors();
}

void PreferencesView::applyColors()
{
    const QPalette &colors = palette();
    m_snapshotFolder->setColor(Palette::secondaryText(colors));
    const QColor status = m_ffmpegFound ? Palette::green(colors) : Palette::orange(colors);
    m_statusSymbol->setColor(status);
    m_statusText->setColor(status);
    for (const TileRow &tile : std::as_const(m_tiles)) {
        QPalette warning = tile.warning->palette();
        warning.setColor(QPalette::WindowText, Palette::orange(colors));
        tile.warning->setPalette(warning);
    }
}
