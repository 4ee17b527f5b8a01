#include "platform/synthetic/SyntheticCameraStream.h"

#include "platform/core/HostClock.h"
#include "platform/ScreenStreamConfig.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>

namespace corvessa {

namespace {

constexpr uint8_t kWhiteLuma = 235;
constexpr uint8_t kBlackLuma = 16;
// No more pictures than this wait for the output queue, as with a real camera.
constexpr int kMaxPending = 2;

// Paints a grey level (white or black) into a rectangle; NV12 chroma goes
// neutral over the 2x2 blocks the rectangle covers.
void paintGrey(PixelBuffer& b, int x0, int y0, int x1, int y1, bool white)
{
    x0 = std::clamp(x0, 0, b.width());
    x1 = std::clamp(x1, 0, b.width());
    y0 = std::clamp(y0, 0, b.height());
    y1 = std::clamp(y1, 0, b.height());
    if (x0 >= x1 || y0 >= y1)
        return;
    if (b.format() == PixelFormat::BGRA) {
        const uint8_t v = white ? 255 : 0;
        for (int y = y0; y < y1; ++y) {
            uint8_t* row = b.baseAddress(0) + size_t(y) * b.bytesPerRow(0);
            for (int x = x0; x < x1; ++x) {
                uint8_t* p = row + size_t(x) * 4;
                p[0] = p[1] = p[2] = v;
                p[3] = 255;
            }
        }
        return;
    }
    for (int y = y0; y < y1; ++y)
        std::memset(b.baseAddress(0) + size_t(y) * b.bytesPerRow(0) + size_t(x0), white ? kWhiteLuma : kBlackLuma,
                    size_t(x1 - x0));
    for (int y = y0 / 2; y < (y1 + 1) / 2; ++y)
        std::memset(b.baseAddress(1) + size_t(y) * b.bytesPerRow(1) + size_t(x0 / 2) * 2, 128,
                    size_t((x1 + 1) / 2 - x0 / 2) * 2);
}

int level(const PixelBuffer& b, int x, int y)
{
    if (b.format() == PixelFormat::BGRA)
        return b.baseAddress(0)[size_t(y) * b.bytesPerRow(0) + size_t(x) * 4 + 1];
    return b.baseAddress(0)[size_t(y) * b.bytesPerRow(0) + size_t(x)];
}

} // namespace

SyntheticCameraStream::SyntheticCameraStream(CameraDevice device, SerialQueue* queue, CameraStreamOutput output,
                                             Environment environment)
    : m_device(std::move(device)), m_env(std::move(environment)), m_shared(std::make_shared<Shared>())
{
    m_shared->queue = queue;
    m_shared->output = std::move(output);
}

SyntheticCameraStream::~SyntheticCameraStream()
{
    stop();
    if (m_env.destroyed)
        m_env.destroyed(this);
}

std::optional<CameraError> SyntheticCameraStream::configure(const Request& request)
{
    if (m_env.configureCheck) {
        if (auto error = m_env.configureCheck())
            return error;
    }
    std::lock_guard lock(m_mutex);
    if (m_running)
        return CameraError{CameraErrorCode::ConfigurationFailed, QStringLiteral("The camera is running."), 0};
    if (m_gone)
        return CameraError{CameraErrorCode::Disconnected, QStringLiteral("The camera is gone."), 0};
    if (request.formatIndex < 0 || size_t(request.formatIndex) >= m_device.formats.size())
        return CameraError{CameraErrorCode::FormatRejected, QStringLiteral("No such format."), 0};
    const CameraFormat& format = m_device.formats[size_t(request.formatIndex)];
    const MediaTime interval = format.frameInterval(request.frameRate);
    if (!interval.isValid() || !PixelBufferPool::create(format.width, format.height, request.output))
        return CameraError{CameraErrorCode::FormatRejected, QStringLiteral("The format cannot be delivered."), 0};
    m_active = ActiveFormat{format.width, format.height, format.pixelFormat, interval, request.output};
    return std::nullopt;
}

std::optional<CameraStream::ActiveFormat> SyntheticCameraStream::activeFormat() const
{
    std::lock_guard lock(m_mutex);
    return m_active;
}

std::optional<CameraError> SyntheticCameraStream::start()
{
    if (m_env.startCheck) {
        if (auto error = m_env.startCheck())
            return error;
    }
    // The output lock first, as an output call that asks the stream something holds it.
    std::lock_guard call(m_shared->callMutex);
    std::lock_guard lock(m_mutex);
    if (m_gone)
        return CameraError{CameraErrorCode::Disconnected, QStringLiteral("The camera is gone."), 0};
    if (!m_active)
        return CameraError{CameraErrorCode::StartFailed, QStringLiteral("The camera is not configured."), 0};
    if (m_running)
        return std::nullopt;
    m_shared->generation.fetch_add(1);
    m_shared->stopped = false;
    m_running = true;
    scheduleLocked();
    return std::nullopt;
}

void SyntheticCameraStream::scheduleLocked()
{
    if (m_timer)
        m_timer->cancel();
    const auto interval =
        std::chrono::nanoseconds(std::max<int64_t>(1'000'000, int64_t(m_active->frameInterval.seconds() * 1e9)));
    m_timer = m_frames.scheduleTimer(std::chrono::nanoseconds(0), interval, [this] { tick(); });
}

void SyntheticCameraStream::stop()
{
    {
        std::lock_guard call(m_shared->callMutex);
        m_shared->stopped = true;
    }
    {
        std::lock_guard lock(m_mutex);
        m_running = false;
        if (m_timer)
            m_timer->cancel();
        m_timer.reset();
    }
    // A picture being made now finishes before stop returns (and is then dropped).
    if (!m_frames.isCurrent())
        m_frames.sync([] {});
}

bool SyntheticCameraStream::isRunning() const
{
    std::lock_guard lock(m_mutex);
    return m_running;
}

void SyntheticCameraStream::interrupt(const CameraError& error)
{
    uint64_t generation = 0;
    {
        std::lock_guard lock(m_mutex);
        if (error.code == CameraErrorCode::Disconnected)
            m_gone = true;
        if (!m_running)
            return;
        m_running = false;
        if (m_timer)
            m_timer->cancel();
        m_timer.reset();
        generation = m_shared->generation.load();
    }
    Shared::ended(m_shared, generation, error);
}

void SyntheticCameraStream::setFrameSize(QSize size)
{
    std::lock_guard lock(m_mutex);
    m_frameSize = size;
}

void SyntheticCameraStream::reportDrops(int count)
{
    Shared::drops(m_shared, m_shared->generation.load(), count);
}

uint64_t SyntheticCameraStream::framesDelivered() const
{
    return m_shared->delivered.load();
}

void SyntheticCameraStream::tick()
{
    ActiveFormat format;
    std::shared_ptr<PixelBufferPool> pool;
    uint32_t number = 0;
    uint64_t generation = 0;
    {
        std::lock_guard lock(m_mutex);
        if (!m_running || !m_active)
            return;
        format = *m_active;
        const int w = m_frameSize.isEmpty() ? format.width : m_frameSize.width();
        const int h = m_frameSize.isEmpty() ? format.height : m_frameSize.height();
        if (!m_pool || m_pool->width() != w || m_pool->height() != h || m_pool->format() != format.output)
            m_pool = PixelBufferPool::create(w, h, format.output, kMaxPending + 2);
        pool = m_pool;
        number = m_number++;
        generation = m_shared->generation.load();
    }
    if (!pool)
        return;
    if (m_shared->pending.load() >= kMaxPending) {
        Shared::drops(m_shared, generation, 1);
        return;
    }
    PixelBufferRef buffer = pool->take();
    if (!buffer)
        return;
    drawPattern(*buffer, number);
    buffer->setAttachment(PixelAttachmentKey::ColorPrimaries, ColorTag::PrimariesBT709);
    buffer->setAttachment(PixelAttachmentKey::TransferFunction, ColorTag::TransferSRGB);
    if (format.output == PixelFormat::NV12VideoRange)
        buffer->setAttachment(PixelAttachmentKey::YCbCrMatrix, ColorTag::MatrixBT709);
    Shared::frame(m_shared, generation, SampleBuffer::video(std::move(buffer), HostClock::now(), format.frameInterval));
}

void SyntheticCameraStream::drawPattern(PixelBuffer& b, uint32_t number)
{
    const int w = b.width();
    const int h = b.height();
    b.fill(kBackground.r, kBackground.g, kBackground.b);
    if (w >= counterBits * blockSize && h >= blockSize) {
        for (int bit = 0; bit < counterBits; ++bit) {
            const bool one = (number >> (counterBits - 1 - bit)) & 1u;
            paintGrey(b, bit * blockSize, 0, (bit + 1) * blockSize, blockSize, one);
        }
    }
    const int x = int((uint64_t(number) * barWidth) % uint64_t(std::max(1, w)));
    paintGrey(b, x, 2 * blockSize, x + barWidth, h, true);
}

std::optional<uint32_t> SyntheticCameraStream::frameNumber(const PixelBuffer& b)
{
    if (b.width() < counterBits * blockSize || b.height() < blockSize)
        return std::nullopt;
    uint32_t number = 0;
    for (int bit = 0; bit < counterBits; ++bit) {
        const int v = level(b, bit * blockSize + blockSize / 2, blockSize / 2);
        number = (number << 1) | (v > 200 ? 1u : 0u);
    }
    return number;
}

} // namespace corvessa
