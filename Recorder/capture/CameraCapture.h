#pragma once

#include "capture/CameraOverlayState.h"
#include "capture/CameraVideoCapabilities.h"
#include "capture/TextLookup.h"
#include "capture/VideoDimensions.h"
#include "platform/CameraService.h"
#include "platform/core/MediaTime.h"
#include "platform/core/PixelBuffer.h"
#include "platform/core/SampleBuffer.h"
#include "platform/core/SerialQueue.h"

#include <QString>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace corvessa {

class CameraPreview;
class CameraSession;

// Runs one camera through the camera service on the serial queue
// "camera.capture" and delivers each of its pictures three ways: to `onSample`
// (host-clock timed, with the mirror flag; the engine writes the camera file from
// it), reduced to overlay size into `overlay()` (where the compositor finds it),
// and reduced again to a bound CameraPreview for the preview view. Everything
// that goes wrong becomes a short English line on `onEvent`; nothing throws.
//
// The owner (the recorder model) calls start, stop, setPreview and setMirrored
// on the main thread; suspend and resume may come from any thread. Callbacks
// run on the camera queue, except the disconnection line noticed by the device
// watcher, which runs on the service's thread: receivers hop to their own.
// Made with create(): posted work holds the capture weakly.
class CameraCapture : public std::enable_shared_from_this<CameraCapture> {
public:
    using SampleHandler = std::function<void(const SampleBuffer& sample, bool mirrored)>;
    using EventHandler = std::function<void(const QString& line)>;
    using ConnectedHandler = std::function<void(const QString& deviceID, const std::shared_ptr<CameraSession>& session,
                                                const CameraVideoCapabilities& capabilities)>;

    // Event lines. Lines meaning the camera is lost begin with "Camera Disconnected".
    static constexpr const char* cannotOpenDeviceLine = textKey("Camera Disconnected (Cannot Open Device)");
    static constexpr const char* cannotAddInputLine = textKey("Camera Disconnected (Cannot Add Input)");
    static constexpr const char* cannotConfigureFormatLine = textKey("Camera Disconnected (Cannot Configure Format)");
    static constexpr const char* cannotAddOutputLine = textKey("Camera Disconnected (Cannot Add Output)");
    static constexpr const char* cannotConfigureDeviceLine = textKey("Camera Disconnected (Cannot Configure Device)");
    static constexpr const char* disconnectedLine = textKey("Camera Disconnected, Screen Recording Unaffected");
    // The session error line as a template of the translation table; the line
    // itself is "Camera Disconnected (Session Error: <description>, <code>)".
    static constexpr const char* sessionErrorTemplate = textKey("Camera Disconnected (Session Error: %@, %@)");

    // A preview-only start asks for this short side and rate, whatever else it is given.
    static constexpr int previewResolution = 480;
    static constexpr int previewRate = 15;
    // Overlay pictures are at most this on their short side.
    static constexpr int overlayShortSide = 720;
    // Preview images: at most this on the short side, at most this often.
    static constexpr int previewImageShortSide = 480;
    static constexpr std::chrono::milliseconds previewInterval{66}; // about 15 per second
    // The capture-age report comes at most this often (seconds).
    static constexpr double ageReportInterval = 5;

    // A capture on the given service (the process-wide one when null).
    static std::shared_ptr<CameraCapture> create(std::shared_ptr<CameraService> service = nullptr);
    ~CameraCapture();
    CameraCapture(const CameraCapture&) = delete;
    CameraCapture& operator=(const CameraCapture&) = delete;

    // Callbacks may be set and replaced from any thread.
    void setOnSample(SampleHandler handler);
    void setOnEvent(EventHandler handler);
    void setOnConnected(ConnectedHandler handler);

    // The overlay store; the same object for the capture's whole life.
    std::shared_ptr<CameraOverlayState> overlay() const { return m_overlay; }
    // The current start; none when stopped.
    std::shared_ptr<CameraSession> session() const;
    // The camera of the last start.
    QString deviceID() const;
    // The last start was a preview-only start.
    bool isPreviewQuality() const;

    // The cameras the owner offers, and notices when they come and go.
    std::vector<CameraDevice> devices() const;
    [[nodiscard]] CameraService::Observation observeDevices(CameraService::DevicesChanged handler) const;
    // What a camera offers, in the terms of the format choice rules.
    static CameraVideoCapabilities capabilities(const CameraDevice& device);

