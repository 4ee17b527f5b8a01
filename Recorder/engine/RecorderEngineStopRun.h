#pragma once

#include "engine/RecorderEngine.h"

#include <future>

namespace corvessa {

// The state of one stop call, shared by the steps that run on the engine queue
// (owned there; `future` is waited on by the thread that called stop()).
struct RecorderEngine::StopRun {
    std::promise<std::optional<QString>> result;
    std::shared_future<std::optional<QString>> future = result.get_future().share();
    MediaTime capturedUntil;   // host clock: the sources were cut off here
    double deadline = 0;       // host seconds: the sound is given up unless the writer takes some before
    int64_t drainedCursor = 0; // the mixer's cursor when the deadline was set
    bool done = false;
    // Begun by the engine itself; `claimed` once a stop() call has waited for it.
    bool selfStarted = false;
    bool claimed = false;

    void finish(std::optional<QString> url)
    {
        if (done)
            return;
        done = true;
        result.set_value(std::move(url));
    }
};

} // namespace corvessa
