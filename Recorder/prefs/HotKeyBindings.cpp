#include "prefs/HotKeyBindings.h"

#include "platform/core/RecorderLog.h"
#include "platform/core/UserDefaults.h"

#include <QJsonDocument>
#include <QJsonParseError>

namespace corvessa {

namespace {

// Zoom used to sit on = and -; their successors are ] and [.
constexpr qint64 kFormerZoomInKey = 24;
constexpr qint64 kFormerZoomOutKey = 27;
// Option + command, the default modifiers of older versions.
constexpr qint64 kFormerDefaultModifiers = KeyBinding::option | KeyBinding::command;

} // namespace

KeyBindingMap HotKeyBindings::defaults()
{
    KeyBindingMap map;
    for (HotKeyAction action : HotKeyActions::allCases())
        map.emplace(action, KeyBinding::defaultFor(action));
    return map;
}

QJsonObject HotKeyBindings::toJson(const KeyBindingMap& bindings)
{
    QJsonObject o;
    for (const auto& [action, binding] : bindings)
        o.insert(HotKeyActions::rawValue(action), binding.toJson());
    return o;
}

QByteArray HotKeyBindings::encode(const KeyBindingMap& bindings)
{
    return QJsonDocument(toJson(bindings)).toJson(QJsonDocument::Compact);
}

std::optional<KeyBindingMap> HotKeyBindings::fromJson(const QJsonValue& value)
{
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject o = value.toObject();
    KeyBindingMap map;
    for (auto it = o.begin(); it != o.end(); ++it) {
        // A bad member spoils the whole object, even one no action uses.
        const auto binding = KeyBinding::fromJson(it.value());
        if (!binding)
            return std::nullopt;
        if (const auto action = HotKeyActions::fromRawValue(it.key()))
            map[*action] = *binding;
    }
    return map;
}

std::optional<KeyBindingMap> HotKeyBindings::decode(const QByteArray& json)
{
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return std::nullopt;
    return fromJson(doc.object());
}

KeyBindingMap HotKeyBindings::repaired(KeyBindingMap bindings)
{
    const auto& all = HotKeyActions::allCases();

    for (HotKeyAction action : all)
        bindings.try_emplace(action, KeyBinding::defaultFor(action));

    KeyBinding& zoomIn = bindings[HotKeyAction::zoomIn];
    if (zoomIn.keyCode == kFormerZoomInKey)
        zoomIn = KeyBinding::defaultFor(HotKeyAction::zoomIn);
    KeyBinding& zoomOut = bindings[HotKeyAction::zoomOut];
    if (zoomOut.keyCode == kFormerZoomOutKey)
        zoomOut = KeyBinding::defaultFor(HotKeyAction::zoomOut);

    for (HotKeyAction action : all) {
        KeyBinding& b = bindings[action];
        if (b.keyCode == HotKeyActions::defaultKeyCode(action) && b.modifiers == kFormerDefaultModifiers)
            b.modifiers = HotKeyActions::defaultModifiers;
    }

    // Without command or control a global shortcut would swallow ordinary typing.
    for (HotKeyAction action : all) {
        KeyBinding& b = bindings[action];
        if (!(b.modifiers & (KeyBinding::command | KeyBinding::control)))
            b = KeyBinding::defaultFor(action);
    }
    return bindings;
}

KeyBindingMap HotKeyBindings::load(const UserDefaults& defaults)
{
    KeyBindingMap stored;
    if (const auto data = defaults.data(defaultsKey)) {
        if (auto decoded = decode(*data))
            stored = std::move(*decoded);
        else
            RecorderLog::write(QStringLiteral("[hotkeys] stored shortcuts unreadable, using the defaults"));
    }
    return repaired(std::move(stored));
}

KeyBindingMap HotKeyBindings::load()
{
    return load(UserDefaults::standard());
}

void HotKeyBindings::save(UserDefaults& defaults, const KeyBindingMap& bindings)
{
    defaults.setData(defaultsKey, encode(bindings));
}

void HotKeyBindings::save(const KeyBindingMap& bindings)
{
    save(UserDefaults::standard(), bindings);
}

} // namespace corvessa
