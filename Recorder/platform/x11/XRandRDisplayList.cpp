#include "platform/x11/XRandRDisplayList.h"

#include "platform/x11/X11ErrorTrap.h"
#include "platform/x11/X11WindowProperties.h"
#include "platform/x11/XRandRChangeWatch.h"

#include <QGuiApplication>
#include <QHash>
#include <QRect>
#include <QScreen>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <memory>
#include <mutex>
#include <optional>

// X11 last: its macros (None, Bool, Status, Success) clash with names in Qt.
#include "platform/x11/X11Handles.h"

#include <X11/Xatom.h>

namespace corvessa {

namespace {

QByteArray readEdid(Display* display, RROutput output)
{
    // Older drivers publish the EDID under "EdidData".
    for (const char* name : {"EDID", "EdidData"}) {
        const Atom atom = XInternAtom(display, name, True);
        if (atom == None)
            continue;
        Atom type = None;
        int format = 0;
        unsigned long count = 0;
        unsigned long after = 0;
        unsigned char* raw = nullptr;
        // Length is in 32-bit units: up to 512 bytes covers the base block and extensions.
        const int status = XRRGetOutputProperty(display, output, atom, 0, 128, False, False, AnyPropertyType, &type,
                                                &format, &count, &after, &raw);
        XFreed<unsigned char> data(raw);
        if (status == Success && data && format == 8 && count > 0)
            return QByteArray(reinterpret_cast<const char*>(data.get()), qsizetype(count));
    }
    return {};
}

const XRRModeInfo* findMode(const XRRScreenResources& resources, RRMode id)
{
    for (int i = 0; i < resources.nmode; ++i) {
        if (resources.modes[i].id == id)
            return &resources.modes[i];
    }
    return nullptr;
}

// What Qt last reported for a screen, so that calls off the GUI thread (where
// QScreen must not be touched) see the same points and scale.
struct QtScreen {
    QSize pixels;
    QRectF points;
    double scale = 1;
    bool operator==(const QtScreen&) const = default;
};

struct QtScreens {
    std::mutex mutex;
    QHash<QString, QtScreen> byName;
    int generation = 0; // counts the changes
};

QtScreens& qtScreens()
{
    static QtScreens s;
    return s;
}

// Points are Qt's logical pixels. When Qt runs on X, its screen of the same name
// gives the logical geometry and the device pixel ratio.
void refreshQtScreens()
{
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (!app || QGuiApplication::platformName() != QLatin1String("xcb") || QThread::currentThread() != app->thread())
        return;
    QHash<QString, QtScreen> byName;
    for (QScreen* screen : QGuiApplication::screens()) {
        const double dpr = screen->devicePixelRatio();
        const QRectF geometry = screen->geometry();
        byName.insert(screen->name(),
                      {QSize(int(std::lround(geometry.width() * dpr)), int(std::lround(geometry.height() * dpr))),
                       geometry, dpr});
    }
    QtScreens& s = qtScreens();
    std::lock_guard lock(s.mutex);
    if (s.byName == byName)
        return;
    s.byName = std::move(byName);
    ++s.generation;
}

int qtScreensGeneration()
{
    QtScreens& s = qtScreens();
    std::lock_guard lock(s.mutex);
    return s.generation;
}

// Without a matching Qt screen a point is a pixel.
void applyQtGeometry(XRandRDisplayList::Output& out, const QRect& pixels)
{
    out.pixels = QRectF(pixels);
    QtScreens& s = qtScreens();
    std::lock_guard lock(s.mutex);
    const auto it = s.byName.constFind(out.name);
    // An entry from before a mode change is not used.
    if (it != s.byName.cend() && it->pixels == pixels.size() && it->scale > 0) {
        out.frame = it->points;
        out.scale = it->scale;
    } else {
        out.frame = QRectF(pixels);
        out.scale = 1;
    }
}

} // namespace

struct XRandRDisplayList::Cache {
    std::mutex mutex;
    std::unique_ptr<XRandRChangeWatch> watch; // opened by the first displays()
    std::optional<std::vector<DisplayInfo>> displays;
    int qtGeneration = -1; // of Qt's screens the list was read with
    int reads = 0;
};

XRandRDisplayList::XRandRDisplayList(QString displayName)
    : m_displayName(std::move(displayName))
    , m_cache(std::make_unique<Cache>())
{
}

XRandRDisplayList::~XRandRDisplayList() = default;

bool XRandRDisplayList::isAvailable(const QString& displayName)
{
    return openX11Display(displayName) != nullptr;
}

double XRandRDisplayList::refreshRate(unsigned long dotClock, unsigned hTotal, unsigned vTotal, bool interlace,
                                      bool doubleScan)
{
    if (dotClock == 0 || hTotal == 0 || vTotal == 0)
        return 0;
    double lines = double(vTotal);
    if (doubleScan)
        lines *= 2;
    if (interlace)
        lines /= 2;
    return double(dotClock) / (double(hTotal) * lines);
}

namespace {

// A base block of 128 bytes under its fixed header.
bool isEdid(const QByteArray& edid)
{
    static const QByteArray header = QByteArray::fromHex("00ffffffffffff00");
    return edid.size() >= 128 && edid.startsWith(header);
}

// The part of the work area on an output, in the output's X11/Qt points; the
// whole frame where the work area is unknown or misses the output.
QRectF visiblePoints(const XRandRDisplayList::Output& o)
{
    const QRectF pixels = o.pixels.isEmpty() ? o.frame : o.pixels;
    const QRectF visible = o.workArea.intersected(pixels);
    if (visible.isEmpty() || pixels.isEmpty())
        return o.frame;
    const double sx = o.frame.width() / pixels.width();
    const double sy = o.frame.height() / pixels.height();
    return QRectF(o.frame.x() + (visible.x() - pixels.x()) * sx, o.frame.y() + (visible.y() - pixels.y()) * sy,
                  visible.width() * sx, visible.height() * sy);
}

} // namespace

QString XRandRDisplayList::labelFromEdid(const QByteArray& edid, const QString& outputName)
{
    if (!isEdid(edid))
        return outputName;
    // Four 18-byte descriptors; a display descriptor starts with three zero
    // bytes and its tag, and carries up to 13 characters ended by a line feed.
    for (int at = 54; at <= 108; at += 18) {
        const QByteArray d = edid.mid(at, 18);
        if (d[0] != 0 || d[1] != 0 || d[2] != 0 || uint8_t(d[3]) != 0xFC)
            continue;
        const QByteArray text = d.mid(5).split('\n').front().trimmed();
        const bool printable =
            std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7f; });
        if (!text.isEmpty() && printable)
            return QString::fromLatin1(text);
    }
    return outputName;
}

