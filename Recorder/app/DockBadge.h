#pragma once

#include "model/RecorderPhase.h"

#include <QString>

#include <optional>

namespace corvessa {

class LauncherBadge;

// The launcher badge's rule: "REC" while a recording runs or is paused, none
// in every other phase (a countdown has not started the movie yet and a
// finishing one has ended). Stateless.
class DockBadge {
public:
    DockBadge() = delete;

    static std::optional<QString> wanted(const RecorderPhase& phase);
    // Writes the wanted label, only when the badge shows something else;
    // whether it wrote.
    static bool apply(LauncherBadge& badge, const RecorderPhase& phase);
};

} // namespace corvessa
