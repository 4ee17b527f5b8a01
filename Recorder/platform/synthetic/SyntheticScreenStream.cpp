#include "platform/synthetic/SyntheticScreenStream.h"

#include "platform/AudioInputError.h"
#include "platform/core/HostClock.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace corvessa {

namespace {

// Pattern levels: BGRA values and their BT.709 video-range luma.
constexpr uint8_t kGrey = 96;
constexpr uint8_t kGreyLuma = 98; // 16 + 96 * 219 / 255
constexpr uint8_t kWhiteLuma = 235;
constexpr uint8_t kBlackLuma = 16;

void paintRect(PixelBuffer& b, int x0, int y0, int x1, int y1, uint8_t bgra, uint8_t luma)
{
    x0 = std::clamp(x0, 0, b.width());
    x1 = std::clamp(x1, 0, b.width());
    y0 = std::clamp(y0, 0, b.height());
    y1 = std::clamp(y1, 0, b.height());
    if (x0 >= x1 || y0 >= y1)
        return;
    if (b.format() == PixelFormat::BGRA) {
        for (int y = y0; y < y1; ++y) {
            uint8_t* row = b.baseAddress(0) + size_t(y) * b.bytesPerRow(0);
            for (int x = x0; x < x1; ++x) {
                uint8_t* p = row + size_t(x) * 4;
                p[0] = p[1] = p[2] = bgra;
                p[3] = 255;
            }
        }
        return;
    }
    for (int y = y0; y < y1; ++y)
        std::memset(b.baseAddress(0) + size_t(y) * b.bytesPerRow(0) + size_t(x0), luma, size_t(x1 - x0));
}

// Brightness of a pixel: luma for NV12, green for BGRA.
int level(const PixelBuffer& b, int x, int y)
{
    if (b.format() == PixelFormat::BGRA)
        return b.baseAddress(0)[size_t(y) * b.bytesPerRow(0) + size_t(x) * 4 + 1];
    return b.baseAddress(0)[size_t(y) * b.bytesPerRow(0) + size_t(x)];
}

} // namespace

struct SyntheticScreenStream::Shared {
    SerialQueue* queue = nullptr;
    ScreenStreamOutput output;
    std::recursive_mutex callMutex; // held during an output call; stop() takes it
    bool stopped = false;
    std::atomic<int> inFlight{0};
    std::atomic<uint64_t> delivered{0};

    static void screen(const std::shared_ptr<Shared>& self, SampleBuffer sample)
    {
        self->inFlight.fetch_add(1);
        self->delivered.fetch_add(1);
        self->queue->async([self, sample = std::move(sample)] {
            {
                std::lock_guard lock(self->callMutex);
                if (!self->stopped && self->output.onScreen)
                    self->output.onScreen(sample);
            }
            self->inFlight.fetch_sub(1);
        });
    }
    static void microphone(const std::shared_ptr<Shared>& self, SampleBuffer sample)
    {
        self->queue->async([self, sample = std::move(sample)] {
            std::lock_guard lock(self->callMutex);
            if (!self->stopped && self->output.onMicrophone)
                self->output.onMicrophone(sample);
        });
    }
    static void ended(const std::shared_ptr<Shared>& self, RecorderError error)
    {
        self->queue->async([self, error = std::move(error)] {
            std::lock_guard lock(self->callMutex);
            if (self->stopped)
                return;
            self->stopped = true;
            if (self->output.onStop)
                self->output.onStop(error);
        });
    }
};

SyntheticScreenStream::SyntheticScreenStream(ScreenFilter filter, ScreenStreamConfig config, SerialQueue* queue,
                                             ScreenStreamOutput output, Environment environment)
    : m_filter(std::move(filter)), m_queue(queue), m_env(std::move(environment)),
      m_shared(std::make_shared<Shared>()), m_config(std::move(config))
{
    m_shared->queue = queue;
    m_shared->output = std::move(output);
}

SyntheticScreenStream::~SyntheticScreenStream()
{
    stop();
    if (m_env.destroyed)
        m_env.destroyed(this);
}

