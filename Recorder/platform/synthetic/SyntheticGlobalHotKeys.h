#pragma once

#include "platform/GlobalHotKeys.h"

#include <map>
#include <optional>
#include <set>
#include <utility>

namespace corvessa {

// Hot keys without a window system: registrations follow the same rules as on
// X11 (unknown keys and our own duplicates are refused), combinations can be
// marked as held by other programs, and presses are made by calling press().
class SyntheticGlobalHotKeys : public GlobalHotKeys {
public:
    Status registerKey(int id, qint64 keyCode, qint64 modifiers) override;
    void unregisterKey(int id) override;
    bool isRegistered(int id) const override;
    int registrationCount() const override;

    // Another program takes or gives up the combination; our own registrations
    // keep what they hold, as on X11.
    void holdExternally(qint64 keyCode, qint64 modifiers);
    void releaseExternally(qint64 keyCode, qint64 modifiers);

    // A press of the combination: reports the identifier holding it, if any, and
    // returns whether one did.
    bool press(qint64 keyCode, qint64 modifiers);
    // Reports a press under any identifier, held or not, as a confused server
    // or a stale event would.
    void deliver(int id) { pressed(id); }

    // The combination id holds, modifiers reduced to the four that count.
    std::optional<std::pair<qint64, qint64>> combination(int id) const;

private:
    using Combination = std::pair<qint64, qint64>;
    static Combination normalized(qint64 keyCode, qint64 modifiers);

    std::map<int, Combination> m_registrations;
    std::set<Combination> m_external;
};

} // namespace corvessa
