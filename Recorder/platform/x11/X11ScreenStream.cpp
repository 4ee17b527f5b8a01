#include "platform/x11/X11ScreenStream.h"

#include "platform/AudioInput.h"
#include "platform/AudioInputError.h"
#include "platform/ffmpeg/FrameScaler.h"
#include "platform/core/HostClock.h"
#include "platform/core/PixelBufferPool.h"
#include "platform/core/SerialQueue.h"
#include "platform/x11/X11ErrorTrap.h"
#include "platform/x11/X11WindowProperties.h"

#include <QRegion>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <future>
#include <utility>

#include <poll.h>
#include <sys/socket.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <time.h>
#include <unistd.h>

// X11 last: its macros (None, Bool, Status, Success) clash with names in Qt.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xcomposite.h>
#include <X11/extensions/Xdamage.h>
#include <X11/extensions/Xfixes.h>
#include <X11/extensions/Xrandr.h>
#include <X11/extensions/shape.h>

namespace corvessa {

namespace {

using Clock = std::chrono::steady_clock;

// While `queueDepth` frames wait on the output queue, look again this soon.
constexpr auto kBusyRetry = std::chrono::milliseconds(4);
// An excluded window that moved or vanished may leave its picture on the screen
// until the server repaints there; its old place is rebuilt for a few frames.
constexpr int kGhostFrames = 3;
// Windows looked at for an excluded pid or id: the top-level, the client inside
// a window manager's frame and a wrapper between them; more is never needed.
constexpr int kFamilyDepth = 2;
constexpr size_t kFamilyMax = 16;

double threadCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

struct DisplayCloser {
    void operator()(Display* d) const { XCloseDisplay(d); }
};
using DisplayPtr = std::unique_ptr<Display, DisplayCloser>;

struct ImageDestroyer {
    void operator()(XImage* image) const { XDestroyImage(image); }
};
using ImagePtr = std::unique_ptr<XImage, ImageDestroyer>;

// One server-side resource of our connection, given back when its owner goes.
// Freeing may fail when the server already freed it with its window (a damage);
// owners are destroyed while an X11ErrorTrap is held.
template <typename Free>
class XResource {
public:
    XResource() = default;
    XResource(Display* display, unsigned long id) : m_display(display), m_id(id) {}
    ~XResource() { reset(); }
    XResource(XResource&& o) noexcept : m_display(o.m_display), m_id(std::exchange(o.m_id, 0)) {}
    XResource& operator=(XResource&& o) noexcept
    {
        if (this != &o) {
            reset();
            m_display = o.m_display;
            m_id = std::exchange(o.m_id, 0);
        }
        return *this;
    }
    XResource(const XResource&) = delete;
    XResource& operator=(const XResource&) = delete;

    unsigned long get() const { return m_id; }
    explicit operator bool() const { return m_id != 0; }
    void reset()
    {
        if (m_id && m_display)
            Free{}(m_display, m_id);
        m_id = 0;
    }

private:
    Display* m_display = nullptr;
    unsigned long m_id = 0;
};

struct FreePixmap {
    void operator()(Display* d, unsigned long id) const { XFreePixmap(d, id); }
};
struct FreeDamage {
    void operator()(Display* d, unsigned long id) const { XDamageDestroy(d, id); }
};
struct FreeRegion {
    void operator()(Display* d, unsigned long id) const { XFixesDestroyRegion(d, id); }
};
using PixmapHandle = XResource<FreePixmap>;
using DamageHandle = XResource<FreeDamage>;
using RegionHandle = XResource<FreeRegion>;

// Redirection of the root's children, undone when the stream ends (the server
// would undo it at disconnection too, but a stream may end long before that).
class Redirection {
public:
    Redirection() = default;
    Redirection(Display* display, Window root) : m_display(display), m_root(root)
    {
        XCompositeRedirectSubwindows(display, root, CompositeRedirectAutomatic);
    }
    ~Redirection()
    {
        if (m_display)
            XCompositeUnredirectSubwindows(m_display, m_root, CompositeRedirectAutomatic);
    }
    Redirection(const Redirection&) = delete;
    Redirection& operator=(const Redirection&) = delete;

private:
    Display* m_display = nullptr;
    Window m_root = 0;
};

// 32-bit pixels of a rectangle read from the server, valid until the next read.
struct PixelView {
    uint8_t* data = nullptr;
    size_t bytesPerRow = 0;
    int width = 0;
    int height = 0;
    explicit operator bool() const { return data != nullptr; }
};

// Reads rectangles of drawables into client memory: through a shared-memory
// segment where the server offers one (the server writes straight into it),
// else with plain GetImage.
class PixelReader {
public:
    PixelReader(Display* display, bool useShm) : m_display(display), m_useShm(useShm) {}
    ~PixelReader() { release(); }
    PixelReader(const PixelReader&) = delete;
    PixelReader& operator=(const PixelReader&) = delete;

    bool usesShm() const { return m_useShm; }

