#include "app/LaunchArguments.h"

#include "app/DockActions.h"

namespace corvessa {

LaunchArguments LaunchArguments::parse(const QStringList& arguments)
{
    LaunchArguments result;
    const QString option = QStringLiteral("--action");
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& arg = arguments[i];
        std::optional<QString> id;
        if (arg == option) {
            if (i + 1 >= arguments.size()) {
                result.error = QStringLiteral("--action needs one of: ") + DockActions::ids().join(QStringLiteral(", "));
                return result;
            }
            id = arguments[++i];
        } else if (arg.startsWith(option + QLatin1Char('='))) {
            id = arg.mid(option.size() + 1);
        } else {
            continue;
        }
        if (!DockActions::ids().contains(*id)) {
            result.error = QStringLiteral("unknown action \"") + id->left(64) + QStringLiteral("\"; expected one of: ")
                + DockActions::ids().join(QStringLiteral(", "));
            result.action.reset();
            return result;
        }
        result.action = id;
    }
    return result;
}

QString LaunchArguments::message() const
{
    return action ? QStringLiteral("action:") + *action : QStringLiteral("reopen");
}

} // namespace corvessa
