#pragma once

#include <QString>
#include <QWidget>

class AppModel;
class ContentUnavailableWidget;
class DeckResizeHandle;
class QStackedLayout;
class QVBoxLayout;
class VideoStage;

// The detail column of the main window: an empty state until a recording is loaded, then the video stage
// over the transport bar, the deck's resize handle and the telemetry deck (both left out in theater mode).
// The stage and the bar keep at least 320 pixels; the deck is as high as "deckHeight" when there is room
// and is squeezed when there is not. The window's title follows the loaded recording.
class DetailView : public QWidget {
    Q_OBJECT
public:
    static constexpr int minimumPlayerHeight = 320;
    static inline const QString placeholderTitle = QStringLiteral("Select a Recording");
    static inline const QString placeholderSymbol = QStringLiteral("play.rectangle");
    static inline const QString placeholderDescription =
        QStringLiteral("Choose a clip from the list to play it with its map and G-sensor data.");
    static inline const QString appTitle = QStringLiteral("Roadloom");

    // The stage's GL canvas is made here and must stay in the window it first shows in: put the view into
    // its window before showing it.
    explicit DetailView(AppModel &model, QWidget *parent = nullptr);

    // Puts a widget under the stage (the transport bar) or into the deck's place; the view owns it.
    void setTransportBar(QWidget *bar);
    void setDeck(QWidget *deck);

    // The loaded recording's name, else "Roadloom".
    QString title() const;

    VideoStage *stage() const { return m_stage; }
    ContentUnavailableWidget *placeholder() const { return m_placeholder; }
    DeckResizeHandle *resizeHandle() const { return m_handle; }
    QWidget *playerArea() const { return m_playerArea; } // the stage with the transport bar
    QWidget *deckArea() const { return m_deckArea; }
    bool showsPlayer() const;

signals:
    void titleChanged(const QString &title);
    // The error overlay's "Open Settings…".
    void settingsRequested();

protected:
    bool event(QEvent *event) override;

private:
    void syncPage();
    void syncTheater();
    void syncDeckHeight();
    void applyTitle();

    AppModel &m_model;
    QStackedLayout *m_pages;
    ContentUnavailableWidget *m_placeholder;
    QWidget *m_playerPage;
    QWidget *m_playerArea;
    VideoStage *m_stage;
    QVBoxLayout *m_transportSlot;
    DeckResizeHandle *m_handle;
    QWidget *m_deckArea;
    QString m_title;
};
