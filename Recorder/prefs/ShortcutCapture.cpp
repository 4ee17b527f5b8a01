#include "prefs/ShortcutCapture.h"

#include "platform/core/KeyCodeMap.h"
#include "prefs/HotKeyCenter.h"
#include "prefs/Loc.h"
#include "prefs/Prefs.h"

#include <QKeyEvent>

#include <algorithm>

namespace corvessa {

namespace {

bool isModifierKey(int key)
{
    switch (key) {
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Meta:
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
    case Qt::Key_Hyper_L:
    case Qt::Key_Hyper_R:
    case Qt::Key_CapsLock:
    case Qt::Key_NumLock:
    case Qt::Key_ScrollLock:
        return true;
    default:
        return false;
    }
}

} // namespace

ShortcutCapture::ShortcutCapture(Prefs& prefs, HotKeyCenter& center, QObject* parent)
    : QObject(parent)
    , m_prefs(prefs)
    , m_center(center)
{
}

ShortcutCapture::~ShortcutCapture()
{
    if (m_recording)
        m_center.setPaused(false);
}

void ShortcutCapture::setRecording(std::optional<HotKeyAction> action)
{
    if (action == m_recording)
        return;
    m_recording = action;
    m_center.setPaused(m_recording.has_value());
    emit recordingChanged();
}

bool ShortcutCapture::handle(const QKeyEvent& event)
{
    if (!m_recording)
        return false;
    const int key = event.key();
    if (isModifierKey(key))
        return true;
    const Qt::KeyboardModifiers modifiers = event.modifiers();
    const std::optional<qint64> code = KeyCodeMap::keyCode(Qt::Key(key), modifiers);
    if (code == KeyCodeMap::escapeKeyCode) {
        setRecording(std::nullopt);
        return true;
    }
    const qint64 bits = KeyBinding::carbon(modifiers);
    if (!(bits & (KeyBinding::command | KeyBinding::control))) {
        m_prefs.setHotkeyMessage(
            [] { return Loc::text(QStringLiteral("Include ⌘ or ⌃, or the shortcut won't work.")); });
        return true;
    }
    if (!code) {
        // A key outside our table (a dead key, a letter of another layout) could
        // be neither shown nor grabbed again after a restart.
        m_prefs.setHotkeyMessage([] {
            return Loc::text(QStringLiteral("This key can't be used for a shortcut. Please choose a different one."));
        });
        return true;
    }
    set(*m_recording, *code, bits);
    setRecording(std::nullopt);
    return true;
}

void ShortcutCapture::set(HotKeyAction action, qint64 keyCode, qint64 modifiers)
{
    const KeyBinding binding{keyCode, modifiers};
    const KeyBindingMap& bindings = m_prefs.bindings();
    for (HotKeyAction other : HotKeyActions::allCases()) {
        if (other == action)
            continue;
        auto it = bindings.find(other);
        if (it != bindings.end() && it->second == binding) {
            m_prefs.setHotkeyMessage([binding, other] {
                return Loc::fill(Loc::text(QStringLiteral("%@ is already used for “%@”. Please choose a different one.")),
                                 binding.display(), HotKeyActions::title(other));
            });
            return;
        }
    }

    std::optional<KeyBinding> old;
    if (auto it = bindings.find(action); it != bindings.end())
        old = it->second;
    m_prefs.setBinding(action, binding);
    const std::vector<HotKeyAction> failed = m_center.apply(m_prefs.bindings());
    if (std::find(failed.begin(), failed.end(), action) == failed.end()) {
        m_prefs.setHotkeyMessage(std::nullopt);
        return;
    }
    if (old)
        m_prefs.setBinding(action, *old);
    else
        m_prefs.removeBinding(action);
    m_center.apply(m_prefs.bindings());
    m_prefs.setHotkeyMessage([binding] {
        return Loc::fill(Loc::text(QStringLiteral("%@ is used by another app. Please choose a different one.")),
                         binding.display());
    });
}

} // namespace corvessa
