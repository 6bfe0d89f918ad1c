#pragma once

#include "platform/Result.h"
#include "platform/gui/VideoFacts.h"

#include <QImage>
#include <QObject>
#include <QString>

#include <optional>

// One player of a video file, driven from the GUI thread. Loading is asynchronous: `ready` or `failed`
// follows each `load`, unless a newer `load` or `clear` replaced the file first (then nothing of the
// older file is ever reported). The application uses the libmpv player; model tests use a scripted fake.
class VideoPlayer : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~VideoPlayer() override = default;

    // Replaces the current file; the new one starts paused at 0.
    virtual void load(const QString &path) = 0;
    // Unloads the current file.
    virtual void clear() = 0;
    // A file is loaded or loading.
    virtual bool hasFile() const = 0;
    // The facts of the current file once it is ready.
    virtual std::optional<VideoFacts> facts() const = 0;

    // Starts playback at a speed (1 is normal).
    virtual void play(double rate) = 0;
    // Changes the speed; while paused it only takes effect at the next `play`.
    virtual void setRate(double rate) = 0;
    virtual void pause() = 0;
    virtual bool isPlaying() const = 0;

    // 0 is silent, 1 is full.
    virtual void setVolume(double volume) = 0;
    virtual void setMuted(bool muted) = 0;

    // Seconds from the file's start; equals `duration()` once the end was reached.
    virtual double currentTime() const = 0;
    // Seconds; 0 until ready.
    virtual double duration() const = 0;

    // Shows the frame that covers the time (clamped to the file). Before the file is ready the seek waits
    // for it; of several waiting seeks only the latest is made.
    virtual void seek(double seconds) = 0;
    // Pauses, then moves by a number of frames (negative: back).
    virtual void step(int frames) = 0;
    // The picture is still on its way to `currentTime()`: the file is opening, or a seek or back step is
    // under way. A file that failed is not. `ready`, `failed` or `tick` follows when that ends.
    virtual bool isSettling() const = 0;

    // The frame on screen, upright, at the size the video is shown at.
    virtual Result<QImage> frameImage() = 0;

signals:
    void ready(const VideoFacts &facts);
    void failed(const QString &message);
    // About every 1/30 s while playing, and after every jump: a seek or step landed, a pause or start,
    // the end. Carries `currentTime()`.
    void tick(double time);
    // Playback reached the end of the file; playback is paused there.
    void ended();
};
