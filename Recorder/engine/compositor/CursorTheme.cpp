#include "engine/compositor/CursorTheme.h"

namespace corvessa {

std::optional<CursorTheme> cursorThemeFromRaw(int raw)
{
    switch (raw) {
    case 0:
        return CursorTheme::system;
    case 1:
        return CursorTheme::art;
    case 2:
        return CursorTheme::hidden;
    default:
        return std::nullopt;
    }
}

CursorTheme cursorThemeFromSetting(int setting)
{
    switch (setting) {
    case 1:
        return CursorTheme::art;
    case 2:
        return CursorTheme::hidden;
    default:
        return CursorTheme::system;
    }
}

} // namespace corvessa
