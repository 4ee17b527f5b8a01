#pragma once

#include "prefs/Prefs.h"

#include <QCheckBox>

namespace corvessa {

// An on/off control without a label of its own, bound to one on/off
// preference: it shows the stored value, follows its changes and stores a
// toggle at once. Its accessible name is the preference's name. Main thread;
// the preferences outlive it.
class PrefsSwitch : public QCheckBox {
    Q_OBJECT
public:
    PrefsSwitch(Prefs& prefs, Prefs::Key key, QWidget* parent = nullptr);
};

} // namespace corvessa
