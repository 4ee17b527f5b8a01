#include "platform/x11/XRandRDisplayList.h"
#include "support/XvfbTest.h"

#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <unistd.h>

using namespace corvessa;

namespace {

class XRandRDisplayListXvfb : public test::XvfbTest {};

} // namespace

TEST_F(XRandRDisplayListXvfb, ReadsTheServersScreen)
{
    const QString display = s_xvfb->display();
    EXPECT_EQ(qgetenv("DISPLAY"), display.toLocal8Bit());
    EXPECT_TRUE(XRandRDisplayList::isAvailable(display));
    const auto displays = XRandRDisplayList(display).displays();
    ASSERT_EQ(displays.size(), 1u);
    const DisplayInfo& d = displays[0];
    EXPECT_TRUE(d.isPrimary);
    EXPECT_EQ(d.frame, GlobalRect(0, 0, 1280, 800));
    EXPECT_EQ(d.scale, 1);
    EXPECT_EQ(d.id, DisplayInfo::idForName(d.name));
    EXPECT_FALSE(d.uuid.isEmpty());
    EXPECT_GE(d.refreshRate, 0);
    // $DISPLAY is the fixture's server.
    EXPECT_EQ(XRandRDisplayList().displays(), displays);
}

TEST_F(XRandRDisplayListXvfb, OutputsGiveTheConversionsOfTheLayout)
{
    const auto outputs = XRandRDisplayList(s_xvfb->display()).outputs();
    ASSERT_EQ(outputs.size(), 1u);
    EXPECT_EQ(outputs[0].pixels, QRectF(0, 0, 1280, 800));
    const ScreenCoordinates c = XRandRDisplayList::coordinates(outputs);
    EXPECT_EQ(c.primaryHeight(), 800);
    EXPECT_EQ(c.globalFromPixel(QPointF(0, 0)), (GlobalPoint{0, 800}));
    EXPECT_EQ(c.globalFromPixel(QPointF(1279, 799)), (GlobalPoint{1279, 1}));
}

TEST_F(XRandRDisplayListXvfb, VisibleFrameFollowsTheWorkAreaAndLabelNamesTheOutput)
{
    const QString display = s_xvfb->display();
    Display* dpy = XOpenDisplay(display.toLocal8Bit().constData());
    ASSERT_TRUE(dpy);
    const Atom workArea = XInternAtom(dpy, "_NET_WORKAREA", False);
    // No window manager: no work area, the whole frame is visible.
    XDeleteProperty(dpy, DefaultRootWindow(dpy), workArea);
    XSync(dpy, False);
    DisplayInfo d = XRandRDisplayList(display).displays().at(0);
    EXPECT_EQ(d.visibleFrame, d.frame);
    EXPECT_EQ(d.label, d.name); // Xvfb publishes no EDID

    // A 40-pixel panel at the top, as a window manager would publish it.
    long area[4] = {0, 40, 1280, 760};
    XChangeProperty(dpy, DefaultRootWindow(dpy), workArea, XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(area), 4);
    XSync(dpy, False);
    d = XRandRDisplayList(display).displays().at(0);
    EXPECT_EQ(d.visibleFrame, GlobalRect(0, 0, 1280, 760));
    EXPECT_TRUE(d.frame.contains(d.visibleFrame));
    XDeleteProperty(dpy, DefaultRootWindow(dpy), workArea);
    XCloseDisplay(dpy);
}

// The list is asked for on the main thread at every change of the recorder's
// state; a busy server held each such call up for seconds when every call read
// the layout anew. It is read again only after the server tells of a change.
TEST_F(XRandRDisplayListXvfb, ReadsTheServerAgainOnlyAfterItToldOfAChange)
{
    const QString display = s_xvfb->display();
    Display* dpy = XOpenDisplay(display.toLocal8Bit().constData());
    ASSERT_TRUE(dpy);
    const Window root = DefaultRootWindow(dpy);
    const Atom workArea = XInternAtom(dpy, "_NET_WORKAREA", False);
    XDeleteProperty(dpy, root, workArea);
    XSync(dpy, False);

    const XRandRDisplayList list(display);
    const auto first = list.displays();
    ASSERT_EQ(first.size(), 1u);
    for (int i = 0; i < 50; ++i)
        EXPECT_EQ(list.displays(), first);
    EXPECT_EQ(list.serverReads(), 1);

    // A property of the root that says nothing about the layout changes nothing.
    const Atom other = XInternAtom(dpy, "CORVESSA_TEST_OTHER", False);
    long value = 1;
    XChangeProperty(dpy, root, other, XA_CARDINAL, 32, PropModeReplace, reinterpret_cast<unsigned char*>(&value), 1);
    // A new work area is seen by the next call, once the server's notice is in.
    long area[4] = {0, 40, 1280, 760};
    XChangeProperty(dpy, root, workArea, XA_CARDINAL, 32, PropModeReplace, reinterpret_cast<unsigned char*>(area), 4);
    XSync(dpy, False);
    std::vector<DisplayInfo> after;
    for (int tries = 0; tries < 5000 && list.serverReads() == 1; ++tries) {
        after = list.displays();
        if (list.serverReads() == 1)
            usleep(2000);
    }
    ASSERT_EQ(after.size(), 1u);
    EXPECT_EQ(after[0].visibleFrame, GlobalRect(0, 0, 1280, 760));
    EXPECT_EQ(list.serverReads(), 2);
    EXPECT_EQ(list.displays(), after);
    EXPECT_EQ(list.serverReads(), 2);

    XDeleteProperty(dpy, root, other);
    XDeleteProperty(dpy, root, workArea);
    XCloseDisplay(dpy);
}
