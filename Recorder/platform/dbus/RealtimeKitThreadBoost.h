#pragma once

#include "platform/AudioThreadBoost.h"
#include "platform/core/WakeFd.h"

#include <QDBusConnection>
#include <QString>

#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <vector>

namespace corvessa {

// Raises threads through RealtimeKit (org.freedesktop.RealtimeKit1 on the
// system bus), as the desktop's sound programs do: SCHED_RR at a modest
// priority, within the service's MaxRealtimePriority and with RLIMIT_RTTIME
// within its RTTimeUSecMax (RealtimeThreads puts the threads back should one
// overrun it); where realtime is refused, a higher nice level within
// MinNiceLevel. Without the service it logs one line and changes nothing. The
// calls run on a thread of its own, which owns the limits; boost() and
// release(), from any thread, only hand over under the mutex.
class RealtimeKitThreadBoost : public AudioThreadBoost {
public:
    using Log = std::function<void(const QString& line)>;

    static inline const QString service = QStringLiteral("org.freedesktop.RealtimeKit1");
    static inline const QString path = QStringLiteral("/org/freedesktop/RealtimeKit1");
    static inline const QString interface = QStringLiteral("org.freedesktop.RealtimeKit1");

    // The realtime priority asked for, lowered to the service's maximum: above
    // every normal thread, below the sound server's own.
    static constexpr int realtimePriority = 5;
    // The nice level asked for where realtime is refused, raised to the service's minimum.
    static constexpr int highPriorityNice = -11;
    // RealtimeKit answers at once; a hung bus must not hold the requests after it for long.
    static constexpr int callTimeoutMs = 2000;

    // `bus`: the system bus unless a test brings its own; `log` takes the "[audio]" lines.
    explicit RealtimeKitThreadBoost(QDBusConnection bus = QDBusConnection::systemBus(), Log log = {});
    ~RealtimeKitThreadBoost() override;

    void boost(pid_t tid) override;
    void release(pid_t tid) override;

private:
    struct Limits {
        int maxRealtimePriority = 0;
        int minNiceLevel = 0;
        qint64 rttimeMaxUs = 0;
    };

    void run();
    void raise(pid_t tid);
    // The service's limits, read on first use; nothing (and one log line) without it.
    const std::optional<Limits>& limits();
    // Nothing on success, else the error's text.
    std::optional<QString> call(const QString& method, const QVariantList& arguments) const;
    bool wanted(pid_t tid);
    void log(const QString& line) const;

    QDBusConnection m_bus;
    Log m_log;
    WakeFd m_wake;
    std::thread m_thread;

    std::mutex m_mutex; // guards the three below
    std::vector<pid_t> m_queue;
    std::set<pid_t> m_wanted; // boosted and not released
    bool m_quit = false;

    // The requests' thread's own.
    bool m_asked = false; // whether the limits were read
    std::optional<Limits> m_limits;
};

} // namespace corvessa
