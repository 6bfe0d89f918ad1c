#include "roadloom/ui/inspector/InspectorSections.h"

#include "platform/StringOrder.h"
#include "platform/gui/FileRevealer.h"
#include "roadloom/model/AppModel.h"
#include "roadloom/model/CacheCoordinator.h"
#include "roadloom/model/Formats.h"
#include "roadloom/model/PlayerController.h"
#include "roadloom/model/TimeText.h"
#include "roadloom/ui/widgets/BusyIndicator.h"
#include "roadloom/ui/widgets/FormSection.h"
#include "roadloom/ui/widgets/Palette.h"
#include "roadloom/ui/widgets/SymbolLabel.h"
#include "roadloom/ui/widgets/TextStyles.h"
#include "roadloom/ui/widgets/WrapLabel.h"

#include <QEvent>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <set>

namespace InspectorSections {

namespace {

const QString storageFooter = QStringLiteral(
    "Roadloom keeps a backup copy of imported recordings so they still play if the originals are moved, "
    "renamed or the SD card is removed.");
const QString vehicleFooter = QStringLiteral(
    "Thinkware doesn't document these fields; they're shown as recorded. They're typically zero unless an "
    "OBD or driver-assist module is connected.");
const QString clockHelp = QStringLiteral(
    "Difference between the time in the file name (camera clock) and GPS time. Large offsets usually mean "
    "the camera's time zone or daylight-saving setting is wrong.");

QFont monospace(const QFont &size)
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSizeF(size.pointSizeF() > 0 ? size.pointSizeF() : font.pointSizeF());
    return font;
}

// A trailing value: right-aligned, wrapping, never wider than the column.
WrapLabel *value(const QString &text, const QFont &font = TextStyles::body(), const QColor &color = QColor())
{
    auto *label = new WrapLabel(text);
    label->setAlignment(Qt::AlignRight);
    label->setFont(font);
    if (color.isValid())
        label->setColor(color);
    return label;
}

QLabel *plain(const QString &text, const QFont &font, const QColor &color = QColor())
{
    auto *label = new QLabel(text);
    label->setTextFormat(Qt::PlainText);
    label->setFont(font);
    if (color.isValid()) {
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText, color);
        label->setPalette(palette);
    }
    return label;
}

// One item of the media details: its kind on the left, `detail` beside it taking the rest of the line, and
// room below for more lines.
std::pair<QWidget *, QVBoxLayout *> itemBlock(const QString &objectName, const QString &kind, QWidget *detail)
{
    auto *block = new QWidget;
    block->setObjectName(objectName);
    auto *stack = new QVBoxLayout(block);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(2);
    auto *top = new QHBoxLayout;
    QFont kindFont = TextStyles::subheadline();
    kindFont.setWeight(QFont::Medium);
    top->addWidget(plain(kind, kindFont));
    top->addStretch(1);
    top->addWidget(detail, 1);
    stack->addLayout(top);
    return {block, stack};
}

// A symbol and its text in one colour.
QWidget *symbolText(const QString &symbol, const QString &text, const QColor &color, const QFont &font,
                    QLabel **textLabel = nullptr, SymbolLabel **symbolLabel = nullptr)
{
    auto *box = new QWidget;
    auto *line = new QHBoxLayout(box);
    line->setContentsMargins(0, 0, 0, 0);
    line->setSpacing(4);
    auto *icon = new SymbolLabel(symbol, QFontMetrics(font).height() - 2);
    icon->setColor(color);
    auto *label = plain(text, font, color);
    line->addWidget(icon, 0, Qt::AlignVCenter);
    line->addWidget(label, 0, Qt::AlignVCenter);
    line->addStretch(1);
    if (textLabel)
        *textLabel = label;
    if (symbolLabel)
        *symbolLabel = icon;
    return box;
}

