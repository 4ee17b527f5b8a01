#include "engine/compositor/PenPalette.h"

#include "prefs/Loc.h"

#include <algorithm>

namespace corvessa {

const std::array<PenPalette::Entry, PenPalette::count>& PenPalette::colors()
{
    static const std::array<Entry, count> entries{{
        {Loc::mark("Red"), 1, 0.23, 0.19},
        {Loc::mark("Orange"), 1, 0.58, 0},
        {Loc::mark("Yellow"), 1, 0.8, 0},
        {Loc::mark("Green"), 0.2, 0.78, 0.35},
        {Loc::mark("Cyan"), 0.19, 0.82, 0.85},
        {Loc::mark("Blue"), 0.04, 0.52, 1},
        {Loc::mark("Purple"), 0.69, 0.32, 0.87},
        {Loc::mark("Pink"), 1, 0.27, 0.58},
        {Loc::mark("White"), 1, 1, 1},
        {Loc::mark("Light Gray"), 0.68, 0.68, 0.7},
        {Loc::mark("Dark Gray"), 0.33, 0.33, 0.35},
        {Loc::mark("Black"), 0, 0, 0},
    }};
    return entries;
}

int PenPalette::clampedIndex(int index)
{
    return std::clamp(index, 0, count - 1);
}

const PenPalette::Entry& PenPalette::entry(int index)
{
    return colors()[size_t(clampedIndex(index))];
}

QColor PenPalette::color(int index)
{
    const Entry& e = entry(index);
    return QColor::fromRgbF(float(e.r), float(e.g), float(e.b), 1.0f);
}

QString PenPalette::name(int index)
{
    return Loc::text(QString::fromUtf8(entry(index).name));
}

} // namespace corvessa
