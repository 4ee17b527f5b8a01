#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

class QMessageBox;

namespace corvessa {

class UserDefaults;

// Tells the user, once per start, that changes to the settings cannot be kept:
// the settings file or its folder may not be written (read-only, immutable,
// another user's, a full or read-only file system), so every change lasts only
// until the program quits. Said as soon as it is known: when made, if loading
// the store found it, else at the first change whose write fails, with the
// file's path and the system's reason. A file stuck unread has a notice of its
// own (SettingsResetNotice), which says this already. Main thread.
class SettingsWriteNotice : public QObject {
    Q_OBJECT
public:
    explicit SettingsWriteNotice(UserDefaults& defaults, QObject* parent = nullptr);

    // The translated title and message for the file at `path` kept from being
    // written by `reason`.
    static QString title();
    static QString message(const QString& path, const QString& reason);

    bool told() const { return m_told; }
    // The window that says it, while it is open.
    QMessageBox* box() const;

private:
    void tell(const QString& path, const QString& reason);

    bool m_told = false;
    QPointer<QMessageBox> m_box;
};

} // namespace corvessa