// A flat button drawn as a link. With an elide mode its text shortens to the width it is given.
class LinkButton : public QPushButton {
public:
    LinkButton(const QString &text, Qt::TextElideMode mode) : m_text(text), m_mode(mode) { showText(); }

protected:
    void resizeEvent(QResizeEvent *event) override
    {
        QPushButton::resizeEvent(event);
        showText();
    }
    void changeEvent(QEvent *event) override
    {
        QPushButton::changeEvent(event);
        if (event->type() == QEvent::FontChange)
            showText();
    }

private:
    void showText()
    {
        QString shown = m_mode == Qt::ElideNone
                            ? m_text
                            : fontMetrics().elidedText(m_text, m_mode, std::max(0, width() - 2));
        shown.replace(QLatin1Char('&'), QStringLiteral("&&"));
        if (shown != text())
            setText(shown);
    }

    QString m_text;
    Qt::TextElideMode m_mode;
};

QPushButton *linkButton(const QString &text, Qt::TextElideMode mode = Qt::ElideNone)
{
    auto *button = new LinkButton(text, mode);
    button->setFlat(true);
    button->setCursor(Qt::PointingHandCursor);
    QPalette palette = button->palette();
    palette.setColor(QPalette::ButtonText, palette.color(QPalette::Link));
    button->setPalette(palette);
    button->setStyleSheet(QStringLiteral("QPushButton { border: none; padding: 0; text-align: left; }"));
    button->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    button->setMinimumWidth(0);
    return button;
}

// Tooltips are rich text when they look like markup: a text from a card or file is escaped and marked.
QString plainToolTip(const QString &text)
{
    return QStringLiteral("<qt>") + text.toHtmlEscaped() + QStringLiteral("</qt>");
}

QString fileName(const QString &path)
{
    return QFileInfo(path).fileName();
}

QString folderOf(const QString &path)
{
    return QFileInfo(path).path();
}

struct StateLook {
    QString text;
    QString symbol;
    QColor color;
};

StateLook stateLook(StorageState state, const QPalette &palette)
{
    switch (state) {
    case StorageState::original:
        return {QStringLiteral("Original"), QStringLiteral("checkmark.circle"),
                Palette::secondaryText(palette)};
    case StorageState::moved:
        return {QStringLiteral("Moved \u2014 found"), QStringLiteral("arrow.turn.down.right"),
                Palette::blue(palette)};
    case StorageState::cached:
        return {QStringLiteral("Playing cached copy"), QStringLiteral("externaldrive.fill.badge.checkmark"),
                Palette::orange(palette)};
    case StorageState::missing:
        return {QStringLiteral("Missing"), QStringLiteral("exclamationmark.triangle.fill"),
                Palette::red(palette)};
    }
    return {};
}

} // namespace

QString storageText(StorageState state)
{
    return stateLook(state, QPalette()).text;
}

QString sentenceCounts(const QMap<QString, qint64> &counts)
{
    QStringList keys = counts.keys();
    std::sort(keys.begin(), keys.end(),
              [](const QString &a, const QString &b) { return StringOrder::less(a, b); });
    QStringList parts;
    for (const QString &key : keys)
        parts.append(key + QLatin1Char(' ') + QString::number(counts.value(key)));
    return parts.join(Formats::separator);
}

QString clockOffsetText(double offset)
{
    const double a = std::abs(offset);
    if (a < 5)
        return QStringLiteral("Matches GPS");
    return Formats::clockOffset(offset) +
           (offset < 0 ? QStringLiteral(" behind GPS") : QStringLiteral(" ahead of GPS"));
}

FormSection *recording(const DashClip &clip, const PlayerController &player)
{
    auto *section = new FormSection(QStringLiteral("Recording"));
    const QColor tint = Palette::tint(clip.category);
    QLabel *typeText = nullptr;
    QWidget *type =
        symbolText(symbol(clip.category), title(clip.category), tint, TextStyles::body(), &typeText);
    typeText->setObjectName(QStringLiteral("categoryText"));
    section->addRow(QStringLiteral("Type"), type);
    section->addRow(QStringLiteral("Name"), value(clip.name));
    section->addRow(QStringLiteral("Recorded (camera clock)"),
                    value(clip.date ? Formats::dateTime(*clip.date) : Formats::absent));
    section->addRow(QStringLiteral("Duration"), value(timeString(player.duration())));
    section->addRow(QStringLiteral("Frame rate"), value(QString::asprintf("%.0f fps", player.frameRate())));
    section->addRow(QStringLiteral("Total size"), value(Formats::byteCount(clip.byteSize)));
    return section;
}

