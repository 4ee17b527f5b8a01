#include "platform/core/KeyCodeMap.h"

#include <array>

namespace corvessa {

namespace {

// Keysym numbers are X11's (keysymdef.h and XF86keysym.h), written out so the
// table needs no X header; the tests check them against those headers.
struct KeyEntry {
    qint64 code;     // stored (ANSI-position) key code
    quint32 keysym;  // what X11 grabs
    int qtKey;       // the Qt key of the unshifted press, 0 for keypad keys
};

// Every key a shortcut can use. Modifier keys, Caps Lock, Fn and the keypad Clear
// key (Num Lock on PC keyboards) are left out: grabbing them as shortcuts would
// break typing. The Help key sits where PC keyboards have Insert.
constexpr std::array kKeys{
    // Letters.
    KeyEntry{0, 0x0061, Qt::Key_A}, KeyEntry{11, 0x0062, Qt::Key_B}, KeyEntry{8, 0x0063, Qt::Key_C},
    KeyEntry{2, 0x0064, Qt::Key_D}, KeyEntry{14, 0x0065, Qt::Key_E}, KeyEntry{3, 0x0066, Qt::Key_F},
    KeyEntry{5, 0x0067, Qt::Key_G}, KeyEntry{4, 0x0068, Qt::Key_H}, KeyEntry{34, 0x0069, Qt::Key_I},
    KeyEntry{38, 0x006a, Qt::Key_J}, KeyEntry{40, 0x006b, Qt::Key_K}, KeyEntry{37, 0x006c, Qt::Key_L},
    KeyEntry{46, 0x006d, Qt::Key_M}, KeyEntry{45, 0x006e, Qt::Key_N}, KeyEntry{31, 0x006f, Qt::Key_O},
    KeyEntry{35, 0x0070, Qt::Key_P}, KeyEntry{12, 0x0071, Qt::Key_Q}, KeyEntry{15, 0x0072, Qt::Key_R},
    KeyEntry{1, 0x0073, Qt::Key_S}, KeyEntry{17, 0x0074, Qt::Key_T}, KeyEntry{32, 0x0075, Qt::Key_U},
    KeyEntry{9, 0x0076, Qt::Key_V}, KeyEntry{13, 0x0077, Qt::Key_W}, KeyEntry{7, 0x0078, Qt::Key_X},
    KeyEntry{16, 0x0079, Qt::Key_Y}, KeyEntry{6, 0x007a, Qt::Key_Z},
    // Digits of the main row.
    KeyEntry{29, 0x0030, Qt::Key_0}, KeyEntry{18, 0x0031, Qt::Key_1}, KeyEntry{19, 0x0032, Qt::Key_2},
    KeyEntry{20, 0x0033, Qt::Key_3}, KeyEntry{21, 0x0034, Qt::Key_4}, KeyEntry{23, 0x0035, Qt::Key_5},
    KeyEntry{22, 0x0036, Qt::Key_6}, KeyEntry{26, 0x0037, Qt::Key_7}, KeyEntry{28, 0x0038, Qt::Key_8},
    KeyEntry{25, 0x0039, Qt::Key_9},
    // Punctuation.
    KeyEntry{43, 0x002c, Qt::Key_Comma}, KeyEntry{47, 0x002e, Qt::Key_Period},
    KeyEntry{44, 0x002f, Qt::Key_Slash}, KeyEntry{41, 0x003b, Qt::Key_Semicolon},
    KeyEntry{39, 0x0027, Qt::Key_Apostrophe}, KeyEntry{33, 0x005b, Qt::Key_BracketLeft},
    KeyEntry{30, 0x005d, Qt::Key_BracketRight}, KeyEntry{27, 0x002d, Qt::Key_Minus},
    KeyEntry{24, 0x003d, Qt::Key_Equal}, KeyEntry{42, 0x005c, Qt::Key_Backslash},
    KeyEntry{50, 0x0060, Qt::Key_QuoteLeft},
    // Whitespace and editing.
    KeyEntry{49, 0x0020, Qt::Key_Space}, KeyEntry{36, 0xff0d, Qt::Key_Return},
    KeyEntry{48, 0xff09, Qt::Key_Tab}, KeyEntry{51, 0xff08, Qt::Key_Backspace},
    KeyEntry{53, 0xff1b, Qt::Key_Escape}, KeyEntry{117, 0xffff, Qt::Key_Delete},
    KeyEntry{114, 0xff63, Qt::Key_Insert},
    // Navigation.
    KeyEntry{115, 0xff50, Qt::Key_Home}, KeyEntry{119, 0xff57, Qt::Key_End},
    KeyEntry{116, 0xff55, Qt::Key_PageUp}, KeyEntry{121, 0xff56, Qt::Key_PageDown},
    KeyEntry{123, 0xff51, Qt::Key_Left}, KeyEntry{124, 0xff53, Qt::Key_Right},
    KeyEntry{126, 0xff52, Qt::Key_Up}, KeyEntry{125, 0xff54, Qt::Key_Down},
    // Function keys.
    KeyEntry{122, 0xffbe, Qt::Key_F1}, KeyEntry{120, 0xffbf, Qt::Key_F2}, KeyEntry{99, 0xffc0, Qt::Key_F3},
    KeyEntry{118, 0xffc1, Qt::Key_F4}, KeyEntry{96, 0xffc2, Qt::Key_F5}, KeyEntry{97, 0xffc3, Qt::Key_F6},
    KeyEntry{98, 0xffc4, Qt::Key_F7}, KeyEntry{100, 0xffc5, Qt::Key_F8}, KeyEntry{101, 0xffc6, Qt::Key_F9},
    KeyEntry{109, 0xffc7, Qt::Key_F10}, KeyEntry{103, 0xffc8, Qt::Key_F11}, KeyEntry{111, 0xffc9, Qt::Key_F12},
    KeyEntry{105, 0xffca, Qt::Key_F13}, KeyEntry{107, 0xffcb, Qt::Key_F14}, KeyEntry{113, 0xffcc, Qt::Key_F15},
    KeyEntry{106, 0xffcd, Qt::Key_F16}, KeyEntry{64, 0xffce, Qt::Key_F17}, KeyEntry{79, 0xffcf, Qt::Key_F18},
    KeyEntry{80, 0xffd0, Qt::Key_F19}, KeyEntry{90, 0xffd1, Qt::Key_F20},
    // Media keys.
    KeyEntry{72, 0x1008ff13, Qt::Key_VolumeUp},
    KeyEntry{73, 0x1008ff11, Qt::Key_VolumeDown},
    KeyEntry{74, 0x1008ff12, Qt::Key_VolumeMute},
    // Keypad; Qt reports these as ordinary keys with KeypadModifier.
    KeyEntry{82, 0xffb0, 0}, KeyEntry{83, 0xffb1, 0}, KeyEntry{84, 0xffb2, 0}, KeyEntry{85, 0xffb3, 0},
    KeyEntry{86, 0xffb4, 0}, KeyEntry{87, 0xffb5, 0}, KeyEntry{88, 0xffb6, 0}, KeyEntry{89, 0xffb7, 0},
    KeyEntry{91, 0xffb8, 0}, KeyEntry{92, 0xffb9, 0}, KeyEntry{65, 0xffae, 0},
    KeyEntry{67, 0xffaa, 0}, KeyEntry{69, 0xffab, 0}, KeyEntry{78, 0xffad, 0},
    KeyEntry{75, 0xffaf, 0}, KeyEntry{76, 0xff8d, 0}, KeyEntry{81, 0xffbd, 0},
};

struct QtKeyCode {
    int qtKey;
    qint64 code;
};

// Keys Qt reports with KeypadModifier; other keypad keys (Home, arrows with Num
// Lock off) fall through to the main table.
constexpr std::array kKeypadKeys{
    QtKeyCode{Qt::Key_0, 82}, QtKeyCode{Qt::Key_1, 83}, QtKeyCode{Qt::Key_2, 84}, QtKeyCode{Qt::Key_3, 85},
    QtKeyCode{Qt::Key_4, 86}, QtKeyCode{Qt::Key_5, 87}, QtKeyCode{Qt::Key_6, 88}, QtKeyCode{Qt::Key_7, 89},
    QtKeyCode{Qt::Key_8, 91}, QtKeyCode{Qt::Key_9, 92}, QtKeyCode{Qt::Key_Period, 65},
    QtKeyCode{Qt::Key_Comma, 65}, QtKeyCode{Qt::Key_Asterisk, 67}, QtKeyCode{Qt::Key_Plus, 69},
    QtKeyCode{Qt::Key_Minus, 78}, QtKeyCode{Qt::Key_Slash, 75}, QtKeyCode{Qt::Key_Enter, 76},
    QtKeyCode{Qt::Key_Equal, 81},
};

// What Shift makes of the US layout's keys: the recorded key is the one pressed,
// since Shift is already kept as a modifier bit.
constexpr std::array kShiftedKeys{
    QtKeyCode{Qt::Key_Exclam, 18}, QtKeyCode{Qt::Key_At, 19}, QtKeyCode{Qt::Key_NumberSign, 20},
    QtKeyCode{Qt::Key_Dollar, 21}, QtKeyCode{Qt::Key_Percent, 23}, QtKeyCode{Qt::Key_AsciiCircum, 22},
    QtKeyCode{Qt::Key_Ampersand, 26}, QtKeyCode{Qt::Key_Asterisk, 28}, QtKeyCode{Qt::Key_ParenLeft, 25},
    QtKeyCode{Qt::Key_ParenRight, 29}, QtKeyCode{Qt::Key_Underscore, 27}, QtKeyCode{Qt::Key_Plus, 24},
    QtKeyCode{Qt::Key_BraceLeft, 33}, QtKeyCode{Qt::Key_BraceRight, 30}, QtKeyCode{Qt::Key_Bar, 42},
    QtKeyCode{Qt::Key_Colon, 41}, QtKeyCode{Qt::Key_QuoteDbl, 39}, QtKeyCode{Qt::Key_Less, 43},
    QtKeyCode{Qt::Key_Greater, 47}, QtKeyCode{Qt::Key_Question, 44}, QtKeyCode{Qt::Key_AsciiTilde, 50},
    QtKeyCode{Qt::Key_Backtab, 48},
};

template <std::size_t N>
std::optional<qint64> lookUp(const std::array<QtKeyCode, N>& table, int qtKey)
{
    for (const QtKeyCode& e : table) {
        if (e.qtKey == qtKey)
            return e.code;
    }
    return std::nullopt;
}

} // namespace

std::optional<quint32> KeyCodeMap::keysym(qint64 keyCode)
{
    for (const KeyEntry& e : kKeys) {
        if (e.code == keyCode)
            return e.keysym;
    }
    return std::nullopt;
}

std::optional<qint64> KeyCodeMap::keyCode(quint32 keysym)
{
    // An event read with Shift may carry the capital letter.
    if (keysym >= 0x0041 && keysym <= 0x005a) // XK_A ... XK_Z
        keysym += 0x0061 - 0x0041;              // to XK_a ... XK_z
    for (const KeyEntry& e : kKeys) {
        if (e.keysym == keysym)
            return e.code;
    }
    return std::nullopt;
}

quint32 KeyCodeMap::x11Modifiers(qint64 modifierBits)
{
    quint32 mask = 0;
    if (modifierBits & controlBit)
        mask |= x11ControlMask;
    if (modifierBits & optionBit)
        mask |= x11Mod1Mask;
    if (modifierBits & shiftBit)
        mask |= x11ShiftMask;
    if (modifierBits & commandBit)
        mask |= x11Mod4Mask;
    return mask;
}

qint64 KeyCodeMap::modifierBits(Qt::KeyboardModifiers modifiers)
{
    qint64 bits = 0;
    if (modifiers & Qt::ControlModifier)
        bits |= controlBit;
    if (modifiers & Qt::AltModifier)
        bits |= optionBit;
    if (modifiers & Qt::ShiftModifier)
        bits |= shiftBit;
    if (modifiers & Qt::MetaModifier)
        bits |= commandBit;
    return bits;
}

std::optional<qint64> KeyCodeMap::keyCode(Qt::Key key, Qt::KeyboardModifiers modifiers)
{
    if (key == Qt::Key_Enter) // only the keypad has one
        return 76;
    if (modifiers & Qt::KeypadModifier) {
        if (auto code = lookUp(kKeypadKeys, key))
            return code;
    }
    if (modifiers & Qt::ShiftModifier) {
        if (auto code = lookUp(kShiftedKeys, key))
            return code;
    }
    for (const KeyEntry& e : kKeys) {
        if (e.qtKey != 0 && e.qtKey == key)
            return e.code;
    }
    return std::nullopt;
}

} // namespace corvessa
