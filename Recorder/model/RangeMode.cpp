#include "model/RangeMode.h"

#include <array>

namespace corvessa {

namespace {
constexpr std::array<const char*, 3> kNames{"display", "window", "area"};
}

QString rangeModeName(RangeMode mode)
{
    return QString::fromLatin1(kNames[size_t(mode)]);
}

std::optional<RangeMode> rangeModeFromName(const QString& name)
{
    for (size_t i = 0; i < kNames.size(); ++i) {
        if (name == QLatin1String(kNames[i]))
            return RangeMode(i);
    }
    return std::nullopt;
}

} // namespace corvessa
