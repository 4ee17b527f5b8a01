#pragma once

#include "platform/LauncherBadge.h"

#include <QDBusConnection>
#include <QVariantMap>

namespace corvessa {

// The launcher badge through the com.canonical.Unity.LauncherEntry "Update"
// signal on the session bus, for the launcher entry of corvessa.desktop. The
// protocol carries a number, not text: a label shows as the count 1 and sends
// the text too under "label", for the docks that show one; clearing hides the
// count. Main thread.
class UnityLauncherBadge : public LauncherBadge {
public:
    static inline const QString appUri = QStringLiteral("application://corvessa.desktop");
    static inline const QString path = QStringLiteral("/com/corvessa/LauncherEntry");
    static inline const QString interface = QStringLiteral("com.canonical.Unity.LauncherEntry");

    explicit UnityLauncherBadge(QDBusConnection bus = QDBusConnection::sessionBus());

    std::optional<QString> label() const override { return m_label; }
    void setLabel(const QString& label) override;
    void clear() override;

    // The properties of the "Update" signal for `label` (nothing: hidden).
    static QVariantMap properties(const std::optional<QString>& label);

private:
    void send();

    QDBusConnection m_bus;
    std::optional<QString> m_label;
};

} // namespace corvessa
