#pragma once

#include "settings/SettingsPane.h"
#include "settings/SettingsServices.h"

#include <QPointer>
#include <QRectF>
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
    // window takes `keepCenterX` and `top` (global points, y up) when both are
    // given, else it is centred; a window that exists is never moved.
    static void show(std::optional<SettingsPane> pane = std::nullopt, std::optional<double> keepCenterX = std::nullopt,
                     std::optional<double> top = std::nullopt);

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

    // Where a window of size `size` goes to keep its centre at `keepCenterX` and
    // its top at `top`, inside the visible area of the first screen whose frame
    // holds the point 10 points below that top (else `fallback`, the main
    // screen's); every rectangle in global points. Too wide or too tall pins it
    // to the left or bottom edge.
    struct Screen {
        QRectF frame;
        QRectF visible;
    };
    static QPointF placedOrigin(const QSizeF& size, double keepCenterX, double top, const std::vector<Screen>& screens,
                                std::optional<Screen> fallback);

    // "(412.0, 300.5, 760.0, 540.0)": the shortest form that reads back the same.
    static QString frameText(const QRectF& frame);

private:
    static void place(SettingsFrameWindow* window, std::optional<double> keepCenterX, std::optional<double> top);
    static void replaceWhenMapped(SettingsFrameWindow* window, std::optional<double> keepCenterX,
                                  std::optional<double> top, int attempt);
    static QRectF globalFrame(const SettingsFrameWindow* window);

    static SettingsServices s_services;
    static QPointer<SettingsFrameWindow> s_window;
};

} // namespace corvessa
