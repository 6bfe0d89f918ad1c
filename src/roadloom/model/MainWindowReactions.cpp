#include "roadloom/model/MainWindowReactions.h"

#include "roadloom/model/AppModel.h"

#include <QTimer>

MainWindowReactions::MainWindowReactions(AppModel &model, QObject *parent) : QObject(parent), m_model(model)
{
    connect(&model.library(), &LibraryStore::selectedClipIDChanged, this, &MainWindowReactions::scheduleLoad);
    connect(&model, &AppModel::requestConfigWindowChanged, this, &MainWindowReactions::configWindowRequested);
    scheduleLoad();
    if (model.requestConfigWindow())
        QTimer::singleShot(0, this, [this] { configWindowRequested(m_model.requestConfigWindow()); });
}

void MainWindowReactions::scheduleLoad()
{
    // Several changes in one turn (a rescan replacing the list, a selection following it) load once.
    if (m_loadScheduled)
        return;
    m_loadScheduled = true;
    QTimer::singleShot(0, this, &MainWindowReactions::load);
}

void MainWindowReactions::load()
{
    m_loadScheduled = false;
    LibraryStore &library = m_model.library();
    const std::optional<QString> selected = library.selectedClipID();
    // A selection that changed and changed back within the turn is no change.
    if (m_loadedOnce && selected == m_loadedID)
        return;
    m_loadedOnce = true;
    m_loadedID = selected;

    const bool autoplay = m_model.autoplayNextLoad();
    m_model.setAutoplayNextLoad(false);
    std::optional<DashClip> clip;
    if (selected)
        if (const qsizetype position = library.indexOf(*selected); position >= 0)
            clip = library.clips().at(position);
    m_model.player().load(clip, autoplay);
}

void MainWindowReactions::configWindowRequested(bool request)
{
    if (!request)
        return;
    emit deviceSettingsRequested();
    m_model.setRequestConfigWindow(false);
}
