#pragma once

#include "platform/core/GlobalPoint.h"
#include "platform/core/GlobalRect.h"
#include "settings/SettingsPane.h"
#include "settings/SettingsServices.h"

#include <QMargins>
#include <QPointer>
#include <QSizeF>
#include <QString>

#include <optional>
#include <vector>

namespace corvessa {

class SettingsFrameWindow;

// The one settings window: built on first use and kept (closing only hides
// it), replaced in the new language when the interface language changes, on
// the same pane and place. Nothing about its position is remembered between
// runs. Main thread.
class SettingsWindow {
public:
    SettingsWindow() = delete;

    // What the window's panes work with; call once before the first show().
    // Also follows the language-changed notification with rebuild().
    static void configure(SettingsServices services);

    // Shows the window, building it first when there is none. `pane` selects a
    // tab (none keeps the one it had; a new window starts on General). A new
    // window puts the middle of its top edge at `topCenter` when given, else it
    // is centred; a window that exists is never moved.
    static void show(std::optional<SettingsPane> pane = std::nullopt,
                     std::optional<GlobalPoint> topCenter = std::nullopt);

    // Drops the window; one on screen comes back at once in the current
    // language, on the same pane, with the same centre and top edge.
    static void rebuild();

    // The window, null before the first show() and after a rebuild of a hidden one.
    static SettingsFrameWindow* window();
    // Closes and drops the window without a replacement (tests, shutdown).
    static void discard();
    // The program's end: deletes the window now and lets go of the services
    // (the model's pointer, the tools), while what they point at still exists.
    static void end();

    // Where a window of size `size` goes (its bottom-left corner) to keep the
    // middle of its top edge at `topCenter`, inside the visible area of the
    // first screen whose frame holds the point 10 points below that (else
    // `fallback`, the main screen's). Too wide or too tall pins it to the left
    // or bottom edge.
    struct Screen {
        GlobalRect frame;
        GlobalRect visible;
    };
    static GlobalPoint placedOrigin(const QSizeF& size, const GlobalPoint& topCenter,
                                    const std::vector<Screen>& screens, std::optional<Screen> fallback);
    // That screen: the first whose frame holds the point 10 points below
    // `topCenter`, else `fallback`.
    static std::optional<Screen> chosenScreen(const GlobalPoint& topCenter, const std::vector<Screen>& screens,
                                              std::optional<Screen> fallback);

    // Room kept for the window manager's frame (title bar and borders) before
    // the window has been framed and the real one is known.
    static constexpr QMargins frameAllowance{8, 40, 8, 8};

    // "(412.0, 300.5, 760.0, 540.0)": the shortest form that reads back the same.
    static QString frameText(const GlobalRect& frame);

private:
    static void place(SettingsFrameWindow* window, std::optional<GlobalPoint> topCenter);
    static void replaceWhenMapped(SettingsFrameWindow* window, std::optional<GlobalPoint> topCenter, int attempt);
    static GlobalRect globalFrame(const SettingsFrameWindow* window);

    static SettingsServices s_services;
    static QPointer<SettingsFrameWindow> s_window;
};

} // namespace corvessa