bool SyntheticScreenStream::isRunning() const
{
    std::lock_guard lock(m_mutex);
    return m_running;
}

ScreenStreamConfig SyntheticScreenStream::configuration() const
{
    std::lock_guard lock(m_mutex);
    return m_config;
}

uint64_t SyntheticScreenStream::framesDelivered() const
{
    return m_shared->delivered.load();
}

std::optional<RecorderError> SyntheticScreenStream::start()
{
    ScreenStreamConfig config;
    bool running = false;
    bool stopped = false;
    {
        std::lock_guard lock(m_mutex);
        running = m_running;
        stopped = m_finished;
        config = m_config;
    }
    if (auto error = ScreenSource::checkStart(running, stopped, config, m_queue))
        return error;
    if (m_env.startCheck) {
        if (auto error = m_env.startCheck(m_filter))
            return error;
    }
    if (config.captureMicrophone) {
        if (auto error = startMicrophone(config))
            return error;
    }
    std::lock_guard lock(m_mutex);
    m_running = true;
    scheduleLocked();
    return std::nullopt;
}

void SyntheticScreenStream::scheduleLocked()
{
    if (m_timer)
        m_timer->cancel();
    const auto interval = std::chrono::nanoseconds(
        std::max<int64_t>(1, int64_t(m_config.minimumFrameInterval.seconds() * 1e9)));
    // The first frame at once, as a real stream shows the screen when it starts.
    m_timer = m_frames.scheduleTimer(std::chrono::nanoseconds(0), interval, [this] { tick(); });
}

std::optional<RecorderError> SyntheticScreenStream::updateConfiguration(const ScreenStreamConfig& config)
{
    if (auto error = ScreenSource::checkConfiguration(config))
        return error;
    ScreenStreamConfig previous;
    bool running = false;
    {
        std::lock_guard lock(m_mutex);
        previous = m_config;
        m_config = config;
        running = m_running;
        if (running && previous.minimumFrameInterval != config.minimumFrameInterval)
            scheduleLocked();
    }
    if (!running)
        return std::nullopt;
    if (previous.captureMicrophone == config.captureMicrophone &&
        (!config.captureMicrophone || previous.microphoneDeviceId == config.microphoneDeviceId))
        return std::nullopt;
    stopMicrophone();
    return config.captureMicrophone ? startMicrophone(config) : std::nullopt;
}

void SyntheticScreenStream::stop()
{
    {
        std::lock_guard lock(m_shared->callMutex);
        m_shared->stopped = true;
    }
    {
        std::lock_guard lock(m_mutex);
        m_running = false;
        m_finished = true;
        if (m_timer)
            m_timer->cancel();
        m_timer.reset();
    }
    // A frame being made now finishes before stop returns (and then delivers nothing).
    if (!m_frames.isCurrent())
        m_frames.sync([] {});
    stopMicrophone();
}

void SyntheticScreenStream::interrupt(const RecorderError& error)
{
    {
        std::lock_guard lock(m_mutex);
        if (!m_running)
            return;
        m_running = false;
        m_finished = true;
        if (m_timer)
            m_timer->cancel();
        m_timer.reset();
    }
    stopMicrophone();
    Shared::ended(m_shared, error);
}

std::optional<RecorderError> SyntheticScreenStream::startMicrophone(const ScreenStreamConfig& config)
{
    std::shared_ptr<AudioInput> input = m_env.audio ? m_env.audio : AudioInput::current();
    try {
        AudioInput::StreamRequest request;
        request.source = config.microphoneDeviceId;
        std::unique_ptr<AudioCaptureStream> microphone = input->openSource(request);
        std::shared_ptr<Shared> shared = m_shared;
        microphone->start([shared](SampleBuffer buffer) { Shared::microphone(shared, std::move(buffer)); });
        std::lock_guard lock(m_mutex);
        m_microphone = std::move(microphone);
    } catch (const AudioInputError& e) {
        return screenCaptureError(ScreenCaptureErrorCode::MicrophoneUnavailable,
                                  QStringLiteral("The microphone could not be started: ") + e.detail());
    } catch (const std::exception& e) {
        return screenCaptureError(ScreenCaptureErrorCode::MicrophoneUnavailable,
                                  QStringLiteral("The microphone could not be started: ") + QString::fromLocal8Bit(e.what()));
    }
    return std::nullopt;
}

