#pragma once

#include "support/ChildProcess.h"

#include <QImage>
#include <QPoint>
#include <QRect>
#include <QString>

#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>
#include <memory>
#include <vector>
#include <string>

class QWidget;
struct _XDisplay;

namespace corvessa::test {

// Base of the window tests that run in the second run of a test program, on
// the private server (see XvfbTest::runOnServer): skips anywhere else, opens a
// connection of its own, starts openbox and, when CORVESSA_TEST_COMPOSITOR is
// "1", xcompmgr (or with "picom", picom drawing shadows around every window); sends input with XTest. A derived SetUp calls this one first
// and returns when IsSkipped() or HasFatalFailure(); a derived TearDown drops
// its windows and then calls this one.
class OnServerTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    static bool waitFor(const std::function<bool()>& done, int ms = 30000);
    static void spin(int ms);

    // XTest input at a point in Qt coordinates (points are pixels on this server).
    void move(QPoint p);
    void button(bool down);
    void click(QPoint p);
    // One press and release of the key with this keysym.
    void key(unsigned long keysym);
    // Presses the keys in order and releases them in reverse.
    void chord(std::initializer_list<unsigned long> keysyms);
    // Whether the server has put the window where Qt believes it is: a move
    // the window manager has not carried out yet sends clicks elsewhere.
    bool settledOnServer(QWidget* window);
    // Where the server has the window, as "x,y wxh", for failure messages.
    std::string serverGeometry(QWidget* window);
    // Whether another client could take the keyboard now.
    bool keyboardFree();
    // The whole screen, kept as <test>-`name` in $CORVESSA_TEST_ARTIFACTS when set.
    QImage screenshot(const QString& name);
    // Another program's plain window of colour `rgb` at `r`, past the window
    // manager, mapped (beneath everything when `lowered`) and known to the
    // server on return; the X window. Closing the connection drops it.
    unsigned long foreignWindow(const QRect& r, unsigned long rgb, bool lowered);
    // A window's property of 32-bit items (atoms, cardinals) of `type`; empty
    // when it has none.
    static std::vector<unsigned long> listProperty(_XDisplay* x, unsigned long window, const char* name,
                                                   unsigned long type);
    static bool hasAtom(_XDisplay* x, const std::vector<unsigned long>& atoms, const char* name);

    _XDisplay* m_x = nullptr;
    bool m_compositor = false;

private:
    std::unique_ptr<ChildProcess> m_wm;
    std::unique_ptr<ChildProcess> m_cm;
};

} // namespace corvessa::test