    // Reads `rect` of a drawable of `depth` (24 or 32, 32 bits per pixel). An
    // empty view when the drawable is gone or the rectangle does not fit it.
    PixelView read(X11ErrorTrap& trap, Drawable drawable, Visual* visual, int depth, const QRect& rect)
    {
        if (rect.isEmpty())
            return {};
        if (m_useShm) {
            ImagePtr image(XShmCreateImage(m_display, visual, unsigned(depth), ZPixmap, nullptr, &m_info,
                                           unsigned(rect.width()), unsigned(rect.height())));
            if (image && image->bits_per_pixel == 32) {
                const size_t bytes = size_t(image->bytes_per_line) * size_t(image->height);
                if (ensureSegment(trap, bytes)) {
                    image->data = m_info.shmaddr;
                    if (XShmGetImage(m_display, drawable, image.get(), rect.x(), rect.y(), AllPlanes)) {
                        m_shmImage = std::move(image);
                        return {reinterpret_cast<uint8_t*>(m_info.shmaddr), size_t(m_shmImage->bytes_per_line),
                                rect.width(), rect.height()};
                    }
                    trap.sync(); // the error is this read's answer; keep it from the next check
                    return {};
                }
            }
            if (m_useShm)
                return {};
        }
        ImagePtr image(XGetImage(m_display, drawable, rect.x(), rect.y(), unsigned(rect.width()),
                                 unsigned(rect.height()), AllPlanes, ZPixmap));
        if (!image) {
            trap.sync();
            return {};
        }
        if (image->bits_per_pixel != 32)
            return {};
        m_plainImage = std::move(image);
        return {reinterpret_cast<uint8_t*>(m_plainImage->data), size_t(m_plainImage->bytes_per_line),
                rect.width(), rect.height()};
    }

private:
    bool ensureSegment(X11ErrorTrap& trap, size_t bytes)
    {
        if (m_attached && bytes <= m_size)
            return true;
        release();
        // Room to grow a little, so a window resized by a few pixels keeps the segment.
        const size_t size = bytes + bytes / 8;
        const int id = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
        if (id < 0) {
            m_useShm = false;
            return false;
        }
        void* address = shmat(id, nullptr, 0);
        if (address == reinterpret_cast<void*>(-1)) {
            shmctl(id, IPC_RMID, nullptr);
            m_useShm = false;
            return false;
        }
        m_info.shmid = id;
        m_info.shmaddr = static_cast<char*>(address);
        m_info.readOnly = False;
        const bool attached = XShmAttach(m_display, &m_info) && trap.sync() == 0;
        // Marked for removal at once: it vanishes with the last detach, even after a crash.
        shmctl(id, IPC_RMID, nullptr);
        if (!attached) {
            // A server on another machine cannot reach our memory.
            shmdt(m_info.shmaddr);
            m_info = {};
            m_useShm = false;
            return false;
        }
        m_attached = true;
        m_size = size;
        return true;
    }

    void release()
    {
        m_shmImage.reset();
        if (m_attached) {
            XShmDetach(m_display, &m_info);
            XSync(m_display, False);
            m_attached = false;
        }
        if (m_info.shmaddr) {
            shmdt(m_info.shmaddr);
            m_info = {};
        }
        m_size = 0;
    }

    Display* m_display;
    bool m_useShm;
    XShmSegmentInfo m_info{};
    bool m_attached = false;
    size_t m_size = 0;
    ImagePtr m_shmImage;
    ImagePtr m_plainImage;
};

// A top-level window (a child of the root) as the display capture tracks it.
struct TopLevel {
    Window id = 0;
    QRect outer; // root pixels, border included
    int border = 0;
    bool viewable = false;
    bool inputOnly = false;
    bool known = false; // depth and visual read
    int depth = 0;
    Visual* visual = nullptr;
    bool excluded = false;
    PixmapHandle pixmap;
    DamageHandle damage; // only on windows that were rebuilt under an excluded one

    bool shows() const { return viewable && !inputOnly; }
};

// Copies (or, for windows with alpha, blends premultiplied) `part` into `frame`
// at `at`.
void blit(const PixelView& frame, const QPoint& at, const PixelView& part, bool blend)
{
    for (int y = 0; y < part.height; ++y) {
        const uint8_t* src = part.data + size_t(y) * part.bytesPerRow;
        uint8_t* dst = frame.data + size_t(at.y() + y) * frame.bytesPerRow + size_t(at.x()) * 4;
        if (!blend) {
            std::memcpy(dst, src, size_t(part.width) * 4);
            continue;
        }
        for (int x = 0; x < part.width; ++x, src += 4, dst += 4) {
            const unsigned a = src[3];
            if (a == 255) {
                std::memcpy(dst, src, 4);
            } else if (a != 0) {
                for (int c = 0; c < 3; ++c)
                    dst[c] = uint8_t(std::min(255u, src[c] + (dst[c] * (255 - a) + 127) / 255));
            }
        }
    }
}

void fillBlack(const PixelView& frame, const QRect& r)
{
    for (int y = r.top(); y <= r.bottom(); ++y)
        std::memset(frame.data + size_t(y) * frame.bytesPerRow + size_t(r.x()) * 4, 0, size_t(r.width()) * 4);
}

QRect rootPixels(const XRandRDisplayList::Output& o)
{
    return (o.pixels.isEmpty() ? o.frame : o.pixels).toAlignedRect();
}

} // namespace

// State shared with the blocks on the output queue and the microphone's thread.
struct X11ScreenStream::Shared {
    SerialQueue* queue = nullptr;
    ScreenStreamOutput output;
    // Held while an output call runs; stop() takes it, so no call starts after it.
    std::recursive_mutex callMutex;
    bool stopped = false;
    std::atomic<int> inFlight{0};

    void deliverScreen(const std::shared_ptr<Shared>& self, SampleBuffer sample)
    {
        inFlight.fetch_add(1);
        queue->async([self, sample = std::move(sample)] {
            {
                std::lock_guard lock(self->callMutex);
                if (!self->stopped && self->output.onScreen)
                    self->output.onScreen(sample);
            }
            self->inFlight.fetch_sub(1);
        });
    }
    void deliverMicrophone(const std::shared_ptr<Shared>& self, SampleBuffer sample)
    {
        queue->async([self, sample = std::move(sample)] {
            std::lock_guard lock(self->callMutex);
            if (!self->stopped && self->output.onMicrophone)
                self->output.onMicrophone(sample);
        });
    }
    void deliverStop(const std::shared_ptr<Shared>& self, RecorderError error)
    {
        queue->async([self, error = std::move(error)] {
            std::lock_guard lock(self->callMutex);
            if (self->stopped)
                return;
            // A stream that stopped by itself delivers nothing more.
            self->stopped = true;
            if (self->output.onStop)
                self->output.onStop(error);
        });
    }
};

// Everything the capture thread owns: the connection and what lives on it.
struct X11ScreenStream::Capture {
    ScreenFilter filter;
    ScreenStreamConfig config;
    bool running = false; // set once start() has succeeded

    DisplayPtr connection;
    Display* dpy = nullptr;
    Window root = 0;
    Visual* rootVisual = nullptr;
    int rootDepth = 0;
    int damageEvent = 0;
    int fixesEvent = 0;
    int randrEvent = -1;
    bool shape = false;
    bool useShm = false;

    // Everything below is freed before the connection closes (under a trap).
    struct Resources {
        std::unique_ptr<Redirection> redirection;
        std::unique_ptr<PixelReader> frameReader;
        std::unique_ptr<PixelReader> partReader;
        RegionHandle region;
        // Display and area targets.
        DamageHandle rootDamage;
        std::vector<TopLevel> stack; // bottom to top
        // Window targets.
        Window client = 0;
        Window top = 0;
        bool topViewable = false;
        Visual* topVisual = nullptr;
        PixmapHandle topPixmap;
        QSize topPixmapSize;
        int topPixmapDepth = 0;
        DamageHandle topDamage;
    };
    std::unique_ptr<Resources> res;

