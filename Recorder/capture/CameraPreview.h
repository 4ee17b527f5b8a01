#pragma once

#include <QImage>

#include <functional>
#include <memory>
#include <mutex>

namespace corvessa {

class CameraSession;

// The camera preview's end of the capture, for a Qt view: the capture delivers
// a reduced picture of the session bound to it at a modest rate, on the main
// thread, and sets the horizontal scale the view draws with (-1 mirrors, as a
// layer transform would). The view keeps it and draws the last image with the
// scale; the pictures themselves are never mirrored. Thread-safe.
class CameraPreview {
public:
    using ImageHandler = std::function<void(const QImage& image)>;

    CameraPreview() = default;
    CameraPreview(const CameraPreview&) = delete;
    CameraPreview& operator=(const CameraPreview&) = delete;

    // Called on the main thread with every new picture.
    void setOnImage(ImageHandler handler);
    // The last picture; null before the first.
    QImage image() const;

    // The horizontal scale of the view's transform: 1, or -1 when mirrored.
    double scaleX() const;
    void setScaleX(double scale);

    // The session whose pictures this preview shows; none detaches it.
    std::shared_ptr<CameraSession> session() const;
    void setSession(std::shared_ptr<CameraSession> session);

    // Main thread: keeps the picture and hands it to the handler.
    void deliver(const QImage& image);

private:
    mutable std::mutex m_mutex;
    std::shared_ptr<const ImageHandler> m_handler;
    QImage m_image;
    double m_scaleX = 1;
    std::weak_ptr<CameraSession> m_session;
};

} // namespace corvessa
