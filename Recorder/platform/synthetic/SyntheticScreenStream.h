#pragma once

#include "platform/AudioInput.h"
#include "platform/ScreenSource.h"
#include "platform/core/Guarded.h"
#include "platform/core/PixelBuffer.h"
#include "platform/core/PixelBufferPool.h"
#include "platform/core/SerialQueue.h"
#include "platform/synthetic/SyntheticPattern.h"

#include <functional>
#include <memory>
#include <optional>

namespace corvessa {

struct ScreenDelivery;

// A capture stream without a screen: a moving test pattern at the configured
// size and frame interval, made on a queue of its own and delivered to the
// output queue like a real stream's frames, with a tone as the microphone.
// The pattern is a mid-grey background with the frame's counter and moving bar
// (SyntheticPattern), so that a test can tell frames apart and check their
// order after they went through a pipeline.
// Made by SyntheticScreenSource, which can refuse its start, pause its frames
// and end it as a lost display or window would.
class SyntheticScreenStream : public ScreenStream {
public:
    static constexpr int blockSize = SyntheticPattern::blockSize;
    static constexpr int counterBits = SyntheticPattern::counterBits;
    static constexpr int barWidth = SyntheticPattern::barWidth;

    // What the stream asks of its source.
    struct Environment {
        // Checked at start(): an error refuses it (content gone, failure asked for).
        std::function<std::optional<RecorderError>(const ScreenFilter&)> startCheck;
        // While true, no frames are made (a screen where nothing changes).
        std::function<bool()> paused;
        // How long the first frame takes from its capture to its delivery (ns).
        std::function<int64_t()> firstFrameDelayNs;
        // The microphone; never null.
        std::shared_ptr<AudioInput> audio;
        // Called once from the destructor.
        std::function<void(SyntheticScreenStream*)> destroyed;
    };

    SyntheticScreenStream(ScreenFilter filter, ScreenStreamConfig config, SerialQueue* queue, ScreenStreamOutput output,
                          Environment environment);
    ~SyntheticScreenStream() override;

    std::optional<RecorderError> start() override;
    std::optional<RecorderError> updateConfiguration(const ScreenStreamConfig& config) override;
    void stop() override;

    // Ends the stream as a lost display or window would: no frames after it and
    // onStop(error) on the output queue. Nothing happens unless it is running.
    void interrupt(const RecorderError& error);

    const ScreenFilter& filter() const { return m_filter; }
    bool isRunning() const;
    ScreenStreamConfig configuration() const;
    // Frames handed to the output queue so far.
    uint64_t framesDelivered() const;

    // Draws the pattern of frame `number` into the buffer.
    static void drawPattern(PixelBuffer& buffer, uint32_t number);
    // The frame number a pattern carries; nothing when the buffer is too small
    // (under 128 x 4 pixels) to carry one.
    static std::optional<uint32_t> frameNumber(const PixelBuffer& buffer);
    // The left edge of the bar in a pattern; nothing when no bar is found.
    static std::optional<int> barPosition(const PixelBuffer& buffer);

private:
    struct State {
        ScreenStreamConfig config;
        bool running = false;
        bool finished = false; // stopped or interrupted: never starts again
        WorkItemRef timer;
        std::shared_ptr<PixelBufferPool> pool;
        uint32_t number = 0;
        std::unique_ptr<AudioCaptureStream> microphone;
    };

    void tick();
    void schedule(State& state);
    // No more frames, and no start again.
    static void finish(State& state);
    std::optional<RecorderError> startMicrophone(const ScreenStreamConfig& config);
    void stopMicrophone();

    const ScreenFilter m_filter;
    SerialQueue* const m_queue;
    Environment m_env;
    const std::shared_ptr<ScreenDelivery> m_delivery;
    Guarded<State> m_state; // any thread

    // Last, so that it goes first: its thread ends before the fields it uses.
    SerialQueue m_frames{"synthetic.screen", SerialQueue::QoS::UserInteractive};
};

} // namespace corvessa
