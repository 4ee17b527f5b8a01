#include "support/PrivateBus.h"

#include "platform/dbus/LogindPowerOffNotice.h"

#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QObject>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

#include <mutex>
#include <utility>

#include <fcntl.h>
#include <unistd.h>

using namespace corvessa;
using corvessa::test::PrivateBus;

namespace {

// logind's manager, as far as delay inhibitors go: it hands out its one
// descriptor and keeps no copy, so the hold ends when the caller closes it.
class FakeLogind : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")

public:
    explicit FakeLogind(int holdFd)
        : m_hold(holdFd)
    {
    }
    QStringList calls() const
    {
        std::lock_guard lock(m_mutex);
        return m_calls;
    }

public slots:
    QDBusUnixFileDescriptor Inhibit(const QString& what, const QString& who, const QString& why, const QString& mode)
    {
        std::lock_guard lock(m_mutex);
        m_calls << QStringList{what, who, why, mode}.join(QLatin1Char('|'));
        return std::exchange(m_hold, QDBusUnixFileDescriptor());
    }

private:
    mutable std::mutex m_mutex;
    QStringList m_calls;
    QDBusUnixFileDescriptor m_hold;
};

void announce(QDBusConnection& logind, const char* name, bool start)
{
    QDBusMessage signal = QDBusMessage::createSignal(LogindPowerOffNotice::path, LogindPowerOffNotice::interface,
                                                     QString::fromLatin1(name));
    signal << start;
    ASSERT_TRUE(logind.send(signal));
}

} // namespace

TEST(LogindPowerOffNotice, WithoutLogindItLogsOnceAndHoldsNothing)
{
    PrivateBus bus; // a bus without logind, when dbus-daemon is there
    QList<QDBusConnection> buses{PrivateBus::nowhere()};
    if (bus.available())
        buses << bus.connect();
    for (const QDBusConnection& connection : buses) {
        QStringList lines;
        LogindPowerOffNotice notice(connection, [&](const QString& line) { lines << line; });
        EXPECT_FALSE(notice.isWatching());
        EXPECT_FALSE(notice.inhibit());
        notice.release();
        EXPECT_EQ(lines, QStringList{QStringLiteral("[power] no logind on the system bus: power-off is not watched")});
    }
}

TEST(LogindPowerOffNotice, DelaysPowerOffAndHearsTheNotice)
{
    PrivateBus bus;
    if (!bus.available())
        GTEST_SKIP() << "no dbus-daemon";
    int pipeFds[2];
    ASSERT_EQ(::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK), 0);
    // The service answers on a thread of its own: Inhibit blocks.
    QThread serviceThread;
    serviceThread.start();
    auto* logind = new FakeLogind(pipeFds[1]);
    ::close(pipeFds[1]); // the fake holds its own copy
    logind->moveToThread(&serviceThread);
    QDBusConnection service = bus.connect();
    ASSERT_TRUE(service.registerService(LogindPowerOffNotice::service));
    ASSERT_TRUE(service.registerObject(LogindPowerOffNotice::path, logind, QDBusConnection::ExportAllSlots));

    QStringList lines;
    LogindPowerOffNotice notice(bus.connect(), [&](const QString& line) { lines << line; });
    ASSERT_TRUE(notice.isWatching());
    int powerOffs = 0;
    notice.setOnPowerOff([&] { ++powerOffs; });

    EXPECT_TRUE(notice.inhibit());
    EXPECT_TRUE(notice.inhibit()) << "the hold in place serves";
    EXPECT_EQ(logind->calls(), QStringList{QStringLiteral("shutdown:sleep|Corvessa|Saving the recording|delay")});
    char byte;
    EXPECT_EQ(::read(pipeFds[0], &byte, 1), -1) << "the hold is open";

    // Waking up and a cancelled shutdown come as false and are no notice.
    announce(service, "PrepareForSleep", false);
    announce(service, "PrepareForShutdown", false);
    announce(service, "PrepareForSleep", true);
    EXPECT_TRUE(QTest::qWaitFor([&] { return powerOffs >= 1; }, 10000));
    announce(service, "PrepareForShutdown", true);
    EXPECT_TRUE(QTest::qWaitFor([&] { return powerOffs >= 2; }, 10000));
    EXPECT_EQ(powerOffs, 2);

    notice.release();
    EXPECT_EQ(::read(pipeFds[0], &byte, 1), 0) << "logind sees the hold closed";
    notice.release();
    EXPECT_TRUE(lines.isEmpty());

    ::close(pipeFds[0]);
    service.unregisterObject(LogindPowerOffNotice::path);
    serviceThread.quit();
    serviceThread.wait();
    delete logind;
}

#include "LogindPowerOffNoticeTest.moc"
