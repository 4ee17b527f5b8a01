#include "platform/core/XdgPaths.h"
#include "prefs/Cues.h"
#include "support/PulseFixture.h"
#include "support/TempHome.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <future>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace corvessa;

namespace {

using Kind = Cues::Kind;

bool waitFor(const std::function<bool()>& done, int ms)
{
    return QTest::qWaitFor(done, ms);
}

bool waitIdle()
{
    return waitFor([] { return Cues::playingCount() == 0; }, 10000);
}

int logLines(const QByteArray& tag)
{
    QFile f(XdgPaths::logFile());
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    return int(f.readAll().count(tag));
}

// pactl on the test daemon's own socket, whatever PULSE_SERVER says now.
std::optional<QString> daemonCtl(const test::PulseFixture& pulse, const QStringList& args)
{
    return pulse.pactl(QStringList{"-s", pulse.server()} + args);
}

// Hangs up on our connection from the server's side, as a restarting server
// would. pactl cannot do that; the daemon's command line interface can.
void dropOurConnection(const test::PulseFixture& pulse, const QString& cliSocket)
{
    const auto clients = daemonCtl(pulse, {"-f", "json", "list", "clients"});
    ASSERT_TRUE(clients);
    QString ours;
    for (const auto& c : QJsonDocument::fromJson(clients->toUtf8()).array()) {
        const QJsonObject o = c.toObject();
        if (o.value("properties").toObject().value("application.name").toString() == "Corvessa")
            ours = QString::number(o.value("index").toInteger());
    }
    ASSERT_FALSE(ours.isEmpty()) << "not connected";
    const auto module = daemonCtl(pulse, {"load-module", "module-cli-protocol-unix", "socket=" + cliSocket});
    ASSERT_TRUE(module);

    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const QByteArray path = QFile::encodeName(cliSocket);
    ASSERT_LT(size_t(path.size()), sizeof addr.sun_path);
    std::memcpy(addr.sun_path, path.constData(), size_t(path.size()));
    const QByteArray command = "kill-client " + ours.toLatin1() + "\n";
    const bool sent = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0
        && ::write(fd, command.constData(), size_t(command.size())) == command.size();
    QTest::qWait(300); // the hang-up reaches our main loop thread
    ::close(fd);
    daemonCtl(pulse, {"unload-module", module->trimmed()});
    ASSERT_TRUE(sent);
}

// A second listening socket on the test daemon, which this process talks through
// while the object lives. Closing it leaves nothing to connect to, as when the
// sound server has gone; opening it again is the server coming back.
class SecondSocket {
public:
    SecondSocket(const test::PulseFixture& pulse, const QString& path)
        : m_pulse(pulse), m_path(path), m_saved(qgetenv("PULSE_SERVER"))
    {
        qputenv("PULSE_SERVER", ("unix:" + path).toUtf8());
    }
    ~SecondSocket()
    {
        close();
        qputenv("PULSE_SERVER", m_saved);
    }

    bool open()
    {
        const auto index = daemonCtl(m_pulse, {"load-module", "module-native-protocol-unix", "auth-anonymous=1",
                                               "socket=" + m_path});
        m_module = index ? index->trimmed() : QString();
        return !m_module.isEmpty();
    }
    // Also hangs up on the clients connected through it.
    void close()
    {
        if (m_module.isEmpty())
            return;
        daemonCtl(m_pulse, {"unload-module", m_module});
        m_module.clear();
        QTest::qWait(300);
    }

private:
    const test::PulseFixture& m_pulse;
    QString m_path;
    QByteArray m_saved;
    QString m_module;
};

} // namespace

TEST(CuesPulse, PlaysEveryCueToTheEndOnTheSpeakers)
{
    CORVESSA_REQUIRE_PULSE(pulse);
    test::TempHome home;
    const Cues::Counts before = Cues::counts();
    for (Kind kind : Cues::allKinds)
        Cues::play(kind);

    // Seen while the launch chime (the longest cue) still plays.
    QString inputs;
    waitFor([&] {
        inputs = pulse->pactl({"list", "sink-inputs"}).value_or(QString());
        return inputs.contains("media.name = \"launch\"") || Cues::playingCount() == 0;
    }, 5000);
    EXPECT_TRUE(inputs.contains("corvessa.role = \"cue\"")) << inputs.toStdString();
    EXPECT_TRUE(inputs.contains("media.name = \"launch\"")) << inputs.toStdString();
    const QStringList sinks = pulse->sinksOfStreams("Corvessa");
    EXPECT_FALSE(sinks.isEmpty());
    for (const QString& sink : sinks)
        EXPECT_EQ(sink, test::PulseFixture::speakers);

    ASSERT_TRUE(waitIdle());
    const Cues::Counts after = Cues::counts();
    EXPECT_EQ(after.finished - before.finished, 6u);
    EXPECT_EQ(after.skipped - before.skipped, 0u);
    EXPECT_EQ(logLines("[cues]"), 0);
}

// What reached the speakers, heard through the sink's monitor.
TEST(CuesPulse, CuesReachTheSpeakersAtTheirVolume)
{
    CORVESSA_REQUIRE_PULSE(pulse);
    test::TempHome home;
    const auto peakOf = [pulse](Kind kind) {
        auto peak = std::async(std::launch::async, [pulse] {
            return pulse->recordPeak(QString(test::PulseFixture::speakers) + ".monitor", 2.0);
        });
        QTest::qWait(300); // the recorder is connected by then
        Cues::play(kind);
        EXPECT_TRUE(waitIdle());
        return peak.get().value_or(-1.0f);
    };
    // The files peak at -3 dBFS; the player scales them by the cue's volume.
    const double filePeak = std::pow(10.0, -3.0 / 20.0);
    EXPECT_NEAR(peakOf(Kind::start), filePeak * 0.85, 0.06);
    EXPECT_NEAR(peakOf(Kind::launch), filePeak * 0.5, 0.06);
}

TEST(CuesPulse, ServerGoingAwayAndComingBack)
{
    CORVESSA_REQUIRE_PULSE(pulse);
    test::TempHome home;
    Cues::play(Kind::tick);
    ASSERT_TRUE(waitIdle());

    // A dropped connection is made again by the next cue, without a word; this one
    // goes through a socket the test can close.
    SecondSocket server(*pulse, home.file("second-native"));
    ASSERT_TRUE(server.open());
    dropOurConnection(*pulse, home.file("cli"));
    Cues::Counts before = Cues::counts();
    Cues::play(Kind::tick);
    ASSERT_TRUE(waitIdle());
    ASSERT_EQ(Cues::counts().finished - before.finished, 1u);
    EXPECT_EQ(logLines("[cues]"), 0);

    // Gone: every cue is skipped, with one log line for the streak.
    server.close();
    before = Cues::counts();
    Cues::play(Kind::tick);
    Cues::play(Kind::tick_last);
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(Cues::counts().skipped - before.skipped, 2u);
    EXPECT_EQ(logLines("[cues]"), 1);
    EXPECT_EQ(logLines("[cues] tick skipped: "), 1);

    // Back: the next cue connects again and plays, which ends the streak...
    ASSERT_TRUE(server.open());
    before = Cues::counts();
    Cues::play(Kind::start);
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(Cues::counts().finished - before.finished, 1u);
    EXPECT_EQ(logLines("[cues]"), 1);

    // ...so the next failure is logged again.
    server.close();
    Cues::play(Kind::pause);
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(logLines("[cues]"), 2);
}
