#pragma once

#include "platform/ScreenSource.h"
#include "platform/core/PixelBuffer.h"
#include "platform/core/SerialQueue.h"

#include <QImage>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <optional>
#include <utility>

namespace corvessa::test {

// The colours (0xRRGGBB) the stream tests paint their windows in.
constexpr uint32_t kRed = 0xff0000;
constexpr uint32_t kGreen = 0x00ff00;
constexpr uint32_t kBlue = 0x0000ff;
constexpr uint32_t kYellow = 0xffff00;
constexpr uint32_t kGrey = 0x808080;
constexpr uint32_t kCyan = 0x00ffff;
constexpr uint32_t kBlack = 0x000000;

// Collects what a stream delivers on its queue.
struct Collector {
    std::mutex mutex;
    std::condition_variable changed;
    int frames = 0;
    int microphoneBuffers = 0;
    PixelBufferRef latest;
    MediaTime lastTime;
    bool timesIncrease = true;
    bool wrongThread = false;
    std::optional<RecorderError> stopError;
    int stops = 0;
    // Runs on every frame, on the queue.
    std::function<void(const PixelBuffer&)> inspect;
    SerialQueue* queue = nullptr;

    ScreenStreamOutput output()
    {
        ScreenStreamOutput out;
        out.onScreen = [this](const SampleBuffer& s) {
            std::lock_guard lock(mutex);
            if (queue && !queue->isCurrent())
                wrongThread = true;
            if (lastTime.isValid() && !(s.presentationTime() > lastTime))
                timesIncrease = false;
            lastTime = s.presentationTime();
            latest = s.imageBuffer();
            ++frames;
            if (inspect && latest)
                inspect(*latest);
            changed.notify_all();
        };
        out.onMicrophone = [this](const SampleBuffer&) {
            std::lock_guard lock(mutex);
            ++microphoneBuffers;
            changed.notify_all();
        };
        out.onStop = [this](const RecorderError& e) {
            std::lock_guard lock(mutex);
            stopError = e;
            ++stops;
            changed.notify_all();
        };
        return out;
    }

    bool waitFor(const std::function<bool()>& condition, int ms = 5000)
    {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::milliseconds(ms), condition);
    }
    // Waits for a frame that satisfies `check`.
    bool waitForFrame(const std::function<bool(const PixelBuffer&)>& check, int ms = 5000)
    {
        return waitFor([&] { return latest && check(*latest); }, ms);
    }
    int frameCount()
    {
        std::lock_guard lock(mutex);
        return frames;
    }
    // The count and the last frame's time, read together.
    std::pair<int, MediaTime> framesAndTime()
    {
        std::lock_guard lock(mutex);
        return {frames, lastTime};
    }
    int microphoneCount()
    {
        std::lock_guard lock(mutex);
        return microphoneBuffers;
    }
    std::optional<RecorderError> stopped()
    {
        std::lock_guard lock(mutex);
        return stopError;
    }
    int stopCount()
    {
        std::lock_guard lock(mutex);
        return stops;
    }
    PixelBufferRef last()
    {
        std::lock_guard lock(mutex);
        return latest;
    }
};

// The colour (0xRRGGBB) at (x, y) of a BGRA buffer.
inline uint32_t pixel(const PixelBuffer& b, int x, int y)
{
    const uint8_t* p = b.baseAddress(0) + size_t(y) * b.bytesPerRow(0) + size_t(x) * 4;
    return uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
}

inline uint8_t alpha(const PixelBuffer& b, int x, int y)
{
    return b.baseAddress(0)[size_t(y) * b.bytesPerRow(0) + size_t(x) * 4 + 3];
}

// A copy of a BGRA buffer.
inline QImage imageOf(const PixelBuffer& b)
{
    return QImage(b.baseAddress(0), b.width(), b.height(), int(b.bytesPerRow(0)), QImage::Format_RGB32).copy();
}

// Whether two colours differ by at most `tolerance` in every channel.
inline bool near(uint32_t a, uint32_t b, int tolerance = 6)
{
    for (int shift : {0, 8, 16}) {
        if (std::abs(int((a >> shift) & 0xff) - int((b >> shift) & 0xff)) > tolerance)
            return false;
    }
    return true;
}

} // namespace corvessa::test