FormSection *storage(AppModel &model, const DashClip &clip, Updaters &updaters)
{
    auto *section = new FormSection(QStringLiteral("Storage"));
    section->setFooter(storageFooter);
    const QPalette palette = section->palette();
    for (Channel channel : allChannels) {
        const auto original = clip.originalFiles.find(channel);
        const auto current = clip.files.find(channel);
        if (original == clip.originalFiles.end() && current == clip.files.end())
            continue;
        const QString shown = original != clip.originalFiles.end() ? original->second : current->second;
        const QString revealed = current != clip.files.end() ? current->second : shown;

        auto *block = new QWidget;
        block->setObjectName(QStringLiteral("storage") + title(channel));
        auto *stack = new QVBoxLayout(block);
        stack->setContentsMargins(0, 2, 0, 2);
        stack->setSpacing(4);

        auto *top = new QHBoxLayout;
        top->setSpacing(6);
        top->addWidget(plain(title(channel), TextStyles::headline()));
        top->addStretch(1);
        const auto state = clip.channelStates.find(channel);
        const StateLook look =
            stateLook(state == clip.channelStates.end() ? StorageState::original : state->second, palette);
        QWidget *stateLabel = symbolText(look.symbol, look.text, look.color, TextStyles::callout());
        stateLabel->setObjectName(QStringLiteral("storageState"));
        top->addWidget(stateLabel);
        stack->addLayout(top);

        QPushButton *name = linkButton(fileName(shown), Qt::ElideMiddle);
        name->setObjectName(QStringLiteral("revealFile"));
        name->setToolTip(plainToolTip(shown));
        QObject::connect(name, &QPushButton::clicked, name,
                         [&model, revealed] { model.revealer().reveal(revealed); });
        stack->addWidget(name);

        auto *folder = new WrapLabel(folderOf(shown));
        folder->setObjectName(QStringLiteral("folder"));
        folder->setFont(TextStyles::caption2());
        folder->setColor(Palette::secondaryText(palette));
        folder->setWrapMode(QTextOption::WrapAnywhere);
        folder->setMaximumLines(2);
        stack->addWidget(folder);

        QLabel *backupText = nullptr;
        SymbolLabel *backupSymbol = nullptr;
        const bool stored = clip.cachedChannels.contains(channel);
        QWidget *backup =
            symbolText(stored ? QStringLiteral("checkmark.shield.fill") : QStringLiteral("shield.slash"),
                       QString(), stored ? Palette::green(palette) : Palette::secondaryText(palette),
                       TextStyles::caption(), &backupText, &backupSymbol);
        backup->setObjectName(QStringLiteral("backup"));
        stack->addWidget(backup);
        const QString shownName = fileName(shown);
        auto showBackup = [backupText, stored, shownName](const std::optional<QString> &copying) {
            const QString text = stored                             ? QStringLiteral("Backup copy stored")
                                 : copying && *copying == shownName ? QStringLiteral("Copying to cache\u2026")
                                                                    : QStringLiteral("No backup copy yet");
            if (backupText->text() != text)
                backupText->setText(text);
        };
        showBackup(model.cache().currentName());
        updaters.copying.push_back(showBackup);
        section->addRow(block);
    }

    auto *buttonRow = new QWidget;
    auto *line = new QHBoxLayout(buttonRow);
    line->setContentsMargins(0, 0, 0, 0);
    auto *button = new QPushButton;
    button->setObjectName(QStringLiteral("cacheButton"));
    if (clip.isFullyCached()) {
        button->setText(QStringLiteral("Remove Cached Copy"));
        const bool onlyCopy = clip.storage() == StorageState::cached;
        button->setEnabled(!onlyCopy);
        button->setToolTip(onlyCopy ? QStringLiteral("The cached copy is the only copy left.") : QString());
        QObject::connect(button, &QPushButton::clicked, button,
                         [&model, clip] { model.cache().removeCopy(clip); });
    } else {
        button->setText(QStringLiteral("Cache Now"));
        button->setEnabled(clip.storage() != StorageState::missing);
        QObject::connect(button, &QPushButton::clicked, button,
                         [&model, clip] { model.cache().cacheNow(clip); });
    }
    line->addWidget(button);
    line->addStretch(1);
    section->addRow(buttonRow);
    return section;
}

