#pragma once

#include "prefs/MovieBitRate.h"

#include <QString>
#include <QStringList>

#include <array>

namespace corvessa {

// The video quality tiers the "qualityTier" preference selects: 0 Low, 1 Medium,
// 2 High with fixed bit rates, 3 Custom with the "customMbps" preference.
// Stateless; any thread.
class VideoQuality {
public:
    VideoQuality() = delete;

    static constexpr int low = 0;
    static constexpr int medium = 1;
    static constexpr int high = 2;
    static constexpr int custom = 3;

    // Megabits per second of the fixed tiers, for 1920 x 1080 at 30 frames per
    // second; the movie's bit rate scales them with picture size and frame rate.
    static constexpr const std::array<double, 3>& targetMbps = MovieBitRate::tierMbps;

    // Limits and default of the custom rate.
    static constexpr double customMinMbps = 1;
    static constexpr double customMaxMbps = 40;
    static constexpr double customDefaultMbps = 7.5;

    // The four tier names in the interface language, in tier order; computed on
    // every call so they follow a language change.
    static QStringList names();

    // A stored tier as an index into the tier lists: a tier outside 0...3 (the
    // setter stores whatever it is given) counts as Custom.
    static int index(int tier);

    // The name of a tier; an unknown tier is Custom.
    static QString name(int tier);

    // The base rate in megabits per second for a tier: the fixed rate of tiers
    // 0 to 2, else the custom rate brought into 1...40 (not a number gives 7.5).
    static double mbps(int tier, double customMbps);

    // A size in megabytes as shown beside the quality picker: "1.5 GB" from 1000 MB
    // on (decimal, one digit, never localised), else rounded to tens: "340 MB".
    // A negative or non-finite size shows as "0 MB".
    static QString sizeText(double mb);
};

} // namespace corvessa
