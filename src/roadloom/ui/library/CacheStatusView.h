#pragma once

#include "roadcore/MediaCacheTypes.h"

#include <QWidget>

#include <optional>

class CacheCoordinator;
class ElidedLabel;
class QLabel;
class QProgressBar;
class QToolButton;
class SymbolLabel;
class WrapLabel;

// What background caching is doing, at the foot of the sidebar: a running or paused run with its pause
// button, bar and current file; otherwise how much is cached; and the last caching error.
class CacheStatusView : public QWidget {
    Q_OBJECT
public:
    explicit CacheStatusView(CacheCoordinator &cache, QWidget *parent = nullptr);

    // "Caching paused", or "Caching N of T" with the file being copied counted (never more than T).
    static QString runText(bool paused, int completedFiles, int totalFiles);
    // "12 MB cached · 3 recordings".
    static QString usageText(const MediaCacheUsage &usage);
    static QString pauseHelp(bool paused);

    QWidget *runBlock() const { return m_run; }
    QLabel *runLabel() const { return m_runText; }
    QToolButton *pauseButton() const { return m_pause; }
    QProgressBar *progressBar() const { return m_progress; }
    ElidedLabel *currentNameLabel() const { return m_current; }
    QWidget *usageLine() const { return m_usage; }
    QLabel *usageLabel() const { return m_usageText; }
    QWidget *errorLine() const { return m_error; }
    WrapLabel *errorLabel() const { return m_errorText; }

protected:
    void changeEvent(QEvent *event) override;

private:
    void refresh();
    void applyColors();

    CacheCoordinator &m_cache;
    QWidget *m_run = nullptr;
    QLabel *m_runText = nullptr;
    QToolButton *m_pause = nullptr;
    QProgressBar *m_progress = nullptr;
    ElidedLabel *m_current = nullptr;
    QWidget *m_usage = nullptr;
    SymbolLabel *m_usageSymbol = nullptr;
    QLabel *m_usageText = nullptr;
    QWidget *m_error = nullptr;
    SymbolLabel *m_errorSymbol = nullptr;
    WrapLabel *m_errorText = nullptr;
};