FormSection *embeddedData(const PlayerController &player, const std::function<void()> &openLog,
                          Updaters &updaters)
{
    auto *section = new FormSection(QStringLiteral("Embedded Data"));
    if (player.isLoadingTelemetry()) {
        section->addRow(QStringLiteral("Status"), new BusyIndicator(BusyIndicator::Size::small));
        return section;
    }
    const Telemetry &telemetry = player.telemetry();
    if (telemetry.isEmpty()) {
        section->addRow(QStringLiteral("Status"), value(QStringLiteral("No embedded data found")));
        return section;
    }
    QString source = telemetry.source;
    if (telemetry.sourceChannel)
        source += QStringLiteral(" (") + title(*telemetry.sourceChannel) + QLatin1Char(')');
    section->addRow(QStringLiteral("Found in"), value(source));
    section->addRow(QStringLiteral("Records"), value(QString::number(telemetry.records.size())));
    section->addRow(QStringLiteral("Sentences"), value(sentenceCounts(telemetry.sentenceCounts)));

    auto *current = new QWidget;
    current->setObjectName(QStringLiteral("currentRecord"));
    auto *stack = new QVBoxLayout(current);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(3);
    auto *when = new WrapLabel;
    when->setFont(TextStyles::caption());
    when->setColor(Palette::secondaryText(section->palette()));
    auto *record = new WrapLabel;
    record->setFont(monospace(TextStyles::caption()));
    record->setWrapMode(QTextOption::WrapAnywhere);
    record->setSelectable(true);
    stack->addWidget(when);
    stack->addWidget(record);
    section->addRow(current);
    auto follow = [&player, when, record](double time) {
        const std::optional<TelemetryRecord> at = player.telemetry().recordAt(time);
        const QString heading =
            QStringLiteral("At playhead (") + timeString(at ? at->time : 0) + QLatin1Char(')');
        when->setText(heading);
        record->setText(at ? Formats::recordLines(at->text.toString()) : Formats::absent);
    };
    follow(player.currentTime());
    updaters.playhead.push_back(follow);

    auto *open = new QPushButton(QStringLiteral("Open Data Log\u2026"));
    open->setObjectName(QStringLiteral("openDataLog"));
    QObject::connect(open, &QPushButton::clicked, open, openLog);
    auto *buttonRow = new QWidget;
    auto *line = new QHBoxLayout(buttonRow);
    line->setContentsMargins(0, 0, 0, 0);
    line->addWidget(open);
    line->addStretch(1);
    section->addRow(buttonRow);
    return section;
}

