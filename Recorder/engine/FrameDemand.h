#pragma once

#include "engine/RecorderEngineConfig.h"

#include <cstdint>

namespace corvessa {

class CursorCompositor;
class MouseTrack;

// Whether the drawn picture changes on its own while the screen stands still: a
// camera on show, fresh ink, a zoom in motion, a drawn cursor that moves. Then
// the heartbeat repeats frames at the recording's rate instead of every 0.9 s.
// A plain value inside the engine, touched only on the engine queue.
class FrameDemand {
public:
    // A new recording: ink drawn before it (`penVersion`) is no change during it,
    // so it must not cost the first 0.7 s a frame per interval.
    void reset(uint64_t penVersion);

    // `now` in host-clock seconds. Without a compositor nothing is drawn: false.
    bool needsFrames(const CursorCompositor* cursor, const RecorderEngineConfig* config, const MouseTrack* track,
                     double now);

private:
    uint64_t m_lastPenVersion = UINT64_MAX;
    double m_penChangedAt = 0;
};

} // namespace corvessa
