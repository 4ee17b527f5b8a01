#include "app/DockActions.h"

#include "app/MenuBuilders.h"

#include <utility>

namespace corvessa {

const QStringList& DockActions::ids()
{
    static const QStringList list{QStringLiteral("start"),   QStringLiteral("pause"),     QStringLiteral("stop"),
                                  QStringLiteral("restart"), QStringLiteral("cancel"),    QStringLiteral("toggleBar"),
                                  QStringLiteral("settings")};
    return list;
}

DockActions::DockActions(std::shared_ptr<const MenuBuilders> builders, std::function<void(const QString&)> log)
    : m_builders(std::move(builders))
    , m_log(std::move(log))
{
}

bool DockActions::run(const QString& id) const
{
    const auto say = [this](const QString& line) {
        if (m_log)
            m_log(line);
    };
    if (!ids().contains(id)) {
        say(QStringLiteral("[dock] unknown action \"") + id.left(64) + QStringLiteral("\""));
        return false;
    }
    // The menu as it stands now decides, exactly as if it had been opened.
    const MenuNodes menu = m_builders->dockMenu();
    const MenuNode* row = MenuNode::find(menu, id);
    if (!row) {
        say(QStringLiteral("[dock] ") + id + QStringLiteral(" is not offered now (no recording runs)"));
        return false;
    }
    if (!row->enabled) {
        say(QStringLiteral("[dock] ") + id + QStringLiteral(" is disabled now (a recording is under way)"));
        return false;
    }
    say(QStringLiteral("[dock] ") + id);
    if (row->action)
        row->action();
    return true;
}

} // namespace corvessa
