#pragma once

#include "platform/LoneThreads.h"

#include <QWidget>

#include <functional>
#include <optional>

class AppModel;
class ElidedLabel;
class FormSection;
class MediaCacheSettings;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class SegmentedControl;
class SymbolLabel;

// The settings: a column of sections 520 pixels wide that edits the stored preferences and follows them
// when they change elsewhere.
class PreferencesView : public QWidget {
    Q_OBJECT

public:
    // The ffmpeg program found for a chosen path (empty: search the usual places); none when there is none.
    using FFmpegLookup = std::function<std::optional<QString>(const QString &chosen)>;

    static constexpr int width = 520;

    // Without a lookup, the chosen path then the system's usual places are searched.
    explicit PreferencesView(AppModel &model, FFmpegLookup lookup = {}, QWidget *parent = nullptr);

    SegmentedControl *unitPicker() const { return m_unit; }
    QCheckBox *autoPlayToggle() const { return m_autoPlay; }
    QComboBox *mapStylePicker() const { return m_mapStyle; }
    ElidedLabel *snapshotFolderLabel() const { return m_snapshotFolder; }
    QPushButton *snapshotChooseButton() const { return m_snapshotChoose; }
    MediaCacheSettings *mediaCache() const { return m_mediaCache; }
    QLineEdit *ffmpegField() const { return m_ffmpeg; }
    QPushButton *ffmpegChooseButton() const { return m_ffmpegChoose; }
    SymbolLabel *ffmpegStatusSymbol() const { return m_statusSymbol; }
    ElidedLabel *ffmpegStatusText() const { return m_statusText; }
    // The tile fields: street map, satellite, labels; and the warning line under each.
    QLineEdit *tileField(int index) const { return m_tiles.at(index).field; }
    QLabel *tileWarning(int index) const { return m_tiles.at(index).warning; }

    // Looks for ffmpeg again, off the GUI thread (a chosen path may be on a share that stopped answering),
    // and shows what was found once it answers; also done whenever the window is shown or activated. Until
    // then the status shows what was found last.
    void refreshFFmpegStatus();
    // Whether the status waits for the newest look.
    bool isLookingForFFmpeg() const { return m_shownLookup != m_lookups; }

protected:
    bool event(QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    struct TileRow {
        QLineEdit *field = nullptr;
        QLabel *warning = nullptr;
    };

    FormSection *playbackSection();
    FormSection *snapshotSection();
    FormSection *aviSection();
    FormSection *tileSection();
    void addTileRow(FormSection *section, const QString &label, const QString &key,
                    const QString &placeholder, void (*store)(AppModel &, const QString &));
    void showTile(int index, const QString &value);
    void showFFmpegStatus(const std::optional<QString> &found);
    void applyColors();

    AppModel &m_model;
    FFmpegLookup m_lookup;
    SegmentedControl *m_unit = nullptr;
    QCheckBox *m_autoPlay = nullptr;
    QComboBox *m_mapStyle = nullptr;
    ElidedLabel *m_snapshotFolder = nullptr;
    QPushButton *m_snapshotChoose = nullptr;
    MediaCacheSettings *m_mediaCache = nullptr;
    QLineEdit *m_ffmpeg = nullptr;
    QPushButton *m_ffmpegChoose = nullptr;
    SymbolLabel *m_statusSymbol = nullptr;
    ElidedLabel *m_statusText = nullptr;
    bool m_ffmpegFound = false;
    quint64 m_lookups = 0;     // asked
    quint64 m_shownLookup = 0; // of them, the one the status shows
    QList<TileRow> m_tiles;
    LoneThreads m_lookupThreads{this}; // last: no answer arrives once the rest is gone
};