    std::vector<XRandRDisplayList::Output> outputs;
    QRect area; // root pixels captured (display and area targets)
    std::vector<std::pair<QRect, int>> ghosts;
    Pixmap wallpaper = 0;
    QSize wallpaperSize;
    Atom rootPmapAtom = 0;
    Atom esetrootAtom = 0;
    Atom compositorAtom = 0;
    // A compositing manager blends windows with alpha over what lies below; the
    // server alone shows their colour as it is. The rebuild does as the screen does.
    bool compositorRunning = false;

    bool dirty = true; // the first frame is always made
    bool layoutChanged = false;
    std::optional<RecorderError> lost;
    uint64_t repairs = 0;

    bool isWindowTarget() const { return filter.kind == ScreenFilter::Kind::Window; }

    ~Capture() { close(); }

    void close()
    {
        if (!connection)
            return;
        {
            X11ErrorTrap trap(dpy);
            res.reset();
        }
        connection.reset();
        dpy = nullptr;
    }

    void markLost(ScreenCaptureErrorCode code, const QString& message)
    {
        if (!lost)
            lost = screenCaptureError(code, message);
    }
    void markWindowLost()
    {
        if (!lost)
            lost = windowLostError();
    }

    // ---- setup ----

    std::optional<RecorderError> open(const QString& displayName)
    {
        const QByteArray name = displayName.toLocal8Bit();
        connection.reset(XOpenDisplay(displayName.isEmpty() ? nullptr : name.constData()));
        if (!connection) {
            return screenCaptureError(ScreenCaptureErrorCode::ServerUnavailable,
                                      QStringLiteral("Can't connect to the X display."));
        }
        dpy = connection.get();
        const int screen = DefaultScreen(dpy);
        root = RootWindow(dpy, screen);
        rootVisual = DefaultVisual(dpy, screen);
        rootDepth = DefaultDepth(dpy, screen);

        int event = 0;
        int error = 0;
        int major = 0;
        int minor = 4;
        if (!XCompositeQueryExtension(dpy, &event, &error) || !XCompositeQueryVersion(dpy, &major, &minor) ||
            (major == 0 && minor < 2)) {
            return screenCaptureError(ScreenCaptureErrorCode::ExtensionMissing,
                                      QStringLiteral("The X server has no Composite extension (0.2 or later)."));
        }
        major = 1;
        minor = 1;
        if (!XDamageQueryExtension(dpy, &damageEvent, &error) || !XDamageQueryVersion(dpy, &major, &minor)) {
            return screenCaptureError(ScreenCaptureErrorCode::ExtensionMissing,
                                      QStringLiteral("The X server has no Damage extension."));
        }
        major = 5;
        minor = 0;
        if (!XFixesQueryExtension(dpy, &fixesEvent, &error) || !XFixesQueryVersion(dpy, &major, &minor) || major < 2) {
            return screenCaptureError(ScreenCaptureErrorCode::ExtensionMissing,
                                      QStringLiteral("The X server has no XFixes extension (2.0 or later)."));
        }
        // Captured pixels are read as 32-bit BGRX.
        if (ImageByteOrder(dpy) != LSBFirst || (rootDepth != 24 && rootDepth != 32) || rootVisual->red_mask != 0xff0000 ||
            rootVisual->green_mask != 0xff00 || rootVisual->blue_mask != 0xff) {
            return screenCaptureError(ScreenCaptureErrorCode::StartFailed,
                                      QStringLiteral("The X display's pixel format is not supported (24-bit colour "
                                                     "in 32-bit little-endian pixels is needed)."));
        }
        useShm = XShmQueryExtension(dpy);
        int randrError = 0;
        if (!XRRQueryExtension(dpy, &randrEvent, &randrError))
            randrEvent = -1;
        shape = XShapeQueryExtension(dpy, &event, &error);
        rootPmapAtom = XInternAtom(dpy, "_XROOTPMAP_ID", False);
        esetrootAtom = XInternAtom(dpy, "ESETROOT_PMAP_ID", False);
        compositorAtom = XInternAtom(dpy, QByteArray("_NET_WM_CM_S" + QByteArray::number(screen)).constData(), False);

        res = std::make_unique<Resources>();
        X11ErrorTrap trap(dpy);
        res->redirection = std::make_unique<Redirection>(dpy, root);
        res->frameReader = std::make_unique<PixelReader>(dpy, useShm);
        res->partReader = std::make_unique<PixelReader>(dpy, useShm);
        res->region = RegionHandle(dpy, XFixesCreateRegion(dpy, nullptr, 0));
        if (randrEvent >= 0) {
            XRRSelectInput(dpy, root,
                           RRScreenChangeNotifyMask | RRCrtcChangeNotifyMask | RROutputChangeNotifyMask |
                               RROutputPropertyNotifyMask);
        }
        if (trap.sync() != 0) {
            return screenCaptureError(ScreenCaptureErrorCode::StartFailed,
                                      QStringLiteral("The X server refused to redirect windows for capture."));
        }
        return isWindowTarget() ? openWindow(trap) : openDisplay(trap);
    }

    std::optional<RecorderError> openDisplay(X11ErrorTrap& trap)
    {
        XSelectInput(dpy, root, SubstructureNotifyMask | PropertyChangeMask);
        XFixesSelectSelectionInput(dpy, root, compositorAtom,
                                   XFixesSetSelectionOwnerNotifyMask | XFixesSelectionWindowDestroyNotifyMask |
                                       XFixesSelectionClientCloseNotifyMask);
        compositorRunning = XGetSelectionOwner(dpy, compositorAtom) != None;
        res->rootDamage = DamageHandle(dpy, XDamageCreate(dpy, root, XDamageReportNonEmpty));
        for (Window w : X11WindowProperties::children(dpy, root)) {
            TopLevel t;
            t.id = w;
            if (!readAttributes(trap, t))
                continue;
            if (t.shows())
                t.excluded = isExcluded(trap, w);
            res->stack.push_back(std::move(t));
        }
        loadWallpaper(trap);
        if (trap.sync() != 0) {
            return screenCaptureError(ScreenCaptureErrorCode::StartFailed,
                                      QStringLiteral("The X server refused to report screen changes."));
        }
        return std::nullopt;
    }

