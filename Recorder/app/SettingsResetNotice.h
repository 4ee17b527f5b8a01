#pragma once

#include <QString>

class QMessageBox;

namespace corvessa {

class UserDefaults;

// Tells the user, once, that the settings file could not be read: it was set
// aside, and every setting, the recordings folder included, is back to its
// default. The store keeps where the old file went until this takes it. A file
// that could not even be set aside (its folder is not the user's to change) is
// said at every start, since every start runs on defaults again and keeps no
// change. Main thread.
class SettingsResetNotice {
public:
    SettingsResetNotice() = delete;

    // The translated title and message for an old file kept at `keptAs`.
    static QString title();
    static QString message(const QString& keptAs);
    // The same for a file that is neither read nor set aside.
    static QString stuckTitle();
    static QString stuckMessage(const QString& path);

    // Takes the store's mark and, when there was one or the file is stuck,
    // shows a window saying so (not modal, gone when closed); nullptr when
    // there was nothing to say.
    static QMessageBox* showIfPending(UserDefaults& defaults);

    // The window every settings notice is said in: not modal, its text
    // selectable, gone when closed; named `objectName` for those that look.
    static QMessageBox* present(const QString& title, const QString& message, const QString& objectName);
};

} // namespace corvessa
