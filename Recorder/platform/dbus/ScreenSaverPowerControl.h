#pragma once

#include "platform/PowerControl.h"

#include <QDBusConnection>

#include <functional>
#include <map>
#include <mutex>
#include <optional>

namespace corvessa {

// Holds the display awake through org.freedesktop.ScreenSaver Inhibit and
// UnInhibit on the session bus. The desktop drops a hold by itself when the
// program's bus connection closes, so a crash leaves nothing behind. Without a
// bus or a screen saver service it writes one "[power] ..." line to `log` per
// attempt and the recording goes on.
class ScreenSaverPowerControl : public PowerControl {
public:
    using Log = std::function<void(const QString& line)>;

    static inline const QString service = QStringLiteral("org.freedesktop.ScreenSaver");
    static inline const QString path = QStringLiteral("/org/freedesktop/ScreenSaver");
    static inline const QString interface = QStringLiteral("org.freedesktop.ScreenSaver");

    // `bus`: the session bus unless a test brings its own.
    explicit ScreenSaverPowerControl(Log log, std::optional<QDBusConnection> bus = std::nullopt,
                                     QString applicationName = QStringLiteral("Corvessa"));

    uint32_t holdDisplayAwake(const QString& reason) override;
    void release(uint32_t id) override;

private:
    QDBusConnection connection() const;

    const Log m_log;
    const std::optional<QDBusConnection> m_bus;
    const QString m_applicationName;
    std::mutex m_mutex;
    // Our identifiers (never 0) for the service's cookies, which may be 0.
    std::map<uint32_t, uint32_t> m_cookies;
    uint32_t m_next = 1;
};

} // namespace corvessa