    std::optional<RecorderError> openWindow(X11ErrorTrap& trap)
    {
        const auto gone = windowMissingError();
        res->client = Window(filter.windowId);
        XWindowAttributes a;
        std::memset(&a, 0, sizeof a);
        if (res->client == 0 || res->client == root)
            return gone;
        const bool exists = XGetWindowAttributes(dpy, res->client, &a);
        if (trap.sync() != 0 || !exists)
            return gone;
        XSelectInput(dpy, res->client, StructureNotifyMask);
        if (!resolveTop(trap))
            return gone;
        return std::nullopt;
    }

    // Finds the top-level holding the client (its frame under a reparenting
    // window manager) and watches it.
    bool resolveTop(X11ErrorTrap& trap)
    {
        const Window top = X11WindowProperties::topLevel(dpy, res->client, root);
        if (trap.sync() != 0 || top == 0)
            return false;
        res->topPixmap.reset();
        if (res->topDamage) {
            res->topDamage.reset(); // fails when the old frame is gone
            trap.sync();
        }
        res->top = top;
        if (top != res->client)
            XSelectInput(dpy, top, StructureNotifyMask);
        XWindowAttributes a;
        std::memset(&a, 0, sizeof a);
        const bool exists = XGetWindowAttributes(dpy, top, &a);
        if (trap.sync() != 0 || !exists)
            return false;
        res->topViewable = a.map_state == IsViewable;
        res->topVisual = a.visual;
        res->topDamage = DamageHandle(dpy, XDamageCreate(dpy, top, XDamageReportNonEmpty));
        dirty = true;
        return trap.sync() == 0;
    }

    bool readAttributes(X11ErrorTrap& trap, TopLevel& t)
    {
        XWindowAttributes a;
        std::memset(&a, 0, sizeof a);
        // Sync either way, so that a failure is not left for the next check.
        const bool exists = XGetWindowAttributes(dpy, t.id, &a);
        if (trap.sync() != 0 || !exists)
            return false;
        t.outer = QRect(a.x, a.y, a.width + 2 * a.border_width, a.height + 2 * a.border_width);
        t.border = a.border_width;
        t.viewable = a.map_state == IsViewable;
        t.inputOnly = a.c_class == InputOnly;
        t.depth = a.depth;
        t.visual = a.visual;
        t.known = true;
        return true;
    }

    bool isExcluded(X11ErrorTrap& trap, Window topLevel)
    {
        if (filter.excludedPids.empty() && filter.excludedWindows.empty())
            return false;
        std::vector<X11WindowProperties::WindowId> family = X11WindowProperties::family(dpy, topLevel, kFamilyDepth);
        if (family.size() > kFamilyMax)
            family.resize(kFamilyMax);
        bool excluded = false;
        for (auto w : family) {
            if (std::find(filter.excludedWindows.begin(), filter.excludedWindows.end(), uint32_t(w)) !=
                filter.excludedWindows.end()) {
                excluded = true;
                break;
            }
            if (!filter.excludedPids.empty()) {
                const int64_t pid = X11WindowProperties::pid(dpy, w);
                if (pid != 0 &&
                    std::find(filter.excludedPids.begin(), filter.excludedPids.end(), pid) != filter.excludedPids.end()) {
                    excluded = true;
                    break;
                }
            }
        }
        trap.sync(); // a child that vanished midway is no error of ours
        return excluded;
    }

    void loadWallpaper(X11ErrorTrap& trap)
    {
        wallpaper = X11WindowProperties::rootPixmap(dpy, root);
        wallpaperSize = {};
        if (!wallpaper)
            return;
        Window r = 0;
        int x = 0;
        int y = 0;
        unsigned w = 0;
        unsigned h = 0;
        unsigned border = 0;
        unsigned depth = 0;
        const bool exists = XGetGeometry(dpy, wallpaper, &r, &x, &y, &w, &h, &border, &depth);
        if (trap.sync() != 0 || !exists || int(depth) != rootDepth) {
            wallpaper = 0;
            return;
        }
        wallpaperSize = QSize(int(w), int(h));
    }

    // The layout decides what a display or an area covers on the root.
    void applyLayout(std::vector<XRandRDisplayList::Output> layout)
    {
        outputs = std::move(layout);
        if (isWindowTarget())
            return;
        const auto it = std::find_if(outputs.begin(), outputs.end(), [&](const XRandRDisplayList::Output& o) {
            return DisplayInfo::idForName(o.name) == filter.displayId;
        });
        if (it == outputs.end()) {
            if (!lost)
                lost = running ? displayLostError() : displayMissingError();
            return;
        }
        QRect pixels = rootPixels(*it);
        // The root may be smaller than the layout while a mode change is in progress.
        pixels &= QRect(0, 0, DisplayWidth(dpy, DefaultScreen(dpy)), DisplayHeight(dpy, DefaultScreen(dpy)));
        QRect next = pixels;
        if (config.sourceRect) {
            const QRectF& s = *config.sourceRect;
            const double scale = it->scale > 0 ? it->scale : 1;
            next = QRectF(pixels.x() + s.x() * scale, pixels.y() + s.y() * scale, s.width() * scale,
                          s.height() * scale)
                       .toAlignedRect() &
                   pixels;
        }
        if (next.isEmpty()) {
            if (!running) {
                markLost(ScreenCaptureErrorCode::InvalidConfiguration,
                         QStringLiteral("The area to record lies outside its display."));
            }
            return; // while running, a bad area keeps the last good one
        }
        if (next != area) {
            area = next;
            dirty = true;
        }
    }

    // ---- events ----

    TopLevel* find(Window id)
    {
        for (TopLevel& t : res->stack) {
            if (t.id == id)
                return &t;
        }
        return nullptr;
    }

    void moveAbove(Window id, Window sibling)
    {
        auto& stack = res->stack;
        const auto it = std::find_if(stack.begin(), stack.end(), [&](const TopLevel& t) { return t.id == id; });
        if (it == stack.end())
            return;
        TopLevel moved = std::move(*it);
        stack.erase(it);
        auto below = std::find_if(stack.begin(), stack.end(), [&](const TopLevel& t) { return t.id == sibling; });
        stack.insert(sibling == None || below == stack.end() ? stack.begin() : below + 1, std::move(moved));
    }

