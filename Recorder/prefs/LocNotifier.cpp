#include "prefs/LocNotifier.h"

#include "prefs/Loc.h"

#include <QCoreApplication>
#include <QThread>

namespace corvessa {

LocNotifier::LocNotifier()
{
    setObjectName(Loc::changedNotification);
    // Receivers get queued calls on the main thread, whoever touched it first.
    if (QCoreApplication* app = QCoreApplication::instance(); app && thread() != app->thread())
        moveToThread(app->thread());
}

LocNotifier& LocNotifier::instance()
{
    static LocNotifier* notifier = new LocNotifier; // lives as long as the program
    return *notifier;
}

void LocNotifier::post()
{
    emit languageChanged();
}

} // namespace corvessa
