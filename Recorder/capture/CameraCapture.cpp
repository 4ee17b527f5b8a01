#include "capture/CameraCapture.h"

#include "capture/CameraPreview.h"
#include "capture/CameraSession.h"
#include "platform/core/HostClock.h"
#include "platform/core/MainQueue.h"
#include "platform/core/PixelBufferPool.h"
#include "platform/core/RecorderLog.h"
#include "platform/ffmpeg/SwsScaler.h"

#include <QLocale>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace corvessa {

namespace {

// Overlay and preview pictures wait in a pool: the overlay store copies them at
// once, and the preview turns them into an image at once.
constexpr size_t kScratchIdle = 2;

// Scales (and converts) a BGRA or NV12 picture into a BGRA buffer of another
// size. One scaler per thread: all calls come from the camera queue.
bool scaleInto(const PixelBuffer& from, PixelBuffer& to)
{
    thread_local SwsScaler scaler;
    return scaler.scale(SwsScaler::crop(from, QRect(0, 0, from.width(), from.height())),
                        SwsScaler::crop(to, QRect(0, 0, to.width(), to.height())));
}

// A pooled BGRA buffer of a size; the pool follows the size.
PixelBufferRef scratch(int width, int height, std::shared_ptr<PixelBufferPool>& pool)
{
    if (!pool || pool->width() != width || pool->height() != height)
        pool = PixelBufferPool::create(width, height, PixelFormat::BGRA, kScratchIdle);
    return pool ? pool->take() : nullptr;
}

// The size of a picture reduced to `shortSide` on its short side: scaled
// exactly, cut toward zero and made even.
QSize reduced(int width, int height, int shortSide)
{
    const int shorter = std::min(width, height);
    const auto side = [&](int v) { return std::max(2, int(int64_t(v) * shortSide / shorter) & ~1); };
    return QSize(side(width), side(height));
}

} // namespace

std::shared_ptr<CameraCapture> CameraCapture::create(std::shared_ptr<CameraService> service)
{
    if (!service)
        service = CameraService::current();
    return std::shared_ptr<CameraCapture>(new CameraCapture(std::move(service)));
}

CameraCapture::CameraCapture(std::shared_ptr<CameraService> service) : m_service(std::move(service))
{
}

CameraCapture::~CameraCapture()
{
    std::vector<std::shared_ptr<CameraSession>> sessions;
    CameraService::Observation observer;
    {
        std::lock_guard lock(m_state);
        if (m_session)
            sessions.push_back(std::move(m_session));
        for (const std::weak_ptr<CameraSession>& weak : m_stopping) {
            if (auto session = weak.lock())
                sessions.push_back(std::move(session));
        }
        m_stopping.clear();
        observer = std::move(m_observer);
    }
    observer.reset();
    // Every stream still open posts to m_queue by its address, so each is closed
    // before the queue goes, whichever thread lets go of the capture last. When
    // that is the queue's own thread (a frame callback held the last reference),
    // the queue is not joined but left to finish on its own, and a teardown
    // still waiting in it would come too late. Nothing of this capture runs
    // now (posted work holds it weakly); sync runs the block at once when
    // called on the queue.
    if (!sessions.empty()) {
        m_queue.sync([&sessions] {
            for (const std::shared_ptr<CameraSession>& session : sessions)
                session->teardown();
        });
    }
}

// MARK: - Callbacks and state

void CameraCapture::setOnSample(SampleHandler handler)
{
    std::lock_guard lock(m_callbacks);
    m_onSample = handler ? std::make_shared<const SampleHandler>(std::move(handler)) : nullptr;
}

void CameraCapture::setOnEvent(EventHandler handler)
{
    std::lock_guard lock(m_callbacks);
    m_onEvent = handler ? std::make_shared<const EventHandler>(std::move(handler)) : nullptr;
}

void CameraCapture::setOnConnected(ConnectedHandler handler)
{
    std::lock_guard lock(m_callbacks);
    m_onConnected = handler ? std::make_shared<const ConnectedHandler>(std::move(handler)) : nullptr;
}

std::shared_ptr<CameraSession> CameraCapture::session() const
{
    std::lock_guard lock(m_state);
    return m_session;
}

QString CameraCapture::deviceID() const
{
    std::lock_guard lock(m_state);
    return m_deviceID;
}

