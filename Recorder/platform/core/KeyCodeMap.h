#pragma once

#include <QtCore/qnamespace.h>
#include <QtGlobal>

#include <optional>

namespace corvessa {

// Stored shortcuts keep the classic Mac encoding: a virtual key code numbered by
// the key's place on the ANSI keyboard, and the Carbon modifier bits. This is the
// one table that turns them into what X11 grabs (keysyms and modifier masks), and
// that turns a Qt key press back into a stored key code.
class KeyCodeMap {
public:
    // Stored modifier bits.
    static constexpr qint64 commandBit = 0x100;
    static constexpr qint64 shiftBit = 0x200;
    static constexpr qint64 optionBit = 0x800;
    static constexpr qint64 controlBit = 0x1000;

    // X11 modifier masks (X.h), written out so no X header is needed here.
    static constexpr quint32 x11ShiftMask = 1;   // ShiftMask
    static constexpr quint32 x11ControlMask = 4; // ControlMask
    static constexpr quint32 x11Mod1Mask = 8;    // Mod1Mask, Alt
    static constexpr quint32 x11Mod4Mask = 64;   // Mod4Mask, Super

    // Keys with a fixed role outside the shortcut table.
    static constexpr qint64 escapeKeyCode = 53;

    KeyCodeMap() = delete;

    // The keysym that a stored key code stands for; none for a code without one
    // (a modifier key, an unknown or out-of-range number).
    static std::optional<quint32> keysym(qint64 keyCode);
    // The stored key code of a keysym; none when the table has no such key.
    static std::optional<qint64> keyCode(quint32 keysym);

    // Control, Option, Shift and Command as Control, Alt, Shift and Super. Other
    // bits have no X11 meaning here and are dropped, as they are when the binding
    // is shown.
    static quint32 x11Modifiers(qint64 modifierBits);

    // Qt's modifiers as stored bits: Control, Alt, Shift and Meta (Super on X11)
    // give control, option, shift and command; the keypad and group-switch flags
    // give nothing.
    static qint64 modifierBits(Qt::KeyboardModifiers modifiers);

    // The stored key code of a key press. Keypad keys (KeypadModifier) keep their
    // own codes. With Shift held, the shifted symbols of the US layout ("!", "{",
    // "?" and so on) give the key they sit on, so Shift+1 is recorded as 1. Bare
    // modifier keys and keys without a code give none.
    static std::optional<qint64> keyCode(Qt::Key key, Qt::KeyboardModifiers modifiers);
};

} // namespace corvessa
