#include "prefs/KeyBinding.h"

#include "prefs/Loc.h"

#include <QKeySequence>
#include <QStringList>

#include <algorithm>
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

// The modifiers in the order they are written, with the symbols the stored
// texts use for them and the names a Linux user reads ("Super" is the
// command key, grabbed as Mod4).
struct ModifierName {
    qint64 bit;
    char16_t symbol;
    const char* name;
};
constexpr std::array<ModifierName, 4> kModifierNames{{
    {KeyBinding::control, u'\u2303', "Ctrl"},
    {KeyBinding::option, u'\u2325', "Alt"},
    {KeyBinding::shift, u'\u21E7', "Shift"},
    {KeyBinding::command, u'\u2318', "Super"},
}};

const ModifierName* modifierForSymbol(QChar c)
{
    for (const ModifierName& m : kModifierNames) {
        if (c.unicode() == m.symbol)
            return &m;
    }
    return nullptr;
}

// Whether `c`, written right after modifier symbols, is the key they go with
// ("⌃⌥]", "⌃⌥R") rather than the rest of a sentence that names a modifier on
// its own ("⌘ or ⌃, or", "⌃。", a Korean particle in "⌃를").
bool startsKey(QChar c)
{
    static const QString sentence = QStringLiteral(",.;:!?\"')");
    static const QString arrows = QStringLiteral("\u2190\u2192\u2191\u2193");
    if (c.unicode() < 128)
        return !c.isSpace() && !sentence.contains(c);
    return arrows.contains(c);
}

// "Ctrl+Alt+" for the bits set, in the written order.
QString modifierPrefix(qint64 modifiers)
{
    QString s;
    for (const ModifierName& m : kModifierNames) {
        if (modifiers & m.bit)
            s += QLatin1String(m.name) + u'+';
    }
    return s;
}

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
    return modifierPrefix(modifiers) + keyName(keyCode);
}

QString KeyBinding::linuxForm(const QString& text)
{
    const auto symbol = std::find_if(text.cbegin(), text.cend(), [](QChar c) { return modifierForSymbol(c) != nullptr; });
    if (symbol == text.cend())
        return text;
    QString out;
    out.reserve(text.size() + 16);
    for (qsizetype i = 0; i < text.size();) {
        if (!modifierForSymbol(text.at(i))) {
            out += text.at(i++);
            continue;
        }
        QStringList names;
        while (i < text.size()) {
            const ModifierName* m = modifierForSymbol(text.at(i));
            if (!m)
                break;
            names.append(QLatin1String(m->name));
            ++i;
        }
        out += names.join(u'+');
        if (i < text.size() && startsKey(text.at(i)))
            out += u'+';
    }
    return out;
}

QString KeyBinding::menuText(const QString& portable)
{
    const QKeySequence sequence(portable, QKeySequence::PortableText);
    if (sequence.isEmpty())
        return {};
    const QKeyCombination combination = sequence[0];
    const QString key = QKeySequence(combination.key()).toString(QKeySequence::NativeText);
    return modifierPrefix(KeyCodeMap::modifierBits(combination.keyboardModifiers())) + key;
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

void KeyBinding::setMenuKey(QAction& action, const QString& title, const QString& portable)
{
    const QKeySequence sequence(portable, QKeySequence::PortableText);
    action.setShortcut(sequence);
    const QString ours = menuText(portable);
    const bool differs = !ours.isEmpty() && ours != sequence.toString(QKeySequence::NativeText);
    action.setText(differs ? title + u'\t' + ours : title);
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
    // Qt's portable name of the Super key is "Meta".
    QString text = modifierPrefix(modifiers);
    text.replace(QLatin1String("Super+"), QLatin1String("Meta+"));
    return text + key;
}

QString KeyBinding::keyEquivalent(const KeyBindingMap& bindings, HotKeyAction action)
{
    const auto binding = bound(bindings, action);
    return binding ? binding->keyEquivalent() : QString();
}

} // namespace corvessa
