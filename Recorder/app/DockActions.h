#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

namespace corvessa {

class MenuBuilders;

// The launcher's actions (the Dock menu on Linux: the desktop file's actions,
// which reach the running program as "action:<id>"). Each id is a row of the
// Dock menu and follows that row's enabling at the moment it arrives; a row
// that is disabled or absent now does nothing and says why in the log. Main
// thread.
class DockActions {
public:
    // start, pause (pause or continue), stop, restart, cancel, toggleBar, settings.
    static const QStringList& ids();

    DockActions(std::shared_ptr<const MenuBuilders> builders, std::function<void(const QString&)> log);

    // True when the action ran.
    bool run(const QString& id) const;

private:
    std::shared_ptr<const MenuBuilders> m_builders;
    std::function<void(const QString&)> m_log;
};

} // namespace corvessa
