#pragma once

#include "platform/CameraStream.h"

#include <QString>

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>

namespace corvessa {

// One start of the camera capture: the open camera stream it runs, and the
// identity that tells the work of this start from the late work of an earlier
// one. The capture creates it at every start and hands it to its owner (to
// compare, and to bind a preview to).
//
// The stream is driven on the camera queue only; the read-outs are thread-safe.
class CameraSession {
public:
    CameraSession() = default;
    ~CameraSession();
    CameraSession(const CameraSession&) = delete;
    CameraSession& operator=(const CameraSession&) = delete;

    // Delivering pictures now.
    bool isRunning() const { return m_running.load(); }
    // The device's pixel layout of the configured format ("MJPG", "YUYV"); empty
    // before a successful configuration. It stands where the session preset would.
    QString preset() const;
    std::optional<CameraStream::ActiveFormat> activeFormat() const;

    // Camera queue: takes the stream over (the session's input and output).
    void attach(std::unique_ptr<CameraStream> stream);
    CameraStream* stream() const { return m_stream.get(); }
    std::optional<CameraError> configure(const CameraStream::Request& request);
    bool isConfigured() const { return activeFormat().has_value(); }
    std::optional<CameraError> startRunning();
    void stopRunning();
    // The stream ended by itself.
    void markStopped() { m_running = false; }
    // Stops and closes the stream.
    void teardown();

private:
    std::unique_ptr<CameraStream> m_stream;
    std::atomic<bool> m_running{false};
    mutable std::mutex m_mutex; // guards m_active
    std::optional<CameraStream::ActiveFormat> m_active;
};

} // namespace corvessa
