#include "settings/PrefsWatch.h"

#include "prefs/Prefs.h"

namespace corvessa {

void PrefsWatch::on(QObject* context, Prefs& prefs, const QStringList& names, const std::function<void()>& refresh)
{
    QObject::connect(&prefs, &Prefs::changed, context, [names, refresh](const QString& name) {
        if (names.contains(name))
            refresh();
    });
    refresh();
}

} // namespace corvessa
