#include "engine/FrameDemand.h"

#include "capture/CameraOverlayState.h"
#include "engine/CameraFeed.h"
#include "engine/compositor/CursorCompositor.h"
#include "engine/compositor/FocusState.h"
#include "engine/compositor/MouseTrack.h"
#include "engine/compositor/PenBoard.h"

#include <algorithm>
#include <optional>

namespace corvessa {

namespace {

// How long after the last ink, zoom edge or cursor move frames keep coming at the full rate.
constexpr double kActivitySeconds = 0.7;

} // namespace

void FrameDemand::reset(uint64_t penVersion)
{
    m_lastPenVersion = penVersion;
    m_penChangedAt = 0;
}

bool FrameDemand::needsFrames(const CursorCompositor* cursor, const RecorderEngineConfig* config,
                              const MouseTrack* track, double now)
{
    if (!cursor)
        return false;
    if (config && config->camera)
        if (auto own = config->camera->overlay(); own && own->fullScreen())
            return true;
    if (config && config->cameraOverlay) {
        const CameraOverlayState::Status status = config->cameraOverlay->status();
        if ((status.layout.visible || status.layout.fullScreen) && status.frameCount > 0)
            return true;
    }
    const uint64_t penVersion = PenBoard::shared().version();
    if (penVersion != m_lastPenVersion) {
        m_lastPenVersion = penVersion;
        m_penChangedAt = now;
    }
    if (now - m_penChangedAt < kActivitySeconds)
        return true;

    const std::shared_ptr<FocusState> focus = config ? config->focus : nullptr;
    std::optional<double> lastEdge;
    bool zoomActive = false;
    if (focus) {
        const auto edges = focus->edges();
        if (!edges.empty())
            lastEdge = edges.back().t;
        zoomActive = (!edges.empty() && edges.back().on) || focus->progress(now) > 0.001;
    }
    if (!zoomActive && !cursor->drawPaw())
        return false;
    if (focus && now - std::max(lastEdge.value_or(0.0), focus->touch()) < kActivitySeconds)
        return true;
    const double activity = track ? track->lastActivity() : 0;
    return now - activity < kActivitySeconds;
}

} // namespace corvessa
