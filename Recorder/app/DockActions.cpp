#include "app/DockActions.h"

#include "app/MenuBuilders.h"
#include "model/RecorderModel.h"

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
        // The menu offers start when no recording runs, the others only while one does.
        say(QStringLiteral("[dock] ") + id
            + (id == QLatin1String("start") ? QStringLiteral(" is not offered now (a recording runs)")
                                             : QStringLiteral(" is not offered now (no recording runs)")));
        return false;
    }
    if (!row->enabled) {
        say(QStringLiteral("[dock] ") + id + QStringLiteral(" is disabled now (a recording is under way)"));
        return false;
    }
    say(QStringLiteral("[dock] ") + id);
    const RecorderModel* model = m_builders->context().model;
    if (id == QLatin1String("start") && model && !model->phase().is(RecorderPhase::Kind::ready))
        say(QStringLiteral("[dock] start brings the bar up but starts nothing while the last recording's row "
                           "shows; Record on the bar, or the start hot key, starts the next one"));
    if (row->action)
        row->action();
    return true;
}

} // namespace corvessa
