#include "toolbar/RecordingRowTexts.h"

#include "engine/compositor/PenTool.h"
#include "prefs/Loc.h"

#include <cmath>
#include <numbers>

namespace corvessa {

bool RecordingRowTexts::showsExpand(const RecorderPhase& phase, bool compactPreferred)
{
    return phase.isLive() && compactPreferred;
}

QString RecordingRowTexts::layoutToggleText(const RecorderPhase& phase, bool compactPreferred)
{
    return showsExpand(phase, compactPreferred) ? Loc::text(QStringLiteral("Expand Recording Toolbar"))
                                                : Loc::text(QStringLiteral("Use Compact Recording Toolbar"));
}

QString RecordingRowTexts::layoutToggleSymbol(const RecorderPhase& phase, bool compactPreferred)
{
    return showsExpand(phase, compactPreferred) ? QStringLiteral("arrow.up.left.and.arrow.down.right")
                                                : QStringLiteral("arrow.down.right.and.arrow.up.left");
}

QString RecordingRowTexts::penSymbol(int penTool)
{
    switch (PenTools::fromRawValueOrPencil(penTool)) {
    case PenTool::pencil:
        break;
    case PenTool::line:
        return QStringLiteral("line.diagonal");
    case PenTool::arrow:
        return QStringLiteral("arrow.up.right");
    case PenTool::rect:
        return QStringLiteral("rectangle");
    case PenTool::ellipse:
        return QStringLiteral("circle");
    case PenTool::eraser:
        return QStringLiteral("eraser");
    }
    return QStringLiteral("pencil.tip");
}

RecordingRowTexts::StatusGlyph RecordingRowTexts::statusGlyph(bool paused,
                                                              std::optional<PauseTier> tier)
{
    if (!paused)
        return StatusGlyph::pulsingDot;
    if (tier == PauseTier::eco)
        return StatusGlyph::eco;
    if (tier == PauseTier::deep)
        return StatusGlyph::deep;
    return StatusGlyph::pausedDot;
}

QString RecordingRowTexts::symbolName(StatusGlyph glyph)
{
    switch (glyph) {
    case StatusGlyph::eco:
        return QStringLiteral("leaf.fill");
    case StatusGlyph::deep:
        return QStringLiteral("moon.zzz.fill");
    case StatusGlyph::pulsingDot:
    case StatusGlyph::pausedDot:
        break;
    }
    return {};
}

double RecordingRowTexts::pulseOpacity(double seconds)
{
    if (!std::isfinite(seconds))
        return 1;
    return 0.3 + 0.7 * (0.5 + 0.5 * std::cos(2 * std::numbers::pi * seconds / pulsePeriod));
}

} // namespace corvessa
