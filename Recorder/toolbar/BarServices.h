#pragma once

#include "toolbar/ToolActions.h"

#include <QStringList>

#include <functional>

class QWindow;

namespace corvessa {

class FloatingMenu;
class Scheduler;
class TipWindow;

// What the toolbar's rows call outside the model. Main thread.
struct BarServices {
    Scheduler* scheduler = nullptr;
    TipWindow* tips = nullptr;
    FloatingMenu* menu = nullptr;
    ToolActions tools;
    std::function<void()> showSettings;
    // Selects the saved movie and the camera files in the file manager,
    // then tells `done` whether anything was shown.
    std::function<void(const QStringList& paths, std::function<void(bool shown)> done)> reveal;
    // Asks, with the recording paused, whether to restart (true) or cancel.
    std::function<void(bool restart)> confirmDiscard;
    // Keeps a window of the bar's (the screens menu) out of recordings.
    std::function<void(QWindow*)> registerWindow;
    // The usable width of the bar's screen in points; when not set, that of
    // the screen the bar is on (the primary one before it shows).
    std::function<int()> screenWidth;
};

} // namespace corvessa
