#pragma once

#include <QWidget>

class AppModel;
class QAction;
class QActionGroup;
class QHBoxLayout;
class QLabel;
class QMenu;
class QSlider;
class QToolButton;
class Scrubber;

// The strip under the video stage: the scrubber, the playback time, the transport buttons, the playback
// speed, mute and volume, and the camera and view options. It keeps no state: every control reads and
// writes the player controller or moves the library's selection. No control takes the keyboard focus, so
// the keys keep acting where the focus was.
class TransportBar : public QWidget {
    Q_OBJECT
public:
    static constexpr int timeWidth = 130;
    static constexpr int rightGroupWidth = 230;
    static constexpr int volumeWidth = 80;
    // Once narrow, the bar widens again only this far beyond the full row's width, so a live resize
    // around the threshold never flips it back and forth.
    static constexpr int hysteresis = 16;

    explicit TransportBar(AppModel &model, QWidget *parent = nullptr);

    Scrubber *scrubber() const { return m_scrubber; }
    QLabel *timeLabel() const { return m_time; }
    QWidget *transportGroup() const { return m_transport; }
    QToolButton *previousButton() const { return m_previous; }
    QToolButton *backButton() const { return m_back; }
    QToolButton *previousFrameButton() const { return m_previousFrame; }
    QToolButton *playButton() const { return m_play; }
    QToolButton *nextFrameButton() const { return m_nextFrame; }
    QToolButton *forwardButton() const { return m_forward; }
    QToolButton *nextButton() const { return m_next; }
    QToolButton *speedButton() const { return m_speed; }
    QMenu *speedMenu() const { return m_speedMenu; }
    QToolButton *muteButton() const { return m_mute; }
    QSlider *volumeSlider() const { return m_volume; }
    // The vertical slider that the mute button's menu holds while the bar is narrow.
    QSlider *popupVolumeSlider() const { return m_popupVolume; }
    // The bar has dropped the volume slider and the frame steps for want of room.
    bool isCompact() const { return m_compact; }
    // Narrower still, the time and the right group move up into a row of their own, over the transport
    // buttons.
    bool isStacked() const { return m_stacked; }
    // The width the full row needs, whichever row is shown.
    int fullWidth() const;
    // The width the narrow row needs, whichever row is shown.
    int compactWidth() const;
    QToolButton *optionsButton() const { return m_options; }
    QMenu *optionsMenu() const { return m_optionsMenu; }
    // An options item by its text ("Swap Cameras").
    QAction *option(const QString &text) const;

    // "1×", else the rate in the locale's digits and "×".
    static QString speedText(double rate);

    // Any width: the bar never widens the window's detail column at the expense of the side columns.
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    QToolButton *transportButton(const QString &symbol, const QString &help, int frame, int icon);
    QWidget *buildSpeed();
    QWidget *buildOptions();
    void showTime();
    void showRate(double rate);
    void showMute();
    void showPlaying(bool playing);
    void enableRearOptions();
    void showVolume(double volume);
    void applyCompact(bool compact);
    void applyStacked(bool stacked);
    int compactTimeWidth() const;

    AppModel &m_model;
    Scrubber *m_scrubber;
    QLabel *m_time;
    QWidget *m_transport;
    QHBoxLayout *m_row = nullptr;
    QHBoxLayout *m_upper = nullptr; // the time and the right group while stacked
    QWidget *m_right = nullptr;
    bool m_compact = false;
    bool m_stacked = false;
    QToolButton *m_previous, *m_back, *m_previousFrame, *m_play, *m_nextFrame, *m_forward, *m_next;
    QToolButton *m_speed = nullptr;
    QMenu *m_speedMenu = nullptr;
    QActionGroup *m_rates = nullptr;
    QToolButton *m_mute;
    QSlider *m_volume;
    QSlider *m_popupVolume = nullptr;
    QMenu *m_volumeMenu = nullptr;
    QToolButton *m_options = nullptr;
    QMenu *m_optionsMenu = nullptr;
    QAction *m_swap = nullptr, *m_pip = nullptr, *m_mirror = nullptr;
};
