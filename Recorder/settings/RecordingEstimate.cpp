#include "settings/RecordingEstimate.h"

#include "prefs/Loc.h"
#include "prefs/MovieBitRate.h"
#include "prefs/VideoQuality.h"

#include <QStringList>

#include <algorithm>

namespace corvessa {

namespace {

// Seconds in the ten minutes estimated, and bits to bytes.
constexpr double kSeconds = 600;
constexpr double kBytesPerBit = 0.125;
// Audio and the container's own share, in megabits per second.
constexpr double kOverheadMbps = 0.2;
constexpr double kStillShare = 0.35;
constexpr double kMovingShare = 0.95;

} // namespace

int RecordingEstimate::shownTier(int storedTier)
{
    return std::clamp(storedTier, VideoQuality::low, VideoQuality::custom);
}

RecordingEstimate::Range RecordingEstimate::forTier(int tier, double customMbps, int width, int height, int fps)
{
    const double mbps = double(MovieBitRate::screen(shownTier(tier), customMbps, width, height, fps)) / 1e6;
    return {(kStillShare * mbps + kOverheadMbps) * kSeconds * kBytesPerBit,
            (kMovingShare * mbps + kOverheadMbps) * kSeconds * kBytesPerBit};
}

QString RecordingEstimate::rangeText(const Range& range)
{
    return VideoQuality::sizeText(range.low) + QStringLiteral(" – ") + VideoQuality::sizeText(range.high);
}

QString RecordingEstimate::explanation(int storedTier, double customMbps, int width, int height, int fps)
{
    const QStringList names = VideoQuality::names();
    QStringList tiers;
    for (int t = VideoQuality::low; t <= VideoQuality::high; ++t)
        tiers << names[t] + QLatin1Char(' ') + rangeText(forTier(t, customMbps, width, height, fps));
    return Loc::fill(Loc::text(QStringLiteral(
                         "%@×%@ at %@ frames per second, %@ tier. Mostly still scenes come in near the lower size; "
                         "constantly moving scenes come in near the higher size.\nLow, Medium, High: %@")),
                     width, height, fps, names[shownTier(storedTier)], tiers.join(QStringLiteral("　·　")));
}

} // namespace corvessa
