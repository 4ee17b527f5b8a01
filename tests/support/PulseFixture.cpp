#include "support/PulseFixture.h"

#include "platform/AudioInputError.h"
#include "platform/pulse/PulseContext.h"

#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>

#include <chrono>
#include <cstring>
#include <csignal>
#include <sys/wait.h>
#include <cmath>
#include <mutex>
#include <thread>
#include <vector>

#include <pulse/simple.h>

namespace corvessa::test {

namespace {

std::unique_ptr<PulseFixture>& instance()
{
    static std::unique_ptr<PulseFixture> fixture;
    return fixture;
}

QString& failure()
{
    static QString reason;
    return reason;
}

QString tail(const QString& path, int lines = 8)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QStringList all = QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    return all.mid(std::max<qsizetype>(0, all.size() - lines)).join(QStringLiteral(" | "));
}

} // namespace

PulseFixture* PulseFixture::shared()
{
    static std::once_flag once;
    std::call_once(once, [] {
        std::unique_ptr<PulseFixture> fixture(new PulseFixture);
        QString error;
        if (fixture->start(&error))
            instance() = std::move(fixture);
        else
            failure() = error;
    });
    return instance().get();
}

QString PulseFixture::unavailableReason()
{
    return failure();
}

PulseFixture::~PulseFixture()
{
    if (m_daemon)
        m_daemon->terminate();
}

QString PulseFixture::server() const
{
    return QStringLiteral("unix:") + m_dir.filePath(QStringLiteral("runtime/native"));
}

