#include "prefs/VideoQuality.h"

#include "prefs/Loc.h"

#include <algorithm>
#include <cmath>

namespace corvessa {

namespace {

// English names, in tier order; looked up in the language table at each read.
constexpr const char* kNames[] = {
    Loc::mark("Low"),
    Loc::mark("Medium"),
    Loc::mark("High"),
    Loc::mark("Custom"),
};

} // namespace

QStringList VideoQuality::names()
{
    QStringList out;
    for (const char* n : kNames)
        out << Loc::text(QString::fromUtf8(n));
    return out;
}

int VideoQuality::index(int tier)
{
    return tier >= low && tier <= custom ? tier : custom;
}

QString VideoQuality::name(int tier)
{
    return Loc::text(QString::fromUtf8(kNames[index(tier)]));
}

double VideoQuality::mbps(int tier, double customMbps)
{
    const int i = index(tier);
    if (i < custom)
        return targetMbps[size_t(i)];
    if (std::isnan(customMbps))
        return customDefaultMbps;
    return std::clamp(customMbps, customMinMbps, customMaxMbps);
}

QString VideoQuality::sizeText(double mb)
{
    if (!std::isfinite(mb) || mb < 0)
        mb = 0;
    // The threshold is tested before rounding, so 999.9 MB reads "1000 MB".
    if (mb >= 1000)
        return QString::number(mb / 1000, 'f', 1) + QStringLiteral(" GB");
    // std::round takes halves away from zero.
    return QString::number(qint64(std::round(mb / 10) * 10)) + QStringLiteral(" MB");
}

} // namespace corvessa
