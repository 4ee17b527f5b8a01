#pragma once

#include <QByteArray>
#include <QRect>
#include <QString>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xrandr.h>

#include <cstdint>

namespace corvessa::test {

// A second X client that draws plain windows in known colours, sets the
// properties a window manager or a program would, and pokes RandR.
class Painter {
public:
    explicit Painter(const QString& display) : m_display(XOpenDisplay(display.toLocal8Bit().constData())) {}
    ~Painter()
    {
        if (m_display)
            XCloseDisplay(m_display);
    }
    Painter(const Painter&) = delete;
    Painter& operator=(const Painter&) = delete;

    bool isOpen() const { return m_display != nullptr; }
    Display* display() const { return m_display; }

    // A plain window filled with one colour, mapped unless asked otherwise.
    Window window(const QRect& r, uint32_t colour, Window parent = 0, bool mapped = true)
    {
        const Window w = XCreateSimpleWindow(m_display, parent ? parent : DefaultRootWindow(m_display), r.x(), r.y(),
                                             unsigned(r.width()), unsigned(r.height()), 0, 0, colour);
        if (mapped)
            XMapWindow(m_display, w);
        sync();
        return w;
    }
    void map(Window w)
    {
        XMapRaised(m_display, w);
        sync();
    }
    void recolour(Window w, uint32_t colour)
    {
        XSetWindowBackground(m_display, w, colour);
        XClearWindow(m_display, w);
        sync();
    }
    void move(Window w, int x, int y)
    {
        XMoveWindow(m_display, w, x, y);
        sync();
    }
    void raise(Window w)
    {
        XRaiseWindow(m_display, w);
        sync();
    }
    void destroy(Window w)
    {
        XDestroyWindow(m_display, w);
        sync();
    }
    void setPid(Window w, long pid)
    {
        const unsigned long value = (unsigned long)pid;
        XChangeProperty(m_display, w, XInternAtom(m_display, "_NET_WM_PID", False), XA_CARDINAL, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(&value), 1);
        sync();
    }
    void setUtf8Title(Window w, const QString& title)
    {
        const QByteArray utf8 = title.toUtf8();
        XChangeProperty(m_display, w, XInternAtom(m_display, "_NET_WM_NAME", False),
                        XInternAtom(m_display, "UTF8_STRING", False), 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(utf8.constData()), int(utf8.size()));
        sync();
    }
    void setClass(Window w, const char* instance, const char* className)
    {
        XClassHint hint;
        hint.res_name = const_cast<char*>(instance);
        hint.res_class = const_cast<char*>(className);
        XSetClassHint(m_display, w, &hint);
        sync();
    }
    // What a window manager puts on the client it manages.
    void setWmState(Window w)
    {
        const Atom state = XInternAtom(m_display, "WM_STATE", False);
        const long value[2] = {1, 0}; // NormalState, no icon
        XChangeProperty(m_display, w, state, state, 32, PropModeReplace, reinterpret_cast<const unsigned char*>(value),
                        2);
        sync();
    }
    // The top-level holding `w`: its frame once a window manager took it in.
    Window topLevel(Window w)
    {
        for (;;) {
            Window root = 0, parent = 0, *children = nullptr;
            unsigned int count = 0;
            if (!XQueryTree(m_display, w, &root, &parent, &children, &count))
                return 0;
            if (children)
                XFree(children);
            if (parent == root)
                return w;
            w = parent;
        }
    }
    // Mapped, and so are all its ancestors.
    bool viewable(Window w)
    {
        XWindowAttributes a;
        return XGetWindowAttributes(m_display, w, &a) && a.map_state == IsViewable;
    }
    // A RandR event for every client listening, without changing the layout.
    void pokeRandr()
    {
        const Window root = DefaultRootWindow(m_display);
        XRRScreenResources* res = XRRGetScreenResourcesCurrent(m_display, root);
        if (res && res->noutput > 0) {
            const long value = ++m_pokes;
            XRRChangeOutputProperty(m_display, res->outputs[0], XInternAtom(m_display, "CORVESSA_TEST_POKE", False),
                                    XA_INTEGER, 32, PropModeReplace, reinterpret_cast<const unsigned char*>(&value), 1);
        }
        if (res)
            XRRFreeScreenResources(res);
        sync();
    }
    void sync() { XSync(m_display, False); }

private:
    Display* m_display;
    long m_pokes = 0;
};

} // namespace corvessa::test
