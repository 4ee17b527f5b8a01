#pragma once

#include "engine/PauseTier.h"
#include "model/RecorderPhase.h"

#include <QString>

#include <optional>

namespace corvessa {

// The rules behind the recording row's changing symbols and texts, apart from
// the widgets that show them. Stateless.
class RecordingRowTexts {
public:
    RecordingRowTexts() = delete;

    // What the status shows beside the time.
    enum class StatusGlyph {
        pulsingDot, // recording: a red dot that fades in and out
        eco,        // paused, eco standby: "leaf.fill"
        deep,       // paused, deep standby: "moon.zzz.fill"
        pausedDot,  // paused, instant or tier not known yet: a steady orange dot
    };

    // The layout toggle offers the other layout; outside a live phase always
    // the compact one, whatever the preference says.
    static bool showsExpand(const RecorderPhase& phase, bool compactPreferred);
    // Tip and accessibility label (translated).
    static QString layoutToggleText(const RecorderPhase& phase, bool compactPreferred);
    static QString layoutToggleSymbol(const RecorderPhase& phase, bool compactPreferred);

    // The pen button's symbol for the stored "penTool" value; unknown values
    // show the pencil.
    static QString penSymbol(int penTool);

    static StatusGlyph statusGlyph(bool paused, std::optional<PauseTier> tier);
    // The symbol of a glyph; empty for the two dots, which are drawn.
    static QString symbolName(StatusGlyph glyph);
    // The recording dot's opacity at `seconds` on any steady clock: one pulse
    // every 1.6 s between 0.3 and 1.
    static double pulseOpacity(double seconds);
    static constexpr double pulsePeriod = 1.6;
};

} // namespace corvessa
