#pragma once

#include "platform/core/MediaTime.h"
#include "platform/core/PixelFormat.h"
#include "platform/core/RecorderError.h"

#include <QRectF>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace corvessa {

// What a capture stream records: a whole display, or one window on its own
// (occlusion does not matter). Windows on the exclusion lists are left out of
// display frames: the program's own windows never appear in a recording.
struct ScreenFilter {
    enum class Kind { Display, Window };
    Kind kind = Kind::Display;
    uint32_t displayId = 0;
    uint32_t windowId = 0;
    std::vector<int64_t> excludedPids;     // every window of these processes
    std::vector<uint32_t> excludedWindows; // and these windows
    double pointPixelScale = 1;            // pixels per point of the captured content

    bool operator==(const ScreenFilter&) const = default;
};

// How a capture stream delivers its frames.
struct ScreenStreamConfig {
    int width = 0;  // output pixel size; the content is scaled to it
    int height = 0;
    PixelFormat pixelFormat = PixelFormat::NV12VideoRange;
    std::optional<QRectF> sourceRect; // display targets only: the area in the display's points (y down from its top)
    MediaTime minimumFrameInterval = MediaTime(1, 30);
    int queueDepth = 5;
    bool showsCursor = false;
    // The microphone as the stream's second output, on the same queue.
    bool captureMicrophone = false;
    QString microphoneDeviceId; // empty: the default source

    bool operator==(const ScreenStreamConfig&) const = default;
};

// Frame status carried in the PixelAttachmentKey::FrameStatus attachment.
enum class FrameStatus : int { Complete = 0, Idle = 1, Blank = 2, Suspended = 3, Started = 4, Stopped = 5 };

// Values of the colour attachments on captured frames (the names the movie
// writer and the colour log line use).
namespace ColorTag {
inline const QString PrimariesBT709 = QStringLiteral("ITU_R_709_2");
inline const QString TransferSRGB = QStringLiteral("IEC_sRGB");
inline const QString MatrixBT709 = QStringLiteral("ITU_R_709_2");
} // namespace ColorTag

// Errors of the screen-capture service: at start() and in onStop. The message
// is an English sentence for the log and the user.
enum class ScreenCaptureErrorCode : int {
    ServerUnavailable = 1,    // no X display, or its connection was lost
    ExtensionMissing = 2,     // the server lacks an extension capture needs
    DisplayUnavailable = 3,   // the display is not (or no longer) connected
    WindowUnavailable = 4,    // the window does not (or no longer) exist
    InvalidConfiguration = 5, // sizes, frame interval or area out of range
    MicrophoneUnavailable = 6,
    StartFailed = 7,          // refused on purpose (synthetic backend) or out of resources
    Interrupted = 8,          // stopped by something else (synthetic backend)
};

inline const QString ScreenCaptureErrorDomain = QStringLiteral("ScreenCapture");

inline RecorderError screenCaptureError(ScreenCaptureErrorCode code, const QString& message)
{
    return RecorderError{ScreenCaptureErrorDomain, int(code), message};
}

// What every backend reports in onStop when the content goes away.
inline RecorderError displayLostError()
{
    return screenCaptureError(ScreenCaptureErrorCode::DisplayUnavailable,
                              QStringLiteral("The display being recorded was disconnected."));
}
inline RecorderError windowLostError()
{
    return screenCaptureError(ScreenCaptureErrorCode::WindowUnavailable,
                              QStringLiteral("The window being recorded was closed."));
}
// ... and from start() when the content is not there.
inline RecorderError displayMissingError()
{
    return screenCaptureError(ScreenCaptureErrorCode::DisplayUnavailable,
                              QStringLiteral("The display to record is not connected."));
}
inline RecorderError windowMissingError()
{
    return screenCaptureError(ScreenCaptureErrorCode::WindowUnavailable,
                              QStringLiteral("The window to record no longer exists."));
}

} // namespace corvessa
