#pragma once

// What the benchmarks that pair a picture with a sound share: reading a
// movie's frame times, its flashes and its sound back with ffprobe and ffmpeg,
// and finding the loud onsets in that sound.

#include "BenchRig.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <numeric>
#include <vector>

namespace benchrig {

constexpr int kMovieRate = 48000;

// One field of the first stream `stream` ("v:0", "a:0") of `movie`, as ffprobe prints it.
inline QByteArray probeStream(const QString& movie, const QString& stream, const QString& entries,
                              bool countFrames = false)
{
    QStringList a{QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-select_streams"), stream};
    if (countFrames)
        a << QStringLiteral("-count_frames");
    a << QStringLiteral("-show_entries") << entries << QStringLiteral("-of") << QStringLiteral("csv=p=0") << movie;
    return run(QStringLiteral("ffprobe"), a).trimmed();
}

// The movie's first sound track as 48 kHz mono 16-bit samples.
inline QByteArray soundOf(const QString& movie)
{
    return run(QStringLiteral("ffmpeg"), {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-i"), movie,
                                          QStringLiteral("-map"), QStringLiteral("0:a:0"), QStringLiteral("-ac"),
                                          QStringLiteral("1"), QStringLiteral("-ar"), QString::number(kMovieRate),
                                          QStringLiteral("-f"), QStringLiteral("s16le"), QStringLiteral("-")});
}

// The times of the frames whose mean luma jumps by more than 80 over the frame before: white flashes.
inline std::vector<double> flashTimes(const QString& movie)
{
    std::vector<double> pts;
    for (const auto& l : probeStream(movie, QStringLiteral("v:0"), QStringLiteral("frame=pts_time")).split('\n'))
        if (!l.trimmed().isEmpty())
            pts.push_back(l.trimmed().toDouble());
    const QByteArray luma = run(
        QStringLiteral("ffmpeg"),
        {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-i"), movie, QStringLiteral("-map"),
         QStringLiteral("0:v:0"), QStringLiteral("-fps_mode"), QStringLiteral("passthrough"), QStringLiteral("-vf"),
         QStringLiteral("scale=32:18,format=gray"), QStringLiteral("-f"), QStringLiteral("rawvideo"), QStringLiteral("-")});
    std::vector<double> flashes;
    const int px = 32 * 18;
    const size_t frames = std::min(pts.size(), size_t(luma.size() / px));
    double prev = -1;
    for (size_t i = 0; i < frames; ++i) {
        const auto* p = reinterpret_cast<const uint8_t*>(luma.constData()) + i * px;
        const double mean = std::accumulate(p, p + px, 0.0) / px;
        if (prev >= 0 && mean - prev > 80)
            flashes.push_back(pts[i]);
        prev = mean;
    }
    return flashes;
}

// The times (from `start`, the sound's own start) of the first sample above
// `threshold` after at least `quietSeconds` without one.
inline std::vector<double> loudOnsets(const QByteArray& pcm, double start, int threshold, double quietSeconds)
{
    std::vector<double> onsets;
    const auto* s = reinterpret_cast<const int16_t*>(pcm.constData());
    const long n = long(pcm.size() / 2);
    const long quiet = long(quietSeconds * kMovieRate);
    long lastLoud = -quiet - 1;
    for (long i = 0; i < n; ++i) {
        if (std::abs(int(s[i])) > threshold) {
            if (i - lastLoud > quiet)
                onsets.push_back(start + double(i) / kMovieRate);
            lastLoud = i;
        }
    }
    return onsets;
}

// For each flash, the nearest onset minus the flash, where one lies within `within` seconds.
inline std::vector<double> onsetMinusFlash(const std::vector<double>& flashes, const std::vector<double>& onsets,
                                           double within)
{
    std::vector<double> offsets;
    for (double f : flashes) {
        double best = 1e9;
        for (double o : onsets)
            if (std::abs(o - f) < std::abs(best))
                best = o - f;
        if (std::abs(best) < within)
            offsets.push_back(best);
    }
    return offsets;
}

// Seconds from the movie's first frame to its first audible sample (above
// -50 dBFS: more than digital silence and the encoder's rounding); negative
// when the movie has no sound at all.
inline double firstSoundAfterFirstFrame(const QString& movie)
{
    const QByteArray pcm = soundOf(movie);
    const auto* s = reinterpret_cast<const int16_t*>(pcm.constData());
    const size_t n = size_t(pcm.size() / 2);
    for (size_t i = 0; i < n; ++i)
        if (std::abs(int(s[i])) > 100)
            return probeStream(movie, QStringLiteral("a:0"), QStringLiteral("stream=start_time")).toDouble()
                + double(i) / kMovieRate
                - probeStream(movie, QStringLiteral("v:0"), QStringLiteral("stream=start_time")).toDouble();
    return -1;
}

// A 16-bit stereo WAV of a 440 Hz tone at half scale, `secs` long.
inline bool writeTone(const QString& path, double secs)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    const uint32_t frames = uint32_t(secs * kMovieRate);
    const uint32_t bytes = frames * 4;
    auto u32 = [&](uint32_t v) { f.write(reinterpret_cast<const char*>(&v), 4); };
    auto u16 = [&](uint16_t v) { f.write(reinterpret_cast<const char*>(&v), 2); };
    f.write("RIFF");
    u32(36 + bytes);
    f.write("WAVEfmt ");
    u32(16), u16(1), u16(2), u32(kMovieRate), u32(kMovieRate * 4), u16(4), u16(16);
    f.write("data");
    u32(bytes);
    std::vector<int16_t> pcm(size_t(frames) * 2);
    for (uint32_t i = 0; i < frames; ++i)
        pcm[2 * i] = pcm[2 * i + 1] = int16_t(16384 * std::sin(2 * M_PI * 440 * i / kMovieRate));
    return f.write(reinterpret_cast<const char*>(pcm.data()), qint64(pcm.size() * 2)) == qint64(pcm.size() * 2);
}

} // namespace benchrig
