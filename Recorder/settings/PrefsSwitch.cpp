#include "settings/PrefsSwitch.h"

#include "prefs/Prefs.h"
#include "settings/PrefsWatch.h"

#include <QSignalBlocker>

namespace corvessa {

PrefsSwitch::PrefsSwitch(Prefs& prefs, const QString& name, std::function<bool(const Prefs&)> get,
                         std::function<void(Prefs&, bool)> set, QWidget* parent)
    : QCheckBox(parent)
{
    setAccessibleName(name);
    PrefsWatch::on(this, prefs, {name}, [this, &prefs, get] {
        const QSignalBlocker block(this);
        setChecked(get(prefs));
    });
    connect(this, &QCheckBox::toggled, this, [&prefs, set](bool on) { set(prefs, on); });
}

} // namespace corvessa
