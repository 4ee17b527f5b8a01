#pragma once

#include "platform/AudioInput.h"
#include "platform/core/PixelBuffer.h"
#include "platform/core/PixelBufferPool.h"
#include "platform/ScreenSource.h"
#include "platform/core/SerialQueue.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace corvessa {

// A capture stream without a screen: a moving test pattern at the configured
// size and frame interval, made on a queue of its own and delivered to the
// output queue like a real stream's frames, with a tone as the microphone.
// The pattern carries the frame's number, so that a test can tell frames apart
// and check their order after they went through a pipeline:
// - a mid-grey background;
// - in the top `blockSize` rows, 32 blocks of `blockSize` pixels: the frame
//   number in binary, most significant bit first, white for 1 and black for 0;
// - below them, a white bar `barWidth` pixels wide that moves `barWidth` pixels
//   to the right with every frame, wrapping round at the right edge.
// Made by SyntheticScreenSource, which can refuse its start, pause its frames
// and end it as a lost display or window would.
class SyntheticScreenStream : public ScreenStream {
public:
    static constexpr int blockSize = 4;
    static constexpr int counterBits = 32;
    static constexpr int barWidth = 8;

    // What the stream asks of its source.
    struct Environment {
        // Checked at start(): an error refuses it (content gone, failure asked for).
        std::function<std::optional<RecorderError>(const ScreenFilter&)> startCheck;
        // While true, no frames are made (a screen where nothing changes).
        std::function<bool()> paused;
        // The microphone; null means AudioInput::current().
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
    struct Shared;
    void tick();
    void scheduleLocked();
    std::optional<RecorderError> startMicrophone(const ScreenStreamConfig& config);
    void stopMicrophone();

    const ScreenFilter m_filter;
    SerialQueue* const m_queue;
    Environment m_env;
    std::shared_ptr<Shared> m_shared;

    mutable std::mutex m_mutex; // guards the fields below
    ScreenStreamConfig m_config;
    bool m_running = false;
    bool m_finished = false; // stopped or interrupted: never starts again
    WorkItemRef m_timer;
    std::shared_ptr<PixelBufferPool> m_pool;
    uint32_t m_number = 0;
    std::unique_ptr<AudioCaptureStream> m_microphone;

    // Last, so that it goes first: its thread ends before the fields it uses.
    SerialQueue m_frames{"synthetic.screen", SerialQueue::QoS::UserInteractive};
};

} // namespace corvessa
