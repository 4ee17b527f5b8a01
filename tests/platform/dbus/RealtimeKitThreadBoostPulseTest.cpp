#include "support/PrivateBus.h"
#include "support/PulseFixture.h"
#include "support/ServiceScope.h"

#include "platform/core/RealtimeThreads.h"
#include "platform/dbus/RealtimeKitThreadBoost.h"
#include "platform/pulse/PulseAudioInput.h"

#include <QDBusContext>
#include <QObject>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>

#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

using namespace corvessa;
using corvessa::test::PrivateBus;
using corvessa::test::PulseFixture;
using corvessa::test::ServiceScope;

namespace {

// RealtimeKit as far as its limits and requests go: it grants, or refuses
// realtime, and notes what it was asked with the process's RLIMIT_RTTIME then.
class FakeRealtimeKit : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.RealtimeKit1")
    Q_PROPERTY(int MaxRealtimePriority READ maxRealtimePriority)
    Q_PROPERTY(int MinNiceLevel READ minNiceLevel)
    Q_PROPERTY(qlonglong RTTimeUSecMax READ rttimeMax)

public:
    struct Call {
        QString method;
        qulonglong thread = 0;
        qlonglong priority = 0;
        rlimit rttime{};
    };

    bool refuseRealtime = false;
    int maxPriority = 3;
    int minNice = -15;
    qlonglong rttimeMaxUs = 150000;

    int maxRealtimePriority() const { return maxPriority; }
    int minNiceLevel() const { return minNice; }
    qlonglong rttimeMax() const { return rttimeMaxUs; }
    std::vector<Call> calls() const
    {
        std::lock_guard lock(m_mutex);
        return m_calls;
    }

public slots:
    void MakeThreadRealtime(qulonglong thread, uint priority)
    {
        note(QStringLiteral("MakeThreadRealtime"), thread, priority);
        if (refuseRealtime)
            sendErrorReply(QDBusError::AccessDenied, QStringLiteral("Operation not permitted"));
    }
    void MakeThreadHighPriority(qulonglong thread, int priority)
    {
        note(QStringLiteral("MakeThreadHighPriority"), thread, priority);
    }

private:
    void note(const QString& method, qulonglong thread, qlonglong priority)
    {
        Call call{method, thread, priority};
        ::getrlimit(RLIMIT_RTTIME, &call.rttime);
        std::lock_guard lock(m_mutex);
        m_calls.push_back(call);
    }

    mutable std::mutex m_mutex;
    std::vector<Call> m_calls;
};

class RealtimeKitThreadBoostTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        if (m_fake) {
            m_service.unregisterObject(RealtimeKitThreadBoost::path);
            m_serviceThread.quit();
            m_serviceThread.wait();
            delete m_fake;
        }
    }

    // The fake on the private bus, answering on a thread of its own.
    FakeRealtimeKit* serve()
    {
        m_fake = new FakeRealtimeKit;
        m_serviceThread.start();
        m_fake->moveToThread(&m_serviceThread);
        m_service = bus.connect();
        EXPECT_TRUE(m_service.registerService(RealtimeKitThreadBoost::service));
        EXPECT_TRUE(m_service.registerObject(RealtimeKitThreadBoost::path, m_fake, QDBusConnection::ExportAllSlots
                                                                                        | QDBusConnection::ExportAllProperties));
        return m_fake;
    }

    std::shared_ptr<AudioThreadBoost> boostOn(QDBusConnection connection)
    {
        return std::make_shared<RealtimeKitThreadBoost>(std::move(connection), [this](const QString& line) {
            std::lock_guard lock(m_mutex);
            m_lines << line;
        });
    }
    QStringList lines() const
    {
        std::lock_guard lock(m_mutex);
        return m_lines;
    }
    void clearLines()
    {
        std::lock_guard lock(m_mutex);
        m_lines.clear();
    }
    bool logged(const QString& start) const
    {
        const QStringList told = lines();
        return std::any_of(told.begin(), told.end(), [&](const QString& line) { return line.startsWith(start); });
    }

    // Records from the stand-in microphone as a recording does until `done`
    // holds (and a buffer came); the thread that delivered its buffers.
    pid_t record(const std::function<bool()>& done = [] { return true; })
    {
        PulseAudioInput input;
        AudioInput::StreamRequest request;
        request.source = QString::fromLatin1(PulseFixture::micSource);
        auto stream = input.openSource(request);
        stream->prioritizeDelivery();
        std::atomic<pid_t> deliverer{0};
        stream->start([&](SampleBuffer) { deliverer = ::gettid(); });
        EXPECT_TRUE(QTest::qWaitFor([&] { return deliverer != 0 && done(); }, 20000));
        stream->stop();
        return deliverer;
    }

    PrivateBus bus;

