#pragma once

#include "platform/CameraDelivery.h"

#include "platform/CameraStream.h"
#include "platform/CameraStreamOutput.h"
#include "platform/core/Guarded.h"
#include "platform/core/PixelBufferPool.h"
#include "platform/core/SerialQueue.h"
#include "platform/synthetic/SyntheticPattern.h"

#include <QSize>

#include <functional>
#include <memory>
#include <optional>

namespace corvessa {

// A camera stream without a camera: a moving pattern at the configured size and
// frame duration, made on a queue of its own and delivered to the output queue
// like a real camera's pictures. The pattern is the frame's counter and moving
// bar (SyntheticPattern) on a green background (kBackground), which stands out
// from the synthetic screen's grey.
// Made by SyntheticCameraService, which can refuse it, end it as an unplugged
// camera would, and change the size of its pictures under way.
class SyntheticCameraStream : public CameraStream {
public:
    static constexpr int blockSize = SyntheticPattern::blockSize;
    static constexpr int counterBits = SyntheticPattern::counterBits;
    static constexpr int barWidth = SyntheticPattern::barWidth;
    struct Rgb {
        uint8_t r, g, b;
    };
    static constexpr Rgb kBackground{40, 170, 90};

    // What the stream asks of its service.
    struct Environment {
        std::function<std::optional<CameraError>()> configureCheck;
        std::function<std::optional<CameraError>()> startCheck;
        // Called once from the destructor.
        std::function<void(SyntheticCameraStream*)> destroyed;
    };

    SyntheticCameraStream(CameraDevice device, SerialQueue* queue, CameraStreamOutput output, Environment environment);
    ~SyntheticCameraStream() override;

    const CameraDevice& device() const override { return m_device; }
    std::optional<CameraError> configure(const Request& request) override;
    std::optional<ActiveFormat> activeFormat() const override;
    std::optional<CameraError> start() override;
    void stop() override;
    bool isRunning() const override;

    // Ends the stream by itself: nothing more is delivered and onStop(error)
    // follows on the output queue. A Disconnected stream cannot start again.
    void interrupt(const CameraError& error);
    // Pictures from the next frame on have this size (an empty size: the
    // configured one again), as a camera whose format changed under us.
    void setFrameSize(QSize size);
    // Reports frames lost on the output queue.
    void reportDrops(int count);

    uint64_t framesDelivered() const;

    // Draws the pattern of frame `number` (BGRA or NV12).
    static void drawPattern(PixelBuffer& buffer, uint32_t number);
    // The frame number a pattern carries; nothing when the buffer is too small.
    static std::optional<uint32_t> frameNumber(const PixelBuffer& buffer);

private:
    using Shared = CameraDelivery;
    struct State {
        std::optional<ActiveFormat> active;
        QSize frameSize; // overrides the configured size when not empty
        bool running = false;
        bool gone = false; // unplugged: never starts again
        WorkItemRef timer;
        std::shared_ptr<PixelBufferPool> pool;
        uint32_t number = 0;
    };
    void tick();
    void schedule(State& state);
    static void halt(State& state);

    const CameraDevice m_device;
    Environment m_env;
    std::shared_ptr<Shared> m_shared;
    Guarded<State> m_state; // any thread

    // Last, so that it goes first: its thread ends before the fields it uses.
    SerialQueue m_frames{"synthetic.camera", SerialQueue::QoS::UserInitiated};
};

} // namespace corvessa
