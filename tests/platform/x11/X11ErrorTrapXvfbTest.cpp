#include "platform/x11/X11ErrorTrap.h"
#include "support/XvfbTest.h"

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include <gtest/gtest.h>

// After gtest: Xlib defines macros (None, Bool) that clash with it.
#include <X11/Xlib.h>

using namespace corvessa;

namespace {

class X11ErrorTrapXvfb : public test::XvfbTest {
protected:
    static Display* open() { return XOpenDisplay(s_xvfb->display().toUtf8().constData()); }

    // A request the server refuses: a window that does not exist.
    static void provoke(Display* dpy)
    {
        XWindowAttributes attributes;
        XGetWindowAttributes(dpy, Window(0x7ffff0), &attributes);
    }
};

} // namespace

// A trap on one connection, held while its thread waits (as a round trip to a
// busy server does), keeps no other connection's trap waiting, and each trap
// gets the errors of its own connection only.
TEST_F(X11ErrorTrapXvfb, TrapsOnTwoConnectionsNeitherWaitNorShareErrors)
{
    Display* slow = open();
    Display* other = open();
    ASSERT_TRUE(slow && other);
    std::promise<void> otherDone;
    std::future<void> otherDoneFuture = otherDone.get_future();
    std::atomic<int> slowErrors{-1};
    bool otherFinishedWhileHeld = false;
    std::thread holder([&] {
        X11ErrorTrap trap(slow);
        provoke(slow);
        // Held until the other thread's trap has come and gone, or a generous while.
        otherFinishedWhileHeld = otherDoneFuture.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
        slowErrors = trap.errorCount();
    });
    int otherCode = 0;
    int otherErrors = 0;
    std::thread beside([&] {
        {
            X11ErrorTrap trap(other);
            provoke(other);
            otherCode = trap.sync();
            otherErrors = trap.errorCount();
        }
        otherDone.set_value();
    });
    beside.join();
    holder.join();
    EXPECT_TRUE(otherFinishedWhileHeld) << "the second trap waited for the first";
    EXPECT_EQ(otherCode, BadWindow);
    EXPECT_EQ(otherErrors, 1);
    EXPECT_EQ(slowErrors.load(), 1);
    XCloseDisplay(slow);
    XCloseDisplay(other);
}
