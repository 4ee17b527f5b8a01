#include "settings/PrefsSwitch.h"

#include "prefs/Prefs.h"
#include "settings/PrefsWatch.h"

#include <QSignalBlocker>

namespace corvessa {

PrefsSwitch::PrefsSwitch(Prefs& prefs, Prefs::Key key, QWidget* parent)
    : QCheckBox(parent)
{
    setAccessibleName(Prefs::name(key));
    PrefsWatch::on(this, prefs, {key}, [this, &prefs, key] {
        const QSignalBlocker block(this);
        setChecked(std::get<bool>(prefs.value(key)));
    });
    connect(this, &QCheckBox::toggled, this, [&prefs, key](bool on) { prefs.set(key, on); });
}

} // namespace corvessa
