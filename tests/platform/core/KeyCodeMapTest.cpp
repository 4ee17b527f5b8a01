#include "platform/core/KeyCodeMap.h"

#include <gtest/gtest.h>

#include <set>

using namespace corvessa;

// Keysym numbers are written out from keysymdef.h so the table is checked against
// the X11 values, not against itself.
TEST(KeyCodeMap, StoredKeyCodesGiveTheirKeysyms)
{
    struct Case {
        qint64 code;
        quint32 keysym;
        const char* what;
    };
    const Case cases[] = {
        {0, 0x61, "A"},          {11, 0x62, "B"},        {15, 0x72, "R"},        {6, 0x7a, "Z"},
        {16, 0x79, "Y"},         {29, 0x30, "0"},        {18, 0x31, "1"},        {23, 0x35, "5"},
        {22, 0x36, "6"},         {25, 0x39, "9"},        {122, 0xffbe, "F1"},    {120, 0xffbf, "F2"},
        {99, 0xffc0, "F3"},      {118, 0xffc1, "F4"},    {96, 0xffc2, "F5"},     {109, 0xffc7, "F10"},
        {103, 0xffc8, "F11"},    {111, 0xffc9, "F12"},   {90, 0xffd1, "F20"},    {123, 0xff51, "Left"},
        {126, 0xff52, "Up"},     {124, 0xff53, "Right"}, {125, 0xff54, "Down"},  {53, 0xff1b, "Escape"},
        {49, 0x20, "space"},     {36, 0xff0d, "Return"}, {48, 0xff09, "Tab"},    {51, 0xff08, "BackSpace"},
        {117, 0xffff, "Delete"}, {43, 0x2c, "comma"},    {42, 0x5c, "backslash"}, {39, 0x27, "apostrophe"},
        {33, 0x5b, "bracketleft"}, {30, 0x5d, "bracketright"}, {24, 0x3d, "equal"}, {27, 0x2d, "minus"},
        {50, 0x60, "grave"},     {82, 0xffb0, "KP_0"},   {83, 0xffb1, "KP_1"},   {76, 0xff8d, "KP_Enter"},
        {114, 0xff63, "Insert"}, {116, 0xff55, "Prior"}, {121, 0xff56, "Next"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(KeyCodeMap::keysym(c.code), c.keysym) << c.what;
        EXPECT_EQ(KeyCodeMap::keyCode(c.keysym), c.code) << c.what;
    }
}

TEST(KeyCodeMap, CodesWithoutAKeyGiveNothing)
{
    // 10 is the ISO-only section key, 55..63 are modifier keys, 71 the keypad
    // Clear (Num Lock); none of them can be grabbed as a shortcut.
    for (qint64 code : {10LL, 55LL, 56LL, 57LL, 58LL, 59LL, 63LL, 71LL, 127LL, 128LL, -1LL, 1LL << 40})
        EXPECT_EQ(KeyCodeMap::keysym(code), std::nullopt) << code;
    EXPECT_EQ(KeyCodeMap::keyCode(quint32(0xffe3)), std::nullopt); // Control_L
    EXPECT_EQ(KeyCodeMap::keyCode(quint32(0x21)), std::nullopt);   // exclam
}

TEST(KeyCodeMap, TheTableIsOneToOne)
{
    std::set<quint32> keysyms;
    for (qint64 code = 0; code < 128; ++code) {
        const auto sym = KeyCodeMap::keysym(code);
        if (!sym)
            continue;
        EXPECT_TRUE(keysyms.insert(*sym).second) << "keysym " << *sym << " used twice";
        EXPECT_EQ(KeyCodeMap::keyCode(*sym), code);
    }
    EXPECT_GE(keysyms.size(), 64u);
}

TEST(KeyCodeMap, CapitalLetterKeysymsGiveTheLetterKey)
{
    EXPECT_EQ(KeyCodeMap::keyCode(quint32(0x41)), 0);  // A
    EXPECT_EQ(KeyCodeMap::keyCode(quint32(0x52)), 15); // R
    EXPECT_EQ(KeyCodeMap::keyCode(quint32(0x5a)), 6);  // Z
}

TEST(KeyCodeMap, ModifierBitsBecomeX11Masks)
{
    EXPECT_EQ(KeyCodeMap::x11Modifiers(0x1000), 4u);  // ControlMask
    EXPECT_EQ(KeyCodeMap::x11Modifiers(0x800), 8u);   // Mod1Mask
    EXPECT_EQ(KeyCodeMap::x11Modifiers(0x200), 1u);   // ShiftMask
    EXPECT_EQ(KeyCodeMap::x11Modifiers(0x100), 64u);  // Mod4Mask
    EXPECT_EQ(KeyCodeMap::x11Modifiers(0x1800), 12u); // the default control + option
    EXPECT_EQ(KeyCodeMap::x11Modifiers(0x1B00), 77u);
    EXPECT_EQ(KeyCodeMap::x11Modifiers(0), 0u);
    // Bits this program never writes (Caps Lock 0x400, others) are not grabbed.
    EXPECT_EQ(KeyCodeMap::x11Modifiers(0x400 | 0x10000 | 0x1000), 4u);
}

TEST(KeyCodeMap, QtModifiersBecomeStoredBits)
{
    EXPECT_EQ(KeyCodeMap::modifierBits(Qt::ControlModifier | Qt::MetaModifier), 0x1100);
    EXPECT_EQ(KeyCodeMap::modifierBits(Qt::ControlModifier | Qt::AltModifier), 0x1800);
    EXPECT_EQ(KeyCodeMap::modifierBits(Qt::ShiftModifier), 0x200);
    EXPECT_EQ(KeyCodeMap::modifierBits(Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier | Qt::MetaModifier),
              0x1B00);
    EXPECT_EQ(KeyCodeMap::modifierBits(Qt::KeypadModifier), 0);
    EXPECT_EQ(KeyCodeMap::modifierBits(Qt::GroupSwitchModifier), 0);
    EXPECT_EQ(KeyCodeMap::modifierBits(Qt::NoModifier), 0);
}

TEST(KeyCodeMap, QtKeyPressesGiveStoredKeyCodes)
{
    const auto ctrlAlt = Qt::ControlModifier | Qt::AltModifier;
    EXPECT_EQ(KeyCodeMap::keyCode(Qt::Key_A, Qt::NoModifier), 0);
    EXPECT_EQ(KeyCodeMap::keyCode(Qt::Key_R, ctrlAlt), 15);
    EXPECT_EQ(KeyCodeMap::keyCode(Qt::Key_1, ctrlAlt), 18);
    EXPECT_EQ(KeyCodeMap::keyCode(Qt::Key_0, Qt::ControlModifier), 29);
    EXPECT_EQ(KeyCodeMap::keyCode(Qt::Key_BracketRight, ctrlAlt), 30);
    EXPECT_EQ(KeyCodeMap::keyCode(Qt::Key_F1, Qt::ControlModifier), 122);
    EXPECT_EQ(KeyCodeMap::keyCode(Qt::Key_F12, Qt::ControlModifier), 111);
    EXPECT_EQ(KeyCodeMap::keyCode(Qt::Key_Left, Qt::ControlModifier), 123);
    EXPECT_EQ(KeyCodeMap::keyCode(Qt::Key_Down, Qt::ControlModifier), 125);
    EXPECT_EQ(KeyCodeMap::keyCode(Qt::Key_Escape, Qt::NoModifier), 53);
    EXPECT_EQ(KeyCodeMap::keyCode(Qt::Key_Space, Qt::ControlModifier), 49);
    EXPECT_EQ(KeyCodeMap::keyCode(Qt::Key_Return, Qt::ControlModifier), 36);
    EXPECT_EQ(KeyCodeMap::keyCode(Qt::Key_QuoteLeft, Qt::ControlModifier), 50);
}

TEST(KeyCodeMap, ShiftedSymbolsGiveTheKeyTheySitOn)
{
    const auto ctrlShift = Qt::ControlModifier | Qt::ShiftModifier;
    EXPECT_EQ(KeyCodeMap::keyCode(Qt::Key_Exclam, ctrlShift), 18);     // 1
    EXPECT_EQ(KeyCodeMap::keyCode(Qt::Key_ParenRight, ctrlShift), 29); // 0
    EXPECT_EQ(KeyCodeMap::keyCode(Qt::Key_BraceLeft, ctrlShift), 33);  // [
    EXPECT_EQ(KeyCodeMap::keyCode(Qt::Key_Plus, ctrlShift), 24);       // =
    EXPECT_EQ(KeyCodeMap::keyCode(Qt::Key_Question, ctrlShift), 44);   // /
    EXPECT_EQ(KeyCodeMap::keyCode(Qt::Key_Backtab, ctrlShift), 48);    // Tab
    // Letters are reported as capitals with or without Shift.
    EXPECT_EQ(KeyCodeMap::keyCode(Qt::Key_A, ctrlShift), 0);
    // Without Shift such a symbol comes from another layout: no guess is made.
    EXPECT_EQ(KeyCodeMap::keyCode(Qt::Key_Exclam, Qt::ControlModifier), std::nullopt);
}

TEST(KeyCodeMap, KeypadKeysKeepTheirOwnCodes)
{
    const auto keypad = Qt::ControlModifier | Qt::KeypadModifier;
    EXPECT_EQ(KeyCodeMap::keyCode(Qt::Key_1, keypad), 83);
    EXPECT_EQ(KeyCodeMap::keyCode(Qt::Key_0, keypad), 82);
    EXPECT_EQ(KeyCodeMap::keyCode(Qt::Key_8, keypad), 91);
    EXPECT_EQ(KeyCodeMap::keyCode(Qt::Key_Plus, keypad), 69);
    EXPECT_EQ(KeyCodeMap::keyCode(Qt::Key_Asterisk, keypad), 67);
    EXPECT_EQ(KeyCodeMap::keyCode(Qt::Key_Enter, keypad), 76);
    EXPECT_EQ(KeyCodeMap::keyCode(Qt::Key_Enter, Qt::NoModifier), 76);
    // Num Lock off: the keypad's Home is the Home key.
    EXPECT_EQ(KeyCodeMap::keyCode(Qt::Key_Home, keypad), 115);
}

TEST(KeyCodeMap, BareModifierKeysAreNotShortcutKeys)
{
    for (Qt::Key key : {Qt::Key_Control, Qt::Key_Shift, Qt::Key_Alt, Qt::Key_Meta, Qt::Key_Super_L, Qt::Key_CapsLock,
                        Qt::Key_AltGr, Qt::Key_unknown})
        EXPECT_EQ(KeyCodeMap::keyCode(key, Qt::ControlModifier), std::nullopt) << key;
}

TEST(KeyCodeMap, RecordedKeysCanBeGrabbed)
{
    // Whatever a key press records must map to a keysym at grab time.
    for (int key = Qt::Key_Space; key <= Qt::Key_AsciiTilde; ++key) {
        for (auto mods : {Qt::KeyboardModifiers(Qt::ControlModifier), Qt::ControlModifier | Qt::ShiftModifier,
                          Qt::ControlModifier | Qt::KeypadModifier}) {
            if (const auto code = KeyCodeMap::keyCode(Qt::Key(key), mods)) {
                EXPECT_TRUE(KeyCodeMap::keysym(*code).has_value()) << key;
            }
        }
    }
    for (int key = Qt::Key_Escape; key <= Qt::Key_F20; ++key) {
        if (const auto code = KeyCodeMap::keyCode(Qt::Key(key), Qt::ControlModifier)) {
            EXPECT_TRUE(KeyCodeMap::keysym(*code).has_value()) << key;
        }
    }
}