QString XRandRDisplayList::uuidFromEdid(const QByteArray& edid, const QString& outputName)
{
    if (!isEdid(edid))
        return outputName;
    auto byte = [&](int i) { return uint32_t(uint8_t(edid[i])); };
    const uint32_t vendor = byte(8) << 8 | byte(9);                 // big-endian packed letters
    const uint32_t product = byte(10) | byte(11) << 8;              // little-endian
    const uint32_t serial = byte(12) | byte(13) << 8 | byte(14) << 16 | byte(15) << 24;
    if (vendor == 0 && product == 0 && serial == 0)
        return outputName;
    return QStringLiteral("%1-%2-%3")
        .arg(vendor, 4, 16, QLatin1Char('0'))
        .arg(product, 4, 16, QLatin1Char('0'))
        .arg(serial, 8, 16, QLatin1Char('0'))
        .toUpper();
}

namespace {

std::vector<XRandRDisplayList::Output>::const_iterator primaryOutput(const std::vector<XRandRDisplayList::Output>& outputs)
{
    const auto primary = std::find_if(outputs.begin(), outputs.end(),
                                      [](const XRandRDisplayList::Output& o) { return o.isPrimary; });
    return primary == outputs.end() ? outputs.begin() : primary;
}

} // namespace

ScreenCoordinates XRandRDisplayList::coordinates(const std::vector<Output>& outputs)
{
    if (outputs.empty())
        return {};
    std::vector<ScreenCoordinates::Screen> screens;
    screens.reserve(outputs.size());
    for (const Output& o : outputs)
        screens.push_back({o.pixels.isEmpty() ? o.frame : o.pixels, o.frame});
    return ScreenCoordinates(primaryOutput(outputs)->frame, std::move(screens));
}

