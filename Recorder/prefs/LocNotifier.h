#pragma once

#include <QObject>

namespace corvessa {

// Announces a change of the interface language (Loc::changedNotification), so the
// toolbar, menus and settings window can rebuild their texts.
class LocNotifier : public QObject {
    Q_OBJECT
public:
    static LocNotifier& instance();

    // Emits languageChanged(); called by Loc::choose() after the new table is live.
    void post();

signals:
    void languageChanged();

private:
    LocNotifier();
};

} // namespace corvessa
