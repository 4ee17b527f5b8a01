#pragma once

#include "platform/CameraDevice.h"
#include "platform/CameraError.h"
#include "platform/core/MediaTime.h"
#include "platform/core/PixelFormat.h"

#include <cstdint>
#include <optional>

namespace corvessa {

// An open camera. configure() chooses its format; start() and stop() may be
// repeated (a suspended camera keeps its format and buffers). Frames go to the
// output given when it was opened. Thread-safe; destroying it stops and closes it.
class CameraStream {
public:
    struct Request {
        int formatIndex = 0;       // into device().formats
        double frameRate = 30;     // locked through CameraFormat::frameInterval
        PixelFormat output = PixelFormat::BGRA;
    };

    // What the device agreed to, which may differ from what was asked.
    struct ActiveFormat {
        int width = 0;
        int height = 0;
        uint32_t pixelFormat = 0; // the device's layout (CameraPixelFormat)
        MediaTime frameInterval;  // the locked frame duration
        PixelFormat output = PixelFormat::BGRA;
        bool operator==(const ActiveFormat&) const = default;
    };

    virtual ~CameraStream() = default;

    // The camera as read when it was opened.
    virtual const CameraDevice& device() const = 0;
    // Sets size, layout and frame duration and prepares the buffers. Not while running.
    virtual std::optional<CameraError> configure(const Request& request) = 0;
    virtual std::optional<ActiveFormat> activeFormat() const = 0;
    // Starts delivering, locking the frame duration again first.
    virtual std::optional<CameraError> start() = 0;
    // Stops delivering; no output call starts after it returns. Idempotent.
    virtual void stop() = 0;
    virtual bool isRunning() const = 0;
};

} // namespace corvessa
