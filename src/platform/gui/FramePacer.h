#pragma once

#include <array>
#include <cstddef>
#include <optional>

// When the video stage puts frames on the screen, for its two cameras (0 front, 1 rear). Each paint puts the
// whole stage on the screen again, which costs about as much as drawing a frame, so the stage paints once
// for a pair of frames where it can; yet mpv's video thread must never wait for the window, or it drops
// the frames after. No GL and no timers: the stage draws, runs its two timers and reports what it did.
class FramePacer {
public:
    // A change waits this long for the next frame's paint before it paints on its own.
    static constexpr int lateUpdateMs = 70;
    // The longest a frame waits for the other camera's.
    static constexpr int maxPartnerWaitMs = 25;

    // The other camera, as far as waiting for it goes.
    struct Partner {
        bool playing = false;
        double frameRate = 0; // 0: not known yet
    };

    // What to do with a frame mpv says it has.
    enum class Arrival {
        take,           // draw it (or take it unseen) now
        showHeldFirst,  // paint the frame the window holds, then draw this one into the window
        holdUntilPaint, // leave it in mpv and paint now; it arrives again after the paint
    };
    // `direct`: the camera is the main picture, drawn straight into the window; `painting`: the window is
    // on the screen and paints.
    Arrival frameArrived(size_t camera, bool direct, bool painting);

    // After a frame was taken: paint now, start waiting for the other camera's frame, or let a running wait
    // go on (it began with an earlier frame, which must not wait longer).
    struct Compose {
        bool paintNow = false;
        int waitMs = 0; // > 0: start the wait
    };
    Compose afterFrame(size_t camera, bool bothShown, std::optional<Partner> other, bool waitRunning) const;
    // How long a frame of `camera` waits for the other's; 0 paints at once.
    int partnerWaitMs(size_t camera, bool bothShown, std::optional<Partner> other) const;

    // What becomes of mpv's frame: drawn where the camera is shown (or where its picture holds nothing yet),
    // taken without drawing where it is hidden, since mpv holds a player's video until each frame is taken.
    enum class Use { none, draw, skip };
    static Use use(bool shown, bool canDraw, bool newFrame, bool pictureEmpty);

    // A frame of `camera` was drawn and waits for a paint; true when it replaced one no paint showed.
    bool drew(size_t camera);
    // A paint takes no new frame of a camera whose drawn frame it has yet to show.
    bool takesNewFrameAtPaint(size_t camera) const { return !m_unshown[camera]; }
    // The paint showed `camera`'s frame; true when a frame was held in mpv for it and must be asked for
    // again.
    bool shown(size_t camera);

    // A change to show: while the main camera plays, its next frame's paint shows it within a frame's time,
    // where a paint of its own would have mpv draw the main picture once more.
    static bool waitsForNextFrame(bool mainPlaying, bool easing) { return mainPlaying && !easing; }

private:
    std::array<bool, 2> m_unshown{}; // a drawn frame no paint has shown yet
    std::array<bool, 2> m_held{};    // and mpv holds the next one until that paint
};
