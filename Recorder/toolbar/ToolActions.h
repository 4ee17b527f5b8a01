#pragma once

#include <QRect>

#include <functional>

namespace corvessa {

class RecorderModel;

// The tool operations the toolbar's tool controls call: the magnifier, the
// pen and the teleprompter. Passed in so the toolbar can be built with only
// some of them (tests); an empty callback does nothing (and reads as "not
// shown"). Main thread.
struct ToolActions {
    std::function<void()> toggleFocus;
    std::function<void(int mode)> setFocusMode; // 0 follow the cursor, 1 selected region
    std::function<void()> beginRegionPick;
    std::function<void(int step)> zoomFocus; // +1 in, -1 out
    std::function<void(bool on)> setPen;
    std::function<bool()> teleprompterShown;
    std::function<void()> toggleTeleprompter;
    std::function<void(const QRect& anchor)> openMagnifierPanel; // a hold on the magnifier button (Qt global points)
    // The magnifier button's tap (toggleFocus when unset).
    std::function<void()> tapMagnifier;
    // The pen button's hold: the pen-tool menu beside `anchor` (global Qt coordinates).
    std::function<void(const QRect& anchor)> showPenMenu;
    // The pen's colour palette, beside the swatch at `anchor` (Qt global points).
    std::function<void(const QRect& anchor)> openPenPalette;

    // Every operation, carried out by the model.
    static ToolActions forModel(RecorderModel& m);
};

} // namespace corvessa
