#pragma once

#include "prefs/KeyBinding.h"

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <optional>

namespace corvessa {

class UserDefaults;

// The shortcut bindings as kept in user defaults: "hotkeys" holds, as data, a
// compact JSON object from action name to {"keyCode", "modifiers"}. Reading at
// start-up fills in defaults and repairs bindings from older versions and ones
// that cannot work; writing stores exactly the map it is given.
class HotKeyBindings {
public:
    static inline const QString defaultsKey = QStringLiteral("hotkeys");

    HotKeyBindings() = delete;

    // Every action with its default binding.
    static KeyBindingMap defaults();

    // The JSON object, one member per bound action.
    static QJsonObject toJson(const KeyBindingMap& bindings);
    // Compact JSON text of toJson().
    static QByteArray encode(const KeyBindingMap& bindings);

    // The bindings of a JSON object. Every member must be a valid binding, or the
    // whole object is refused; members not naming an action are then dropped.
    static std::optional<KeyBindingMap> fromJson(const QJsonValue& value);
    // The same for JSON text; malformed text is refused.
    static std::optional<KeyBindingMap> decode(const QByteArray& json);

    // The start-up repairs, in order: defaults for missing actions, the former
    // zoom keys (= and -) moved to ] and [, the former default modifiers
    // (option + command) on a default key become control + option, and any
    // binding without command or control is reset to the action's default.
    static KeyBindingMap repaired(KeyBindingMap bindings);

    // The bindings at start-up: the stored ones, decoded and repaired, or the
    // defaults when nothing usable is stored. Nothing is written back.
    // Unreadable stored data is logged and left in place until the next save.
    static KeyBindingMap load(const UserDefaults& defaults);
    static KeyBindingMap load(); // from UserDefaults::standard()
    // Stores the map under "hotkeys".
    static void save(UserDefaults& defaults, const KeyBindingMap& bindings);
    static void save(const KeyBindingMap& bindings); // to UserDefaults::standard()
};

} // namespace corvessa
