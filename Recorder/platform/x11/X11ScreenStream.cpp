#include "platform/x11/X11ScreenStream.h"

#include "platform/AudioCaptureStream.h"
#include "platform/ScreenDelivery.h"
#include "platform/core/CaptureStallMeter.h"
#include "platform/core/HostClock.h"
#include "platform/core/NV12Converter.h"
#include "platform/core/PixelBufferPool.h"
#include "platform/core/RecorderLog.h"
#include "platform/core/SerialQueue.h"
#include "platform/ffmpeg/FrameScaler.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <deque>
#include <future>
#include <optional>
#include <unordered_map>
#include <utility>

#include <poll.h>
#include <sys/socket.h>
#include <time.h>

// Last: X11's macros clash with names in Qt.
#include "platform/x11/X11CaptureSession.h"
#include "platform/x11/X11ErrorTrap.h"

namespace corvessa {

namespace {

using Clock = std::chrono::steady_clock;

// While `queueDepth` frames wait on the output queue, or every reader still
// holds a picture being converted, look again this soon.
constexpr auto kBusyRetry = std::chrono::milliseconds(4);
// How long the first frame waits for a compositing manager that does not
// answer the session's request to paint.
constexpr auto kManagerCatchUp = std::chrono::milliseconds(500);

double threadCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

double seconds(Clock::time_point t)
{
    return std::chrono::duration<double>(t.time_since_epoch()).count();
}

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

RecorderError serverLostError()
{
    return screenCaptureError(ScreenCaptureErrorCode::ServerUnavailable,
                              QStringLiteral("The connection to the X server was lost."));
}

} // namespace

X11ScreenStream::X11ScreenStream(QString displayName, X11ScreenSource::Layout layout, ScreenFilter filter,
                                 ScreenStreamConfig config, SerialQueue* queue, ScreenStreamOutput output,
                                 std::shared_ptr<AudioInput> audioInput)
    : m_displayName(std::move(displayName)), m_layout(std::move(layout)), m_filter(std::move(filter)),
      m_queue(queue), m_audioInput(std::move(audioInput)), m_delivery(std::make_shared<ScreenDelivery>())
{
    m_delivery->queue = queue;
    m_delivery->output = std::move(output);
    m_control.lock()->config = std::move(config);
}

X11ScreenStream::~X11ScreenStream()
{
    stop();
}

std::optional<RecorderError> X11ScreenStream::start()
{
    ScreenStreamConfig config;
    bool running = false;
    bool stopped = false;
    {
        auto control = m_control.lock();
        running = control->started;
        stopped = control->stopRequested;
        config = control->config;
    }
    if (auto error = ScreenSource::checkStart(running, stopped, config, m_queue))
        return error;
    if (!m_wake.isValid()) {
        return screenCaptureError(ScreenCaptureErrorCode::StartFailed,
                                  QStringLiteral("The capture thread could not be set up."));
    }

    // The thread connects and reports; it makes frames only once the whole
    // start (the microphone too) has succeeded, so a refused start delivers nothing.
    std::promise<std::optional<RecorderError>> ready;
    std::future<std::optional<RecorderError>> result = ready.get_future();
    std::promise<bool> go;
    std::future<bool> goAhead = go.get_future();
    std::thread thread([this, config, ready = std::move(ready), goAhead = std::move(goAhead)]() mutable {
        X11CaptureSession session(m_filter, config);
        std::optional<RecorderError> error = session.open(m_displayName);
        if (!error) {
            // Outside the trap: the layout opens a connection and a trap of its own.
            session.applyLayout(m_layout ? m_layout() : std::vector<XRandRDisplayList::Output>{});
            error = session.lost();
        }
        const bool ok = !error;
        ready.set_value(std::move(error));
        if (ok && goAhead.get())
            run(session, config);
    });
    std::optional<RecorderError> error = result.get();
    if (!error && config.captureMicrophone)
        error = startMicrophone(config);
    go.set_value(!error);
    if (error) {
        thread.join();
        stop(); // a microphone that did start goes too
        return error;
    }
    auto control = m_control.lock();
    control->thread = std::move(thread);
    control->started = true;
    return std::nullopt;
}

std::optional<RecorderError> X11ScreenStream::startMicrophone(const ScreenStreamConfig& config)
{
    if (!m_audioInput) {
        return screenCaptureError(ScreenCaptureErrorCode::MicrophoneUnavailable,
                                  QStringLiteral("The microphone could not be started: there is no audio input."));
    }
    auto started = ScreenDelivery::startMicrophone(m_delivery, *m_audioInput, config);
    if (auto* error = std::get_if<RecorderError>(&started))
        return *error;
    m_control.lock()->microphone = std::move(std::get<std::unique_ptr<AudioCaptureStream>>(started));
    return std::nullopt;
}

std::optional<RecorderError> X11ScreenStream::updateConfiguration(const ScreenStreamConfig& config)
{
    if (auto error = ScreenSource::checkConfiguration(config))
        return error;
    ScreenStreamConfig previous;
    bool started = false;
    {
        auto control = m_control.lock();
        previous = control->config;
        control->config = config;
        control->configChanged = true;
        started = control->started && !control->stopRequested;
    }
    m_wake.wake();
    if (!started || !ScreenDelivery::microphoneChanged(previous, config))
        return std::nullopt;
    std::unique_ptr<AudioCaptureStream> old = m_control.with([](Control& c) { return std::move(c.microphone); });
    if (old)
        old->stop();
    return config.captureMicrophone ? startMicrophone(config) : std::nullopt;
}

void X11ScreenStream::stop()
{
    m_delivery->stop();
    std::thread thread;
    std::unique_ptr<AudioCaptureStream> microphone;
    {
        auto control = m_control.lock();
        control->stopRequested = true;
        thread = std::move(control->thread);
        microphone = std::move(control->microphone);
    }
    m_wake.wake();
    if (thread.joinable()) {
        if (thread.get_id() == std::this_thread::get_id())
            thread.detach();
        else
            thread.join();
    }
    if (microphone)
        microphone->stop();
}

X11ScreenStream::Statistics X11ScreenStream::statistics() const
{
    return m_stats.with([](const Statistics& s) { return s; });
}

// Scaling and conversion run beside the capture thread, so a read never waits
// for the conversion of the frame before and happens at its tick even when the
// CPU is busy: short-lived pictures are read while they are on screen. Each of
// the session's readers holds its picture until the conversion is done with it.
//
// A pooled buffer comes back holding the conversion of an earlier picture. When
// the picture keeps its size, only the rows changed since then are converted
// again: the rows each picture changed are kept for the last `kHistory` pictures.
struct X11ScreenStream::Converter {
    static constexpr size_t kHistory = 32;
    std::atomic<bool> holding[X11CaptureSession::kReaders] = {};
    FrameScaler scaler;                   // owned by `queue`
    std::shared_ptr<PixelBufferPool> pool; // owned by `queue`
    // Owned by `queue`: which picture each pooled buffer holds, and the rows each picture changed.
    std::unordered_map<const PixelBuffer*, uint64_t> holds;
    std::deque<std::pair<uint64_t, std::pair<int, int>>> changes;
    SerialQueue queue{"x11.capture.convert", SerialQueue::QoS::UserInteractive}; // last: goes first

