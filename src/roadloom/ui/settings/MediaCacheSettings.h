#pragma once

#include "roadloom/ui/widgets/FormSection.h"

#include <optional>

class AppModel;
class BusyIndicator;
class ElidedLabel;
class QComboBox;
class QLabel;
class QPushButton;
class QStackedWidget;
struct MediaCacheUsage;

// The "Media Cache" section of the settings: which recordings get a backup copy, how much the cache holds
// and where, and its two clearing actions. Showing it asks for fresh usage figures.
class MediaCacheSettings : public FormSection {
    Q_OBJECT

public:
    explicit MediaCacheSettings(AppModel &model, QWidget *parent = nullptr);

    QComboBox *policyPicker() const { return m_policy; }
    // The busy indicator until figures exist, then the text.
    QStackedWidget *storedValue() const { return m_stored; }
    QLabel *storedText() const { return m_storedText; }
    ElidedLabel *locationLabel() const { return m_location; }
    QPushButton *showButton() const { return m_show; }
    QPushButton *removeAvailableButton() const { return m_removeAvailable; }
    QPushButton *clearButton() const { return m_clear; }

    // "1.2 GB · 14 files · 5 recordings in library".
    static QString storedDescription(const MediaCacheUsage &usage);

protected:
    void showEvent(QShowEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void policyChosen(int index);
    void usageChanged(const std::optional<MediaCacheUsage> &usage);
    void confirmClear();
    void applyColors();

    AppModel &m_model;
    QComboBox *m_policy;
    QStackedWidget *m_stored;
    BusyIndicator *m_busy;
    QLabel *m_storedText;
    ElidedLabel *m_location;
    QPushButton *m_show;
    QPushButton *m_removeAvailable;
    QPushButton *m_clear;
};