FormSection *gps(const Telemetry &telemetry, const DashClip &clip, SpeedUnit unit, Updaters &updaters)
{
    auto *section = new FormSection(QStringLiteral("GPS"));
    auto *position = value(QString(), monospace(TextStyles::body()));
    position->setSelectable(true);
    auto *speed = value(QString());
    auto *altitude = value(QString());
    auto *utc = value(QString());
    section->addRow(QStringLiteral("Position"), position);
    section->addRow(QStringLiteral("Speed / heading"), speed);
    const int altitudeRow = section->addRow(QStringLiteral("Altitude"), altitude);
    section->addRow(QStringLiteral("UTC"), utc);
    const QString unitLabel = label(unit);
    auto follow = [&telemetry = std::as_const(telemetry), section, position, speed, altitude, utc,
                   altitudeRow, unit, unitLabel](double time) {
        const std::optional<GPSFix> fix = telemetry.gpsAt(time);
        position->setText(fix ? QString::asprintf("%.6f, %.6f", fix->latitude, fix->longitude)
                              : Formats::absent);
        speed->setText(fix ? QString::asprintf("%.1f %s \u00B7 %.0f\u00B0", ::value(unit, *fix),
                                               qUtf8Printable(unitLabel), fix->course.value_or(0))
                           : Formats::absent);
        const bool hasAltitude = fix && fix->altitude;
        if (hasAltitude)
            altitude->setText(QString::asprintf("%.0f m", *fix->altitude));
        if (altitude->parentWidget()->isVisibleTo(section) != hasAltitude)
            section->setRowVisible(altitudeRow, hasAltitude);
        utc->setText(fix && fix->timestamp ? fix->timestamp->toUTC().toString(QStringLiteral("HH:mm:ss"))
                                           : Formats::absent);
    };
    updaters.playhead.push_back(follow);

    const QList<GPSFix> &fixes = telemetry.gps;
    QString fixCount = QString::number(fixes.size());
    if (const std::optional<double> rate = telemetry.gpsRateHz())
        fixCount += QString::asprintf(" \u00B7 %.1f Hz", *rate);
    section->addRow(QStringLiteral("Fixes"), value(fixCount));
    if (telemetry.gpsNoFixCount >= 1)
        section->addRow(QStringLiteral("Sentences without fix"),
                        value(QString::number(telemetry.gpsNoFixCount)));

    std::set<QString> modeSet;
    std::optional<qint64> satellites;
    std::optional<double> hdop;
    double topKnots = 0;
    for (const GPSFix &fix : fixes) {
        if (std::optional<QString> mode = fix.modeDescription())
            modeSet.insert(*mode);
        if (fix.satellites)
            satellites = std::max(satellites.value_or(*fix.satellites), *fix.satellites);
        if (fix.hdop)
            hdop = std::min(hdop.value_or(*fix.hdop), *fix.hdop);
        topKnots = std::max(topKnots, fix.speedKnots);
    }
    QStringList modes(modeSet.begin(), modeSet.end());
    std::sort(modes.begin(), modes.end(),
              [](const QString &a, const QString &b) { return StringOrder::less(a, b); });
    if (!modes.isEmpty())
        section->addRow(QStringLiteral("Fix mode"), value(modes.join(QStringLiteral(", "))));
    if (satellites)
        section->addRow(QStringLiteral("Satellites (max)"), value(QString::number(*satellites)));
    if (hdop)
        section->addRow(QStringLiteral("Best HDOP"), value(QString::asprintf("%.1f", *hdop)));
    if (!fixes.isEmpty() && fixes.first().timestamp && fixes.last().timestamp)
        section->addRow(QStringLiteral("GPS time"),
                        value(Formats::dateTime(*fixes.first().timestamp) + QStringLiteral(" \u2013 ") +
                              Formats::time(*fixes.last().timestamp)));
    // The telemetry tells how far GPS time runs ahead of the camera's clock; the row tells the reverse.
    if (const std::optional<double> gpsAhead = telemetry.cameraClockOffset(clip.date)) {
        const double offset = -*gpsAhead;
        const QPalette palette = section->palette();
        WrapLabel *text =
            value(clockOffsetText(offset), TextStyles::body(),
                  std::abs(offset) > 120 ? Palette::orange(palette) : Palette::secondaryText(palette));
        text->setObjectName(QStringLiteral("cameraClock"));
        const int row = section->addRow(QStringLiteral("Camera clock"), text);
        section->rowWidget(row)->parentWidget()->setToolTip(clockHelp);
    }
    section->addRow(
        QStringLiteral("Top speed"),
        value(QString::asprintf("%.0f %s", topKnots * factorFromKnots(unit), qUtf8Printable(unitLabel))));
    section->addRow(QStringLiteral("Distance"),
                    value(QString::asprintf("%.0f m", telemetry.distanceMeters())));
    return section;
}

