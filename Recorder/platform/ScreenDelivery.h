#pragma once

#include "platform/ScreenSource.h"
#include "platform/core/PixelBuffer.h"
#include "platform/core/SampleBuffer.h"
#include "platform/core/SerialQueue.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <variant>

namespace corvessa {

class AudioCaptureStream;
class AudioInput;

// Hands a screen stream's output to its queue: frames, microphone buffers, an
// area's move and the stream's end. Owned jointly by the stream and every
// delivery in flight, so a stream destroyed mid-delivery is safe; nothing is
// delivered after stop() or after the stream ended by itself. Any thread;
// output calls run on `queue`.
struct ScreenDelivery {
    SerialQueue* queue = nullptr;
    ScreenStreamOutput output;
    std::recursive_mutex callMutex; // held during an output call; stop() takes it
    bool stopped = false;           // guarded by callMutex
    std::atomic<int> pending{0};    // frames on the queue not yet handed over
    std::atomic<uint64_t> delivered{0}; // frames handed to the queue

    // No output call starts after this returns.
    void stop();

    // Tags a picture as a complete BT.709 frame and hands it over.
    static void frame(const std::shared_ptr<ScreenDelivery>& self, PixelBufferRef buffer, MediaTime time,
                      MediaTime duration);
    static void microphone(const std::shared_ptr<ScreenDelivery>& self, SampleBuffer sample);
    static void ended(const std::shared_ptr<ScreenDelivery>& self, RecorderError error);
    static void moved(const std::shared_ptr<ScreenDelivery>& self);

    // Opens the microphone `config` asks for on `input` and starts it, its
    // buffers delivered as microphone(); an error the stream can report as is.
    static std::variant<std::unique_ptr<AudioCaptureStream>, RecorderError>
    startMicrophone(const std::shared_ptr<ScreenDelivery>& self, AudioInput& input, const ScreenStreamConfig& config);
    // Whether going from `before` to `after` needs another microphone stream.
    static bool microphoneChanged(const ScreenStreamConfig& before, const ScreenStreamConfig& after);
};

} // namespace corvessa
