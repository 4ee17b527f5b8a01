#pragma once

// Owners of Xlib's handles: each belongs to exactly one of these and is given
// back with the call Xlib pairs with its allocation. Server-side resources
// (pixmaps, damages, regions) carry the connection they live on. A handle is
// used on the thread that owns its connection.
//
// Include this header last: X11's macros (None, Bool, Status, Success) clash
// with names in Qt.

#include "platform/x11/X11ConnectionLoss.h"
#include "platform/x11/X11ErrorTrap.h"

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <memory>
#include <utility>

#include <sys/ipc.h>
#include <sys/shm.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xcomposite.h>
#include <X11/extensions/Xdamage.h>
#include <X11/extensions/Xfixes.h>
#include <X11/extensions/Xrandr.h>

namespace corvessa {

// Client-side memory Xlib hands out, each freed its own way.
struct X11Free {
    // A connection whose server went away is left open: Xlib's teardown of a
    // broken connection runs the extensions' close hooks, and libXext's can
    // crash there. Only the memory of a dead connection is lost that way.
    void operator()(Display* d) const
    {
        if (!X11ConnectionLoss::isLost(d))
            XCloseDisplay(d);
        X11ConnectionLoss::forget(d);
    }
    void operator()(XImage* image) const { XDestroyImage(image); }
    void operator()(XRRScreenResources* r) const { XRRFreeScreenResources(r); }
    void operator()(XRROutputInfo* o) const { XRRFreeOutputInfo(o); }
    void operator()(XRRCrtcInfo* c) const { XRRFreeCrtcInfo(c); }
    void operator()(XModifierKeymap* map) const { XFreeModifiermap(map); }
    void operator()(char** list) const { XFreeStringList(list); }
};

// Replies Xlib leaves to XFree: properties, window lists, rectangles, cursor images.
struct X11XFree {
    void operator()(void* p) const
    {
        if (p)
            XFree(p);
    }
};

using X11DisplayPtr = std::unique_ptr<Display, X11Free>;
using X11ImagePtr = std::unique_ptr<XImage, X11Free>;
using XRRScreenResourcesPtr = std::unique_ptr<XRRScreenResources, X11Free>;
using XRROutputInfoPtr = std::unique_ptr<XRROutputInfo, X11Free>;
using XRRCrtcInfoPtr = std::unique_ptr<XRRCrtcInfo, X11Free>;
using XModifierKeymapPtr = std::unique_ptr<XModifierKeymap, X11Free>;
using XStringListPtr = std::unique_ptr<char*, X11Free>;
template <typename T>
using XFreed = std::unique_ptr<T, X11XFree>;

// A connection to the X display `name` ("" for $DISPLAY); null when it cannot be
// opened. Losing the server does not end the program: X11ConnectionLoss says so.
inline X11DisplayPtr openX11Display(const QString& name)
{
    const QByteArray n = name.toLocal8Bit();
    Display* display = XOpenDisplay(name.isEmpty() ? nullptr : n.constData());
    X11ConnectionLoss::watch(display);
    return X11DisplayPtr(display);
}

// One server-side resource of our connection, given back when its owner goes.
// Freeing may fail when the server already freed it with its window (a damage);
// owners are destroyed while an X11ErrorTrap is held.
template <typename Free>
class X11Resource {
public:
    X11Resource() = default;
    X11Resource(Display* display, XID id) : m_display(display), m_id(id) {}
    ~X11Resource() { reset(); }
    X11Resource(X11Resource&& o) noexcept : m_display(o.m_display), m_id(std::exchange(o.m_id, 0)) {}
    X11Resource& operator=(X11Resource&& o) noexcept
    {
        if (this != &o) {
            reset();
            m_display = o.m_display;
            m_id = std::exchange(o.m_id, 0);
        }
        return *this;
    }
    X11Resource(const X11Resource&) = delete;
    X11Resource& operator=(const X11Resource&) = delete;

    XID get() const { return m_id; }
    explicit operator bool() const { return m_id != 0; }
    void reset()
    {
        if (m_id && m_display)
            Free{}(m_display, m_id);
        m_id = 0;
    }

private:
    Display* m_display = nullptr;
    XID m_id = 0;
};

struct X11FreePixmap {
    void operator()(Display* d, XID id) const { XFreePixmap(d, id); }
};
struct X11FreeDamage {
    void operator()(Display* d, XID id) const { XDamageDestroy(d, id); }
};
struct X11FreeRegion {
    void operator()(Display* d, XID id) const { XFixesDestroyRegion(d, id); }
};
using PixmapHandle = X11Resource<X11FreePixmap>;
using DamageHandle = X11Resource<X11FreeDamage>;
using RegionHandle = X11Resource<X11FreeRegion>; // an XserverRegion

// Redirection of the root's children to pixmaps of their own, undone when its
// owner goes (the server would undo it at disconnection too, but a stream may
// end long before that).
class CompositeRedirection {
public:
    CompositeRedirection(Display* display, Window root) : m_display(display), m_root(root)
    {
        XCompositeRedirectSubwindows(display, root, CompositeRedirectAutomatic);
    }
    ~CompositeRedirection() { XCompositeUnredirectSubwindows(m_display, m_root, CompositeRedirectAutomatic); }
    CompositeRedirection(const CompositeRedirection&) = delete;
    CompositeRedirection& operator=(const CompositeRedirection&) = delete;

private:
    Display* m_display;
    Window m_root;
};

// A shared-memory segment attached on both sides, so the server writes
// pictures straight into our memory. Images made on it point at its info, so
// it stays where it was made.
class XShmSegment {
public:
    XShmSegment() = default;
    ~XShmSegment() { reset(); }
    XShmSegment(const XShmSegment&) = delete;
    XShmSegment& operator=(const XShmSegment&) = delete;

    // Makes a segment of `size` bytes and attaches the server to it; false
    // when the kernel refuses the memory or the server cannot reach it (a
    // server on another machine).
    bool attach(Display* display, size_t size, X11ErrorTrap& trap)
    {
        reset();
        const int id = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
        if (id < 0)
            return false;
        void* address = shmat(id, nullptr, 0);
        if (address == reinterpret_cast<void*>(-1)) {
            shmctl(id, IPC_RMID, nullptr);
            return false;
        }
        m_info.shmid = id;
        m_info.shmaddr = static_cast<char*>(address);
        m_info.readOnly = False;
        const bool attached = XShmAttach(display, &m_info) && trap.sync() == 0;
        // Marked for removal at once: it vanishes with the last detach, even after a crash.
        shmctl(id, IPC_RMID, nullptr);
        if (!attached) {
            shmdt(m_info.shmaddr);
            m_info = {};
            return false;
        }
        m_display = display;
        m_size = size;
        return true;
    }

    // Detaches both sides; images made on the segment must be gone.
    void reset()
    {
        if (m_display) {
            XShmDetach(m_display, &m_info);
            XSync(m_display, False);
            m_display = nullptr;
        }
        if (m_info.shmaddr) {
            shmdt(m_info.shmaddr);
            m_info = {};
        }
        m_size = 0;
    }

    explicit operator bool() const { return m_display != nullptr; }
    size_t size() const { return m_size; }
    XShmSegmentInfo* info() { return &m_info; }
    char* data() const { return m_info.shmaddr; }

private:
    Display* m_display = nullptr; // set while attached
    XShmSegmentInfo m_info{};
    size_t m_size = 0;
};

} // namespace corvessa
