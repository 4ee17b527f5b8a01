#include "platform/v4l2/V4L2CameraStream.h"

#include "platform/core/HostClock.h"
#include "platform/core/SerialQueue.h"

#include <linux/videodev2.h>
#include <sys/mman.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace corvessa {

namespace {

// The poll wakes up this often even without frames, to notice nothing in particular.
constexpr int kPollTimeoutMs = 1000;
// A driver time stamp further from the dequeue than this is not trusted.
constexpr int64_t kStampToleranceNs = 5'000'000'000;
// Used when the driver neither takes nor reports a frame duration.
constexpr MediaTime kDefaultInterval{1, 30};
// A sequence jump larger than this is a restart of the counter, not lost frames.
constexpr uint32_t kMaxSequenceGap = 1000;

QString errorText(int error)
{
    char buffer[256] = {};
    // GNU strerror_r: the text may or may not be in the buffer.
    const char* text = strerror_r(error, buffer, sizeof buffer);
    return QString::fromLocal8Bit(text ? text : buffer);
}

MediaTime timeOf(const v4l2_fract& f)
{
    if (f.numerator == 0 || f.denominator == 0 || f.denominator > uint32_t(INT32_MAX))
        return MediaTime::invalid();
    return MediaTime(int64_t(f.numerator), int32_t(f.denominator));
}

bool isBt709(const v4l2_pix_format& pix)
{
    const bool extended = pix.priv == V4L2_PIX_FMT_PRIV_MAGIC;
    if (extended && pix.ycbcr_enc != V4L2_YCBCR_ENC_DEFAULT)
        return pix.ycbcr_enc == V4L2_YCBCR_ENC_709;
    return pix.colorspace == V4L2_COLORSPACE_REC709;
}

bool isFullRange(const v4l2_pix_format& pix)
{
    const bool extended = pix.priv == V4L2_PIX_FMT_PRIV_MAGIC;
    if (extended && pix.quantization != V4L2_QUANTIZATION_DEFAULT)
        return pix.quantization == V4L2_QUANTIZATION_FULL_RANGE;
    return pix.colorspace == V4L2_COLORSPACE_JPEG;
}

} // namespace

V4L2CameraStream::V4L2CameraStream(std::shared_ptr<V4L2Io> io, int fd, CameraDevice device, SerialQueue* queue,
                                   CameraStreamOutput output)
    : m_io(std::move(io)), m_fd(fd), m_device(std::move(device)), m_shared(std::make_shared<Shared>())
{
    m_shared->queue = queue;
    m_shared->output = std::move(output);
}

V4L2CameraStream::~V4L2CameraStream()
{
    stop();
    {
        std::lock_guard lock(m_mutex);
        releaseBuffers();
    }
    if (m_fd >= 0)
        m_io->close(m_fd);
}

CameraError V4L2CameraStream::systemError(CameraErrorCode code, int error)
{
    if (error == ENODEV)
        code = CameraErrorCode::Disconnected;
    return CameraError{code, errorText(error), error};
}

int64_t V4L2CameraStream::hostTime(const v4l2_buffer& buffer, int64_t now)
{
    if ((buffer.flags & V4L2_BUF_FLAG_TIMESTAMP_MASK) == V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC) {
        // CLOCK_MONOTONIC, the host clock itself: the time the device took the frame.
        const int64_t t = int64_t(buffer.timestamp.tv_sec) * 1'000'000'000 + int64_t(buffer.timestamp.tv_usec) * 1000;
        if (t > 0 && t <= now && now - t < kStampToleranceNs)
            return t;
    }
    return now;
}

