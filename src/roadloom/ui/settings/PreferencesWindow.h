#pragma once

#include "roadloom/ui/settings/PreferencesView.h"

class QScrollArea;

// The settings window: the settings at their natural height, scrolling only when the screen is lower.
class PreferencesWindow : public QWidget {
    Q_OBJECT

public:
    explicit PreferencesWindow(AppModel &model, PreferencesView::FFmpegLookup lookup = {},
                               QWidget *parent = nullptr);

    PreferencesView *view() const { return m_view; }

    // The settings at their natural height.
    QSize sizeHint() const override;

private:
    PreferencesView *m_view;
    QScrollArea *m_scroll;
};
