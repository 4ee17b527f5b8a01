#pragma once

#include "platform/core/KeyCodeMap.h"
#include "prefs/HotKeyAction.h"

#include <QAction>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QtGlobal>

#include <map>
#include <optional>

namespace corvessa {

// A shortcut: a stored key code (ANSI keyboard position, see KeyCodeMap) and the
// Carbon modifier bits. Values of any size are kept as read, so a stored binding
// is never silently changed; KeyCodeMap decides what can actually be grabbed.
class KeyBinding;
// An action's binding; an action may have none.
using KeyBindingMap = std::map<HotKeyAction, KeyBinding>;

class KeyBinding {
public:
    static constexpr qint64 command = KeyCodeMap::commandBit;
    static constexpr qint64 shift = KeyCodeMap::shiftBit;
    static constexpr qint64 option = KeyCodeMap::optionBit;
    static constexpr qint64 control = KeyCodeMap::controlBit;

    qint64 keyCode = 0;
    qint64 modifiers = 0;

    bool operator==(const KeyBinding&) const = default;

    // The action's default: its default key with control + option.
    static KeyBinding defaultFor(HotKeyAction action);

    // The binding as a Linux user reads it: the modifier names (Ctrl, Alt,
    // Shift, Super, in that order, each when set) and the key name joined by
    // "+": "Ctrl+Alt+R". Every key combination the program shows comes from here.
    QString display() const;

    // `text` with every run of the other platform's modifier symbols (as the
    // texts written with them hold: "Press ⌃⌥T", "include ⌘ or ⌃") in the same
    // form: "Press Ctrl+Alt+T", "include Super or Ctrl".
    static QString linuxForm(const QString& text);

    // A menu's key text (QKeySequence's portable form, "Meta+Shift+p") as
    // display() writes it: "Shift+Super+P"; empty for an empty sequence.
    static QString menuText(const QString& portable);
    // Gives a menu action its title and its key (portable form; empty for
    // none). Where Qt would write the key otherwise than menuText() (it calls
    // Super "Meta"), our text follows the title after a tab, which a menu
    // shows in its key column.
    static void setMenuKey(QAction& action, const QString& title, const QString& portable);

    // The binding as a Qt key sequence text for a menu's shortcut column, with
    // the modifiers the global grab uses (command is Meta, the Super key) and
    // the key in lower case or an arrow's name: "Ctrl+Alt+f". Empty when the
    // key's name is more than one character.
    QString keyEquivalent() const;

    // The binding of `action` in `bindings`, or none when it has none.
    static std::optional<KeyBinding> bound(const std::map<HotKeyAction, KeyBinding>& bindings, HotKeyAction action);

    // The names of the 64 named keys; "Space" and "Return" in the interface
    // language, so the map is built anew on each call.
    static std::map<qint64, QString> names();
    // The key's name, or "Key <code>" for a key without one.
    static QString keyName(qint64 code);

    // The key text of an action's binding, as above; empty when it has none.
    static QString keyEquivalent(const KeyBindingMap& bindings, HotKeyAction action);

    // Qt's modifiers as stored bits (Meta is command); other flags give nothing.
    static qint64 carbon(Qt::KeyboardModifiers modifiers);

    // {"keyCode": n, "modifiers": n}.
    QJsonObject toJson() const;
    // Both members must be integral numbers; extra members are ignored.
    static std::optional<KeyBinding> fromJson(const QJsonValue& value);
};

} // namespace corvessa