std::optional<CameraError> V4L2CameraStream::configure(const Request& request)
{
    std::lock_guard lock(m_mutex);
    if (m_running && !m_ended.load())
        return CameraError{CameraErrorCode::ConfigurationFailed, QStringLiteral("The camera is running."), 0};
    stopLocked(); // a stream that ended by itself
    releaseBuffers();
    m_active.reset();
    if (request.formatIndex < 0 || size_t(request.formatIndex) >= m_device.formats.size())
        return CameraError{CameraErrorCode::FormatRejected, QStringLiteral("The camera has no such format."), 0};
    const CameraFormat& wanted = m_device.formats[size_t(request.formatIndex)];

    v4l2_format f{};
    f.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    f.fmt.pix.width = uint32_t(wanted.width);
    f.fmt.pix.height = uint32_t(wanted.height);
    f.fmt.pix.pixelformat = wanted.pixelFormat;
    f.fmt.pix.field = V4L2_FIELD_ANY;
    if (m_io->ioctl(m_fd, VIDIOC_S_FMT, &f) < 0) {
        const int e = errno;
        return systemError(e == EBUSY ? CameraErrorCode::Busy : CameraErrorCode::FormatRejected, e);
    }
    // The driver answers with what it will deliver, which may be another size or layout.
    const v4l2_pix_format& pix = f.fmt.pix;
    CameraFrameDecoder::Source source;
    source.pixelFormat = pix.pixelformat;
    source.width = int(std::min<uint32_t>(pix.width, INT32_MAX));
    source.height = int(std::min<uint32_t>(pix.height, INT32_MAX));
    source.bytesPerLine = pix.bytesperline;
    source.bt709 = isBt709(pix);
    source.fullRange = isFullRange(pix);
    if (!m_decoder.prepare(source, request.output)) {
        return CameraError{CameraErrorCode::FormatRejected,
                           QStringLiteral("The camera offers %1 %2x%3, which cannot be used.")
                               .arg(CameraPixelFormat::name(pix.pixelformat))
                               .arg(pix.width)
                               .arg(pix.height),
                           0};
    }

    // The durations of the size the driver chose, when it chose another.
    MediaTime interval = wanted.frameInterval(request.frameRate);
    for (const CameraFormat& other : m_device.formats) {
        if (other.width == source.width && other.height == source.height && other.pixelFormat == source.pixelFormat) {
            interval = other.frameInterval(request.frameRate);
            break;
        }
    }
    m_wantedInterval = interval;
    m_active = ActiveFormat{source.width, source.height, source.pixelFormat, MediaTime::invalid(), request.output};
    lockInterval();

    if (auto error = mapBuffers()) {
        m_active.reset();
        return error;
    }
    return std::nullopt;
}

void V4L2CameraStream::lockInterval()
{
    v4l2_streamparm parm{};
    parm.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    MediaTime actual = MediaTime::invalid();
    if (m_io->ioctl(m_fd, VIDIOC_G_PARM, &parm) == 0) {
        actual = timeOf(parm.parm.capture.timeperframe);
        const MediaTime& w = m_wantedInterval;
        if ((parm.parm.capture.capability & V4L2_CAP_TIMEPERFRAME) && w.isValid() && w.value() > 0
            && w.value() <= int64_t(UINT32_MAX)) {
            parm.parm.capture.timeperframe.numerator = uint32_t(w.value());
            parm.parm.capture.timeperframe.denominator = uint32_t(w.timescale());
            // A refusal leaves the duration the device had; the answer says which it took.
            if (m_io->ioctl(m_fd, VIDIOC_S_PARM, &parm) == 0) {
                const MediaTime answered = timeOf(parm.parm.capture.timeperframe);
                if (answered.isValid())
                    actual = answered;
            }
        }
    }
    if (!actual.isValid())
        actual = m_wantedInterval.isValid() ? m_wantedInterval : kDefaultInterval;
    if (m_active)
        m_active->frameInterval = actual;
}

