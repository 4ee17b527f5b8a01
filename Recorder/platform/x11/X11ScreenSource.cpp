#include "platform/x11/X11ScreenSource.h"

#include "platform/x11/X11ErrorTrap.h"
#include "platform/x11/X11ScreenStream.h"
#include "platform/x11/X11WindowProperties.h"

#include <cstring>

// X11 last: its macros (None, Bool, Status, Success) clash with names in Qt.
#include "platform/x11/X11Handles.h"

namespace corvessa {

namespace {

struct Candidate {
    Window topLevel = 0;
    Window client = 0;
};

// The display holding most of a rectangle of root pixels; 0 when it lies on none.
uint32_t displayFor(const QRectF& pixels, const std::vector<XRandRDisplayList::Output>& outputs)
{
    uint32_t best = 0;
    double bestArea = 0;
    for (const auto& o : outputs) {
        const QRectF r = (o.pixels.isEmpty() ? o.frame : o.pixels).intersected(pixels);
        const double area = r.width() * r.height();
        if (area > bestArea) {
            bestArea = area;
            best = DisplayInfo::idForName(o.name);
        }
    }
    return best;
}

RecorderError serverUnavailableError()
{
    return screenCaptureError(ScreenCaptureErrorCode::ServerUnavailable,
                              QStringLiteral("Can't connect to the X display."));
}

} // namespace

X11ScreenSource::X11ScreenSource(QString displayName) : m_displayName(std::move(displayName)) {}

bool X11ScreenSource::isAvailable(const QString& displayName)
{
    return openX11Display(displayName) != nullptr;
}

void X11ScreenSource::setLayout(Layout layout)
{
    std::lock_guard lock(m_mutex);
    m_layout = std::move(layout);
}

void X11ScreenSource::setAudioInputProvider(AudioInputProvider provider)
{
    std::lock_guard lock(m_mutex);
    m_audioInputProvider = std::move(provider);
}

void X11ScreenSource::setAudioInput(std::shared_ptr<AudioInput> input)
{
    std::lock_guard lock(m_mutex);
    m_audioInput = std::move(input);
}

X11ScreenSource::Layout X11ScreenSource::layout() const
{
    std::lock_guard lock(m_mutex);
    if (m_layout)
        return m_layout;
    const QString name = m_displayName;
    return [name] { return XRandRDisplayList(name).outputs(); };
}

std::optional<ShareableContent> X11ScreenSource::content(RecorderError* error)
{
    X11DisplayPtr display = openX11Display(m_displayName);
    if (!display) {
        if (error)
            *error = serverUnavailableError();
        return std::nullopt;
    }
    Display* dpy = display.get();
    const Window root = DefaultRootWindow(dpy);

    // Read before any trap: the layout opens its own connection and trap.
    const std::vector<XRandRDisplayList::Output> outputs = layout()();
    ShareableContent content;
    content.displays = XRandRDisplayList::fromOutputs(outputs);
    const ScreenCoordinates coords =
        outputs.empty() ? ScreenCoordinates(QRectF(0, 0, DisplayWidth(dpy, DefaultScreen(dpy)),
                                                   DisplayHeight(dpy, DefaultScreen(dpy))))
                        : XRandRDisplayList::coordinates(outputs);

    // Bottom to top, as the server and the window manager list them.
    std::vector<Candidate> candidates;
    bool managed = false;
    {
        X11ErrorTrap trap(dpy);
        for (Window client : X11WindowProperties::stackingClients(dpy, root, &managed)) {
            if (const Window top = X11WindowProperties::topLevel(dpy, client, root))
                candidates.push_back({top, client});
        }
    }
    if (!managed) {
        // No window manager: every mapped top-level that shows something.
        std::vector<Window> children;
        {
            X11ErrorTrap trap(dpy);
            for (auto w : X11WindowProperties::children(dpy, root))
                children.push_back(w);
        }
        for (Window w : children) {
            X11ErrorTrap trap(dpy);
            XWindowAttributes a;
            std::memset(&a, 0, sizeof a);
            if (!XGetWindowAttributes(dpy, w, &a) || trap.sync() != 0)
                continue;
            if (a.c_class != InputOutput || a.map_state != IsViewable)
                continue;
            const Window client = X11WindowProperties::clientWindow(dpy, w);
            if (trap.sync() == 0)
                candidates.push_back({w, client});
        }
    }

    // One trap per window: each is held briefly, and one window vanishing
    // midway costs only that window.
    for (auto it = candidates.rbegin(); it != candidates.rend(); ++it) {
        X11ErrorTrap trap(dpy);
        XWindowAttributes a;
        std::memset(&a, 0, sizeof a);
        if (!XGetWindowAttributes(dpy, it->topLevel, &a) || trap.sync() != 0)
            continue;
        int x = 0;
        int y = 0;
        Window child = 0;
        if (!XTranslateCoordinates(dpy, it->topLevel, root, 0, 0, &x, &y, &child) || trap.sync() != 0)
            continue;
        // (x, y) is inside the border; what the window shows includes the border
        // and, under a reparenting window manager, the frame.
        const int border = a.border_width;
        const QRectF pixels(x - border, y - border, a.width + 2 * border, a.height + 2 * border);

        WindowInfo info;
        info.id = uint32_t(it->client);
        info.ownerPid = X11WindowProperties::pid(dpy, it->client);
        if (info.ownerPid == 0 && it->topLevel != it->client)
            info.ownerPid = X11WindowProperties::pid(dpy, it->topLevel);
        info.title = X11WindowProperties::title(dpy, it->client);
        if (info.title.isEmpty() && it->topLevel != it->client)
            info.title = X11WindowProperties::title(dpy, it->topLevel);
        info.appName = X11WindowProperties::className(dpy, it->client);
        info.layer = X11WindowProperties::layer(dpy, it->client, a.override_redirect);
        info.alpha = X11WindowProperties::opacity(dpy, it->client);
        if (!info.alpha && it->topLevel != it->client)
            info.alpha = X11WindowProperties::opacity(dpy, it->topLevel);
        info.frame = coords.toWindowServer(coords.pointsFromPixels(pixels));
        info.onScreen = a.map_state == IsViewable;
        info.displayId = displayFor(pixels, outputs);
        // A window destroyed while it was read gives what was read; it is left
        // out only when its geometry could not be read at all.
        trap.sync();
        content.windows.push_back(std::move(info));
    }
    if (X11ConnectionLoss::isLost(dpy)) {
        // The server went away while it was asked: what was read is not the screen.
        if (error)
            *error = serverUnavailableError();
        return std::nullopt;
    }
    return content;
}

std::unique_ptr<ScreenStream> X11ScreenSource::makeStream(const ScreenFilter& filter, const ScreenStreamConfig& config,
                                                          SerialQueue* queue, ScreenStreamOutput output)
{
    std::shared_ptr<AudioInput> input;
    AudioInputProvider provider;
    {
        std::lock_guard lock(m_mutex);
        input = m_audioInput;
        provider = m_audioInputProvider;
    }
    if (!input && provider)
        input = provider();
    return std::make_unique<X11ScreenStream>(m_displayName, layout(), filter, config, queue, std::move(output),
                                             std::move(input));
}

} // namespace corvessa
