#pragma once

#include "platform/core/AudioFormat.h"
#include "platform/core/MediaTime.h"
#include "platform/MovieWriter.h"
#include "platform/core/PixelBuffer.h"
#include "platform/core/SampleBuffer.h"
#include "support/Artifacts.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <chrono>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <future>
#include <memory>
#include <optional>
#include <thread>

namespace corvessa::test {

// Where a test keeps its movies: $CORVESSA_TEST_ARTIFACTS/<name>/<test> when
// set, so a reviewer can look at them (one folder per test and parameter: tests
// run side by side never share one), emptied as the test starts, else a
// temporary folder removed afterwards.
class MovieFolder {
public:
    explicit MovieFolder(const QString& name)
    {
        const QString root = qEnvironmentVariable("CORVESSA_TEST_ARTIFACTS");
        if (!root.isEmpty()) {
            m_path = QDir(root).filePath(name + QLatin1Char('/') + Artifacts::testName());
            // Afresh each run: what an earlier run left would take the names
            // this one renames its files to.
            QDir(m_path).removeRecursively();
            QDir().mkpath(m_path);
        } else {
            m_temp = std::make_unique<QTemporaryDir>();
            m_path = m_temp->path();
        }
    }
    QString file(const QString& name) const { return QDir(m_path).filePath(name); }
    QString path() const { return m_path; }

private:
    std::unique_ptr<QTemporaryDir> m_temp;
    QString m_path;
};

// A source time far from zero, like the host clock's.
inline MediaTime hostBase()
{
    return MediaTime(int64_t(5000) * 1000000000, 1000000000);
}

inline MediaTime seconds(double s)
{
    return MediaTime::fromSeconds(s);
}

// A picture that changes every frame: a grey ramp with a square moving across it.
inline PixelBufferRef testPicture(int w, int h, PixelFormat format, int index)
{
    auto bgra = PixelBuffer::create(w, h, PixelFormat::BGRA);
    const int side = std::max(2, h / 4);
    const int x0 = (index * 4) % std::max(1, w - side);
    for (int y = 0; y < h; ++y) {
        uint8_t* row = bgra->baseAddress() + size_t(y) * bgra->bytesPerRow();
        for (int x = 0; x < w; ++x) {
            const bool inSquare = x >= x0 && x < x0 + side && y >= h / 3 && y < h / 3 + side;
            row[4 * x + 0] = inSquare ? 40 : uint8_t(x * 255 / std::max(1, w - 1));
            row[4 * x + 1] = inSquare ? 200 : uint8_t(y * 255 / std::max(1, h - 1));
            row[4 * x + 2] = inSquare ? 240 : 128;
            row[4 * x + 3] = 255;
        }
    }
    if (format == PixelFormat::BGRA)
        return bgra;
    // NV12 video range, BT.709, from the same picture.
    auto nv12 = PixelBuffer::create(w, h, PixelFormat::NV12VideoRange);
    auto Y = [](double r, double g, double b) { return 16 + 219 * (0.2126 * r + 0.7152 * g + 0.0722 * b) / 255; };
    for (int y = 0; y < h; ++y) {
        const uint8_t* in = bgra->baseAddress() + size_t(y) * bgra->bytesPerRow();
        uint8_t* out = nv12->baseAddress(0) + size_t(y) * nv12->bytesPerRow(0);
        for (int x = 0; x < w; ++x)
            out[x] = uint8_t(std::lround(Y(in[4 * x + 2], in[4 * x + 1], in[4 * x])));
    }
    for (int y = 0; y < h / 2; ++y) {
        const uint8_t* in = bgra->baseAddress() + size_t(2 * y) * bgra->bytesPerRow();
        uint8_t* out = nv12->baseAddress(1) + size_t(y) * nv12->bytesPerRow(1);
        for (int x = 0; x < w / 2; ++x) {
            const double r = in[8 * x + 2], g = in[8 * x + 1], b = in[8 * x];
            const double luma = 0.2126 * r + 0.7152 * g + 0.0722 * b;
            out[2 * x] = uint8_t(std::lround(128 + 224 * (b - luma) / 1.8556 / 255));
            out[2 * x + 1] = uint8_t(std::lround(128 + 224 * (r - luma) / 1.5748 / 255));
        }
    }
    return nv12;
}

// Interleaved float stereo at 48 kHz: a 440 Hz tone, continuous across pieces.
inline SampleBuffer tone(int64_t firstFrame, size_t frames, MediaTime pts, int rate = 48000, int channels = 2)
{
    SampleBuffer b = SampleBuffer::audio(AudioFormat::floatFormat(rate, channels), frames, pts);
    float* d = b.floatData(0);
    for (size_t i = 0; i < frames; ++i) {
        const float v = 0.25f * float(std::sin(2 * M_PI * 440 * double(firstFrame + int64_t(i)) / rate));
        for (int c = 0; c < channels; ++c)
            d[i * size_t(channels) + size_t(c)] = v;
    }
    return b;
}

// Waits for finishWriting's completion; false after the timeout.
inline bool finishAndWait(MovieWriter& writer, std::chrono::seconds timeout = std::chrono::seconds(60))
{
    auto done = std::make_shared<std::promise<void>>();
    auto future = done->get_future();
    writer.finishWriting([done] { done->set_value(); });
    return future.wait_for(timeout) == std::future_status::ready;
}

// Appends, waiting while the input is busy.
inline bool appendWhenReady(MovieWriter& writer, MovieWriter::Input input, const SampleBuffer& sample)
{
    for (int i = 0; i < 20000 && !writer.isReadyForMoreMediaData(input); ++i) {
        if (writer.status() != MovieWriter::Status::Writing)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return writer.append(input, sample);
}

// How often a four-character box type occurs in the file (a rough count of
// fragments when asked for "moof").
inline int countBoxes(const QString& path, const char* type)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    return int(f.readAll().count(QByteArray(type)));
}

// ffprobe's JSON for a file (streams and format), or an empty object.
inline QJsonObject ffprobe(const QString& path, const QStringList& extra = {})
{
    const QString exe = QStandardPaths::findExecutable(QStringLiteral("ffprobe"));
    if (exe.isEmpty())
        return {};
    QProcess p;
    p.start(exe, QStringList{QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-of"), QStringLiteral("json"),
                             QStringLiteral("-show_streams"), QStringLiteral("-show_format")}
                     + extra + QStringList{path});
    if (!p.waitForFinished(60000))
        return {};
    return QJsonDocument::fromJson(p.readAllStandardOutput()).object();
}

// The movie's first sound track decoded by ffmpeg to 16-bit mono at `rate`;
// nothing when it cannot be.
inline std::optional<QByteArray> monoSound(const QString& path, int rate, int timeoutMs = 120000)
{
    QProcess p;
    p.start(QStandardPaths::findExecutable(QStringLiteral("ffmpeg")),
            {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-i"), path, QStringLiteral("-map"),
             QStringLiteral("0:a:0"), QStringLiteral("-ac"), QStringLiteral("1"), QStringLiteral("-ar"),
             QString::number(rate), QStringLiteral("-f"), QStringLiteral("s16le"), QStringLiteral("-")});
    if (!p.waitForFinished(timeoutMs) || p.exitCode() != 0)
        return std::nullopt;
    return p.readAllStandardOutput();
}

// The longest stretch of the movie's sound, from `from` seconds of the track
// to `tail` seconds before its end, whose samples all stay below -50 dBFS;
// nothing when the track cannot be decoded.
inline std::optional<double> longestSilence(const QString& path, double from, double tail)
{
    constexpr int rate = 48000;
    const std::optional<QByteArray> sound = monoSound(path, rate);
    if (!sound)
        return std::nullopt;
    const QByteArray& pcm = *sound;
    const auto* samples = reinterpret_cast<const int16_t*>(pcm.constData());
    const qsizetype count = pcm.size() / 2;
    qsizetype longest = 0, run = 0;
    for (qsizetype i = qsizetype(from * rate); i < count - qsizetype(tail * rate); ++i) {
        run = std::abs(int(samples[i])) < 100 ? run + 1 : 0;
        longest = std::max(longest, run);
    }
    return double(longest) / rate;
}

inline MovieWriter::Settings movieSettings(const QString& path, int w, int h, int fps, bool audio = true)
{
    MovieWriter::Settings s;
    s.path = path;
    MovieWriter::VideoSettings v;
    v.width = w;
    v.height = h;
    v.expectedFrameRate = fps;
    v.averageBitRate = 1000000;
    v.colorTags = true;
    s.video = v;
    if (audio)
        s.audio = MovieWriter::AudioSettings{};
    return s;
}

} // namespace corvessa::test
