#pragma once

#include "platform/core/GlobalRect.h"
#include "platform/core/RecorderError.h"
#include "platform/ScreenStreamConfig.h"

#include <QRectF>
#include <QSize>
#include <QSizeF>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace corvessa {

class ScreenSource;

// What a recording captures: a whole display, one window, or an area of a
// display; and how it is found among what is on screen whenever a stream is
// made for it. A value; any thread.
struct RecordingTarget {
    enum class Kind { display, window, area };
    Kind kind = Kind::display;
    uint32_t displayID = 0; // display and area targets
    uint32_t windowID = 0;  // window targets
    QRectF rect;            // area targets: the area in the display's points, y down from its top-left

    static RecordingTarget display(uint32_t id) { return {Kind::display, id, 0, {}}; }
    static RecordingTarget window(uint32_t id) { return {Kind::window, 0, id, {}}; }
    static RecordingTarget area(uint32_t displayID, const QRectF& rect) { return {Kind::area, displayID, 0, rect}; }
    bool operator==(const RecordingTarget&) const = default;

    // Where finding the target at a start and at the rebuild of a lost stream
    // differ: a start would rather have the user choose again than record the
    // wrong thing; a rebuild keeps a running recording going with what is there.
    struct Lookup {
        // Start: the window must be on screen. Rebuild: it must only exist.
        bool windowOnScreen = true;
        // A display target whose display is gone. Start: the primary display,
        // else the first. Rebuild: none; the stream is made again only once that
        // display is back, as a recording never goes on with another screen's
        // picture. An area always needs its own display.
        bool displayFallback = true;
        // A window's pixels per point. Start: its display's. Rebuild: the stream's so far.
        std::optional<double> windowScale;
        // Why a window that is not found is missing.
        const char* windowGone = nullptr;
    };
    static Lookup atStart();
    static Lookup atRebuild(double streamScale);

    // The target as found on screen. Without content or target only the first
    // two say anything.
    struct Found {
        std::optional<RecorderError> contentError; // the source could not list what is on screen
        const char* missing = nullptr;             // why the target is not there, in English
        ScreenFilter filter;                       // keeps out every window of this process and the excluded ones
        QSizeF points;                             // the recorded content's size
        std::optional<GlobalRect> displayFrame;    // display and area targets
        double primaryHeight = 0;                  // the primary display's height; 0 without one
    };
    // Reads the source's content: `excludedWindows` (may be empty) names windows
    // to keep out besides this process's; `windowSize` replaces a window's own size.
    // Slow (the window list): not on the engine queue.
    Found resolve(ScreenSource* source, const std::function<std::vector<uint32_t>()>& excludedWindows,
                  const std::optional<QSizeF>& windowSize, const Lookup& lookup) const;

    // Sizes of a recording: the movie's, and the full-resolution capture's.
    struct Sizes {
        QSize output;
        QSize full;
    };
    // Each side rounded to the nearest even number of pixels (at least 2); the
    // movie's shorter side brought down to `maxShortSide` when it is longer.
    static Sizes pixelSizes(const QSizeF& points, double scale, std::optional<int> maxShortSide);
};

} // namespace corvessa
