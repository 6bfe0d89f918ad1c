#pragma once

#include "roadcore/Channel.h"
#include "roadcore/DashClip.h"
#include "roadcore/MediaInfo.h"
#include "roadcore/StorageState.h"
#include "roadcore/Telemetry.h"

#include <QString>

#include <functional>
#include <vector>

class AppModel;
class FormSection;
class PlayerController;
class QWidget;

// The sections of the clip inspector, each built for one state of the loaded recording. Figures about the
// whole recording are worked out once, here; what follows the playhead or the copy in progress is handed
// back as updaters the column calls, which set a text only when it changed.
namespace InspectorSections {

struct Updaters {
    std::vector<std::function<void(double time)>> playhead;
    std::vector<std::function<void(const std::optional<QString> &copying)>> copying;
};

FormSection *recording(const DashClip &clip, const PlayerController &player);
FormSection *storage(AppModel &model, const DashClip &clip, Updaters &updaters);
FormSection *embeddedData(const PlayerController &player, const std::function<void()> &openLog,
                          Updaters &updaters);
FormSection *gps(const Telemetry &telemetry, const DashClip &clip, SpeedUnit unit, Updaters &updaters);
FormSection *sensor(const Telemetry &telemetry, PlayerController &player, Updaters &updaters);
FormSection *vehicle(const Telemetry &telemetry, Updaters &updaters);
FormSection *otherSentences(const Telemetry &telemetry);
FormSection *media(Channel channel, const MediaInfo &info);

// Texts shared with tests and the printed column.
QString sentenceCounts(const QMap<QString, qint64> &counts);
QString storageText(StorageState state);
QString clockOffsetText(double offset);

} // namespace InspectorSections
