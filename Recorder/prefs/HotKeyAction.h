#pragma once

#include <QString>
#include <QtGlobal>

#include <array>
#include <optional>

namespace corvessa {

// The fifteen global shortcuts. The enumerator's value is its index, which is
// also the hot key's identifier when it is registered.
enum class HotKeyAction {
    start,
    pause,
    stop,
    muteMic,
    toggleBar,
    focus,
    zoomIn,
    zoomOut,
    focusMode,
    focusReselect,
    pen,
    restart,
    cancel,
    prompter,
    cameraFullScreen,
};

// The fixed facts of each action: its stored name, its title and its default key.
class HotKeyActions {
public:
    static constexpr int count = 15;
    // Control + option: every default shortcut uses it.
    static constexpr qint64 defaultModifiers = 0x1800;

    HotKeyActions() = delete;

    // All actions in index order.
    static const std::array<HotKeyAction, count>& allCases();

    static int index(HotKeyAction action) { return static_cast<int>(action); }
    // The action at an index, none outside 0..14.
    static std::optional<HotKeyAction> fromIndex(qint64 index);

    // The name under which the binding is stored ("start", "muteMic", ...).
    static QString rawValue(HotKeyAction action);
    // The action stored under exactly this name (case-sensitive), or none.
    static std::optional<HotKeyAction> fromRawValue(const QString& rawValue);

    // The English title, and the title in the interface language.
    static QString englishTitle(HotKeyAction action);
    static QString title(HotKeyAction action);

    // The stored key code of the action's default key.
    static qint64 defaultKeyCode(HotKeyAction action);
};

} // namespace corvessa
