#pragma once

#include <QCheckBox>
#include <QString>

#include <functional>

namespace corvessa {

class Prefs;

// An on/off control without a label of its own, bound to one preference: it
// shows the stored value, follows its changes and stores a toggle at once.
// Main thread; the preferences outlive it.
class PrefsSwitch : public QCheckBox {
    Q_OBJECT
public:
    PrefsSwitch(Prefs& prefs, const QString& name, std::function<bool(const Prefs&)> get,
                std::function<void(Prefs&, bool)> set, QWidget* parent = nullptr);
};

} // namespace corvessa
