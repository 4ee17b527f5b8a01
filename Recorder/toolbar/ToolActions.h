#pragma once

#include <QRect>

#include <functional>

namespace corvessa {

class RecorderModel;

// The tool operations the toolbar's tool controls call: the magnifier, the
// pen and the teleprompter. Passed in so the toolbar works before every tool
// exists; an empty callback does nothing (and reads as "not shown"). Main
// thread.
struct ToolActions {
    std::function<void()> toggleFocus;
    std::function<void(int mode)> setFocusMode; // 0 follow the cursor, 1 selected region
    std::function<void()> beginRegionPick;
    std::function<void(int step)> zoomFocus; // +1 in, -1 out
    std::function<void(bool on)> setPen;
    std::function<bool()> teleprompterShown;
    std::function<void()> toggleTeleprompter;
    // The pen's colour palette, beside the swatch at `anchor` (Qt global points).
    std::function<void(const QRect& anchor)> openPenPalette;

    // What can be done today without the tools: the model's focus and pen
    // flags and the focus-mode preference; the rest does nothing.
    static ToolActions standIn(RecorderModel& m);
};

} // namespace corvessa
