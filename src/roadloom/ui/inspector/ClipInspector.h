#pragma once

#include "roadloom/ui/inspector/DataLogSheet.h"
#include "roadloom/ui/inspector/InspectorSections.h"

#include <QPointer>
#include <QScrollArea>

class AppModel;
class FormSection;

// The inspector column: the loaded recording described in sections (recording, storage, embedded data,
// GPS, G-sensor, vehicle data, other sentences, one per channel file). Sections are built again when the
// recording, its telemetry, its media facts, its duration or frame rate change; the storage lines follow
// the copy in progress and the live rows the playhead, in place. Opens the data log.
class ClipInspector : public QScrollArea {
    Q_OBJECT
public:
    explicit ClipInspector(AppModel &model, QWidget *parent = nullptr);
    ~ClipInspector() override;

    // The sections shown, top to bottom.
    QList<FormSection *> sections() const;
    FormSection *section(const QString &header) const;
    // Shows the data log, made afresh; the one open, if any.
    void openDataLog();
    DataLogSheet *dataLog() const { return m_log; }

private:
    void rebuild();
    void followPlayhead(double time);
    void followCopying(const std::optional<QString> &name);

    AppModel &m_model;
    InspectorSections::Updaters m_updaters;
    QString m_shownID;
    QPointer<DataLogSheet> m_log;
};
