#include "platform/gui/FramePacer.h"

#include <algorithm>
#include <utility>

FramePacer::Arrival FramePacer::frameArrived(size_t camera, bool direct, bool painting)
{
    // Drawing over a frame no paint has shown would throw it away unseen; only a window that paints can
    // show it first.
    if (direct)
        return m_unshown[camera] ? Arrival::showHeldFirst : Arrival::take;
    if (m_unshown[camera] && painting) {
        m_held[camera] = true;
        return Arrival::holdUntilPaint;
    }
    return Arrival::take;
}

FramePacer::Compose FramePacer::afterFrame(size_t camera, bool bothShown, std::optional<Partner> other,
                                           bool waitRunning) const
{
    const int wait = partnerWaitMs(camera, bothShown, other);
    if (wait <= 0)
        return {true, 0};
    return {false, waitRunning ? 0 : wait};
}

int FramePacer::partnerWaitMs(size_t camera, bool bothShown, std::optional<Partner> other) const
{
    // The other camera's frame is in already, or none is coming.
    if (!bothShown || m_unshown[1 - camera] || !other || !other->playing || other->frameRate <= 0)
        return 0;
    // The two cameras' frames come at the same rate but not at the same moment. Well under a frame's time:
    // a frame never waits past the next one of its own camera.
    return std::clamp(int(600.0 / other->frameRate), 0, maxPartnerWaitMs);
}

FramePacer::Use FramePacer::use(bool shown, bool canDraw, bool newFrame, bool pictureEmpty)
{
    if (shown)
        return canDraw && (newFrame || pictureEmpty) ? Use::draw : Use::none;
    return newFrame ? Use::skip : Use::none;
}

bool FramePacer::drew(size_t camera)
{
    return std::exchange(m_unshown[camera], true);
}

bool FramePacer::shown(size_t camera)
{
    m_unshown[camera] = false;
    return std::exchange(m_held[camera], false);
}
