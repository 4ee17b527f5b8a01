#pragma once

#include "support/ChildProcess.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

struct _XDisplay;

namespace corvessa::test {

// What the window tests that run on the private server (under xcb) share: a
// window manager and a compositing manager started and awaited, waiting on
// conditions while Qt runs, and screenshots kept for a reviewer.
class WindowManager {
public:
    // Starts openbox and waits until it manages new windows; null when it is not
    // installed or never got ready (then `*why` says which).
    static std::unique_ptr<ChildProcess> startOpenbox(_XDisplay* x, QString* why);
    // Starts xcompmgr, or `program` with `arguments`, and waits until it owns
    // the screen; null as above.
    static std::unique_ptr<ChildProcess> startCompositor(_XDisplay* x, QString* why,
                                                         const QString& program = QStringLiteral("xcompmgr"),
                                                         const QStringList& arguments = {});
    // The arguments that have `program` (xcompmgr or picom) draw a shadow
    // around every window it can, with its default reach.
    static QStringList shadowArguments(const QString& program);
    // Starts trayer, a system tray at the top right edge, and waits until it
    // owns the tray selection; null as above.
    static std::unique_ptr<ChildProcess> startTray(_XDisplay* x, QString* why);

    // Runs xdotool with `arguments`; false when it is not installed or failed.
    static bool xdotool(const QStringList& arguments);

    // Runs Qt's events until `done` holds or `ms` pass; whether it held.
    static bool waitFor(const std::function<bool()>& done, int ms = 15000);
    static void spin(int ms);
    // The whole screen, kept as <test>-`name` in $CORVESSA_TEST_ARTIFACTS when set.
    static void keepScreenshot(const QString& name);
};

} // namespace corvessa::test
