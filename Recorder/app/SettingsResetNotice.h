#pragma once

#include <QString>

class QMessageBox;

namespace corvessa {

class UserDefaults;

// Tells the user, once, that the settings file could not be read: it was set
// aside, and every setting, the recordings folder included, is back to its
// default. The store keeps where the old file went until this takes it. Main
// thread.
class SettingsResetNotice {
public:
    SettingsResetNotice() = delete;

    // The translated title and message for an old file kept at `keptAs`.
    static QString title();
    static QString message(const QString& keptAs);

    // Takes the store's mark and, when there was one, shows a window saying so
    // (not modal, gone when closed); nullptr when there was nothing to say.
    static QMessageBox* showIfPending(UserDefaults& defaults);
};

} // namespace corvessa
