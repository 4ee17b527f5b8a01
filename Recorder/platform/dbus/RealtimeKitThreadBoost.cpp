#include "platform/dbus/RealtimeKitThreadBoost.h"

#include "platform/core/RealtimeThreads.h"
#include "platform/core/RecorderLog.h"

#include <QDBusMessage>
#include <QDBusVariant>

#include <algorithm>
#include <cerrno>

#include <poll.h>

namespace corvessa {

RealtimeKitThreadBoost::RealtimeKitThreadBoost(QDBusConnection bus, Log log)
    : m_bus(std::move(bus)), m_log(std::move(log))
{
    m_thread = std::thread([this] { run(); });
}

RealtimeKitThreadBoost::~RealtimeKitThreadBoost()
{
    {
        std::lock_guard lock(m_mutex);
        m_quit = true;
    }
    m_wake.wake();
    m_thread.join();
    std::lock_guard lock(m_mutex);
    for (const pid_t tid : m_wanted)
        RealtimeThreads::remove(tid);
}

void RealtimeKitThreadBoost::boost(pid_t tid)
{
    {
        std::lock_guard lock(m_mutex);
        if (!m_wanted.insert(tid).second)
            return;
        m_queue.push_back(tid);
    }
    m_wake.wake();
}

void RealtimeKitThreadBoost::release(pid_t tid)
{
    std::lock_guard lock(m_mutex);
    m_wanted.erase(tid);
    std::erase(m_queue, tid);
    RealtimeThreads::remove(tid);
}

bool RealtimeKitThreadBoost::wanted(pid_t tid)
{
    std::lock_guard lock(m_mutex);
    return m_wanted.contains(tid);
}

void RealtimeKitThreadBoost::log(const QString& line) const
{
    m_log ? m_log(line) : RecorderLog::write(line);
}

void RealtimeKitThreadBoost::run()
{
    for (;;) {
        pollfd fds[2] = {{m_wake.fd(), POLLIN, 0}, {RealtimeThreads::overrunFd(), POLLIN, 0}};
        // The overrun descriptor appears with the first realtime request; until then poll skips it.
        if (::poll(fds, 2, -1) < 0 && errno != EINTR)
            return;
        // The signal handler can only mark it; the line is written here.
        if (fds[1].revents && RealtimeThreads::takeOverruns() > 0)
            log(QStringLiteral("[audio] a realtime sound capture thread ran past its CPU time limit: "
                               "back to normal scheduling"));
        m_wake.drain();
        std::vector<pid_t> queue;
        {
            std::lock_guard lock(m_mutex);
            if (m_quit)
                return;
            queue.swap(m_queue);
        }
        for (const pid_t tid : queue)
            raise(tid);
    }
}

const std::optional<RealtimeKitThreadBoost::Limits>& RealtimeKitThreadBoost::limits()
{
    if (std::exchange(m_asked, true))
        return m_limits;
    auto property = [this](const char* name, QString* error) -> qint64 {
        if (!error->isEmpty())
            return 0;
        QDBusMessage get = QDBusMessage::createMethodCall(service, path, QStringLiteral("org.freedesktop.DBus.Properties"),
                                                          QStringLiteral("Get"));
        get << interface << QString::fromLatin1(name);
        const QDBusMessage reply = m_bus.call(get, QDBus::Block, callTimeoutMs);
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
            *error = reply.errorMessage().isEmpty() ? reply.errorName() : reply.errorMessage();
            return 0;
        }
        bool ok = false;
        const qint64 value = reply.arguments().constFirst().value<QDBusVariant>().variant().toLongLong(&ok);
        if (!ok)
            *error = QStringLiteral("%1 is no number").arg(QString::fromLatin1(name));
        return value;
    };
    QString error = m_bus.isConnected() ? QString() : QStringLiteral("no system bus");
    Limits l;
    l.maxRealtimePriority = int(property("MaxRealtimePriority", &error));
    l.minNiceLevel = int(property("MinNiceLevel", &error));
    l.rttimeMaxUs = property("RTTimeUSecMax", &error);
    if (error.isEmpty())
        m_limits = l;
    else
        log(QStringLiteral("[audio] RealtimeKit does not answer (%1): sound capture keeps its normal priority")
                .arg(error));
    return m_limits;
}

std::optional<QString> RealtimeKitThreadBoost::call(const QString& method, const QVariantList& arguments) const
{
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(arguments);
    const QDBusMessage reply = m_bus.call(message, QDBus::Block, callTimeoutMs);
    if (reply.type() == QDBusMessage::ReplyMessage)
        return std::nullopt;
    return reply.errorMessage().isEmpty() ? reply.errorName() : reply.errorMessage();
}

void RealtimeKitThreadBoost::raise(pid_t tid)
{
    const auto& l = limits();
    if (!l)
        return;
    const QString thread = QString::number(tid);
    std::optional<QString> refused = QStringLiteral("not asked again after an overrun");
    const int priority = std::min(realtimePriority, l->maxRealtimePriority);
    if (priority < 1) {
        refused = QStringLiteral("no realtime priority allowed");
    } else if (!RealtimeThreads::overran()) {
        // The limit and the handler come first: the thread may spin the moment it turns realtime.
        if (!RealtimeThreads::prepare(l->rttimeMaxUs))
            refused = QStringLiteral("RLIMIT_RTTIME cannot be kept within %1 us").arg(l->rttimeMaxUs);
        else if (!RealtimeThreads::add(tid))
            refused = QStringLiteral("too many realtime threads");
        else
            refused = call(QStringLiteral("MakeThreadRealtime"), {qulonglong(tid), uint(priority)});
        if (refused)
            RealtimeThreads::remove(tid);
    }
    if (!refused) {
        if (!wanted(tid)) // released meanwhile: it may be gone, and its number used again
            RealtimeThreads::remove(tid);
        log(QStringLiteral("[audio] sound capture thread %1 runs realtime (priority %2)").arg(thread).arg(priority));
        return;
    }
    const int nice = std::max(l->minNiceLevel, highPriorityNice);
    if (const auto error = call(QStringLiteral("MakeThreadHighPriority"), {qulonglong(tid), nice}))
        log(QStringLiteral("[audio] sound capture thread %1 keeps its normal priority: %2").arg(thread, *error));
    else
        log(QStringLiteral("[audio] sound capture thread %1 runs at nice %2 (realtime: %3)")
                .arg(thread)
                .arg(nice)
                .arg(*refused));
}

} // namespace corvessa