bool CameraCapture::isPreviewQuality() const
{
    std::lock_guard lock(m_state);
    return m_isPreviewQuality;
}

bool CameraCapture::isCurrent(const std::shared_ptr<CameraSession>& session) const
{
    std::lock_guard lock(m_state);
    return session && m_session == session;
}

void CameraCapture::send(const QString& line)
{
    std::shared_ptr<const EventHandler> handler;
    {
        std::lock_guard lock(m_callbacks);
        handler = m_onEvent;
    }
    if (handler)
        (*handler)(line);
}

std::vector<CameraDevice> CameraCapture::devices() const
{
    return m_service->devices();
}

CameraService::Observation CameraCapture::observeDevices(CameraService::DevicesChanged handler) const
{
    return m_service->observeDevices(std::move(handler));
}

CameraVideoCapabilities CameraCapture::capabilities(const CameraDevice& device)
{
    std::vector<CameraVideoCapabilities::DeviceFormat> formats;
    formats.reserve(device.formats.size());
    for (const CameraFormat& f : device.formats) {
        CameraVideoCapabilities::DeviceFormat d{f.width, f.height, {}};
        for (const CameraFormat::Intervals& i : f.intervals)
            d.rates.push_back({i.minimumRate(), i.maximumRate()});
        formats.push_back(std::move(d));
    }
    return CameraVideoCapabilities(formats);
}

// MARK: - Lines

QString CameraCapture::shortestDecimal(double value)
{
    QString text = QString::number(value, 'g', QLocale::FloatingPointShortest);
    if (std::isfinite(value) && !text.contains(QLatin1Char('.')) && !text.contains(QLatin1Char('e')))
        text += QStringLiteral(".0");
    return text;
}

QString CameraCapture::configLine(int requestedShortSide, int requestedFps, int width, int height,
                                  MediaTime frameDuration, const QString& preset)
{
    return QStringLiteral("[camera-config] requested=%1p/%2 actual=%3x%4 frameDuration=%5s preset=%6")
        .arg(requestedShortSide)
        .arg(requestedFps)
        .arg(width)
        .arg(height)
        .arg(shortestDecimal(frameDuration.seconds()), preset);
}

QString CameraCapture::syncLine(double averageMs, double maximumMs, int dropped, int64_t bufferKB)
{
    return QString::asprintf("[camera-sync] capture age avg=%.0fms max=%.0fms dropped=%d buffer=%dKB", averageMs,
                             maximumMs, dropped, int(bufferKB));
}

QString CameraCapture::sessionErrorLine(const QString& description, int code)
{
    return QStringLiteral("Camera Disconnected (Session Error: ") + (description.isEmpty() ? QStringLiteral("?") : description)
           + QStringLiteral(", ") + QString::number(code) + QStringLiteral(")");
}

// MARK: - Start and stop

void CameraCapture::start(const QString& deviceID, int resolution, int fps, bool previewOnly,
                          std::optional<VideoDimensions> size, std::optional<double> frameRate)
{
    stop();
    auto session = std::make_shared<CameraSession>();
    std::weak_ptr<CameraCapture> weak = weak_from_this();

    // The system's notice that this camera went away (the stream notices too;
    // the line is sent once per start).
    CameraService::Observation observer = m_service->observeDevices([weak](const CameraDeviceChange& change) {
        auto self = weak.lock();
        if (!self)
            return;
        std::shared_ptr<CameraSession> current;
        QString id;
        {
            std::lock_guard lock(self->m_state);
            current = self->m_session;
            id = self->m_deviceID;
        }
        if (current && change.wasRemoved(id))
            self->reportDisconnected(current);
    });
    {
        std::lock_guard lock(m_state);
        m_isPreviewQuality = previewOnly;
        m_deviceID = deviceID;
        m_observer = std::move(observer);
        m_session = session;
    }
    const StartRequest request{deviceID, resolution, fps, previewOnly, size, frameRate};
    m_queue.async([weak, session, request] {
        if (auto self = weak.lock())
            self->configure(session, request);
    });
}

