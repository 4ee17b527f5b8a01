#include "engine/CameraCaptureFeed.h"

#include "capture/CameraCapture.h"

namespace corvessa {

CameraCaptureFeed::CameraCaptureFeed(std::shared_ptr<CameraCapture> capture)
    : m_capture(std::move(capture))
{
}

void CameraCaptureFeed::setOnSample(SampleHandler handler)
{
    if (m_capture)
        m_capture->setOnSample(std::move(handler));
}

void CameraCaptureFeed::suspend()
{
    if (m_capture)
        m_capture->suspend();
}

void CameraCaptureFeed::resume()
{
    if (m_capture)
        m_capture->resume();
}

std::shared_ptr<CameraOverlayState> CameraCaptureFeed::overlay() const
{
    return m_capture ? m_capture->overlay() : nullptr;
}

} // namespace corvessa