    // Starts a camera: returns at once, configures and starts on the queue, and
    // reports every failure as an event line. `resolution` is the wanted short
    // side, `fps` the wanted rate; `size` and `frameRate` an exact format
    // remembered for this camera (a size it does not offer is ignored).
    void start(const QString& deviceID, int resolution, int fps, bool previewOnly,
               std::optional<VideoDimensions> size = std::nullopt, std::optional<double> frameRate = std::nullopt);
    // Ends the current start and empties the overlay store; safe when nothing runs.
    void stop();
    // Stops the camera but keeps its format, so that resume() restarts it quickly.
    void suspend();
    void resume();

    // Binds a preview to a session (none detaches it) and applies the mirroring.
    void setPreview(const std::shared_ptr<CameraPreview>& preview, const std::shared_ptr<CameraSession>& session);
    // Sets the mirror flag of the bubble layout and applies it to the preview
    // (the one passed, else the last one known).
    void setMirrored(bool mirrored, const std::shared_ptr<CameraPreview>& preview);

    // A picture reduced to at most 720 pixels on its short side (BGRA, even
    // sides); the picture itself when it is no larger. Null when no buffer can
    // be made.
    static PixelBufferRef overlayImage(const PixelBufferRef& picture);

    // The texts of the diagnostic lines.
    static QString configLine(int requestedShortSide, int requestedFps, int width, int height,
                              MediaTime frameDuration, const QString& preset);
    static QString syncLine(double averageMs, double maximumMs, int dropped, int64_t bufferKB);
    static QString sessionErrorLine(const QString& description, int code);
    // A double as the shortest text that reads back the same, with ".0" on whole numbers.
    static QString shortestDecimal(double value);

    // The camera queue ("camera.capture").
    SerialQueue& queue() { return m_queue; }

private:
    struct StartRequest {
        QString deviceID;
        int resolution = 0;
        int fps = 0;
        bool previewOnly = false;
        std::optional<VideoDimensions> size;
        std::optional<double> frameRate;
    };

    explicit CameraCapture(std::shared_ptr<CameraService> service);

    void configure(const std::shared_ptr<CameraSession>& session, const StartRequest& request);
    void captureOutput(const std::shared_ptr<CameraSession>& session, const SampleBuffer& sample);
    void didDrop(const std::shared_ptr<CameraSession>& session, int count);
    void streamStopped(const std::shared_ptr<CameraSession>& session, const CameraError& error);
    void reportDisconnected(const std::shared_ptr<CameraSession>& session);
    void deliverPreview(const std::shared_ptr<CameraSession>& session, const PixelBufferRef& picture);
    void applyPreviewMirroringOnMain();
    void applyPreviewMirroring(CameraPreview& preview);
    bool isCurrent(const std::shared_ptr<CameraSession>& session) const;
    void send(const QString& line);
    CameraStreamOutput outputFor(const std::shared_ptr<CameraSession>& session);

    const std::shared_ptr<CameraService> m_service;

    mutable std::mutex m_callbacks; // guards the three handlers
    std::shared_ptr<const SampleHandler> m_onSample;
    std::shared_ptr<const EventHandler> m_onEvent;
    std::shared_ptr<const ConnectedHandler> m_onConnected;

    const std::shared_ptr<CameraOverlayState> m_overlay = std::make_shared<CameraOverlayState>();

    mutable std::mutex m_state; // guards the fields down to m_previewLayer
    std::shared_ptr<CameraSession> m_session;
    // Stopped starts whose teardown is still queued: their streams post to
    // m_queue until it runs, so the destructor closes them before the queue goes.
    std::vector<std::weak_ptr<CameraSession>> m_stopping;
    QString m_deviceID;
    bool m_isPreviewQuality = false;
    CameraService::Observation m_observer;            // device removals
    std::weak_ptr<CameraSession> m_disconnectReported; // the start whose loss was reported
    std::weak_ptr<CameraPreview> m_previewLayer;

    // Camera queue only.
    std::optional<CameraStream::ActiveFormat> m_selectedFormat;
    double m_selectedRate = 30.0;
    int m_ageSamples = 0;
    double m_ageTotal = 0;
    double m_ageMax = 0;
    double m_lastAgeReport = 0;
    int m_droppedFrames = 0;
    SerialQueue::Clock::time_point m_lastPreview{};
    std::shared_ptr<std::atomic<int>> m_previewsInFlight = std::make_shared<std::atomic<int>>(0);

    // Last, so that it goes first: its thread ends before the fields its work uses.
    SerialQueue m_queue{"camera.capture", SerialQueue::QoS::UserInitiated};
};

} // namespace corvessa
