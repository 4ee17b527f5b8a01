#pragma once

#include "capture/TextLookup.h"
#include "capture/VideoDeviceChoice.h"
#include "capture/VideoDimensions.h"

#include <QSizeF>
#include <QString>

#include <array>
#include <optional>
#include <vector>

namespace corvessa {

struct DisplayInfo;

// The output sizes and frame rates offered for recording a display, a window or
// an area. A resolution choice is a short side in pixels, 0 meaning native size.
struct ScreenVideoCapabilities {
    VideoDimensions size; // native pixel size of the capture target
    int maximumFPS = 0;   // the display's refresh rate

    static constexpr std::array<int, 7> shortSides{480, 720, 900, 1080, 1440, 1800, 2160};
    static constexpr std::array<int, 5> rateSteps{24, 30, 60, 90, 120};
    // Assumed when the display does not report its refresh rate: offering only
    // 1 fps for such a display would make it unusable.
    static constexpr int unknownRefreshFPS = 60;
    static constexpr int defaultShortSide = 1080;
    static constexpr double defaultFrameRate = 30;
    // The English key of the native-size label.
    static constexpr const char* nativeKey = textKey("Native");

    // A whole display: its frame in pixels, its refresh rate rounded to whole fps.
    static ScreenVideoCapabilities forDisplay(const DisplayInfo& display);
    // A window or an area of `points` on that display.
    static ScreenVideoCapabilities forRegion(const DisplayInfo& display, const QSizeF& points);

    // 0 (native), then each standard short side below the target's short side.
    std::vector<int> resolutions() const;
    // 24 and each of 30, 60, 90, 120 up to maximumFPS; [max(1, maximumFPS)] below 24.
    std::vector<int> frameRates() const;
    // The output size for a short-side choice: scaled down (never up) to that short
    // side, each side rounded, lowered to even and at least 2.
    VideoDimensions pixels(int choice) const;
    // "720p · 1114×720", or for 0 the translated "Native" and the native size.
    QString label(int choice, const TextLookup& text) const;
    // A remembered choice turned into one this target offers: an offered short
    // side stays, one at or above the target's short side is native (0),
    // anything else becomes the largest offered one up to 1080 (or native); the rate becomes the offered one nearest to it (30 without a
    // choice), the lower on a tie.
    VideoDeviceChoice normalized(const std::optional<VideoDeviceChoice>& choice) const;

    bool operator==(const ScreenVideoCapabilities&) const = default;
};

} // namespace corvessa