CameraStreamOutput CameraCapture::outputFor(const std::shared_ptr<CameraSession>& session)
{
    std::weak_ptr<CameraCapture> weak = weak_from_this();
    std::weak_ptr<CameraSession> weakSession = session;
    CameraStreamOutput output;
    output.onFrame = [weak, weakSession](const SampleBuffer& sample) {
        auto self = weak.lock();
        auto session = weakSession.lock();
        if (self && session)
            self->captureOutput(session, sample);
    };
    output.onDrop = [weak, weakSession](int count) {
        auto self = weak.lock();
        auto session = weakSession.lock();
        if (self && session)
            self->didDrop(session, count);
    };
    output.onStop = [weak, weakSession](const CameraError& error) {
        auto self = weak.lock();
        auto session = weakSession.lock();
        if (self && session)
            self->streamStopped(session, error);
    };
    return output;
}

void CameraCapture::configure(const std::shared_ptr<CameraSession>& session, const StartRequest& request)
{
    // A later start or a stop came first: this configuration is stale.
    if (!isCurrent(session))
        return;

    CameraError openError;
    std::unique_ptr<CameraStream> stream = m_service->open(request.deviceID, &m_queue, outputFor(session), &openError);
    if (!stream) {
        send(QString::fromUtf8(cannotOpenDeviceLine));
        return;
    }
    session->attach(std::move(stream));
    const CameraVideoCapabilities caps = capabilities(session->stream()->device());

    std::optional<VideoDimensions> size;
    double target = 0;
    if (request.previewOnly) {
        size = caps.preferredSize(previewResolution);
        target = previewRate;
    } else {
        const auto sizes = caps.sizes();
        if (request.size && std::find(sizes.begin(), sizes.end(), *request.size) != sizes.end())
            size = request.size;
        else
            size = caps.preferredSize(request.resolution);
        target = request.frameRate ? *request.frameRate : double(request.fps);
    }
    const std::optional<double> rate = size ? caps.preferredRate(*size, target) : std::nullopt;
    const std::optional<int> index = size && rate ? caps.formatIndex(*size, *rate) : std::nullopt;
    if (!size || !rate || !index) {
        send(QString::fromUtf8(cannotConfigureFormatLine));
        return;
    }

    // Size, layout, the locked frame duration and the buffers; always BGRA,
    // because the camera's own YCbCr matrix (mostly BT.601) converts exactly
    // only on the way to RGB.
    if (std::optional<CameraError> error = session->configure({*index, *rate, PixelFormat::BGRA})) {
        switch (error->code) {
        case CameraErrorCode::Busy:
            send(QString::fromUtf8(cannotAddInputLine));
            break;
        case CameraErrorCode::FormatRejected:
            send(QString::fromUtf8(cannotConfigureFormatLine));
            break;
        case CameraErrorCode::BuffersFailed:
            send(QString::fromUtf8(cannotAddOutputLine));
            break;
        case CameraErrorCode::Disconnected:
        case CameraErrorCode::NotFound:
            reportDisconnected(session);
            break;
        default:
            send(QString::fromUtf8(cannotConfigureDeviceLine));
            break;
        }
        return;
    }
    m_selectedFormat = session->activeFormat();
    m_selectedRate = *rate;

    if (std::optional<CameraError> error = session->startRunning()) {
        streamStopped(session, *error);
        return;
    }

    const std::optional<CameraStream::ActiveFormat> active = session->activeFormat();
    if (active) {
        m_selectedFormat = active;
        send(configLine(request.previewOnly ? previewResolution : request.resolution,
                        request.previewOnly ? previewRate : request.fps, active->width, active->height,
                        active->frameInterval, session->preset()));
    }

    std::shared_ptr<const ConnectedHandler> connected;
    {
        std::lock_guard lock(m_callbacks);
        connected = m_onConnected;
    }
    if (connected && isCurrent(session))
        (*connected)(request.deviceID, session, caps);
}

void CameraCapture::stop()
{
    std::shared_ptr<CameraSession> session;
    CameraService::Observation observer;
    {
        std::lock_guard lock(m_state);
        session = std::move(m_session);
        observer = std::move(m_observer);
    }
    // Queued behind any configuration of this session, so it runs after it.
    if (session) {
        {
            std::lock_guard lock(m_state);
            std::erase_if(m_stopping, [](const std::weak_ptr<CameraSession>& weak) { return weak.expired(); });
            m_stopping.push_back(session);
        }
        m_queue.async([session] { session->teardown(); });
    }
    m_overlay->clear();
    observer.reset();
}

void CameraCapture::suspend()
{
    if (auto session = this->session())
        m_queue.async([session] { session->stopRunning(); });
}