FormSection *sensor(const Telemetry &telemetry, PlayerController &player, Updaters &updaters)
{
    auto *section = new FormSection(QStringLiteral("G-Sensor"));
    WrapLabel *live = value(QString(), monospace(TextStyles::caption()));
    section->addRow(QStringLiteral("At playhead"), live);
    updaters.playhead.push_back([&telemetry = std::as_const(telemetry), live](double time) {
        const std::optional<SensorSample> s = telemetry.sensorAt(time);
        live->setText(
            s ? QString::asprintf("X %+.2f  Y %+.2f  Z %+.2f  |%.2f| g", s->x, s->y, s->z, s->magnitude())
              : Formats::absent);
    });
    QString samples = QString::number(telemetry.sensor.size());
    if (const std::optional<double> rate = telemetry.sensorRateHz())
        samples += QString::asprintf(" \u00B7 %.0f Hz", *rate);
    section->addRow(QStringLiteral("Samples"), value(samples));
    if (telemetry.sensorRangeG)
        section->addRow(QStringLiteral("Full-scale range"),
                        value(QString::asprintf("\u00B1%.0f g", *telemetry.sensorRangeG)));
    if (const std::optional<double> counts = telemetry.sensorCountsPerG)
        section->addRow(QStringLiteral("Resolution"),
                        value(QString::asprintf("%.0f counts/g (%.1f mg)", *counts, 1000.0 / *counts)));
    if (const std::optional<SensorSample> peak = telemetry.peakG()) {
        QPushButton *button = linkButton(
            QString::asprintf("%.2f g at %s", peak->magnitude(), qUtf8Printable(timeString(peak->time))));
        button->setObjectName(QStringLiteral("peak"));
        button->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
        const double time = peak->time;
        QObject::connect(button, &QPushButton::clicked, button, [&player, time] { player.seek(time); });
        section->addRow(QStringLiteral("Peak"), button);
    }
    return section;
}

FormSection *vehicle(const Telemetry &telemetry, Updaters &updaters)
{
    auto *section = new FormSection(QStringLiteral("Vehicle Data (CAR)"));
    section->setFooter(vehicleFooter);
    const QList<VehicleSample> &samples = telemetry.vehicle;
    const qsizetype firstFields = samples.isEmpty() ? 0 : samples.first().fields.size();
    section->addRow(QStringLiteral("Records"),
                    value(QString::number(samples.size()) + QStringLiteral(" \u00D7 ") +
                          QString::number(firstFields) + QStringLiteral(" fields")));
    const bool allZero =
        std::all_of(samples.begin(), samples.end(), [](const VehicleSample &s) { return s.isAllZero(); });
    if (allZero) {
        section->addRow(QStringLiteral("Values"), value(QStringLiteral("All zero in this recording")));
        return section;
    }
    // One row per field of the sample with the most; the rows beyond the current sample's fields hide.
    qsizetype most = 0;
    for (const VehicleSample &s : samples)
        most = std::max(most, s.fields.size());
    QList<std::pair<int, WrapLabel *>> rows;
    for (qsizetype i = 0; i < most; ++i) {
        WrapLabel *field = value(QString());
        field->setWrapMode(QTextOption::WrapAnywhere);
        rows.append({section->addRow(QStringLiteral("Field %1").arg(i + 1), field), field});
    }
    updaters.playhead.push_back([&telemetry = std::as_const(telemetry), section, rows](double time) {
        const std::optional<VehicleSample> s = telemetry.vehicleAt(time);
        const QStringList fields = s ? s->fields : QStringList();
        for (qsizetype i = 0; i < rows.size(); ++i) {
            const bool shown = i < fields.size();
            if (shown)
                rows[i].second->setText(fields[i].isEmpty() ? Formats::absent : fields[i]);
            if (rows[i].second->parentWidget()->isVisibleTo(section) != shown)
                section->setRowVisible(rows[i].first, shown);
        }
    });
    return section;
}

