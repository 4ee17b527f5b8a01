#include "capture/CameraSession.h"

#include "platform/CameraFormat.h"

namespace corvessa {

CameraSession::~CameraSession()
{
    teardown();
}

QString CameraSession::preset() const
{
    std::lock_guard lock(m_mutex);
    return m_active ? CameraPixelFormat::name(m_active->pixelFormat) : QString();
}

std::optional<CameraStream::ActiveFormat> CameraSession::activeFormat() const
{
    std::lock_guard lock(m_mutex);
    return m_active;
}

void CameraSession::attach(std::unique_ptr<CameraStream> stream)
{
    teardown();
    m_stream = std::move(stream);
}

std::optional<CameraError> CameraSession::configure(const CameraStream::Request& request)
{
    if (!m_stream)
        return CameraError{CameraErrorCode::ConfigurationFailed, QStringLiteral("No camera is attached."), 0};
    std::optional<CameraError> error = m_stream->configure(request);
    std::lock_guard lock(m_mutex);
    m_active = error ? std::nullopt : m_stream->activeFormat();
    return error;
}

std::optional<CameraError> CameraSession::startRunning()
{
    if (!m_stream)
        return std::nullopt; // nothing to run, as a session without input
    std::optional<CameraError> error = m_stream->start();
    if (!error) {
        m_running = true;
        // Starting locks the frame duration again, which the device may answer differently.
        std::lock_guard lock(m_mutex);
        if (auto active = m_stream->activeFormat())
            m_active = active;
    }
    return error;
}

void CameraSession::stopRunning()
{
    if (m_stream)
        m_stream->stop();
    m_running = false;
}

void CameraSession::teardown()
{
    stopRunning();
    m_stream.reset();
}

} // namespace corvessa
