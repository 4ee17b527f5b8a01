#pragma once

#include <QString>

#include <memory>
#include <optional>

namespace corvessa {

// The short label on the program's launcher icon (a dock or task bar entry).
// Backends: UnityLauncherBadge (the com.canonical.Unity.LauncherEntry signal
// on the session bus, which docks and task bars of most desktops follow) and
// SyntheticLauncherBadge, which only keeps the label, where there is no
// session bus and in tests. Main thread.
class LauncherBadge {
public:
    virtual ~LauncherBadge() = default;

    // The label last written; nothing when none shows.
    virtual std::optional<QString> label() const = 0;
    virtual void setLabel(const QString& label) = 0;
    virtual void clear() = 0;

    // The process-wide service; setCurrent(nullptr) goes back to the automatic choice.
    static std::shared_ptr<LauncherBadge> current();
    static void setCurrent(std::shared_ptr<LauncherBadge> badge);
};

} // namespace corvessa
