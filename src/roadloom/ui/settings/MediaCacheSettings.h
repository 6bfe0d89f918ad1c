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
class SymbolLabel;
struct MediaCacheUsage;

// The "Media Cache" section of the settings: which recordings get a backup copy, how much the cache holds
// and where, and its two clearing actions, with why the cache refused the last clear under them. Showing it
// asks for fresh usage figures.
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
    // The line under the buttons; shown while the cache has a clear refused.
    QWidget *refusalLine() const { return m_refusal; }
    QLabel *refusalText() const { return m_refusalText; }

    // "1.2 GB · 14 files · 5 recordings in library".
    static QString storedDescription(const MediaCacheUsage &usage);

protected:
    void showEvent(QShowEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void policyChosen(int index);
    void usageChanged(const std::optional<MediaCacheUsage> &usage);
    void showRefusal(const std::optional<QString> &refusal);
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
    QWidget *m_refusal;
    SymbolLabel *m_refusalSymbol;
    QLabel *m_refusalText;
};