void SyntheticScreenStream::stopMicrophone()
{
    std::unique_ptr<AudioCaptureStream> microphone;
    {
        std::lock_guard lock(m_mutex);
        microphone = std::move(m_microphone);
    }
    if (microphone)
        microphone->stop();
}

void SyntheticScreenStream::tick()
{
    ScreenStreamConfig config;
    std::shared_ptr<PixelBufferPool> pool;
    {
        std::lock_guard lock(m_mutex);
        if (!m_running)
            return;
        config = m_config;
        if (!m_pool || m_pool->width() != config.width || m_pool->height() != config.height ||
            m_pool->format() != config.pixelFormat) {
            m_pool = PixelBufferPool::create(config.width, config.height, config.pixelFormat,
                                             size_t(config.queueDepth) + 2);
        }
        pool = m_pool;
    }
    if (m_env.paused && m_env.paused())
        return;
    // As a real stream: no more than `queueDepth` frames wait for the output queue.
    if (m_shared->inFlight.load() >= config.queueDepth)
        return;
    PixelBufferRef buffer = pool->take();
    if (!buffer)
        return;
    uint32_t number = 0;
    {
        std::lock_guard lock(m_mutex);
        if (!m_running)
            return;
        number = m_number++;
    }
    drawPattern(*buffer, number);
    buffer->setAttachment(PixelAttachmentKey::FrameStatus, int(FrameStatus::Complete), false);
    buffer->setAttachment(PixelAttachmentKey::ColorPrimaries, ColorTag::PrimariesBT709);
    buffer->setAttachment(PixelAttachmentKey::TransferFunction, ColorTag::TransferSRGB);
    if (config.pixelFormat == PixelFormat::NV12VideoRange)
        buffer->setAttachment(PixelAttachmentKey::YCbCrMatrix, ColorTag::MatrixBT709);
    Shared::screen(m_shared, SampleBuffer::video(std::move(buffer), HostClock::now(), config.minimumFrameInterval));
}

void SyntheticScreenStream::drawPattern(PixelBuffer& b, uint32_t number)
{
    const int w = b.width();
    const int h = b.height();
    paintRect(b, 0, 0, w, h, kGrey, kGreyLuma);
    if (b.format() == PixelFormat::NV12VideoRange) {
        const PixelBuffer::Plane& chroma = b.plane(1);
        for (int y = 0; y < chroma.height; ++y)
            std::memset(chroma.data + size_t(y) * chroma.bytesPerRow, 128, size_t(chroma.width) * 2);
    }
    if (w >= counterBits * blockSize && h >= blockSize) {
        for (int bit = 0; bit < counterBits; ++bit) {
            const bool one = (number >> (counterBits - 1 - bit)) & 1u;
            paintRect(b, bit * blockSize, 0, (bit + 1) * blockSize, blockSize, one ? 255 : 0,
                      one ? kWhiteLuma : kBlackLuma);
        }
    }
    const int x = int((uint64_t(number) * barWidth) % uint64_t(w));
    paintRect(b, x, 2 * blockSize, x + barWidth, h, 255, kWhiteLuma);
}

std::optional<uint32_t> SyntheticScreenStream::frameNumber(const PixelBuffer& b)
{
    if (b.width() < counterBits * blockSize || b.height() < blockSize)
        return std::nullopt;
    uint32_t number = 0;
    for (int bit = 0; bit < counterBits; ++bit) {
        const int v = level(b, bit * blockSize + blockSize / 2, blockSize / 2);
        number = (number << 1) | (v > 160 ? 1u : 0u);
    }
    return number;
}

std::optional<int> SyntheticScreenStream::barPosition(const PixelBuffer& b)
{
    const int y = 2 * blockSize + 1;
    if (y >= b.height())
        return std::nullopt;
    for (int x = 0; x < b.width(); ++x) {
        if (level(b, x, y) > 160)
            return x;
    }
    return std::nullopt;
}

} // namespace corvessa
