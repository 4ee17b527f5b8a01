#include "prefs/KeyBinding.h"

#include "prefs/Loc.h"

#include <array>
#include <utility>

namespace corvessa {

namespace {

const QString kKeyCodeMember = QStringLiteral("keyCode");
const QString kModifiersMember = QStringLiteral("modifiers");

// The fixed key names; "Space" and "Return" are added by names() in the
// interface language.
constexpr std::array<std::pair<qint64, const char*>, 62> kFixedNames{{
    {0, "A"}, {11, "B"}, {8, "C"}, {2, "D"}, {14, "E"}, {3, "F"}, {5, "G"}, {4, "H"}, {34, "I"},
    {38, "J"}, {40, "K"}, {37, "L"}, {46, "M"}, {45, "N"}, {31, "O"}, {35, "P"}, {12, "Q"}, {15, "R"},
    {1, "S"}, {17, "T"}, {32, "U"}, {9, "V"}, {13, "W"}, {7, "X"}, {16, "Y"}, {6, "Z"},
    {29, "0"}, {18, "1"}, {19, "2"}, {20, "3"}, {21, "4"}, {23, "5"}, {22, "6"}, {26, "7"}, {28, "8"},
    {25, "9"},
    {123, "\u2190"}, {124, "\u2192"}, {126, "\u2191"}, {125, "\u2193"},
    {122, "F1"}, {120, "F2"}, {99, "F3"}, {118, "F4"}, {96, "F5"}, {97, "F6"}, {98, "F7"}, {100, "F8"},
    {101, "F9"}, {109, "F10"}, {103, "F11"}, {111, "F12"},
    {43, ","}, {47, "."}, {44, "/"}, {41, ";"}, {39, "'"}, {33, "["}, {30, "]"}, {27, "-"}, {24, "="},
    {42, "\\"},
}};

// A JSON number that is a whole qint64; anything else (fractions, text, true,
// null, numbers out of range) is not a key code.
std::optional<qint64> integerMember(const QJsonObject& object, const QString& name)
{
    const QJsonValue v = object.value(name);
    if (!v.isDouble())
        return std::nullopt;
    const qint64 a = v.toInteger(0);
    const qint64 b = v.toInteger(1);
    if (a != b)
        return std::nullopt;
    return a;
}

} // namespace

KeyBinding KeyBinding::defaultFor(HotKeyAction action)
{
    return {HotKeyActions::defaultKeyCode(action), HotKeyActions::defaultModifiers};
}

QString KeyBinding::display() const
{
    QString s;
    if (modifiers & control)
        s += u'\u2303';
    if (modifiers & option)
        s += u'\u2325';
    if (modifiers & shift)
        s += u'\u21E7';
    if (modifiers & command)
        s += u'\u2318';
    return s + keyName(keyCode);
}

std::optional<KeyBinding> KeyBinding::bound(const std::map<HotKeyAction, KeyBinding>& bindings, HotKeyAction action)
{
    const auto found = bindings.find(action);
    if (found == bindings.end())
        return std::nullopt;
    return found->second;
}

std::map<qint64, QString> KeyBinding::names()
{
    std::map<qint64, QString> map;
    for (const auto& [code, name] : kFixedNames)
        map.emplace(code, QString::fromUtf8(name));
    map.emplace(49, Loc::text("Space"));
    map.emplace(36, Loc::text("Return"));
    return map;
}

QString KeyBinding::keyName(qint64 code)
{
    const std::map<qint64, QString> map = names();
    if (const auto it = map.find(code); it != map.end())
        return it->second;
    return Loc::fill(Loc::text("Key %@"), code);
}

qint64 KeyBinding::carbon(Qt::KeyboardModifiers modifiers)
{
    return KeyCodeMap::modifierBits(modifiers);
}

QJsonObject KeyBinding::toJson() const
{
    return QJsonObject{{kKeyCodeMember, keyCode}, {kModifiersMember, modifiers}};
}

std::optional<KeyBinding> KeyBinding::fromJson(const QJsonValue& value)
{
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject o = value.toObject();
    const auto code = integerMember(o, kKeyCodeMember);
    const auto mods = integerMember(o, kModifiersMember);
    if (!code || !mods)
        return std::nullopt;
    return KeyBinding{*code, *mods};
}

QString KeyBinding::keyEquivalent() const
{
    QString key = keyName(keyCode);
    if (key.size() != 1)
        return {};
    // The arrow keys are named by their symbols; a key sequence names them in words.
    static const std::map<QChar, QString> arrows{{QChar(0x2190), QStringLiteral("Left")},
                                                 {QChar(0x2192), QStringLiteral("Right")},
                                                 {QChar(0x2191), QStringLiteral("Up")},
                                                 {QChar(0x2193), QStringLiteral("Down")}};
    if (const auto arrow = arrows.find(key.front()); arrow != arrows.end())
        key = arrow->second;
    else
        key = key.toLower();
    QString text;
    if (modifiers & control)
        text += QStringLiteral("Ctrl+");
    if (modifiers & option)
        text += QStringLiteral("Alt+");
    if (modifiers & shift)
        text += QStringLiteral("Shift+");
    if (modifiers & command)
        text += QStringLiteral("Meta+");
    return text + key;
}

QString KeyBinding::keyEquivalent(const KeyBindingMap& bindings, HotKeyAction action)
{
    const auto binding = bound(bindings, action);
    return binding ? binding->keyEquivalent() : QString();
}

} // namespace corvessa