    void touch(const QRect& r)
    {
        if (r.intersects(area))
            dirty = true;
    }

    void forget(X11ErrorTrap& trap, TopLevel& t)
    {
        if (t.excluded && t.shows())
            ghosts.emplace_back(t.outer, kGhostFrames);
        t.pixmap.reset();
        if (t.damage) {
            // Fails when the window (and with it the damage) is already gone;
            // the error must not count against the next request.
            t.damage.reset();
            trap.sync();
        }
    }

    // Handles the events already read, or every one the server has sent.
    void handleEvents(X11ErrorTrap& trap, bool queuedOnly)
    {
        while (XEventsQueued(dpy, queuedOnly ? QueuedAlready : QueuedAfterReading) > 0) {
            XEvent e;
            XNextEvent(dpy, &e);
            handle(trap, e);
        }
    }

    void handle(X11ErrorTrap& trap, XEvent& e)
    {
        if (e.type == damageEvent + XDamageNotify) {
            handleDamage(trap, reinterpret_cast<XDamageNotifyEvent&>(e));
            return;
        }
        if (e.type == fixesEvent + XFixesSelectionNotify) {
            compositorRunning = XGetSelectionOwner(dpy, compositorAtom) != None;
            dirty = true;
            return;
        }
        if (randrEvent >= 0 && (e.type == randrEvent + RRScreenChangeNotify || e.type == randrEvent + RRNotify)) {
            XRRUpdateConfiguration(&e);
            layoutChanged = true;
            return;
        }
        if (isWindowTarget())
            handleWindowTargetEvent(trap, e);
        else
            handleStackEvent(trap, e);
    }

    void handleDamage(X11ErrorTrap& trap, const XDamageNotifyEvent& e)
    {
        if (isWindowTarget()) {
            if (res->topDamage && e.damage == res->topDamage.get()) {
                XDamageSubtract(dpy, e.damage, None, None);
                trap.sync(); // the window may be gone already; its end comes as an event
                dirty = true;
            }
            return;
        }
        if (res->rootDamage && e.damage == res->rootDamage.get()) {
            // Changes elsewhere on the root (another display, outside the area) make no frame.
            XDamageSubtract(dpy, e.damage, None, res->region.get());
            int count = 0;
            XRectangle bounds{};
            XRectangle* rects = XFixesFetchRegionAndBounds(dpy, res->region.get(), &count, &bounds);
            if (rects)
                XFree(rects);
            if (trap.sync() != 0 || QRect(bounds.x, bounds.y, bounds.width, bounds.height).intersects(area))
                dirty = true;
            return;
        }
        // A window rebuilt under an excluded one: its changes there never reach the screen.
        for (TopLevel& t : res->stack) {
            if (t.damage && t.damage.get() == e.damage) {
                XDamageSubtract(dpy, e.damage, None, None);
                trap.sync();
                if (!excludedRegion().intersected(t.outer).isEmpty())
                    dirty = true;
                return;
            }
        }
    }

    void handleStackEvent(X11ErrorTrap& trap, XEvent& e)
    {
        auto& stack = res->stack;
        switch (e.type) {
        case CreateNotify: {
            const XCreateWindowEvent& c = e.xcreatewindow;
            if (c.parent != root || find(c.window))
                return;
            TopLevel t;
            t.id = c.window;
            t.outer = QRect(c.x, c.y, c.width + 2 * c.border_width, c.height + 2 * c.border_width);
            t.border = c.border_width;
            stack.push_back(std::move(t)); // new windows start on top
            return;
        }
        case DestroyNotify: {
            const XDestroyWindowEvent& d = e.xdestroywindow;
            if (d.event != root)
                return;
            const auto it = std::find_if(stack.begin(), stack.end(), [&](const TopLevel& t) { return t.id == d.window; });
            if (it != stack.end()) {
                if (it->shows())
                    touch(it->outer);
                forget(trap, *it);
                stack.erase(it);
            }
            return;
        }
        case ReparentNotify: {
            const XReparentEvent& r = e.xreparent;
            if (r.event != root)
                return;
            if (r.parent == root) {
                if (find(r.window))
                    return;
                TopLevel t;
                t.id = r.window;
                if (readAttributes(trap, t)) {
                    if (t.shows())
                        t.excluded = isExcluded(trap, t.id);
                    touch(t.outer);
                    stack.push_back(std::move(t));
                }
            } else {
                const auto it =
                    std::find_if(stack.begin(), stack.end(), [&](const TopLevel& t) { return t.id == r.window; });
                if (it != stack.end()) {
                    if (it->shows())
                        touch(it->outer);
                    forget(trap, *it);
                    stack.erase(it);
                }
                // A client moved into a frame: the frame now carries its pid and id.
                if (TopLevel* frame = find(r.parent); frame && frame->shows())
                    frame->excluded = isExcluded(trap, frame->id);
            }
            return;
        }
        case ConfigureNotify: {
            const XConfigureEvent& c = e.xconfigure;
            if (c.event != root || c.window == root)
                return;
            TopLevel* t = find(c.window);
            if (!t)
                return;
            const QRect before = t->outer;
            const QRect after(c.x, c.y, c.width + 2 * c.border_width, c.height + 2 * c.border_width);
            if (before.size() != after.size())
                t->pixmap.reset(); // a resized window has a new pixmap
            if (t->excluded && t->shows() && before != after)
                ghosts.emplace_back(before, kGhostFrames);
            t->outer = after;
            t->border = c.border_width;
            if (t->shows()) {
                touch(before);
                touch(after);
            }
            moveAbove(c.window, c.above);
            return;
        }
        case MapNotify: {
            const XMapEvent& m = e.xmap;
            if (m.event != root)
                return;
            TopLevel* t = find(m.window);
            if (!t)
                return;
            t->pixmap.reset();
            if (!readAttributes(trap, *t))
                return; // already gone again
            t->viewable = true;
            if (!t->inputOnly)
                t->excluded = isExcluded(trap, t->id);
            touch(t->outer);
            return;
        }
        case UnmapNotify: {
            const XUnmapEvent& u = e.xunmap;
            if (u.event != root)
                return;
            if (TopLevel* t = find(u.window)) {
                if (t->shows())
                    touch(t->outer);
                forget(trap, *t);
                t->viewable = false;
            }
            return;
        }
        case CirculateNotify: {
            const XCirculateEvent& c = e.xcirculate;
            if (c.event != root)
                return;
            const auto it = std::find_if(stack.begin(), stack.end(), [&](const TopLevel& t) { return t.id == c.window; });
            if (it == stack.end())
                return;
            TopLevel moved = std::move(*it);
            stack.erase(it);
            touch(moved.outer);
            if (c.place == PlaceOnTop)
                stack.push_back(std::move(moved));
            else
                stack.insert(stack.begin(), std::move(moved));
            return;
        }
        case PropertyNotify: {
            const XPropertyEvent& p = e.xproperty;
            if (p.window == root && (p.atom == rootPmapAtom || p.atom == esetrootAtom)) {
                loadWallpaper(trap);
                dirty = true;
            }
            return;
        }
        default:
            return;
        }
    }

