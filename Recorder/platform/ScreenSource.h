#pragma once

#include "platform/DisplayInfo.h"
#include "platform/core/RecorderError.h"
#include "platform/core/SampleBuffer.h"
#include "platform/ScreenStreamConfig.h"
#include "platform/WindowInfo.h"

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace corvessa {

class SerialQueue;

// What can be recorded right now.
struct ShareableContent {
    std::vector<DisplayInfo> displays;
    std::vector<WindowInfo> windows; // front to back; onScreen tells which are shown now
};

// Receives a stream's output. Every call arrives on the queue given to
// ScreenSource::makeStream.
struct ScreenStreamOutput {
    // A frame (SampleBuffer with an image buffer and a host-clock time). The
    // FrameStatus attachment says whether it is a new picture (Complete) or
    // only a notice (Idle, Blank, ...) without new content.
    std::function<void(const SampleBuffer&)> onScreen;
    // Microphone audio, host-clock timed.
    std::function<void(const SampleBuffer&)> onMicrophone;
    // The stream stopped by itself: its display or window went away, the server
    // died. Not called after stop(), and nothing is delivered after it. A
    // microphone that fails while running does not stop the stream: its buffers
    // just stop coming (the engine's watchdog notices the silence).
    std::function<void(const RecorderError&)> onStop;
    // An area's display moved on the screen; the area moved with it, so the
    // stream goes on recording the same place of that display.
    std::function<void()> onMoved;
};

// A running capture stream.
class ScreenStream {
public:
    virtual ~ScreenStream() = default;
    // Starts delivering; the first frame shows the content as it is at the start.
    // An error means nothing runs (a microphone that cannot start refuses the
    // whole start).
    virtual std::optional<RecorderError> start() = 0;
    // Applies a new configuration while running (frame rate, size, ...).
    virtual std::optional<RecorderError> updateConfiguration(const ScreenStreamConfig& config) = 0;
    // Stops delivering; no output call starts after it returns.
    virtual void stop() = 0;
};

// The screen-capture service: displays, windows, capture streams.
// Backends: the X11 source (XComposite, XShm, XDamage) and a synthetic one
// (moving test pattern, tone microphone) for tests and machines without X.
class ScreenSource {
public:
    virtual ~ScreenSource() = default;

    // Displays and on-screen windows; an error when the service cannot be reached.
    virtual std::optional<ShareableContent> content(RecorderError* error = nullptr) = 0;

    // A stream for the filter. Output goes to `queue`.
    virtual std::unique_ptr<ScreenStream> makeStream(const ScreenFilter& filter, const ScreenStreamConfig& config,
                                                     SerialQueue* queue, ScreenStreamOutput output) = 0;

    // The process-wide source (installed by the program at start-up or by tests).
    // Unless one was installed, the first call picks the X server's when it can
    // be reached (and CORVESSA_SCREEN is not "synthetic"), else a synthetic one.
    static std::shared_ptr<ScreenSource> current();
    // Installs the process-wide source; null goes back to the automatic choice.
    static void setCurrent(std::shared_ptr<ScreenSource> source);

    // A clear error for a configuration no backend can deliver: sizes not
    // positive (or odd for NV12) or above 16384, a frame interval that is not a
    // positive time, a queue depth below 1, an empty or non-finite area.
    static std::optional<RecorderError> checkConfiguration(const ScreenStreamConfig& config);
    // Why a stream cannot start: already running, already stopped, a bad
    // configuration or no output queue; nothing when it can.
    static std::optional<RecorderError> checkStart(bool running, bool stopped, const ScreenStreamConfig& config,
                                                   const SerialQueue* queue);
};

} // namespace corvessa