std::optional<CameraError> V4L2CameraStream::mapBuffers()
{
    v4l2_requestbuffers req{};
    req.count = kBufferCount;
    req.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    req.memory = V4L2_MEMORY_MMAP;
    if (m_io->ioctl(m_fd, VIDIOC_REQBUFS, &req) < 0) {
        const int e = errno;
        return systemError(e == EBUSY ? CameraErrorCode::Busy : CameraErrorCode::BuffersFailed, e);
    }
    if (req.count < 2) {
        v4l2_requestbuffers none{};
        none.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        none.memory = V4L2_MEMORY_MMAP;
        m_io->ioctl(m_fd, VIDIOC_REQBUFS, &none);
        return CameraError{CameraErrorCode::BuffersFailed, QStringLiteral("The camera gave too few buffers."), 0};
    }
    for (uint32_t i = 0; i < req.count; ++i) {
        v4l2_buffer b{};
        b.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        b.memory = V4L2_MEMORY_MMAP;
        b.index = i;
        void* start = MAP_FAILED;
        int e = 0;
        if (m_io->ioctl(m_fd, VIDIOC_QUERYBUF, &b) < 0) {
            e = errno;
        } else {
            start = m_io->mmap(b.length, m_fd, int64_t(b.m.offset));
            if (start == MAP_FAILED)
                e = errno;
        }
        if (start == MAP_FAILED) {
            m_buffers.push_back(Mapping{}); // so that release asks the driver to free them
            releaseBuffers();
            return systemError(CameraErrorCode::BuffersFailed, e);
        }
        m_buffers.push_back(Mapping{start, b.length});
    }
    return std::nullopt;
}

void V4L2CameraStream::releaseBuffers()
{
    if (m_buffers.empty())
        return;
    for (const Mapping& m : m_buffers) {
        if (m.start)
            m_io->munmap(m.start, m.length);
    }
    m_buffers.clear();
    v4l2_requestbuffers none{};
    none.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    none.memory = V4L2_MEMORY_MMAP;
    m_io->ioctl(m_fd, VIDIOC_REQBUFS, &none);
}

std::optional<CameraStream::ActiveFormat> V4L2CameraStream::activeFormat() const
{
    std::lock_guard lock(m_mutex);
    return m_active;
}

std::optional<CameraError> V4L2CameraStream::start()
{
    // The output lock first, as an output call that asks the stream something holds it.
    std::lock_guard call(m_shared->callMutex);
    std::lock_guard lock(m_mutex);
    if (m_running && !m_ended.load())
        return std::nullopt;
    stopLocked(); // a stream that ended by itself
    if (!m_active || m_buffers.empty())
        return CameraError{CameraErrorCode::StartFailed, QStringLiteral("The camera is not configured."), 0};
    if (!m_wake.isValid())
        return systemError(CameraErrorCode::StartFailed, EMFILE);

    // Drivers keep the duration, but another program may have changed it while we were stopped.
    lockInterval();
    for (uint32_t i = 0; i < m_buffers.size(); ++i) {
        v4l2_buffer b{};
        b.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        b.memory = V4L2_MEMORY_MMAP;
        b.index = i;
        if (m_io->ioctl(m_fd, VIDIOC_QBUF, &b) < 0) {
            const int e = errno;
            int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            m_io->ioctl(m_fd, VIDIOC_STREAMOFF, &type); // takes back what was queued
            return systemError(CameraErrorCode::StartFailed, e);
        }
    }
    int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (m_io->ioctl(m_fd, VIDIOC_STREAMON, &type) < 0) {
        const int e = errno;
        m_io->ioctl(m_fd, VIDIOC_STREAMOFF, &type);
        return systemError(CameraErrorCode::StartFailed, e);
    }

    m_haveSequence = false;
    m_ended = false;
    const uint64_t generation = m_shared->generation.fetch_add(1) + 1;
    m_shared->stopped = false;
    m_running = true;
    const MediaTime interval = m_active->frameInterval;
    m_thread = std::thread([this, generation, interval] { run(generation, interval); });
    return std::nullopt;
}

void V4L2CameraStream::stop()
{
    {
        std::lock_guard call(m_shared->callMutex);
        m_shared->stopped = true;
    }
    std::lock_guard lock(m_mutex);
    stopLocked();
}

