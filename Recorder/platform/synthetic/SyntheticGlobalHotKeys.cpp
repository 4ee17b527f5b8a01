#include "platform/synthetic/SyntheticGlobalHotKeys.h"

#include "platform/core/KeyCodeMap.h"

namespace corvessa {

SyntheticGlobalHotKeys::Combination SyntheticGlobalHotKeys::normalized(qint64 keyCode, qint64 modifiers)
{
    constexpr qint64 counted =
        KeyCodeMap::commandBit | KeyCodeMap::shiftBit | KeyCodeMap::optionBit | KeyCodeMap::controlBit;
    return {keyCode, modifiers & counted};
}

GlobalHotKeys::Status SyntheticGlobalHotKeys::registerKey(int id, qint64 keyCode, qint64 modifiers)
{
    unregisterKey(id);
    if (!KeyCodeMap::keysym(keyCode))
        return Status::unmappable;
    const Combination c = normalized(keyCode, modifiers);
    if (m_external.contains(c))
        return Status::taken;
    for (const auto& [other, held] : m_registrations) {
        if (held == c)
            return Status::duplicate;
    }
    m_registrations[id] = c;
    return Status::registered;
}

void SyntheticGlobalHotKeys::unregisterKey(int id)
{
    m_registrations.erase(id);
}

bool SyntheticGlobalHotKeys::isRegistered(int id) const
{
    return m_registrations.contains(id);
}

int SyntheticGlobalHotKeys::registrationCount() const
{
    return int(m_registrations.size());
}

void SyntheticGlobalHotKeys::holdExternally(qint64 keyCode, qint64 modifiers)
{
    m_external.insert(normalized(keyCode, modifiers));
}

void SyntheticGlobalHotKeys::releaseExternally(qint64 keyCode, qint64 modifiers)
{
    m_external.erase(normalized(keyCode, modifiers));
}

bool SyntheticGlobalHotKeys::press(qint64 keyCode, qint64 modifiers)
{
    const Combination c = normalized(keyCode, modifiers);
    for (const auto& [id, held] : m_registrations) {
        if (held == c) {
            pressed(id);
            return true;
        }
    }
    return false;
}

std::optional<std::pair<qint64, qint64>> SyntheticGlobalHotKeys::combination(int id) const
{
    auto it = m_registrations.find(id);
    if (it == m_registrations.end())
        return std::nullopt;
    return it->second;
}

} // namespace corvessa