    void handleWindowTargetEvent(X11ErrorTrap& trap, XEvent& e)
    {
        switch (e.type) {
        case DestroyNotify: {
            const Window w = e.xdestroywindow.window;
            if (w == res->client) {
                markWindowLost();
            } else if (w == res->top) {
                // The frame went; the client may live on elsewhere (a window manager restart).
                res->topDamage = DamageHandle();
                res->topPixmap = PixmapHandle();
                trap.sync(); // the frame's damage went with it
                res->top = 0;
                res->topViewable = false;
                if (!resolveTop(trap)) {
                    markWindowLost();
                }
            }
            return;
        }
        case ReparentNotify:
            if (e.xreparent.window == res->client && !resolveTop(trap)) {
                markWindowLost();
            }
            return;
        case MapNotify:
            if (e.xmap.window == res->top) {
                res->topViewable = true;
                res->topPixmap.reset();
                dirty = true;
            }
            return;
        case UnmapNotify:
            if (e.xunmap.window == res->top) {
                res->topViewable = false;
                res->topPixmap.reset();
            }
            return;
        case ConfigureNotify:
            if (e.xconfigure.window == res->top) {
                const QSize size(e.xconfigure.width + 2 * e.xconfigure.border_width,
                                 e.xconfigure.height + 2 * e.xconfigure.border_width);
                if (size != res->topPixmapSize)
                    res->topPixmap.reset();
                dirty = true;
            }
            return;
        default:
            return;
        }
    }

    // ---- pictures ----

    // Root pixels of the area that excluded windows cover (or lately covered).
    QRegion excludedRegion() const
    {
        QRegion region;
        for (const TopLevel& t : res->stack) {
            if (t.excluded && t.shows())
                region += t.outer & area;
        }
        for (const auto& ghost : ghosts)
            region += ghost.first & area;
        return region;
    }

    // The window's own picture (border included), named afresh after a map or a resize.
    bool ensurePixmap(X11ErrorTrap& trap, TopLevel& t)
    {
        if (t.pixmap)
            return true;
        t.pixmap = PixmapHandle(dpy, XCompositeNameWindowPixmap(dpy, t.id));
        if (trap.sync() != 0) {
            t.pixmap = PixmapHandle();
            return false;
        }
        return true;
    }

    QRegion boundingShape(X11ErrorTrap& trap, const TopLevel& t)
    {
        if (!shape)
            return QRegion(t.outer);
        Bool boundingShaped = False;
        Bool clipShaped = False;
        int x = 0;
        int y = 0;
        int xc = 0;
        int yc = 0;
        unsigned w = 0;
        unsigned h = 0;
        unsigned wc = 0;
        unsigned hc = 0;
        const bool queried =
            XShapeQueryExtents(dpy, t.id, &boundingShaped, &x, &y, &w, &h, &clipShaped, &xc, &yc, &wc, &hc);
        if (trap.sync() != 0 || !queried || !boundingShaped)
            return QRegion(t.outer);
        int count = 0;
        int ordering = 0;
        XRectangle* rects = XShapeGetRectangles(dpy, t.id, ShapeBounding, &count, &ordering);
        if (trap.sync() != 0) {
            if (rects)
                XFree(rects);
            return QRegion(t.outer);
        }
        QRegion region;
        // The shape is relative to the window's origin, inside its border.
        const QPoint origin = t.outer.topLeft() + QPoint(t.border, t.border);
        for (int i = 0; rects && i < count; ++i)
            region += QRect(origin.x() + rects[i].x, origin.y() + rects[i].y, rects[i].width, rects[i].height);
        if (rects)
            XFree(rects);
        return region;
    }

    // Paints over every excluded window: the root background first, then the
    // other windows from the bottom up, as the screen would show without them.
    void repairExcluded(X11ErrorTrap& trap, const PixelView& frame)
    {
        const QRegion region = excludedRegion();
        for (auto& ghost : ghosts)
            --ghost.second;
        std::erase_if(ghosts, [](const auto& g) { return g.second <= 0; });
        if (region.isEmpty())
            return;
        ++repairs;
        PixelReader& reader = *res->partReader;
        const QPoint origin = area.topLeft();
        for (const QRect& r : region) {
            PixelView bg;
            if (wallpaper && QRect(QPoint(0, 0), wallpaperSize).contains(r))
                bg = reader.read(trap, wallpaper, rootVisual, rootDepth, r);
            if (bg)
                blit(frame, r.topLeft() - origin, bg, false);
            else
                fillBlack(frame, r.translated(-origin));
        }
        for (TopLevel& t : res->stack) {
            if (!t.shows() || t.excluded || !t.known)
                continue;
            QRegion part = region.intersected(t.outer);
            if (part.isEmpty())
                continue;
            if (t.depth != rootDepth && t.depth != 32)
                continue; // no way to read it as 32-bit pixels
            if (!t.damage) {
                t.damage = DamageHandle(dpy, XDamageCreate(dpy, t.id, XDamageReportNonEmpty));
                if (trap.sync() != 0)
                    continue; // gone; its DestroyNotify follows
            }
            part &= boundingShape(trap, t);
            if (part.isEmpty() || !ensurePixmap(trap, t))
                continue;
            const bool blend = t.depth == 32 && rootDepth != 32 && compositorRunning;
            for (const QRect& r : part) {
                const PixelView p = reader.read(trap, t.pixmap.get(), t.visual, t.depth, r.translated(-t.outer.topLeft()));
                if (p)
                    blit(frame, r.topLeft() - origin, p, blend);
            }
        }
    }

