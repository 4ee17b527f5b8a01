#include "support/PrivateBus.h"

#include "platform/dbus/ScreenSaverPowerControl.h"
#include "platform/synthetic/SyntheticPowerControl.h"

#include <QDBusConnection>
#include <QObject>
#include <QThread>

#include <gtest/gtest.h>

#include <mutex>

using namespace corvessa;
using corvessa::test::PrivateBus;

namespace {

// The desktop's screen saver service, as far as holding the display awake goes.
class FakeScreenSaver : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ScreenSaver")

public:
    QStringList calls() const
    {
        std::lock_guard lock(m_mutex);
        return m_calls;
    }

public slots:
    uint Inhibit(const QString& application, const QString& reason)
    {
        std::lock_guard lock(m_mutex);
        m_calls << QStringLiteral("Inhibit %1 / %2 -> %3").arg(application, reason).arg(m_next);
        return m_next++;
    }
    void UnInhibit(uint cookie)
    {
        std::lock_guard lock(m_mutex);
        m_calls << QStringLiteral("UnInhibit %1").arg(cookie);
    }

private:
    mutable std::mutex m_mutex;
    QStringList m_calls;
    uint m_next = 0; // a cookie of 0 is legal for the service
};

struct Logged {
    std::mutex mutex;
    QStringList lines;
    ScreenSaverPowerControl::Log log()
    {
        return [this](const QString& line) {
            std::lock_guard lock(mutex);
            lines << line;
        };
    }
};

} // namespace

TEST(ScreenSaverPowerControl, WithoutABusItLogsAndGoesOn)
{
    Logged logged;
    ScreenSaverPowerControl power(logged.log(), PrivateBus::nowhere());
    EXPECT_EQ(power.holdDisplayAwake(QStringLiteral("Recorder is recording")), 0u);
    power.release(0);
    ASSERT_EQ(logged.lines.size(), 1);
    EXPECT_EQ(logged.lines[0], "[power] no session bus, the display may sleep while recording");
}

TEST(ScreenSaverPowerControl, WithoutAScreenSaverItLogsTheReason)
{
    PrivateBus bus;
    if (!bus.available())
        GTEST_SKIP() << "no dbus-daemon";
    Logged logged;
    ScreenSaverPowerControl power(logged.log(), bus.connect());
    EXPECT_EQ(power.holdDisplayAwake(QStringLiteral("Recorder is recording")), 0u);
    ASSERT_EQ(logged.lines.size(), 1);
    EXPECT_TRUE(logged.lines[0].startsWith(QStringLiteral("[power] screen saver inhibit failed ("))) << logged.lines[0].toStdString();
    EXPECT_TRUE(logged.lines[0].endsWith(QStringLiteral("), the display may sleep while recording")));
}

TEST(ScreenSaverPowerControl, HoldsAndReleasesThroughTheScreenSaver)
{
    PrivateBus bus;
    if (!bus.available())
        GTEST_SKIP() << "no dbus-daemon";
    // The service answers on a thread of its own: the control's calls block.
    QThread serviceThread;
    serviceThread.start();
    auto* saver = new FakeScreenSaver;
    saver->moveToThread(&serviceThread);
    QDBusConnection service = bus.connect();
    ASSERT_TRUE(service.registerService(ScreenSaverPowerControl::service));
    ASSERT_TRUE(service.registerObject(ScreenSaverPowerControl::path, saver, QDBusConnection::ExportAllSlots));

    Logged logged;
    ScreenSaverPowerControl power(logged.log(), bus.connect(), QStringLiteral("Corvessa"));
    const uint32_t first = power.holdDisplayAwake(QStringLiteral("Recorder is recording"));
    const uint32_t second = power.holdDisplayAwake(QStringLiteral("Recorder is recording"));
    EXPECT_NE(first, 0u) << "held, although the service's cookie was 0";
    EXPECT_NE(second, 0u);
    EXPECT_NE(first, second);
    power.release(first);
    power.release(first); // already released
    power.release(0);
    power.release(12345);
    power.release(second);
    EXPECT_EQ(saver->calls(), (QStringList{QStringLiteral("Inhibit Corvessa / Recorder is recording -> 0"),
                                           QStringLiteral("Inhibit Corvessa / Recorder is recording -> 1"),
                                           QStringLiteral("UnInhibit 0"), QStringLiteral("UnInhibit 1")}));
    EXPECT_TRUE(logged.lines.isEmpty());

    service.unregisterObject(ScreenSaverPowerControl::path);
    serviceThread.quit();
    serviceThread.wait();
    delete saver;
}

TEST(SyntheticPowerControl, RemembersHoldsAndCanRefuse)
{
    SyntheticPowerControl power;
    const uint32_t a = power.holdDisplayAwake(QStringLiteral("one"));
    const uint32_t b = power.holdDisplayAwake(QStringLiteral("two"));
    EXPECT_NE(a, 0u);
    EXPECT_NE(a, b);
    EXPECT_EQ(power.holdCount(), 2);
    power.release(a);
    EXPECT_EQ(power.holds(), (std::map<uint32_t, QString>{{b, QStringLiteral("two")}}));
    power.setRefuses(true);
    EXPECT_EQ(power.holdDisplayAwake(QStringLiteral("three")), 0u);
    EXPECT_EQ(power.holdCount(), 1);
}

#include "ScreenSaverPowerControlTest.moc"