void V4L2CameraStream::stopLocked()
{
    if (!m_running && !m_thread.joinable())
        return;
    if (m_thread.joinable()) {
        m_wake.wake();
        m_thread.join();
        m_wake.drain(); // the next start's thread must not see this stop
    }
    if (m_running) {
        // Also takes every buffer back from the driver.
        int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        m_io->ioctl(m_fd, VIDIOC_STREAMOFF, &type);
    }
    m_running = false;
}

bool V4L2CameraStream::isRunning() const
{
    std::lock_guard lock(m_mutex);
    return m_running && !m_ended.load();
}

void V4L2CameraStream::fail(uint64_t generation, const CameraError& error)
{
    m_ended = true;
    Shared::ended(m_shared, generation, error);
}

void V4L2CameraStream::run(uint64_t generation, MediaTime interval)
{
    for (;;) {
        pollfd fds[2] = {{m_fd, POLLIN, 0}, {m_wake.fd(), POLLIN, 0}};
        const int r = m_io->poll(fds, 2, kPollTimeoutMs);
        if (r < 0) {
            const int e = errno;
            if (e == EINTR)
                continue;
            fail(generation, systemError(CameraErrorCode::RuntimeError, e));
            return;
        }
        if (fds[1].revents & POLLIN)
            return; // stop()
        if (r == 0)
            continue;
        // A streaming queue with buffers in it reports an error only when the
        // device is gone (the driver cancels the queue on disconnection).
        if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) {
            fail(generation, systemError(CameraErrorCode::Disconnected, ENODEV));
            return;
        }
        if ((fds[0].revents & POLLIN) && !dequeue(generation, interval))
            return;
    }
}

bool V4L2CameraStream::dequeue(uint64_t generation, MediaTime interval)
{
    // Everything that is ready, but never more than one round of buffers at a time.
    for (size_t round = 0; round < m_buffers.size(); ++round) {
        v4l2_buffer b{};
        b.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        b.memory = V4L2_MEMORY_MMAP;
        if (m_io->ioctl(m_fd, VIDIOC_DQBUF, &b) < 0) {
            const int e = errno;
            if (e == EAGAIN)
                return true;
            fail(generation, systemError(CameraErrorCode::RuntimeError, e));
            return false;
        }
        const int64_t now = HostClock::nanoseconds();
        if (b.index >= m_buffers.size())
            continue; // not ours to queue again

        int dropped = 0;
        if (m_haveSequence && b.sequence > m_lastSequence + 1 && b.sequence - m_lastSequence <= kMaxSequenceGap)
            dropped += int(b.sequence - m_lastSequence - 1);
        m_haveSequence = true;
        m_lastSequence = b.sequence;

        PixelBufferRef pixels;
        const Mapping& mapping = m_buffers[b.index];
        const size_t used = std::min<size_t>(b.bytesused, mapping.length);
        if ((b.flags & V4L2_BUF_FLAG_ERROR) || used == 0 || m_shared->pending.load() >= kMaxPending)
            dropped += 1; // a damaged frame, or the consumer has not taken the last ones yet
        else if (!(pixels = m_decoder.decode(static_cast<const uint8_t*>(mapping.start), used)))
            dropped += 1;

        // The buffer goes back to the driver before the picture travels on.
        v4l2_buffer again{};
        again.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        again.memory = V4L2_MEMORY_MMAP;
        again.index = b.index;
        if (m_io->ioctl(m_fd, VIDIOC_QBUF, &again) < 0) {
            const int e = errno;
            fail(generation, systemError(CameraErrorCode::RuntimeError, e));
            return false;
        }
        if (dropped > 0)
            Shared::drops(m_shared, generation, dropped);
        if (pixels) {
            Shared::frame(m_shared, generation,
                          SampleBuffer::video(std::move(pixels), MediaTime(hostTime(b, now), 1'000'000'000), interval));
        }
    }
    return true;
}

} // namespace corvessa
