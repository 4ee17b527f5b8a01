#pragma once

#include "platform/AudioInput.h"
#include "platform/ScreenSource.h"

#include <memory>
#include <optional>
#include <vector>

namespace corvessa {

class SyntheticScreenStream;

// A screen-capture service without a screen, for tests and machines without X:
// settable displays and windows, streams of a moving test pattern
// (SyntheticScreenStream) and a tone microphone (SyntheticAudioInput unless
// another input is set). Tests can make it fail and lose things on purpose:
// refuse content() or start(), remove a display or a window (streams on it end
// with onStop), end every stream as lost, or hold back frames as a still screen
// would. Thread-safe.
class SyntheticScreenSource : public ScreenSource {
public:
    // One 1920x1080 display ("SYNTHETIC-1"), no windows.
    SyntheticScreenSource();
    SyntheticScreenSource(std::vector<DisplayInfo> displays, std::vector<WindowInfo> windows);
    ~SyntheticScreenSource() override;

    std::optional<ShareableContent> content(RecorderError* error = nullptr) override;
    std::unique_ptr<ScreenStream> makeStream(const ScreenFilter& filter, const ScreenStreamConfig& config,
                                             SerialQueue* queue, ScreenStreamOutput output) override;

    void setDisplays(std::vector<DisplayInfo> displays);
    void setWindows(std::vector<WindowInfo> windows);
    // The display or window leaves the content, and every running stream on it
    // ends with onStop (display disconnected, window closed). A display takes
    // its area streams along; its windows stay listed.
    void removeDisplay(uint32_t id);
    void removeWindow(uint32_t id);

    // While set, content() fails with this error.
    void setContentError(std::optional<RecorderError> error);
    // While set, start() of every stream fails with this error.
    void setStartError(std::optional<RecorderError> error);
    // Ends every running stream with onStop(error), as a lost stream would.
    void interruptStreams(const RecorderError& error);
    // While paused, running streams make no frames, as on a screen where nothing changes.
    void setDeliveryPaused(bool paused);
    bool isDeliveryPaused() const;
    // A stream's first frame reaches the output `seconds` after it was captured,
    // as on a busy machine where grabbing and converting it takes that long.
    void setFirstFrameDelay(double seconds);

    // Where streams take the microphone from (a SyntheticAudioInput at first).
    std::shared_ptr<AudioInput> audioInput() const;
    void setAudioInput(std::shared_ptr<AudioInput> input);

    // Streams of this source that are running now.
    int runningStreams() const;
    // The configuration each running stream has now, oldest stream first.
    std::vector<ScreenStreamConfig> runningConfigurations() const;

private:
    struct Hub;
    template <typename Pick>
    void interruptWhere(Pick pick, const RecorderError& error);

    std::shared_ptr<Hub> m_hub;
};

} // namespace corvessa
