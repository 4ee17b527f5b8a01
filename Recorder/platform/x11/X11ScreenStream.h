#pragma once

#include "platform/ScreenSource.h"
#include "platform/core/Guarded.h"
#include "platform/core/WakeFd.h"
#include "platform/x11/X11PixelView.h"
#include "platform/x11/X11ScreenSource.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <thread>
#include <utility>

namespace corvessa {

class AudioCaptureStream;
class AudioInput;
class X11CaptureSession;
struct ScreenDelivery;

// A capture stream on an X server, running on a thread and a connection of its
// own. The top-level windows are redirected with XComposite, so every window
// keeps its whole picture in a pixmap of its own:
// - a display or an area is read from the screen as shown, and wherever a
//   window on the exclusion lists lies, the picture is rebuilt from the root
//   background and the pixmaps of the other windows in stacking order, so the
//   excluded windows never appear, not even the parts of them on top;
// - a window is read from its own pixmap, so windows covering it do not matter.
// XDamage tells when something changed: a frame is made only then (and once at
// start), no sooner than the minimum frame interval after the last one. Pixels
// are read with XShm and stamped with the host clock on the capture thread;
// a converter queue beside it scales and converts them with libswscale into
// pooled buffers and hands them to the output queue, letterboxed when their
// shape is not the movie's. A display is followed by its RandR output wherever
// the layout puts it (an area with it, told by onMoved); while the output is
// not wholly on the root yet, no frame is made. A display that RandR no longer
// lists, a window that is destroyed or a server that goes away ends the stream
// with onStop. The microphone, when asked for, is a PulseAudio capture stream whose
// buffers go to the same queue; its failure while running does not stop the
// screen (the engine notices the silence). Callable from any thread; the
// capture thread owns everything on the server (X11CaptureSession), the
// converter queue its scaler and buffer pool.
class X11ScreenStream : public ScreenStream {
public:
    // `audioInput`: where the microphone comes from; without one the microphone cannot start.
    X11ScreenStream(QString displayName, X11ScreenSource::Layout layout, ScreenFilter filter, ScreenStreamConfig config,
                    SerialQueue* queue, ScreenStreamOutput output, std::shared_ptr<AudioInput> audioInput = nullptr);
    ~X11ScreenStream() override;

    std::optional<RecorderError> start() override;
    std::optional<RecorderError> updateConfiguration(const ScreenStreamConfig& config) override;
    void stop() override;

    // What the capture thread has done so far, for benchmarks and tests.
    struct Statistics {
        uint64_t frames = 0;        // handed to the output queue
        uint64_t skippedBusy = 0;   // frames put off because `queueDepth` frames were still waiting
        uint64_t repairs = 0;       // frames in which excluded windows were painted over
        double readSeconds = 0;     // reading pixels from the server (wall clock)
        double convertSeconds = 0;  // scaling and conversion (wall clock)
        double threadCpuSeconds = 0; // CPU time of the capture thread and its converter
    };
    Statistics statistics() const;

private:
    // What the caller's threads and the capture thread share.
    struct Control {
        ScreenStreamConfig config;
        bool configChanged = false;
        bool stopRequested = false;
        bool started = false;
        std::thread thread;
        std::unique_ptr<AudioCaptureStream> microphone;
    };

    struct Converter;
    void run(X11CaptureSession& session, ScreenStreamConfig config);
    // What the capture thread read for one frame.
    struct Read {
        int reader = 0;
        X11PixelView view;
        MediaTime pts;
        uint64_t serial = 0;            // counts the pictures read
        std::pair<int, int> changedRows; // X11CaptureSession::changedRows()
        bool windowTarget = false;
    };
    // On the converter's queue: scales and hands over the picture the read's reader holds, then frees the reader.
    void convert(Converter& c, const Read& read, const ScreenStreamConfig& config);
    std::optional<RecorderError> startMicrophone(const ScreenStreamConfig& config);

    const QString m_displayName;
    const X11ScreenSource::Layout m_layout;
    const ScreenFilter m_filter;
    SerialQueue* const m_queue;
    const std::shared_ptr<AudioInput> m_audioInput;
    const std::shared_ptr<ScreenDelivery> m_delivery;
    const WakeFd m_wake; // ends the capture thread's poll: stop or a new configuration
    Guarded<Control> m_control;
    Guarded<Statistics> m_stats;
};

} // namespace corvessa