void CameraCapture::resume()
{
    auto session = this->session();
    if (!session)
        return;
    std::weak_ptr<CameraCapture> weak = weak_from_this();
    m_queue.async([weak, session] {
        auto self = weak.lock();
        if (!self || !self->isCurrent(session))
            return;
        // Starting locks the chosen format's frame duration again. A session
        // whose configuration failed has nothing to start.
        if (!session->isRunning() && session->isConfigured()) {
            if (std::optional<CameraError> error = session->startRunning())
                self->streamStopped(session, *error);
        }
        self->applyPreviewMirroringOnMain();
    });
}

// MARK: - Losses

void CameraCapture::reportDisconnected(const std::shared_ptr<CameraSession>& session)
{
    {
        std::lock_guard lock(m_state);
        if (!session || m_session != session || m_disconnectReported.lock() == session)
            return;
        m_disconnectReported = session;
    }
    send(QString::fromUtf8(disconnectedLine));
}

void CameraCapture::streamStopped(const std::shared_ptr<CameraSession>& session, const CameraError& error)
{
    if (!isCurrent(session))
        return;
    session->markStopped();
    // The capture does not stop itself: the owner decides what follows the line.
    if (error.code == CameraErrorCode::Disconnected || error.code == CameraErrorCode::NotFound)
        reportDisconnected(session);
    else
        send(sessionErrorLine(error.description, error.osCode));
}

void CameraCapture::didDrop(const std::shared_ptr<CameraSession>& session, int count)
{
    if (isCurrent(session) && count > 0)
        m_droppedFrames += count;
}

// MARK: - Frames

PixelBufferRef CameraCapture::overlayImage(const PixelBufferRef& picture)
{
    if (!picture || picture->width() <= 0 || picture->height() <= 0)
        return nullptr;
    if (std::min(picture->width(), picture->height()) <= overlayShortSide)
        return picture;
    thread_local std::shared_ptr<PixelBufferPool> pool;
    const QSize size = reduced(picture->width(), picture->height(), overlayShortSide);
    PixelBufferRef out = scratch(size.width(), size.height(), pool);
    if (!out || !scaleInto(*picture, *out))
        return nullptr;
    for (const auto& [key, attachment] : picture->propagatingAttachments())
        out->setAttachment(key, attachment.value, true);
    return out;
}

void CameraCapture::captureOutput(const std::shared_ptr<CameraSession>& session, const SampleBuffer& sample)
{
    if (!isCurrent(session))
        return;
    // The stream times its pictures on the host clock already.
    const MediaTime pts = sample.presentationTime();
    if (!pts.isNumeric())
        return;

    const PixelBufferRef& pixels = sample.imageBuffer();
    if (pixels && m_selectedFormat) {
        if (pixels->width() != m_selectedFormat->width || pixels->height() != m_selectedFormat->height) {
            ++m_droppedFrames; // not the format we chose: neither shown nor recorded
            return;
        }
        if (PixelBufferRef picture = overlayImage(pixels)) {
            m_overlay->setBuffer(*picture, pts);
            deliverPreview(session, picture);
        }
    }

    const double now = HostClock::seconds();
    const double age = now - pts.seconds();
    if (std::isfinite(age) && age >= 0) {
        ++m_ageSamples;
        m_ageTotal += age;
        m_ageMax = std::max(m_ageMax, age);
    }
    if (now - m_lastAgeReport >= ageReportInterval && m_ageSamples >= 1) {
        send(syncLine(m_ageTotal / m_ageSamples * 1000, m_ageMax * 1000, m_droppedFrames,
                      m_overlay->usedBytes() / 1024));
        m_ageSamples = 0;
        m_ageTotal = 0;
        m_ageMax = 0;
        m_droppedFrames = 0;
        m_lastAgeReport = now;
    }

    std::shared_ptr<const SampleHandler> handler;
    {
        std::lock_guard lock(m_callbacks);
        handler = m_onSample;
    }
    if (handler)
        (*handler)(sample, m_overlay->mirrored());
}

