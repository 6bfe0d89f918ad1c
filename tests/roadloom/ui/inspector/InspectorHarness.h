#pragma once

// The inspector column on the application model's test harness, with readers of what it shows.
#include "roadloom/model/AppModelHarness.h"

#include "roadloom/ui/widgets/BusyIndicator.h"
#include "roadloom/ui/inspector/ClipInspector.h"
#include "roadloom/ui/widgets/FormSection.h"
#include "roadloom/ui/widgets/WrapLabel.h"

#include <QLabel>
#include <QPushButton>

#include <memory>

namespace InspectorHarness {

// The text a widget shows: a label's or button's own, a busy indicator as "[busy]", else its children's
// texts joined by " | ".
inline QString shown(const QWidget *widget)
{
    if (auto *wrap = qobject_cast<const WrapLabel *>(widget))
        return wrap->text();
    if (auto *label = qobject_cast<const QLabel *>(widget))
        return label->text();
    if (auto *button = qobject_cast<const QPushButton *>(widget))
        return button->text().replace(QStringLiteral("&&"), QStringLiteral("&"));
    if (qobject_cast<const BusyIndicator *>(widget))
        return QStringLiteral("[busy]");
    QStringList parts;
    for (QObject *child : widget->children()) {
        auto *part = qobject_cast<QWidget *>(child);
        if (!part || part->isHidden())
            continue;
        const QString text = shown(part);
        if (!text.isEmpty())
            parts.append(text);
    }
    return parts.join(QStringLiteral(" | "));
}

// Each visible row of a section as "Label=value", or the value alone for a row without a label.
inline QStringList rows(const FormSection *section)
{
    QStringList result;
    if (!section)
        return result;
    for (int i = 0; i < section->rowCount(); ++i) {
        QWidget *value = section->rowWidget(i);
        if (!value || !value->parentWidget()->isVisibleTo(section))
            continue;
        const QLabel *label = section->rowLabel(i);
        result.append(label ? label->text() + QLatin1Char('=') + shown(value) : shown(value));
    }
    return result;
}

// The value of the row with this label ("" when there is none).
inline QString row(const FormSection *section, const QString &label)
{
    for (const QString &line : rows(section))
        if (line.startsWith(label + QLatin1Char('=')))
            return line.mid(label.size() + 1);
    return QString();
}

class InspectorTest : public AppHarness::ModelTest {
protected:
    std::unique_ptr<ClipInspector> inspector;

    ClipInspector &makeInspector(const QList<DashClip> &clips)
    {
        make(clips);
        inspector = std::make_unique<ClipInspector>(*model);
        inspector->resize(300, 900);
        return *inspector;
    }
    QStringList headers() const
    {
        QStringList result;
        for (const FormSection *section : inspector->sections())
            result.append(section->header());
        return result;
    }
    QStringList rowsOf(const QString &header) const { return rows(inspector->section(header)); }
    QString rowOf(const QString &header, const QString &label) const
    {
        return row(inspector->section(header), label);
    }
    // Loads with the telemetry and media facts given for the recording's front file.
    void loadWith(DashClip clip, const Telemetry &telemetry, const ChannelMediaInfo &media = {})
    {
        services->telemetry[clip.files.begin()->second] = telemetry;
        for (const auto &[channel, info] : media)
            services->media[clip.files.at(channel)] = info;
        load(clip);
        ASSERT_TRUE(
            TestSupport::waitFor([&] { return model->player().mediaInfo().size() == clip.files.size(); }));
    }
    void TearDown() override
    {
        inspector.reset();
        AppHarness::ModelTest::TearDown();
    }
};

} // namespace InspectorHarness