    int freeReader() const
    {
        for (int i = 0; i < X11CaptureSession::kReaders; ++i)
            if (!holding[i].load())
                return i;
        return -1;
    }

    void noteChange(uint64_t serial, std::pair<int, int> rows)
    {
        changes.emplace_back(serial, rows);
        if (changes.size() > kHistory)
            changes.pop_front();
    }

    // The rows of picture `serial` that `buffer` does not hold yet: the changes
    // from the picture it holds (that one's own included, for damage reported
    // late) on. Nothing when that picture is not known.
    std::optional<std::pair<int, int>> rowsToConvert(const PixelBuffer* buffer, uint64_t serial) const
    {
        const auto held = holds.find(buffer);
        if (held == holds.end() || changes.empty() || changes.front().first > held->second)
            return std::nullopt;
        std::pair<int, int> rows{0, 0};
        for (const auto& [picture, changed] : changes) {
            if (picture < held->second || picture > serial || changed.first >= changed.second)
                continue;
            rows = rows.first < rows.second ? std::pair(std::min(rows.first, changed.first),
                                                        std::max(rows.second, changed.second))
                                            : changed;
        }
        return rows;
    }
};

void X11ScreenStream::convert(Converter& c, const Read& read, const ScreenStreamConfig& config)
{
    const double cpuStart = threadCpuSeconds();
    const auto start = Clock::now();
    const X11PixelView& view = read.view;
    if (!c.pool || c.pool->width() != config.width || c.pool->height() != config.height ||
        c.pool->format() != config.pixelFormat) {
        c.pool = PixelBufferPool::create(config.width, config.height, config.pixelFormat,
                                         size_t(config.queueDepth) + 2 + X11CaptureSession::kReaders);
        c.holds.clear();
    }
    c.noteChange(read.serial, read.changedRows);
    const size_t allocated = c.pool->allocatedCount();
    PixelBufferRef buffer = c.pool->take();
    // A new buffer may sit where a freed one was: it holds nothing yet.
    const bool fresh = c.pool->allocatedCount() != allocated;
    const bool sameSize = !read.windowTarget && config.pixelFormat == PixelFormat::NV12VideoRange &&
                          view.width == config.width && view.height == config.height;
    const std::optional<std::pair<int, int>> rows =
        buffer && sameSize && !fresh ? c.rowsToConvert(buffer.get(), read.serial) : std::nullopt;
    bool made = false;
    if (rows) {
        const NV12Converter::Target to{buffer->baseAddress(0), ptrdiff_t(buffer->bytesPerRow(0)),
                                       buffer->baseAddress(1), ptrdiff_t(buffer->bytesPerRow(1))};
        if (rows->first < rows->second) {
            NV12Converter::convertBand(view.data, ptrdiff_t(view.bytesPerRow), view.width, view.height, to,
                                       rows->first, rows->second);
        }
        made = true;
    } else if (buffer) {
        // Every picture keeps its shape: a window that was resized, a display
        // that changed its mode, is letterboxed into the movie's size.
        const bool fill =
            !read.windowTarget && FrameScaler::sameShape(view.width, view.height, QSize(config.width, config.height));
        made = c.scaler.scale(view.data, view.width, view.height, view.bytesPerRow, *buffer,
                              fill ? FrameScaler::Fit::Stretch : FrameScaler::Fit::AspectFit);
    }
    c.holding[read.reader].store(false);
    if (buffer) {
        if (made && sameSize)
            c.holds[buffer.get()] = read.serial;
        else
            c.holds.erase(buffer.get());
        if (c.holds.size() > 4 * Converter::kHistory) // entries of buffers the pool let go
            c.holds.clear();
    }
    if (made) {
        if (sameSize)
            buffer->setAttachment(PixelAttachmentKey::KeptBySource, true, false);
        ScreenDelivery::frame(m_delivery, std::move(buffer), read.pts, config.minimumFrameInterval);
    }
    const double seconds = secondsSince(start);
    const double cpu = threadCpuSeconds() - cpuStart;
    m_stats.with([&](Statistics& s) {
        s.frames += made ? 1 : 0;
        s.convertSeconds += seconds;
        s.threadCpuSeconds += cpu;
    });
}

void X11ScreenStream::run(X11CaptureSession& session, ScreenStreamConfig config)
{
    session.setRunning();
    const int xfd = ConnectionNumber(session.display());
    // Goes before the session: conversions in flight read the session's readers.
    auto converter = std::make_unique<Converter>();
    Clock::time_point nextAllowed = Clock::now();
    const Clock::time_point managerDeadline = nextAllowed + kManagerCatchUp;
    double cpuCounted = threadCpuSeconds();
    uint64_t serial = 0;
    CaptureStallMeter stall;

    for (;;) {
        {
            auto control = m_control.lock();
            if (control->stopRequested)
                break;
            if (control->configChanged) {
                control->configChanged = false;
                const MediaTime oldInterval = config.minimumFrameInterval;
                config = control->config;
                session.reconfigure(config);
                if (config.minimumFrameInterval < oldInterval)
                    nextAllowed = Clock::now(); // a faster rate applies at once
            }
        }
        m_wake.drain();

        if (session.layoutPending()) {
            // Outside the trap: the layout opens a connection and a trap of its own.
            const uint64_t moves = session.areaMoves();
            session.applyLayout(m_layout ? m_layout() : std::vector<XRandRDisplayList::Output>{});
            if (session.areaMoves() != moves)
                ScreenDelivery::moved(m_delivery);
        }

        const auto now = Clock::now();
        const auto interval = std::chrono::nanoseconds(int64_t(config.minimumFrameInterval.seconds() * 1e9));
        const int reader = converter->freeReader();
        const bool busy = m_delivery->pending.load() >= config.queueDepth || reader < 0;
        bool held = false; // for the manager, not longer than managerDeadline
        Read read;
        read.reader = reader;
        read.windowTarget = session.isWindowTarget();
        double readSeconds = 0;
        uint64_t skipped = 0;
        {
            X11ErrorTrap trap(session.display());
            session.handleEvents(trap, false);
            held = session.awaitingManager() && now < managerDeadline;
            const bool wanted = !session.lost() && !session.layoutPending() && session.isDirty() && !held;
            if (wanted)
                stall.owed(seconds(std::max(now, nextAllowed)));
            if (wanted && now >= nextAllowed) {
                if (busy) {
                    skipped = 1;
                } else {
                    const auto readStart = Clock::now();
                    if (const std::optional<double> stalled = stall.read(seconds(readStart)))
                        RecorderLog::write(CaptureStallMeter::line(*stalled, config.minimumFrameInterval.seconds()));
                    read.pts = HostClock::now();
                    read.view = session.frame(trap, reader);
                    read.changedRows = session.changedRows();
                    read.serial = ++serial;
                    readSeconds = secondsSince(readStart);
                    // Frames keep to a grid of intervals while the screen keeps
                    // changing, so the rate holds on average despite wake-up
                    // latency; after a quiet spell the grid starts afresh.
                    const Clock::time_point slot = now - nextAllowed < interval ? nextAllowed : now;
                    nextAllowed = slot + interval;
                }
            }
        }
        if (session.serverLost()) {
            ScreenDelivery::ended(m_delivery, serverLostError());
            break;
        }
        if (session.lost()) {
            ScreenDelivery::ended(m_delivery, *session.lost());
            break;
        }
        if (read.view) {
            converter->holding[reader].store(true);
            converter->queue.async([this, c = converter.get(), read, config] { convert(*c, read, config); });
        }
        const double cpuNow = threadCpuSeconds();
        m_stats.with([&](Statistics& s) {
            s.skippedBusy += skipped;
            s.readSeconds += readSeconds;
            s.repairs = session.repairs();
            s.threadCpuSeconds += cpuNow - cpuCounted;
        });
        cpuCounted = cpuNow;
        // The trap's syncs read whatever the server had sent meanwhile into
        // the client's queues, where poll() cannot see it.
        if (session.layoutPending() || session.hasQueuedEvents())
            continue;

        // Sleep until the server says something, stop or a new configuration
        // wakes us, or the next frame is allowed.
        timespec timeout{};
        const timespec* timeoutPtr = nullptr;
        if (session.isDirty()) {
            const Clock::time_point due = held ? std::max(nextAllowed, managerDeadline) : nextAllowed;
            const auto wait = busy ? std::chrono::duration_cast<std::chrono::nanoseconds>(kBusyRetry)
                                   : std::max(std::chrono::nanoseconds(0), due - Clock::now());
            timeout.tv_sec = time_t(wait.count() / 1000000000);
            timeout.tv_nsec = long(wait.count() % 1000000000);
            timeoutPtr = &timeout;
        }
        pollfd fds[2] = {{xfd, POLLIN, 0}, {m_wake.fd(), POLLIN, 0}};
        const int ready = ppoll(fds, 2, timeoutPtr, nullptr);
        bool serverGone = ready > 0 && (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL));
        if (ready > 0 && !serverGone && (fds[0].revents & POLLIN)) {
            char byte = 0;
            serverGone = recv(xfd, &byte, 1, MSG_PEEK | MSG_DONTWAIT) == 0; // end of stream
        }
        if (serverGone || session.serverLost()) {
            ScreenDelivery::ended(m_delivery, serverLostError());
            break;
        }
    }
}

} // namespace corvessa
