#include "capture/CameraPreview.h"

namespace corvessa {

void CameraPreview::setOnImage(ImageHandler handler)
{
    std::lock_guard lock(m_mutex);
    m_handler = handler ? std::make_shared<const ImageHandler>(std::move(handler)) : nullptr;
}

QImage CameraPreview::image() const
{
    std::lock_guard lock(m_mutex);
    return m_image;
}

double CameraPreview::scaleX() const
{
    std::lock_guard lock(m_mutex);
    return m_scaleX;
}

void CameraPreview::setScaleX(double scale)
{
    std::lock_guard lock(m_mutex);
    m_scaleX = scale;
}

std::shared_ptr<CameraSession> CameraPreview::session() const
{
    std::lock_guard lock(m_mutex);
    return m_session.lock();
}

void CameraPreview::setSession(std::shared_ptr<CameraSession> session)
{
    std::lock_guard lock(m_mutex);
    m_session = session;
}

void CameraPreview::deliver(const QImage& image)
{
    std::shared_ptr<const ImageHandler> handler;
    {
        std::lock_guard lock(m_mutex);
        m_image = image;
        handler = m_handler;
    }
    if (handler)
        (*handler)(image);
}

} // namespace corvessa
