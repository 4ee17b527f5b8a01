#pragma once

#include "platform/SingleInstance.h"
#include "platform/core/InstanceScope.h"

#include <QDBusConnection>
#include <QObject>

namespace corvessa {

// One instance per display through a well-known name on the session bus,
// claimed without queueing: the holder exports Message(s) and later launches
// call it. The bus frees the name when the holder's connection closes, so a
// crash leaves nothing behind. Main thread.
class SessionBusSingleInstance : public QObject, public SingleInstance {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "io.corvessa.Corvessa")

public:
    static inline const QString path = QStringLiteral("/io/corvessa/Corvessa");
    static inline const QString interface = QStringLiteral("io.corvessa.Corvessa");

    // "io.corvessa.Corvessa", followed by "." and the scope when there is one.
    static QString serviceFor(const QString& scope);

    // `bus`: the session bus unless a test brings its own. `scope`: the
    // display's part of the name (InstanceScope), so that each X display of
    // the user's session bus has its own program.
    explicit SessionBusSingleInstance(QDBusConnection bus = QDBusConnection::sessionBus(),
                                      const QString& scope = InstanceScope::current());
    ~SessionBusSingleInstance() override;

    // Whether a session bus is there to serve.
    static bool isAvailable();

    bool claim(OnMessage onMessage) override;
    bool send(const QString& message) override;

    QString service() const { return m_service; }

public slots:
    // Exported alone (it is the only scriptable slot): QObject's own slots, such
    // as deleteLater, must not be callable from the bus.
    Q_SCRIPTABLE void Message(const QString& message);

private:
    QDBusConnection m_bus;
    const QString m_service;
    OnMessage m_onMessage;
    bool m_claimed = false;
};

} // namespace corvessa