    // Reads the next picture; an empty view when there is none to make now.
    PixelView grab(X11ErrorTrap& trap)
    {
        if (isWindowTarget())
            return grabWindow(trap);
        if (area.isEmpty())
            return {};
        const PixelView frame = res->frameReader->read(trap, root, rootVisual, rootDepth, area);
        if (!frame)
            return {};
        // Events that came before the picture describe the screen it shows: an
        // excluded window mapped just before the read is painted over too.
        handleEvents(trap, true);
        if (lost)
            return {};
        repairExcluded(trap, frame);
        return frame;
    }

    PixelView grabWindow(X11ErrorTrap& trap)
    {
        if (!res->top || !res->topViewable)
            return {};
        if (!res->topPixmap) {
            res->topPixmap = PixmapHandle(dpy, XCompositeNameWindowPixmap(dpy, res->top));
            Window r = 0;
            int x = 0;
            int y = 0;
            unsigned w = 0;
            unsigned h = 0;
            unsigned border = 0;
            unsigned depth = 0;
            const bool named = trap.sync() == 0;
            const bool measured = named && XGetGeometry(dpy, res->topPixmap.get(), &r, &x, &y, &w, &h, &border, &depth);
            if (!named || trap.sync() != 0 || !measured) {
                res->topPixmap = PixmapHandle();
                checkClient(trap);
                return {};
            }
            res->topPixmapSize = QSize(int(w), int(h));
            res->topPixmapDepth = int(depth);
        }
        if (res->topPixmapDepth != rootDepth && res->topPixmapDepth != 32)
            return {};
        const PixelView view = res->frameReader->read(trap, res->topPixmap.get(), res->topVisual, res->topPixmapDepth,
                                                      QRect(QPoint(0, 0), res->topPixmapSize));
        if (!view)
            checkClient(trap);
        return view;
    }

