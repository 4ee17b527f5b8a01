#pragma once

#include <QString>

#include <optional>

namespace corvessa {

// What a recording covers: a whole display, one window or a dragged area.
enum class RangeMode { display, window, area };

// "display", "window", "area".
QString rangeModeName(RangeMode mode);
// The mode of such a name; nothing for any other text.
std::optional<RangeMode> rangeModeFromName(const QString& name);

} // namespace corvessa