void CameraCapture::deliverPreview(const std::shared_ptr<CameraSession>& session, const PixelBufferRef& picture)
{
    std::shared_ptr<CameraPreview> preview;
    {
        std::lock_guard lock(m_state);
        preview = m_previewLayer.lock();
    }
    if (!preview || preview->session() != session)
        return;
    const auto now = SerialQueue::Clock::now();
    // A modest rate, and never a backlog on the main thread.
    if (now - m_lastPreview < previewInterval || m_previewsInFlight->load() > 0)
        return;
    m_lastPreview = now;

    thread_local std::shared_ptr<PixelBufferPool> pool;
    PixelBufferRef bgra = picture;
    if (std::min(picture->width(), picture->height()) > previewImageShortSide
        || picture->format() != PixelFormat::BGRA) {
        const QSize size = std::min(picture->width(), picture->height()) > previewImageShortSide
                               ? reduced(picture->width(), picture->height(), previewImageShortSide)
                               : QSize(picture->width(), picture->height());
        bgra = scratch(size.width(), size.height(), pool);
        if (!bgra || !scaleInto(*picture, *bgra))
            return;
    }
    // BGRA bytes with opaque alpha are QImage's RGB32 on a little-endian machine.
    QImage image(bgra->width(), bgra->height(), QImage::Format_RGB32);
    if (image.isNull())
        return;
    const size_t rowBytes = size_t(bgra->width()) * 4;
    for (int y = 0; y < bgra->height(); ++y)
        std::memcpy(image.scanLine(y), bgra->baseAddress(0) + size_t(y) * bgra->bytesPerRow(0), rowBytes);

    std::weak_ptr<CameraPreview> weakPreview = preview;
    std::shared_ptr<std::atomic<int>> inFlight = m_previewsInFlight;
    inFlight->fetch_add(1);
    // Counted down when the hop is done with, whether it ran or was dropped.
    std::shared_ptr<void> pending(nullptr, [inFlight](void*) { inFlight->fetch_sub(1); });
    MainQueue::async([weakPreview, pending = std::move(pending), image = std::move(image)]() mutable {
        pending.reset();
        if (auto p = weakPreview.lock())
            p->deliver(image);
    });
}

// MARK: - Preview and mirroring

void CameraCapture::setPreview(const std::shared_ptr<CameraPreview>& preview,
                               const std::shared_ptr<CameraSession>& session)
{
    {
        std::lock_guard lock(m_state);
        m_previewLayer = preview;
    }
    if (!preview)
        return;
    std::weak_ptr<CameraCapture> weak = weak_from_this();
    // On the queue, behind the session's configuration. Binding a view changes
    // nothing on the device here, so the format needs no re-applying.
    m_queue.async([weak, preview, session] {
        preview->setSession(session);
        if (auto self = weak.lock())
            self->applyPreviewMirroringOnMain();
    });
}

void CameraCapture::setMirrored(bool mirrored, const std::shared_ptr<CameraPreview>& preview)
{
    m_overlay->setMirrored(mirrored);
    if (preview) {
        std::lock_guard lock(m_state);
        m_previewLayer = preview;
    }
    RecorderLog::write(QStringLiteral("[mirror] toggle ") + (mirrored ? QStringLiteral("on") : QStringLiteral("off"))
                       + QStringLiteral(" preview") + (preview ? QStringLiteral(" attached") : QStringLiteral(" none")));
    applyPreviewMirroringOnMain();
}

void CameraCapture::applyPreviewMirroringOnMain()
{
    if (MainQueue::isCurrent()) {
        std::shared_ptr<CameraPreview> preview;
        {
            std::lock_guard lock(m_state);
            preview = m_previewLayer.lock();
        }
        if (preview)
            applyPreviewMirroring(*preview);
        return;
    }
    std::weak_ptr<CameraCapture> weak = weak_from_this();
    MainQueue::async([weak] {
        if (auto self = weak.lock())
            self->applyPreviewMirroringOnMain();
    });
}

void CameraCapture::applyPreviewMirroring(CameraPreview& preview)
{
    const bool mirrored = m_overlay->mirrored();
    const double current = preview.scaleX();
    const double wanted = mirrored ? -1.0 : 1.0;
    if (current == wanted)
        return;
    preview.setScaleX(wanted);
    RecorderLog::write(QStringLiteral("[mirror] apply scaleX ") + shortestDecimal(current) + QStringLiteral(" → ")
                       + shortestDecimal(wanted) + QStringLiteral(" (layer transform ")
                       + shortestDecimal(preview.scaleX()) + QStringLiteral(")"));
}

} // namespace corvessa