private:
    QThread m_serviceThread;
    QDBusConnection m_service = PrivateBus::nowhere();
    FakeRealtimeKit* m_fake = nullptr;
    mutable std::mutex m_mutex;
    QStringList m_lines;
};

} // namespace

// Refused first: once an overrun came, realtime is not asked again in the run.
TEST_F(RealtimeKitThreadBoostTest, TheDeliveringThreadIsRaisedWithinTheServicesLimits)
{
    CORVESSA_REQUIRE_PULSE(pulse);
    if (!bus.available())
        GTEST_SKIP() << "no dbus-daemon";
    FakeRealtimeKit* kit = serve();

    // Where realtime is refused, a higher nice level within the minimum is asked.
    kit->refuseRealtime = true;
    kit->minNice = -5;
    {
        ServiceScope boost{boostOn(bus.connect())};
        const pid_t deliverer = record([&] { return kit->calls().size() >= 2; });
        const auto calls = kit->calls();
        ASSERT_EQ(calls.size(), 2u);
        EXPECT_EQ(calls[0].method, QStringLiteral("MakeThreadRealtime"));
        EXPECT_EQ(calls[1].method, QStringLiteral("MakeThreadHighPriority"));
        EXPECT_EQ(calls[1].thread, qulonglong(deliverer));
        EXPECT_GE(calls[1].priority, kit->minNice);
        EXPECT_LT(calls[1].priority, 0);
    }

    // Granted: realtime within the maximum, for the thread that delivers the recording.
    kit->refuseRealtime = false;
    ServiceScope boost{boostOn(bus.connect())};
    const pid_t deliverer = record([&] { return kit->calls().size() >= 3; });
    const auto calls = kit->calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[2].method, QStringLiteral("MakeThreadRealtime"));
    EXPECT_EQ(calls[2].thread, qulonglong(deliverer));
    EXPECT_GE(calls[2].priority, 1);
    EXPECT_LE(calls[2].priority, kit->maxPriority);
    // Set before the request, as the service demands, with room for the signal before the kill.
    EXPECT_LE(calls[2].rttime.rlim_max, rlim_t(kit->rttimeMaxUs));
    EXPECT_LT(calls[2].rttime.rlim_cur, calls[2].rttime.rlim_max);

    // An overrun is survived and told afterwards.
    ASSERT_EQ(::raise(SIGXCPU), 0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return logged(QStringLiteral("[audio] a realtime sound capture thread ran past")); },
                                10000))
        << lines().join(u'\n').toStdString();
}

TEST_F(RealtimeKitThreadBoostTest, WithoutTheServiceStreamsRecordAsBeforeAndOneLineSaysSo)
{
    CORVESSA_REQUIRE_PULSE(pulse);
    QList<QDBusConnection> buses{PrivateBus::nowhere()};
    if (bus.available())
        buses << bus.connect(); // a bus without RealtimeKit
    for (const QDBusConnection& connection : buses) {
        {
            ServiceScope boost{boostOn(connection)};
            const QString line = QStringLiteral("[audio] RealtimeKit does not answer");
            EXPECT_NE(record([&] { return logged(line); }), 0) << "the first stream records";
            EXPECT_NE(record(), 0) << "and so does the next";
        }
        const QStringList told = lines();
        ASSERT_EQ(told.size(), 1) << told.join(u'\n').toStdString();
        EXPECT_TRUE(told[0].endsWith(QStringLiteral("sound capture keeps its normal priority"))) << told[0].toStdString();
        clearLines();
    }
}

#include "RealtimeKitThreadBoostPulseTest.moc"
