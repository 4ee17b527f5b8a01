#pragma once

#include "platform/PowerOffNotice.h"

#include <QDBusConnection>
#include <QDBusUnixFileDescriptor>
#include <QObject>

namespace corvessa {

// Power-off and sleep notices from logind (org.freedesktop.login1 on the system
// bus): PrepareForShutdown(true) and PrepareForSleep(true) call the handler, and
// a "delay" inhibitor on "shutdown:sleep" is the hold. The hold is a file
// descriptor: logind waits until it is closed, or its own delay limit passes.
// Without a bus or logind it logs one line and does nothing. Main thread (it
// moves itself there).
class LogindPowerOffNotice : public QObject, public PowerOffNotice {
    Q_OBJECT

public:
    using Log = std::function<void(const QString& line)>;

    static inline const QString service = QStringLiteral("org.freedesktop.login1");
    static inline const QString path = QStringLiteral("/org/freedesktop/login1");
    static inline const QString interface = QStringLiteral("org.freedesktop.login1.Manager");

    // `bus`: the system bus unless a test brings its own; `log` takes the "[power]" line.
    explicit LogindPowerOffNotice(QDBusConnection bus = QDBusConnection::systemBus(), Log log = {});

    void setOnPowerOff(std::function<void()> handler) override;
    bool inhibit() override;
    void release() override;

    // Whether logind was found, so notices can come.
    bool isWatching() const { return m_watching; }

private slots:
    void prepare(bool start);

private:
    QDBusConnection m_bus;
    std::function<void()> m_onPowerOff;
    QDBusUnixFileDescriptor m_hold;
    bool m_watching = false;
};

} // namespace corvessa
