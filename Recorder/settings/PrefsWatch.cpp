#include "settings/PrefsWatch.h"

#include "prefs/Prefs.h"

namespace corvessa {

void PrefsWatch::on(QObject* context, Prefs& prefs, const QList<Prefs::Key>& keys, const std::function<void()>& refresh)
{
    QObject::connect(&prefs, &Prefs::changed, context, [keys, refresh](Prefs::Key key) {
        if (keys.contains(key))
            refresh();
    });
    refresh();
}

} // namespace corvessa
