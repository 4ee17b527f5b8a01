#pragma once

#include "platform/core/GlobalRect.h"
#include "platform/core/Scheduler.h"

#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace corvessa {

class RecorderModel;

// The outline of the magnified area on screen: the lens hint that follows the
// mouse (or shows the picked region) while the magnifier is on outside a
// recording, the compositor's zoom rectangles during one, and the short
// preview of a new zoom size. Main thread, but for the sink's first step.
class LensHint {
public:
    explicit LensHint(RecorderModel& model);

    // Starts or stops the hint's timer for the magnifier and the phase.
    void update();
    // Shows the outline of the current zoom size for a moment.
    void previewSize();
    // One step: follows the mouse near the outline's edges, or shows the picked region.
    void tick();
    // The recording's lens-preview callback: called on the engine queue with
    // each frame's zoom rectangle (nothing: no zoom); at most one rectangle is
    // on its way to the main thread at a time.
    std::function<void(std::optional<GlobalRect>)> sink();
    // Where the hint's outline is centred, while it runs.
    std::optional<GlobalPoint> center() const { return m_center; }
    // The last zoom rectangle the compositor reported.
    std::optional<GlobalRect> lastLensRect() const { return m_lastLensRect; }
    // The magnified share `frac` of `area` around `centre`, kept inside `area`.
    static GlobalRect lensRect(const GlobalRect& area, const GlobalPoint& centre, double frac);

private:
    void receive(const std::optional<GlobalRect>& rect);

    RecorderModel& m_model;
    Scheduler::TimerRef m_timer;
    std::optional<GlobalPoint> m_center;
    std::optional<GlobalRect> m_lastLensRect;
    Scheduler::TimerRef m_previewEnd;

    // Keeps at most one lens rectangle queued for the main thread; shared with
    // the engine queue, which may call the sink after the model is gone.
    struct Gate {
        std::mutex lensLock;
        bool lensInFlight = false;
    };
    std::shared_ptr<Gate> m_gate = std::make_shared<Gate>();
};

} // namespace corvessa
