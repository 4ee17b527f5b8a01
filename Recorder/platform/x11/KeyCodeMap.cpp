#include "platform/x11/KeyCodeMap.h"

// Header-only: these define keysym numbers and nothing else.
#include <X11/XF86keysym.h>
#include <X11/keysym.h>

#include <array>

namespace corvessa {

namespace {

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
    KeyEntry{0, XK_a, Qt::Key_A}, KeyEntry{11, XK_b, Qt::Key_B}, KeyEntry{8, XK_c, Qt::Key_C},
    KeyEntry{2, XK_d, Qt::Key_D}, KeyEntry{14, XK_e, Qt::Key_E}, KeyEntry{3, XK_f, Qt::Key_F},
    KeyEntry{5, XK_g, Qt::Key_G}, KeyEntry{4, XK_h, Qt::Key_H}, KeyEntry{34, XK_i, Qt::Key_I},
    KeyEntry{38, XK_j, Qt::Key_J}, KeyEntry{40, XK_k, Qt::Key_K}, KeyEntry{37, XK_l, Qt::Key_L},
    KeyEntry{46, XK_m, Qt::Key_M}, KeyEntry{45, XK_n, Qt::Key_N}, KeyEntry{31, XK_o, Qt::Key_O},
    KeyEntry{35, XK_p, Qt::Key_P}, KeyEntry{12, XK_q, Qt::Key_Q}, KeyEntry{15, XK_r, Qt::Key_R},
    KeyEntry{1, XK_s, Qt::Key_S}, KeyEntry{17, XK_t, Qt::Key_T}, KeyEntry{32, XK_u, Qt::Key_U},
    KeyEntry{9, XK_v, Qt::Key_V}, KeyEntry{13, XK_w, Qt::Key_W}, KeyEntry{7, XK_x, Qt::Key_X},
    KeyEntry{16, XK_y, Qt::Key_Y}, KeyEntry{6, XK_z, Qt::Key_Z},
    // Digits of the main row.
    KeyEntry{29, XK_0, Qt::Key_0}, KeyEntry{18, XK_1, Qt::Key_1}, KeyEntry{19, XK_2, Qt::Key_2},
    KeyEntry{20, XK_3, Qt::Key_3}, KeyEntry{21, XK_4, Qt::Key_4}, KeyEntry{23, XK_5, Qt::Key_5},
    KeyEntry{22, XK_6, Qt::Key_6}, KeyEntry{26, XK_7, Qt::Key_7}, KeyEntry{28, XK_8, Qt::Key_8},
    KeyEntry{25, XK_9, Qt::Key_9},
    // Punctuation.
    KeyEntry{43, XK_comma, Qt::Key_Comma}, KeyEntry{47, XK_period, Qt::Key_Period},
    KeyEntry{44, XK_slash, Qt::Key_Slash}, KeyEntry{41, XK_semicolon, Qt::Key_Semicolon},
    KeyEntry{39, XK_apostrophe, Qt::Key_Apostrophe}, KeyEntry{33, XK_bracketleft, Qt::Key_BracketLeft},
    KeyEntry{30, XK_bracketright, Qt::Key_BracketRight}, KeyEntry{27, XK_minus, Qt::Key_Minus},
    KeyEntry{24, XK_equal, Qt::Key_Equal}, KeyEntry{42, XK_backslash, Qt::Key_Backslash},
    KeyEntry{50, XK_grave, Qt::Key_QuoteLeft},
    // Whitespace and editing.
    KeyEntry{49, XK_space, Qt::Key_Space}, KeyEntry{36, XK_Return, Qt::Key_Return},
    KeyEntry{48, XK_Tab, Qt::Key_Tab}, KeyEntry{51, XK_BackSpace, Qt::Key_Backspace},
    KeyEntry{53, XK_Escape, Qt::Key_Escape}, KeyEntry{117, XK_Delete, Qt::Key_Delete},
    KeyEntry{114, XK_Insert, Qt::Key_Insert},
    // Navigation.
    KeyEntry{115, XK_Home, Qt::Key_Home}, KeyEntry{119, XK_End, Qt::Key_End},
    KeyEntry{116, XK_Page_Up, Qt::Key_PageUp}, KeyEntry{121, XK_Page_Down, Qt::Key_PageDown},
    KeyEntry{123, XK_Left, Qt::Key_Left}, KeyEntry{124, XK_Right, Qt::Key_Right},
    KeyEntry{126, XK_Up, Qt::Key_Up}, KeyEntry{125, XK_Down, Qt::Key_Down},
    // Function keys.
    KeyEntry{122, XK_F1, Qt::Key_F1}, KeyEntry{120, XK_F2, Qt::Key_F2}, KeyEntry{99, XK_F3, Qt::Key_F3},
    KeyEntry{118, XK_F4, Qt::Key_F4}, KeyEntry{96, XK_F5, Qt::Key_F5}, KeyEntry{97, XK_F6, Qt::Key_F6},
    KeyEntry{98, XK_F7, Qt::Key_F7}, KeyEntry{100, XK_F8, Qt::Key_F8}, KeyEntry{101, XK_F9, Qt::Key_F9},
    KeyEntry{109, XK_F10, Qt::Key_F10}, KeyEntry{103, XK_F11, Qt::Key_F11}, KeyEntry{111, XK_F12, Qt::Key_F12},
    KeyEntry{105, XK_F13, Qt::Key_F13}, KeyEntry{107, XK_F14, Qt::Key_F14}, KeyEntry{113, XK_F15, Qt::Key_F15},
    KeyEntry{106, XK_F16, Qt::Key_F16}, KeyEntry{64, XK_F17, Qt::Key_F17}, KeyEntry{79, XK_F18, Qt::Key_F18},
    KeyEntry{80, XK_F19, Qt::Key_F19}, KeyEntry{90, XK_F20, Qt::Key_F20},
    // Media keys.
    KeyEntry{72, XF86XK_AudioRaiseVolume, Qt::Key_VolumeUp},
    KeyEntry{73, XF86XK_AudioLowerVolume, Qt::Key_VolumeDown},
    KeyEntry{74, XF86XK_AudioMute, Qt::Key_VolumeMute},
    // Keypad; Qt reports these as ordinary keys with KeypadModifier.
    KeyEntry{82, XK_KP_0, 0}, KeyEntry{83, XK_KP_1, 0}, KeyEntry{84, XK_KP_2, 0}, KeyEntry{85, XK_KP_3, 0},
    KeyEntry{86, XK_KP_4, 0}, KeyEntry{87, XK_KP_5, 0}, KeyEntry{88, XK_KP_6, 0}, KeyEntry{89, XK_KP_7, 0},
    KeyEntry{91, XK_KP_8, 0}, KeyEntry{92, XK_KP_9, 0}, KeyEntry{65, XK_KP_Decimal, 0},
    KeyEntry{67, XK_KP_Multiply, 0}, KeyEntry{69, XK_KP_Add, 0}, KeyEntry{78, XK_KP_Subtract, 0},
    KeyEntry{75, XK_KP_Divide, 0}, KeyEntry{76, XK_KP_Enter, 0}, KeyEntry{81, XK_KP_Equal, 0},
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
    if (keysym >= XK_A && keysym <= XK_Z)
        keysym += XK_a - XK_A;
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
