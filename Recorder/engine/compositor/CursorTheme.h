#pragma once

#include <optional>

namespace corvessa {

// How the recorded cursor looks.
enum class CursorTheme : int {
    system = 0, // an arrow, drawn with the system's own shapes where they apply
    art = 1,    // a picture cursor from CursorArt::all()
    hidden = 2, // no cursor is drawn
};

// The theme with this raw value; nothing outside 0...2.
std::optional<CursorTheme> cursorThemeFromRaw(int raw);

// The theme for the stored "cursorTheme" setting, which may hold any integer:
// 1 is art, 2 is hidden, anything else the system arrow.
CursorTheme cursorThemeFromSetting(int setting);

} // namespace corvessa
