#include "platform/core/XdgPaths.h"
#include "platform/pulse/PulseAudioInput.h"
#include "platform/pulse/PulseMicrophoneAccess.h"
#include "platform/pulse/PulseSourceWatcher.h"
#include "support/PulseFixture.h"
#include "support/TempHome.h"

#include <QFile>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

using namespace corvessa;
using namespace std::chrono_literals;

namespace {

// Counts the watcher's calls; tests wait for a count, never for a time.
struct Calls {
    std::mutex mutex;
    std::condition_variable changed;
    int count = 0;

    std::function<void()> handler()
    {
        return [this] {
            std::lock_guard lock(mutex);
            ++count;
            changed.notify_all();
        };
    }
    bool waitFor(int n)
    {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, 30s, [&] { return count >= n; });
    }
};

bool logContains(const QString& text)
{
    QFile f(XdgPaths::logFile());
    return f.open(QIODevice::ReadOnly) && QString::fromUtf8(f.readAll()).contains(text);
}

} // namespace

TEST(PulseSourceWatcher, OnlySourcesComingOrGoingAndServerChangesMatter)
{
    const auto event = [](int facility, int kind) { return pa_subscription_event_type_t(facility | kind); };
    EXPECT_TRUE(PulseSourceWatcher::matters(event(PA_SUBSCRIPTION_EVENT_SOURCE, PA_SUBSCRIPTION_EVENT_NEW)));
    EXPECT_TRUE(PulseSourceWatcher::matters(event(PA_SUBSCRIPTION_EVENT_SOURCE, PA_SUBSCRIPTION_EVENT_REMOVE)));
    EXPECT_TRUE(PulseSourceWatcher::matters(event(PA_SUBSCRIPTION_EVENT_SERVER, PA_SUBSCRIPTION_EVENT_CHANGE)));
    EXPECT_FALSE(PulseSourceWatcher::matters(event(PA_SUBSCRIPTION_EVENT_SOURCE, PA_SUBSCRIPTION_EVENT_CHANGE)));
    EXPECT_FALSE(PulseSourceWatcher::matters(event(PA_SUBSCRIPTION_EVENT_SINK_INPUT, PA_SUBSCRIPTION_EVENT_NEW)));
}

TEST(PulseSourceWatcher, AMicrophoneArrivingAndLeavingIsTold)
{
    CORVESSA_REQUIRE_PULSE(pulse);
    PulseAudioInput input;
    EXPECT_EQ(PulseMicrophoneAccess::probe(), Permissions::Access::granted);
    Calls calls;
    const auto observation = input.observeSources(calls.handler());

    const auto module = pulse->pactl({"load-module", "module-sine-source", "source_name=arrived_mic"});
    ASSERT_TRUE(module);
    ASSERT_TRUE(calls.waitFor(1));
    const auto sources = input.sources();
    EXPECT_TRUE(std::any_of(sources.begin(), sources.end(), [](const AudioDevice& d) { return d.name == "arrived_mic"; }));

    int seen = 0;
    {
        std::lock_guard lock(calls.mutex);
        seen = calls.count;
    }
    ASSERT_TRUE(pulse->pactl({"unload-module", module->trimmed()}));
    EXPECT_TRUE(calls.waitFor(seen + 1));
}

TEST(PulseSourceWatcher, ALostConnectionEndsTheObservationQuietly)
{
    CORVESSA_REQUIRE_PULSE(pulse);
    test::TempHome home;
    // The watcher connects through a socket of its own, which is then taken
    // away: its connection ends as when the server dies.
    const QString socket = pulse->directory() + QStringLiteral("/second");
    const auto module = pulse->pactl({"load-module", "module-native-protocol-unix", "auth-anonymous=1",
                                      "socket=" + socket});
    ASSERT_TRUE(module);
    const QByteArray server = qgetenv("PULSE_SERVER");
    qputenv("PULSE_SERVER", "unix:" + socket.toUtf8());
    Calls calls;
    const auto observation = PulseAudioInput().observeSources(calls.handler());
    qputenv("PULSE_SERVER", server);
    ASSERT_TRUE(pulse->pactl({"unload-module", module->trimmed()}));

    const QString lost = QStringLiteral("[audio] lost the sound server");
    for (int i = 0; i < 300 && !logContains(lost); ++i)
        std::this_thread::sleep_for(100ms);
    EXPECT_TRUE(logContains(lost));
}

TEST(PulseSourceWatcher, WithoutAServerTheMicrophoneIsDeniedAndNothingIsObserved)
{
    test::TempHome home;
    const QByteArray saved = qgetenv("PULSE_SERVER");
    qputenv("PULSE_SERVER", "unix:" + home.file(QStringLiteral("no-server")).toUtf8());
    EXPECT_EQ(PulseMicrophoneAccess::probe(), Permissions::Access::denied);
    Calls calls;
    EXPECT_TRUE(PulseAudioInput().observeSources(calls.handler()));
    EXPECT_TRUE(logContains(QStringLiteral("[audio] microphone changes are not observed")));
    if (saved.isNull())
        qunsetenv("PULSE_SERVER");
    else
        qputenv("PULSE_SERVER", saved);
}