bool PulseFixture::start(QString* error)
{
    if (!m_dir.isValid()) {
        *error = QStringLiteral("no temporary directory");
        return false;
    }
    if (QStandardPaths::findExecutable(QStringLiteral("pulseaudio")).isEmpty()) {
        *error = QStringLiteral("the pulseaudio program is not installed");
        return false;
    }
    const QDir dir(m_dir.path());
    for (const char* sub : {"runtime", "home", "state"})
        dir.mkpath(QString::fromLatin1(sub));
    QFile::setPermissions(dir.filePath(QStringLiteral("runtime")),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QString socket = dir.filePath(QStringLiteral("runtime/native"));

    // No default script: exactly the modules the tests rely on, nothing that
    // remembers or reroutes streams between tests.
    QFile script(dir.filePath(QStringLiteral("daemon.pa")));
    QFile clientConf(dir.filePath(QStringLiteral("client.conf")));
    if (!script.open(QIODevice::WriteOnly) || !clientConf.open(QIODevice::WriteOnly)) {
        *error = QStringLiteral("cannot write the daemon's configuration");
        return false;
    }
    script.write(QStringLiteral("load-module module-native-protocol-unix auth-anonymous=1 socket=%1\n"
                                "load-module module-null-sink sink_name=%2 sink_properties=device.description=Speakers\n"
                                "load-module module-null-sink sink_name=%3 sink_properties=device.description=Mic\n"
                                "load-module module-remap-source master=%3.monitor source_name=%4 "
                                "source_properties=\"device.description='Stand-in microphone'\"\n"
                                "set-default-sink %2\n"
                                "set-default-source %4\n")
                     .arg(socket, QLatin1String(speakers), QLatin1String(micSink), QLatin1String(micSource))
                     .toUtf8());
    script.close();
    clientConf.write("autospawn = no\n");
    clientConf.close();

    qputenv("PULSE_SERVER", server().toUtf8());
    qputenv("PULSE_CLIENTCONFIG", clientConf.fileName().toUtf8());
    qunsetenv("PULSE_SINK");
    qunsetenv("PULSE_SOURCE");
    return launch(error);
}

bool PulseFixture::launch(QString* error)
{
    const QDir dir(m_dir.path());
    const QString socket = dir.filePath(QStringLiteral("runtime/native"));
    const QString script = dir.filePath(QStringLiteral("daemon.pa"));
    const QString clientConf = dir.filePath(QStringLiteral("client.conf"));
    const QString log = dir.filePath(QStringLiteral("daemon.log"));
    const QStringList env{
        QStringLiteral("PATH=") + qEnvironmentVariable("PATH"),
        QStringLiteral("HOME=") + dir.filePath(QStringLiteral("home")),
        QStringLiteral("XDG_CONFIG_HOME=") + dir.filePath(QStringLiteral("home/.config")),
        QStringLiteral("PULSE_RUNTIME_PATH=") + dir.filePath(QStringLiteral("runtime")),
        QStringLiteral("XDG_RUNTIME_DIR=") + dir.filePath(QStringLiteral("runtime")),
        QStringLiteral("PULSE_STATE_PATH=") + dir.filePath(QStringLiteral("state")),
        QStringLiteral("PULSE_CLIENTCONFIG=") + clientConf,
        QStringLiteral("LANG=C"),
    };
    // Running as root only draws a warning with --system=no; realtime and high
    // priority would need rtkit over D-Bus, which a test machine lacks.
    m_daemon = ChildProcess::start(QStringLiteral("pulseaudio"),
                                   {QStringLiteral("-n"), QStringLiteral("--daemonize=no"),
                                    QStringLiteral("--system=no"), QStringLiteral("--exit-idle-time=-1"),
                                    QStringLiteral("--disable-shm=yes"), QStringLiteral("--use-pid-file=no"),
                                    QStringLiteral("--realtime=no"), QStringLiteral("--high-priority=no"),
                                    QStringLiteral("--log-target=stderr"), QStringLiteral("-F"), script},
                                   env, log);
    if (!m_daemon) {
        *error = QStringLiteral("pulseaudio could not be started");
        return false;
    }

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    QString lastError;
    while (std::chrono::steady_clock::now() < deadline) {
        if (!m_daemon->isRunning()) {
            *error = QStringLiteral("pulseaudio exited: ") + tail(log);
            m_daemon.reset();
            return false;
        }
        if (QFile::exists(socket)) {
            try {
                PulseContext probe(QStringLiteral("fixture"));
                return true;
            } catch (const AudioInputError& e) {
                lastError = e.detail();
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    *error = QStringLiteral("pulseaudio did not become ready (%1): %2").arg(lastError, tail(log));
    m_daemon.reset();
    return false;
}

void PulseFixture::killServer()
{
    if (!m_daemon)
        return;
    ::kill(m_daemon->pid(), SIGKILL);
    m_daemon->waitFinished(10000);
    m_daemon.reset();
}

bool PulseFixture::restartServer()
{
    killServer();
    // A killed daemon leaves its socket behind; the new one takes it over.
    QString error;
    return launch(&error);
}

std::optional<QString> PulseFixture::pactl(const QStringList& arguments) const
{
    const QString out = m_dir.filePath(QStringLiteral("pactl-%1.out").arg(++m_fileCounter));
    auto p = ChildProcess::start(QStringLiteral("pactl"), arguments, std::nullopt, out);
    if (!p || !p->waitFinished(10000) || !p->status() || !WIFEXITED(*p->status()) || WEXITSTATUS(*p->status()) != 0)
        return std::nullopt;
    QFile f(out);
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QString text = QString::fromUtf8(f.readAll());
    f.remove();
    return text;
}

QString PulseFixture::defaultSink() const
{
    return pactl({QStringLiteral("get-default-sink")}).value_or(QString()).trimmed();
}

QStringList PulseFixture::modules() const
{
    return pactl({QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("modules")})
        .value_or(QString())
        .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QStringList PulseFixture::sinksOfStreams(const QString& application) const
{
    const auto sinks = pactl({QStringLiteral("-f"), QStringLiteral("json"), QStringLiteral("list"), QStringLiteral("sinks")});
    const auto inputs =
        pactl({QStringLiteral("-f"), QStringLiteral("json"), QStringLiteral("list"), QStringLiteral("sink-inputs")});
    if (!sinks || !inputs)
        return {};
    QMap<int, QString> names;
    for (const auto& s : QJsonDocument::fromJson(sinks->toUtf8()).array())
        names.insert(s.toObject().value(QStringLiteral("index")).toInt(), s.toObject().value(QStringLiteral("name")).toString());
    QStringList result;
    for (const auto& i : QJsonDocument::fromJson(inputs->toUtf8()).array()) {
        const QJsonObject o = i.toObject();
        if (o.value(QStringLiteral("properties")).toObject().value(QStringLiteral("application.name")).toString()
            == application)
            result << names.value(o.value(QStringLiteral("sink")).toInt());
    }
    return result;
}

QString PulseFixture::writeTone(double frequency, double seconds, double amplitude) const
{
    const int rate = 44100;
    const int frames = int(seconds * rate);
    QFile f(m_dir.filePath(QStringLiteral("tone-%1.wav").arg(++m_fileCounter)));
    if (!f.open(QIODevice::WriteOnly))
        return {};
    QDataStream out(&f);
    out.setByteOrder(QDataStream::LittleEndian);
    const quint32 dataBytes = quint32(frames) * 4;
    out.writeRawData("RIFF", 4);
    out << quint32(36 + dataBytes);
    out.writeRawData("WAVEfmt ", 8);
    out << quint32(16) << quint16(1) << quint16(2) << quint32(rate) << quint32(rate * 4) << quint16(4) << quint16(16);
    out.writeRawData("data", 4);
    out << dataBytes;
    for (int i = 0; i < frames; ++i) {
        const auto v = qint16(std::lround(amplitude * 32767 * std::sin(2 * M_PI * frequency * i / rate)));
        out << v << v;
    }
    return f.fileName();
}

std::unique_ptr<ChildProcess> PulseFixture::playTone(const QString& sink, double frequency, double seconds,
                                                     double amplitude, const QStringList& properties,
                                                     const QString& application) const
{
    const QString file = writeTone(frequency, seconds, amplitude);
    if (file.isEmpty())
        return nullptr;
    // A short buffer, as media players use: with paplay's default of two seconds
    // the null sink renders that far ahead, and its monitor lags accordingly.
    QStringList args{QStringLiteral("--client-name=") + application, QStringLiteral("--latency-msec=20")};
    if (!sink.isEmpty())
        args << QStringLiteral("--device=") + sink;
    for (const QString& p : properties)
        args << QStringLiteral("--property=") + p;
    args << file;
    return ChildProcess::start(QStringLiteral("paplay"), args, std::nullopt,
                               m_dir.filePath(QStringLiteral("paplay.log")));
}

std::optional<float> PulseFixture::recordPeak(const QString& source, double seconds) const
{
    const pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, 44100, 2};
    pa_buffer_attr attr;
    std::memset(&attr, 0xff, sizeof attr);
    attr.fragsize = 441 * 8; // 10 ms, so that the sink renders with little latency meanwhile
    int err = 0;
    pa_simple* s = pa_simple_new(nullptr, "corvessa-tests", PA_STREAM_RECORD, source.toUtf8().constData(), "peak",
                                 &spec, nullptr, &attr, &err);
    if (!s)
        return std::nullopt;
    std::vector<float> chunk(441 * 2);
    float peak = 0;
    const int chunks = int(seconds * 100);
    for (int i = 0; i < chunks; ++i) {
        if (pa_simple_read(s, chunk.data(), chunk.size() * sizeof(float), &err) < 0) {
            pa_simple_free(s);
            return std::nullopt;
        }
        for (float v : chunk)
            peak = std::max(peak, std::fabs(v));
    }
    pa_simple_free(s);
    return peak;
}

} // namespace corvessa::test
