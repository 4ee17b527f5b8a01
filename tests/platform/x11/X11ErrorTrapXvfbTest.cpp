#include "platform/x11/X11ErrorTrap.h"
#include "support/XvfbTest.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include <X11/Xlib.h>

using namespace corvessa;

namespace {

class X11ErrorTrapXvfb : public test::XvfbTest {};

// A request that fails: mapping a window that does not exist.
void fail(Display* dpy)
{
    XMapWindow(dpy, 0x3fffff);
}

} // namespace

// The capture thread holds a trap across a whole screen's read; a trap of the
// main thread on its own connection waited for it, so the main thread stalled
// for as long as the server took to hand over a picture.
TEST_F(X11ErrorTrapXvfb, TrapsOnTwoConnectionsNeitherWaitForTheOtherNorTakeItsErrors)
{
    const QByteArray name = s_xvfb->display().toLocal8Bit();
    Display* held = XOpenDisplay(name.constData());
    Display* mine = XOpenDisplay(name.constData());
    ASSERT_TRUE(held && mine);

    std::promise<void> trapped;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    int heldErrors = -1;
    std::thread holder([&] {
        X11ErrorTrap trap(held);
        fail(held);
        trap.sync();
        trapped.set_value();
        released.wait();
        heldErrors = trap.errorCount();
    });
    trapped.get_future().wait();

    auto other = std::async(std::launch::async, [mine] {
        X11ErrorTrap trap(mine);
        fail(mine);
        fail(mine);
        const int first = trap.sync();
        return std::make_pair(first, trap.errorCount());
    });
    // Only a guard against waiting forever: the trap needs no other thread.
    const bool done = other.wait_for(std::chrono::seconds(60)) == std::future_status::ready;
    release.set_value();
    holder.join();
    ASSERT_TRUE(done) << "a trap on one connection waited for a trap on another";
    const auto [first, count] = other.get();
    EXPECT_EQ(first, BadWindow);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(heldErrors, 1);

    // Nested on one connection: the inner trap takes the errors, then the outer again.
    {
        X11ErrorTrap outer(mine);
        {
            X11ErrorTrap inner(mine);
            fail(mine);
            EXPECT_EQ(inner.sync(), BadWindow);
        }
        EXPECT_EQ(outer.errorCount(), 0);
        fail(mine);
        EXPECT_EQ(outer.sync(), BadWindow);
        EXPECT_EQ(outer.errorCount(), 1);
    }
    XCloseDisplay(held);
    XCloseDisplay(mine);
}