    void checkClient(X11ErrorTrap& trap)
    {
        XWindowAttributes a;
        std::memset(&a, 0, sizeof a);
        const bool exists = XGetWindowAttributes(dpy, res->client, &a);
        if (trap.sync() != 0 || !exists) {
            markWindowLost();
        }
    }
};

X11ScreenStream::X11ScreenStream(QString displayName, X11ScreenSource::Layout layout, ScreenFilter filter,
                                 ScreenStreamConfig config, SerialQueue* queue, ScreenStreamOutput output,
                                 std::shared_ptr<AudioInput> audioInput)
    : m_displayName(std::move(displayName)), m_layout(std::move(layout)), m_filter(std::move(filter)),
      m_queue(queue), m_audioInput(std::move(audioInput)), m_shared(std::make_shared<Shared>()),
      m_config(std::move(config))
{
    m_shared->queue = queue;
    m_shared->output = std::move(output);
    m_wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

X11ScreenStream::~X11ScreenStream()
{
    stop();
    if (m_wakeFd >= 0)
        ::close(m_wakeFd);
}

void X11ScreenStream::wake() const
{
    if (m_wakeFd < 0)
        return;
    const uint64_t one = 1;
    // A full counter already means "wake up"; nothing is lost when the write fails.
    [[maybe_unused]] const ssize_t n = ::write(m_wakeFd, &one, sizeof one);
}

std::optional<RecorderError> X11ScreenStream::start()
{
    ScreenStreamConfig config;
    bool running = false;
    bool stopped = false;
    {
        std::lock_guard lock(m_mutex);
        running = m_started;
        stopped = m_stopRequested;
        config = m_config;
    }
    if (auto error = ScreenSource::checkStart(running, stopped, config, m_queue))
        return error;
    if (m_wakeFd < 0) {
        return screenCaptureError(ScreenCaptureErrorCode::StartFailed,
                                  QStringLiteral("The capture thread could not be set up."));
    }

    auto capture = std::make_shared<Capture>();
    capture->filter = m_filter;
    capture->config = config;
    // The thread connects and reports; it makes frames only once the whole
    // start (the microphone too) has succeeded, so a refused start delivers nothing.
    std::promise<std::optional<RecorderError>> ready;
    std::future<std::optional<RecorderError>> result = ready.get_future();
    std::promise<bool> go;
    std::future<bool> goAhead = go.get_future();
    std::thread thread([this, capture, ready = std::move(ready), goAhead = std::move(goAhead)]() mutable {
        std::optional<RecorderError> error = capture->open(m_displayName);
        if (!error) {
            // Outside the trap: the layout opens a connection and a trap of its own.
            capture->applyLayout(m_layout ? m_layout() : std::vector<XRandRDisplayList::Output>{});
            error = capture->lost;
        }
        const bool ok = !error;
        ready.set_value(std::move(error));
        if (ok && goAhead.get())
            run(capture);
        capture->close();
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
    std::lock_guard lock(m_mutex);
    m_thread = std::move(thread);
    m_started = true;
    return std::nullopt;
}

std::optional<RecorderError> X11ScreenStream::startMicrophone(const ScreenStreamConfig& config)
{
    std::shared_ptr<AudioInput> input = m_audioInput ? m_audioInput : AudioInput::current();
    try {
        AudioInput::StreamRequest request;
        request.source = config.microphoneDeviceId;
        std::unique_ptr<AudioCaptureStream> microphone = input->openSource(request);
        std::shared_ptr<Shared> shared = m_shared;
        microphone->start([shared](SampleBuffer buffer) { shared->deliverMicrophone(shared, std::move(buffer)); });
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

std::optional<RecorderError> X11ScreenStream::updateConfiguration(const ScreenStreamConfig& config)
{
    if (auto error = ScreenSource::checkConfiguration(config))
        return error;
    ScreenStreamConfig previous;
    bool started = false;
    {
        std::lock_guard lock(m_mutex);
        previous = m_config;
        m_config = config;
        m_configChanged = true;
        started = m_started && !m_stopRequested;
    }
    wake();
    if (!started)
        return std::nullopt;
    if (previous.captureMicrophone == config.captureMicrophone &&
        (!config.captureMicrophone || previous.microphoneDeviceId == config.microphoneDeviceId))
        return std::nullopt;
    std::unique_ptr<AudioCaptureStream> old;
    {
        std::lock_guard lock(m_mutex);
        old = std::move(m_microphone);
    }
    if (old)
        old->stop();
    return config.captureMicrophone ? startMicrophone(config) : std::nullopt;
}

void X11ScreenStream::stop()
{
    {
        std::lock_guard lock(m_shared->callMutex);
        m_shared->stopped = true;
    }
    std::thread thread;
    std::unique_ptr<AudioCaptureStream> microphone;
    {
        std::lock_guard lock(m_mutex);
        m_stopRequested = true;
        thread = std::move(m_thread);
        microphone = std::move(m_microphone);
    }
    wake();
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
    std::lock_guard lock(m_statsMutex);
    return m_stats;
}

void X11ScreenStream::run(std::shared_ptr<Capture> capture)
{
    Capture& c = *capture;
    c.running = true;
    const int xfd = ConnectionNumber(c.dpy);
    ScreenStreamConfig config = c.config;
    FrameScaler scaler;
    std::shared_ptr<PixelBufferPool> pool;
    Clock::time_point nextAllowed = Clock::now();
    const double cpuStart = threadCpuSeconds();
    Statistics stats;

    for (;;) {
        {
            std::lock_guard lock(m_mutex);
            if (m_stopRequested)
                break;
            if (m_configChanged) {
                m_configChanged = false;
                const bool areaChanged = config.sourceRect != m_config.sourceRect;
                const MediaTime oldInterval = config.minimumFrameInterval;
                config = m_config;
                c.config = config;
                if (areaChanged)
                    c.layoutChanged = true;
                if (config.minimumFrameInterval < oldInterval)
                    nextAllowed = Clock::now(); // a faster rate applies at once
                c.dirty = true;
            }
        }
        uint64_t drained = 0;
        [[maybe_unused]] const ssize_t n = ::read(m_wakeFd, &drained, sizeof drained);

        if (c.layoutChanged) {
            c.layoutChanged = false;
            // Outside the trap: the layout opens a connection and a trap of its own.
            std::vector<XRandRDisplayList::Output> layout = m_layout ? m_layout() : std::vector<XRandRDisplayList::Output>{};
            c.applyLayout(std::move(layout));
        }

        const auto now = Clock::now();
        const MediaTime intervalTime = config.minimumFrameInterval;
        const auto interval = std::chrono::nanoseconds(int64_t(intervalTime.seconds() * 1e9));
        const bool busy = m_shared->inFlight.load() >= config.queueDepth;
        PixelView view;
        MediaTime pts;
        Clock::time_point readStart;
        {
            X11ErrorTrap trap(c.dpy);
            c.handleEvents(trap, false);
            if (!c.lost && !c.layoutChanged && c.dirty && now >= nextAllowed) {
                if (busy) {
                    ++stats.skippedBusy;
                } else {
                    readStart = Clock::now();
                    pts = HostClock::now();
                    view = c.grab(trap);
                    c.dirty = false;
                    // Frames keep to a grid of intervals while the screen keeps
                    // changing, so the rate holds on average despite wake-up
                    // latency; after a quiet spell the grid starts afresh.
                    const Clock::time_point slot = now - nextAllowed < interval ? nextAllowed : now;
                    nextAllowed = slot + interval;
                }
            }
        }
        if (c.lost) {
            m_shared->deliverStop(m_shared, *c.lost);
            break;
        }
        if (view) {
            stats.readSeconds += secondsSince(readStart);
            const auto convertStart = Clock::now();
            if (!pool || pool->width() != config.width || pool->height() != config.height ||
                pool->format() != config.pixelFormat) {
                pool = PixelBufferPool::create(config.width, config.height, config.pixelFormat,
                                               size_t(config.queueDepth) + 2);
            }
            PixelBufferRef buffer = pool->take();
            const FrameScaler::Fit fit = c.isWindowTarget() ? FrameScaler::Fit::AspectFit : FrameScaler::Fit::Stretch;
            if (buffer && scaler.scale(view.data, view.width, view.height, view.bytesPerRow, *buffer, fit)) {
                buffer->setAttachment(PixelAttachmentKey::FrameStatus, int(FrameStatus::Complete), false);
                buffer->setAttachment(PixelAttachmentKey::ColorPrimaries, ColorTag::PrimariesBT709);
                buffer->setAttachment(PixelAttachmentKey::TransferFunction, ColorTag::TransferSRGB);
                if (config.pixelFormat == PixelFormat::NV12VideoRange)
                    buffer->setAttachment(PixelAttachmentKey::YCbCrMatrix, ColorTag::MatrixBT709);
                m_shared->deliverScreen(m_shared, SampleBuffer::video(std::move(buffer), pts, intervalTime));
                ++stats.frames;
            }
            stats.convertSeconds += secondsSince(convertStart);
        }
        stats.repairs = c.repairs;
        stats.threadCpuSeconds = threadCpuSeconds() - cpuStart;
        {
            std::lock_guard lock(m_statsMutex);
            m_stats = stats;
        }
        // The trap's syncs read whatever the server had sent meanwhile into
        // Xlib's queue, where poll() cannot see it.
        if (c.layoutChanged || XEventsQueued(c.dpy, QueuedAlready) > 0)
            continue;

        // Sleep until the server says something, stop or a new configuration
        // wakes us, or the next frame is allowed.
        timespec timeout{};
        const timespec* timeoutPtr = nullptr;
        if (c.dirty) {
            const auto wait = busy ? std::chrono::duration_cast<std::chrono::nanoseconds>(kBusyRetry)
                                   : std::max(std::chrono::nanoseconds(0), nextAllowed - Clock::now());
            timeout.tv_sec = time_t(wait.count() / 1000000000);
            timeout.tv_nsec = long(wait.count() % 1000000000);
            timeoutPtr = &timeout;
        }
        pollfd fds[2] = {{xfd, POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
        const int ready = ppoll(fds, 2, timeoutPtr, nullptr);
        bool serverGone = ready > 0 && (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL));
        if (ready > 0 && !serverGone && (fds[0].revents & POLLIN)) {
            char byte = 0;
            serverGone = recv(xfd, &byte, 1, MSG_PEEK | MSG_DONTWAIT) == 0; // end of stream
        }
        if (serverGone) {
            // The server is gone. Xlib must not touch the connection again (its
            // I/O error handler would end the process), so it is left unclosed.
            m_shared->deliverStop(m_shared, screenCaptureError(ScreenCaptureErrorCode::ServerUnavailable,
                                                               QStringLiteral("The connection to the X server was lost.")));
            c.res.release();
            c.connection.release();
            break;
        }
    }
}

} // namespace corvessa
