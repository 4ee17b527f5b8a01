#include "platform/synthetic/SyntheticCameraStream.h"

#include "platform/core/HostClock.h"
#include "platform/ScreenStreamConfig.h"
#include "platform/synthetic/SyntheticPattern.h"

#include <algorithm>
#include <atomic>
#include <chrono>

namespace corvessa {

namespace {

// No more pictures than this wait for the output queue, as with a real camera.
constexpr int kMaxPending = 2;

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
    auto state = m_state.lock();
    if (state->running)
        return CameraError{CameraErrorCode::ConfigurationFailed, QStringLiteral("The camera is running."), 0};
    if (state->gone)
        return CameraError{CameraErrorCode::Disconnected, QStringLiteral("The camera is gone."), 0};
    if (request.formatIndex < 0 || size_t(request.formatIndex) >= m_device.formats.size())
        return CameraError{CameraErrorCode::FormatRejected, QStringLiteral("No such format."), 0};
    const CameraFormat& format = m_device.formats[size_t(request.formatIndex)];
    const MediaTime interval = format.frameInterval(request.frameRate);
    if (!interval.isValid() || !PixelBufferPool::create(format.width, format.height, request.output))
        return CameraError{CameraErrorCode::FormatRejected, QStringLiteral("The format cannot be delivered."), 0};
    state->active = ActiveFormat{format.width, format.height, format.pixelFormat, interval, request.output};
    return std::nullopt;
}

std::optional<CameraStream::ActiveFormat> SyntheticCameraStream::activeFormat() const
{
    return m_state.with([](const State& s) { return s.active; });
}

std::optional<CameraError> SyntheticCameraStream::start()
{
    if (m_env.startCheck) {
        if (auto error = m_env.startCheck())
            return error;
    }
    // The output lock first, as an output call that asks the stream something holds it.
    std::lock_guard call(m_shared->callMutex);
    auto state = m_state.lock();
    if (state->gone)
        return CameraError{CameraErrorCode::Disconnected, QStringLiteral("The camera is gone."), 0};
    if (!state->active)
        return CameraError{CameraErrorCode::StartFailed, QStringLiteral("The camera is not configured."), 0};
    if (state->running)
        return std::nullopt;
    m_shared->generation.fetch_add(1);
    m_shared->stopped = false;
    state->running = true;
    schedule(*state);
    return std::nullopt;
}

void SyntheticCameraStream::schedule(State& state)
{
    if (state.timer)
        state.timer->cancel();
    const auto interval =
        std::chrono::nanoseconds(std::max<int64_t>(1'000'000, int64_t(state.active->frameInterval.seconds() * 1e9)));
    state.timer = m_frames.scheduleTimer(std::chrono::nanoseconds(0), interval, [this] { tick(); });
}

void SyntheticCameraStream::halt(State& state)
{
    state.running = false;
    if (state.timer)
        state.timer->cancel();
    state.timer.reset();
}

void SyntheticCameraStream::stop()
{
    {
        std::lock_guard call(m_shared->callMutex);
        m_shared->stopped = true;
    }
    halt(*m_state.lock());
    // A picture being made now finishes before stop returns (and is then dropped).
    if (!m_frames.isCurrent())
        m_frames.sync([] {});
}

bool SyntheticCameraStream::isRunning() const
{
    return m_state.with([](const State& s) { return s.running; });
}

void SyntheticCameraStream::interrupt(const CameraError& error)
{
    uint64_t generation = 0;
    {
        auto state = m_state.lock();
        if (error.code == CameraErrorCode::Disconnected)
            state->gone = true;
        if (!state->running)
            return;
        halt(*state);
        generation = m_shared->generation.load();
    }
    Shared::ended(m_shared, generation, error);
}

void SyntheticCameraStream::setFrameSize(QSize size)
{
    m_state.lock()->frameSize = size;
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
        auto state = m_state.lock();
        if (!state->running || !state->active)
            return;
        format = *state->active;
        const QSize size = state->frameSize.isEmpty() ? QSize(format.width, format.height) : state->frameSize;
        if (!state->pool || state->pool->width() != size.width() || state->pool->height() != size.height() ||
            state->pool->format() != format.output)
            state->pool = PixelBufferPool::create(size.width(), size.height(), format.output, kMaxPending + 2);
        pool = state->pool;
        number = state->number++;
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
    b.fill(kBackground.r, kBackground.g, kBackground.b);
    SyntheticPattern::drawCounterAndBar(b, number);
}

std::optional<uint32_t> SyntheticCameraStream::frameNumber(const PixelBuffer& b)
{
    return SyntheticPattern::readCounter(b, 200);
}

} // namespace corvessa