FormSection *otherSentences(const Telemetry &telemetry)
{
    auto *section = new FormSection(QStringLiteral("Other Sentences"));
    struct Group {
        qsizetype count = 0;
        QStringList firstFields;
    };
    std::map<QString, Group, bool (*)(const QString &, const QString &)> groups(
        [](const QString &a, const QString &b) { return StringOrder::less(a, b); });
    for (const OtherSentence &sentence : telemetry.other) {
        Group &group = groups[sentence.type];
        if (group.count++ == 0)
            group.firstFields = sentence.fields;
    }
    for (const auto &[type, group] : groups) {
        WrapLabel *text = value(QString::number(group.count) + QStringLiteral(" \u00D7 ") +
                                    group.firstFields.join(QLatin1Char(',')),
                                monospace(TextStyles::caption()));
        text->setWrapMode(QTextOption::WrapAnywhere);
        text->setMaximumLines(2);
        const int row = section->addRow(type, text);
        section->rowLabel(row)->setTextFormat(Qt::PlainText);
    }
    return section;
}

FormSection *media(Channel channel, const MediaInfo &info)
{
    auto *section = new FormSection(title(channel) + QStringLiteral(" File"));
    const QPalette palette = section->palette();
    section->addRow(QStringLiteral("Container"), value(info.container));
    if (info.creationTime) {
        const int row = section->addRow(QStringLiteral("Container timestamp"),
                                        value(Formats::dateTime(*info.creationTime)));
        section->rowWidget(row)->parentWidget()->setToolTip(QStringLiteral(
            "Written by the camera when the file was finalised (usually the end of the recording)."));
    }
    if (info.overallBitrate)
        section->addRow(QStringLiteral("Overall bitrate"),
                        value(QString::asprintf("%.1f Mbps", *info.overallBitrate / 1'000'000.0)));
    for (const MediaInfo::Track &track : info.tracks) {
        auto [block, stack] =
            itemBlock(QStringLiteral("track"), track.kind,
                      value(track.codec, TextStyles::body(), Palette::secondaryText(palette)));
        if (!track.details.isEmpty()) {
            auto *details = new WrapLabel(track.details.join(Formats::separator));
            details->setFont(TextStyles::caption());
            details->setColor(Palette::secondaryText(palette));
            stack->addWidget(details);
        }
        QStringList names;
        if (track.handler)
            names.append(QStringLiteral("Handler: ") + *track.handler);
        if (track.encoder)
            names.append(QStringLiteral("Encoder: ") + *track.encoder);
        if (!names.isEmpty()) {
            auto *line = new WrapLabel(names.join(Formats::separator));
            line->setObjectName(QStringLiteral("handlerEncoder"));
            line->setFont(TextStyles::caption2());
            line->setColor(Palette::tertiaryText(palette));
            stack->addWidget(line);
        }
        section->addRow(block);
    }
    for (const MediaInfo::VendorBox &box : info.vendorBoxes) {
        WrapLabel *where =
            value(box.path + Formats::separator + QString::number(box.size) + QStringLiteral(" B"),
                  monospace(TextStyles::caption()), Palette::secondaryText(palette));
        where->setWrapMode(QTextOption::WrapAnywhere);
        auto [block, stack] = itemBlock(QStringLiteral("vendorBox"), QStringLiteral("Vendor box"), where);
        block->setToolTip(QStringLiteral("Undocumented camera-vendor data, shown raw."));
        const QFont small = monospace(TextStyles::caption());
        auto *content = new WrapLabel(
            box.text ? *box.text : box.hexPreview + (box.size >= 57 ? QStringLiteral(" \u2026") : QString()));
        content->setObjectName(QStringLiteral("vendorContent"));
        content->setFont(small);
        content->setColor(Palette::secondaryText(palette));
        content->setWrapMode(QTextOption::WrapAnywhere);
        content->setSelectable(true);
        stack->addWidget(content);
        section->addRow(block);
    }
    return section;
}

} // namespace InspectorSections
