#pragma once

// What the benchmarks of a movie's sound under load share: the busy
// processes and other encoders beside the recording, the `parec` control of
// the stand-in microphone, and the figures read back from a movie (the
// lengths of its picture and sound, the silence inside its sound and the
// control's, its first sound, its frames and distinct pictures), printed one
// a line.

#include "BenchAv.h"
#include "BenchRig.h"

#include "platform/ffmpeg/MovieProbe.h"

#include <QProcess>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <vector>

namespace benchrig {

// Anything above digital silence and the encoder's rounding: -50 dBFS.
constexpr int kAudible = 100;

inline bool audible(int16_t v) { return std::abs(int(v)) > kAudible; }

// Seconds of 10 ms blocks with no audible sample between the first and the last audible one.
inline double silence(const QByteArray& pcm)
{
    const auto* s = reinterpret_cast<const int16_t*>(pcm.constData());
    const long n = long(pcm.size() / 2);
    constexpr long kBlock = kMovieRate / 100;
    long first = 0;
    long last = n - 1;
    while (first < n && !audible(s[first]))
        ++first;
    while (last > first && !audible(s[last]))
        --last;
    long silent = 0;
    for (long b = first; b + kBlock <= last; b += kBlock)
        if (std::none_of(s + b, s + b + kBlock, audible))
            ++silent;
    return double(silent) * kBlock / kMovieRate;
}

// Seconds from the movie's start to its first audible sample (`pcm` is its
// sound); a tone plays throughout, so any silence before it is the
// recorder's. Negative when none.
inline double firstSound(const QString& movie, const QByteArray& pcm)
{
    const auto* s = reinterpret_cast<const int16_t*>(pcm.constData());
    const long n = long(pcm.size() / 2);
    const long first = long(std::find_if(s, s + n, audible) - s);
    if (first == n)
        return -1;
    return probeStream(movie, QStringLiteral("a:0"), QStringLiteral("stream=start_time")).toDouble()
           + double(first) / kMovieRate;
}

// The movie's pictures that differ from the one before (ffmpeg's mpdecimate
// leaves out the rest, which tolerates the encoder's noise on a repeat).
inline long distinctPictures(const QString& movie)
{
    const QByteArray crcs = run(QStringLiteral("ffmpeg"),
                                {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-i"), movie,
                                 QStringLiteral("-map"), QStringLiteral("0:v:0"), QStringLiteral("-vf"),
                                 QStringLiteral("mpdecimate"), QStringLiteral("-fps_mode"), QStringLiteral("passthrough"),
                                 QStringLiteral("-f"), QStringLiteral("framecrc"), QStringLiteral("-")});
    long n = 0;
    for (const QByteArray& line : crcs.split('\n'))
        if (!line.isEmpty() && !line.startsWith('#'))
            ++n;
    return n;
}

// One stream's length in seconds, from its packets.
inline double streamSeconds(const corvessa::MovieProbe::Result& probe, corvessa::MovieProbe::Stream::Kind kind)
{
    const corvessa::MovieProbe::Stream* s = probe.firstOf(kind);
    return s ? s->seconds : 0;
}

// `busy` processes of `yes > /dev/null` and `encodes` ffmpeg processes
// encoding a 1080p test pattern with libx265 to nowhere, until it goes.
struct Load {
    std::vector<std::unique_ptr<QProcess>> processes;
    Load(int busy, int encodes)
    {
        for (int i = 0; i < busy + encodes; ++i) {
            auto p = std::make_unique<QProcess>();
            p->setStandardOutputFile(QProcess::nullDevice());
            p->setStandardErrorFile(QProcess::nullDevice());
            if (i < busy)
                p->start(QStringLiteral("yes"), {});
            else
                p->start(QStringLiteral("ffmpeg"),
                         {QStringLiteral("-nostdin"), QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-f"),
                          QStringLiteral("lavfi"), QStringLiteral("-i"), QStringLiteral("testsrc2=size=1920x1080:rate=30"),
                          QStringLiteral("-c:v"), QStringLiteral("libx265"), QStringLiteral("-x265-params"),
                          QStringLiteral("log-level=error"), QStringLiteral("-f"), QStringLiteral("null"),
                          QStringLiteral("/dev/null")});
            p->waitForStarted();
            processes.push_back(std::move(p));
        }
    }
    Load(const Load&) = delete;
    Load& operator=(const Load&) = delete;
    ~Load()
    {
        for (auto& p : processes) {
            p->kill();
            p->waitForFinished();
        }
    }
};

// `parec` recording the stand-in microphone as 48 kHz mono into `path` until it goes.
struct Control {
    QString path;
    QProcess parec;
    explicit Control(QString file)
        : path(std::move(file))
    {
        parec.setStandardOutputFile(path);
        parec.start(QStringLiteral("parec"), {QStringLiteral("--device=stand_in_mic"), QStringLiteral("--format=s16le"),
                                              QStringLiteral("--rate=48000"), QStringLiteral("--channels=1"),
                                              QStringLiteral("--raw")});
    }
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;
    ~Control() { stop(); }
    bool started() { return parec.waitForStarted(); }
    // Ends the recording and returns what it heard.
    QByteArray stop()
    {
        if (parec.state() != QProcess::NotRunning) {
            parec.terminate();
            parec.waitForFinished();
        }
        QFile raw(path);
        return raw.open(QIODevice::ReadOnly) ? raw.readAll() : QByteArray();
    }
};

// Prints the load's first line.
inline void printLoad(int busy, int encodes)
{
    if (encodes > 0)
        std::printf("load: %d busy processes + %d libx265 encodes\n", busy, encodes);
    else
        std::printf("load: %d busy processes\n", busy);
    std::fflush(stdout);
}

// Prints the movie's figures one a line: `written` frames of `expected`, and
// the distinct pictures beside the peer's (`-` without a peer).
inline void printSoundFigures(const QString& movie, const QByteArray& controlPcm, long long written, double expected,
                              std::optional<long> peerDistinct)
{
    using Kind = corvessa::MovieProbe::Stream::Kind;
    const QByteArray pcm = soundOf(movie);
    const corvessa::MovieProbe::Result probe = corvessa::MovieProbe::probe(movie);
    std::printf("  video duration: %.2f s\n", streamSeconds(probe, Kind::Video));
    std::printf("  sound duration: %.2f s\n", streamSeconds(probe, Kind::Audio));
    std::printf("  movie silence: %.2f s\n", silence(pcm));
    std::printf("  control silence: %.2f s\n", silence(controlPcm));
    std::printf("  first sound: %.2f s\n", firstSound(movie, pcm));
    std::printf("  frames written: %lld of %.0f expected\n", written, expected);
    if (peerDistinct)
        std::printf("  distinct pictures: %ld (ffmpeg %ld)\n", distinctPictures(movie), *peerDistinct);
    else
        std::printf("  distinct pictures: %ld (ffmpeg -)\n", distinctPictures(movie));
    std::fflush(stdout);
}

} // namespace benchrig