std::vector<DisplayInfo> XRandRDisplayList::fromOutputs(std::vector<Output> outputs)
{
    if (outputs.empty())
        return {};
    const QString primaryName = primaryOutput(outputs)->name;
    // Global y runs up from the primary display's bottom edge.
    const ScreenCoordinates coords = coordinates(outputs);

    std::vector<DisplayInfo> result;
    result.reserve(outputs.size());
    for (const Output& o : outputs) {
        DisplayInfo d;
        d.id = DisplayInfo::idForName(o.name);
        d.name = o.name;
        d.uuid = uuidFromEdid(o.edid, o.name);
        d.frame = coords.toGlobalRect(o.frame);
        d.visibleFrame = coords.toGlobalRect(visiblePoints(o));
        d.label = labelFromEdid(o.edid, o.name);
        d.scale = o.scale;
        d.refreshRate = o.refreshRate;
        d.isPrimary = o.name == primaryName;
        result.push_back(std::move(d));
    }
    std::stable_sort(result.begin(), result.end(), [](const DisplayInfo& a, const DisplayInfo& b) {
        if (a.isPrimary != b.isPrimary)
            return a.isPrimary;
        if (a.frame.left() != b.frame.left())
            return a.frame.left() < b.frame.left();
        return a.frame.y() > b.frame.y(); // higher first, as on screen
    });
    return result;
}

std::vector<DisplayInfo> XRandRDisplayList::displays() const
{
    Cache& c = *m_cache;
    std::lock_guard lock(c.mutex);
    if (!c.watch)
        c.watch = std::make_unique<XRandRChangeWatch>(m_displayName);
    // The watch is asked every time, so it takes in what it has heard.
    refreshQtScreens();
    const bool serverChanged = c.watch->changed();
    const int qtGeneration = qtScreensGeneration();
    if (c.displays && !serverChanged && qtGeneration == c.qtGeneration)
        return *c.displays;
    ++c.reads;
    c.qtGeneration = qtGeneration;
    std::vector<DisplayInfo> list = fromOutputs(outputs());
    // An empty list (the server out of reach) is asked again next time.
    if (c.watch->isListening() && !list.empty())
        c.displays = list;
    else
        c.displays.reset();
    return list;
}

int XRandRDisplayList::serverReads() const
{
    std::lock_guard lock(m_cache->mutex);
    return m_cache->reads;
}

std::vector<XRandRDisplayList::Output> XRandRDisplayList::outputs() const
{
    X11DisplayPtr display = openX11Display(m_displayName);
    if (!display)
        return {};
    Display* dpy = display.get();
    refreshQtScreens();
    const Window root = DefaultRootWindow(dpy);

    int eventBase = 0;
    int errorBase = 0;
    int major = 0;
    int minor = 0;
    const bool randr = XRRQueryExtension(dpy, &eventBase, &errorBase) && XRRQueryVersion(dpy, &major, &minor) &&
                       (major > 1 || (major == 1 && minor >= 3));
    std::vector<Output> outputs;
    if (randr) {
        X11ErrorTrap trap(dpy);
        // The current configuration, without making the server probe the outputs.
        XRRScreenResourcesPtr resources(XRRGetScreenResourcesCurrent(dpy, root));
        const RROutput primaryOutput = XRRGetOutputPrimary(dpy, root);
        for (int i = 0; resources && i < resources->noutput; ++i) {
            const RROutput id = resources->outputs[i];
            XRROutputInfoPtr info(XRRGetOutputInfo(dpy, resources.get(), id));
            if (!info || info->connection != RR_Connected || info->crtc == 0)
                continue;
            XRRCrtcInfoPtr crtc(XRRGetCrtcInfo(dpy, resources.get(), info->crtc));
            if (!crtc || crtc->mode == None || crtc->width == 0 || crtc->height == 0)
                continue;
            Output out;
            out.name = QString::fromUtf8(info->name, info->nameLen);
            out.edid = readEdid(dpy, id);
            out.isPrimary = id == primaryOutput;
            if (const XRRModeInfo* mode = findMode(*resources, crtc->mode)) {
                out.refreshRate = refreshRate(mode->dotClock, mode->hTotal, mode->vTotal,
                                              (mode->modeFlags & RR_Interlace) != 0,
                                              (mode->modeFlags & RR_DoubleScan) != 0);
            }
            applyQtGeometry(out, QRect(crtc->x, crtc->y, int(crtc->width), int(crtc->height)));
            outputs.push_back(std::move(out));
        }
    }
    if (X11ConnectionLoss::isLost(dpy))
        return {}; // the server went away while it was asked
    if (outputs.empty()) {
        // No RandR 1.3, or no output reported: the X screen is the one display.
        const int screen = DefaultScreen(dpy);
        Output out;
        out.name = QStringLiteral("screen");
        out.isPrimary = true;
        applyQtGeometry(out, QRect(0, 0, DisplayWidth(dpy, screen), DisplayHeight(dpy, screen)));
        outputs.push_back(std::move(out));
    }
    const QRectF workArea = X11WindowProperties::workArea(dpy, root);
    for (Output& out : outputs)
        out.workArea = workArea;
    return outputs;
}

} // namespace corvessa
