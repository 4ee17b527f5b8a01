#pragma once

#include "model/RecorderPhase.h"
#include "model/ToolMode.h"
#include "prefs/KeyBinding.h"
#include "tools/ShortcutRow.h"

#include <vector>

namespace corvessa {

class Prefs;
class RecorderModel;

// Which shortcuts the hints show now: one row per active tool, oldest first,
// each ending with the fixed Esc; with no tool active, one row of the phase's
// general shortcuts (ready, recording and paused only). An action without a
// binding leaves its item out. Texts are translated. Stateless.
class ShortcutHints {
public:
    struct State {
        std::vector<ToolMode> modeOrder;
        RecorderPhase phase;
        int focusMode = 0; // 1: a selected region
        KeyBindingMap bindings;

        bool operator==(const State&) const = default;
    };

    ShortcutHints() = delete;

    static std::vector<ShortcutRow> rows(const State& state);
    static std::vector<ShortcutRow> rows(const RecorderModel& model, const Prefs& prefs);
    static State state(const RecorderModel& model, const Prefs& prefs);
};

} // namespace corvessa
