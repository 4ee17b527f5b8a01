#pragma once

#include "model/MenuRow.h"
#include "toolbar/ToolActions.h"

#include <QRect>

#include <functional>

namespace corvessa {

class FloatingMenu;
class RecorderModel;

// The tray's menu while a recording is busy: the program's own floating menu,
// opened beside the tray icon with the controls that matter during a
// recording. The rows show the state of the moment it opened. Stateless; main
// thread.
class FloatingStatusMenu {
public:
    FloatingStatusMenu() = delete;

    // What the rows call beyond the model.
    struct Actions {
        ToolActions tools;
        std::function<bool()> barVisible;
        std::function<void()> toggleBar;
        std::function<void()> showSettings;
    };

    static MenuRows rows(RecorderModel& model, const Actions& actions);

    // A click on the tray icon at `anchor` (global, y down) at `now` on the
    // menu's clock: closes the menu when it is open from there; does nothing
    // when that same click has just closed it as an outside click; else opens
    // `rows()` beside the anchor. Whether it opened.
    static bool toggle(FloatingMenu& menu, double now, const QRect& anchor, const std::function<MenuRows()>& rows);
};

} // namespace corvessa
