// Measures the movie writer's cost per x265 speed preset: a synthetic screen
// (a still desktop with a moving window and a scrolling text block) at 30 fps
// with a stereo tone, fed in real time as a recording would be.
//
//   bench_movie_writer_presets [seconds=10] [width=1920] [height=1080] [bgra|nv12] [presets...]
//
// Prints, per preset: CPU seconds per recorded second spent outside the feeding
// thread (conversion, encoding, muxing), frames that found the writer's queue
// full (a real recording would drop them; here they wait, so that every preset
// encodes the same frames), the file's bit rate and how long finishing took.

#include "platform/ffmpeg/FFmpegMovieWriter.h"
#include "platform/core/PixelBuffer.h"
#include "platform/core/SampleBuffer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <future>
#include <random>
#include <sys/resource.h>
#include <thread>

using namespace corvessa;
using Clock = std::chrono::steady_clock;

namespace {

double cpuSeconds(int who)
{
    rusage u{};
    getrusage(who, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// The desktop: gradient background with rows of "text" (random dark blocks).
PixelBufferRef makeDesktop(int w, int h)
{
    auto p = PixelBuffer::create(w, h, PixelFormat::BGRA);
    std::mt19937 rng(7);
    for (int y = 0; y < h; ++y) {
        uint8_t* row = p->baseAddress() + size_t(y) * p->bytesPerRow();
        for (int x = 0; x < w; ++x) {
            row[4 * x] = uint8_t(180 + 60 * x / w);
            row[4 * x + 1] = uint8_t(150 + 80 * y / h);
            row[4 * x + 2] = 120;
            row[4 * x + 3] = 255;
        }
    }
    for (int line = h / 10; line < h - 20; line += 24) {
        for (int x = w / 20; x < w / 2;) {
            const int word = 10 + int(rng() % 60);
            for (int y = line; y < line + 14; ++y) {
                uint8_t* row = p->baseAddress() + size_t(y) * p->bytesPerRow();
                for (int i = x; i < std::min(w, x + word); ++i) {
                    if (rng() % 3 == 0)
                        std::memset(row + 4 * i, 30, 3);
                }
            }
            x += word + 8;
        }
    }
    return p;
}

void drawFrame(PixelBuffer& out, const PixelBuffer& desktop, int index)
{
    const int w = out.width(), h = out.height();
    for (int y = 0; y < h; ++y)
        std::memcpy(out.baseAddress() + size_t(y) * out.bytesPerRow(),
                    desktop.baseAddress() + size_t(y) * desktop.bytesPerRow(), size_t(w) * 4);
    // A window moving across the screen.
    const int ww = w / 4, wh = h / 4;
    const int wx = (index * 6) % (w - ww), wy = h / 2 + int(50 * std::sin(index / 20.0));
    for (int y = wy; y < wy + wh && y < h; ++y) {
        uint8_t* row = out.baseAddress() + size_t(y) * out.bytesPerRow();
        for (int x = wx; x < wx + ww; ++x) {
            row[4 * x] = 240;
            row[4 * x + 1] = uint8_t(200 - (y - wy) / 4);
            row[4 * x + 2] = 60;
        }
    }
    // A text block scrolling one line every frame.
    const int tx = w / 2 + 40, tw = w / 3, ty = h / 10, th = h / 3;
    for (int y = 0; y < th; ++y) {
        const int src = ty + (y + index * 2) % th;
        std::memcpy(out.baseAddress() + size_t(ty + y) * out.bytesPerRow() + size_t(tx) * 4,
                    desktop.baseAddress() + size_t(src) * desktop.bytesPerRow() + size_t(w / 20) * 4, size_t(tw) * 4);
    }
}

// What a capture in '420v' delivers: BT.709 video range, made here on the
// feeding thread so that only the writer's own work is measured.
PixelBufferRef toNV12(const PixelBuffer& bgra)
{
    const int w = bgra.width(), h = bgra.height();
    auto out = PixelBuffer::create(w, h, PixelFormat::NV12VideoRange);
    for (int y = 0; y < h; ++y) {
        const uint8_t* in = bgra.baseAddress() + size_t(y) * bgra.bytesPerRow();
        uint8_t* luma = out->baseAddress(0) + size_t(y) * out->bytesPerRow(0);
        for (int x = 0; x < w; ++x)
            luma[x] = uint8_t(16 + (47 * in[4 * x + 2] + 157 * in[4 * x + 1] + 16 * in[4 * x]) / 256);
    }
    for (int y = 0; y < h / 2; ++y) {
        const uint8_t* in = bgra.baseAddress() + size_t(2 * y) * bgra.bytesPerRow();
        uint8_t* chroma = out->baseAddress(1) + size_t(y) * out->bytesPerRow(1);
        for (int x = 0; x < w / 2; ++x) {
            const int r = in[8 * x + 2], g = in[8 * x + 1], b = in[8 * x];
            chroma[2 * x] = uint8_t(128 + (-26 * r - 86 * g + 112 * b) / 256);
            chroma[2 * x + 1] = uint8_t(128 + (112 * r - 102 * g - 10 * b) / 256);
        }
    }
    return out;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const double seconds = argc > 1 ? std::atof(argv[1]) : 10;
    const int width = argc > 2 ? std::atoi(argv[2]) : 1920;
    const int height = argc > 3 ? std::atoi(argv[3]) : 1080;
    const bool nv12 = argc > 4 && std::strcmp(argv[4], "nv12") == 0;
    QStringList presets;
    for (int i = 5; i < argc; ++i)
        presets << QString::fromUtf8(argv[i]);
    if (presets.isEmpty())
        presets = {QStringLiteral("ultrafast"), QStringLiteral("superfast"), QStringLiteral("veryfast")};
    const int fps = 30;
    // The screen movie's rate at tier 1 (the default quality): 6 Mbit/s at 1080p30.
    const int64_t bitRate = int64_t(6.0 * std::pow(double(width * height) / 2073600.0, 0.8) * 1e6);

    QTemporaryDir dir;
    const auto desktop = makeDesktop(width, height);
    std::printf("movie writer, %dx%d %s @ %d fps, %.0f s per preset, %.2f Mbit/s, %u cores\n", width, height,
                nv12 ? "NV12" : "BGRA", fps, seconds, double(bitRate) / 1e6, std::thread::hardware_concurrency());
    std::printf("%-10s %10s %10s %9s %10s %10s\n", "preset", "cpu/s", "wall cpu%", "refused", "Mbit/s", "finish ms");

    for (const QString& preset : presets) {
        MovieWriter::Settings s;
        s.path = dir.filePath(preset + QStringLiteral(".mov"));
        MovieWriter::VideoSettings v;
        v.width = width;
        v.height = height;
        v.expectedFrameRate = fps;
        v.averageBitRate = bitRate;
        v.colorTags = true;
        v.speedPreset = preset;
        s.video = v;
        s.audio = MovieWriter::AudioSettings{};
        FFmpegMovieWriter w(s);
        if (!w.startWriting()) {
            std::printf("%-10s failed: %s\n", qPrintable(preset), qPrintable(w.error()->message));
            continue;
        }
        const MediaTime start(1000, 1);
        w.startSession(start);
        const int frames = int(seconds * fps);
        int refused = 0;
        int64_t audioDone = 0;
        const double cpu0 = cpuSeconds(RUSAGE_SELF) - cpuSeconds(RUSAGE_THREAD);
        const auto t0 = Clock::now();
        double feederCpu = 0;
        for (int i = 0; i < frames; ++i) {
            std::this_thread::sleep_until(t0 + std::chrono::microseconds(int64_t(i) * 1000000 / fps));
            const double f0 = cpuSeconds(RUSAGE_THREAD);
            auto pixels = PixelBuffer::create(width, height, PixelFormat::BGRA);
            drawFrame(*pixels, *desktop, i);
            if (nv12)
                pixels = toNV12(*pixels);
            feederCpu += cpuSeconds(RUSAGE_THREAD) - f0;
            const MediaTime pts = start + MediaTime(i, fps);
            // A frame the writer is not ready for counts, then waits: every preset
            // encodes the same frames, so the CPU figures compare.
            if (!w.isReadyForMoreMediaData(MovieWriter::Input::Video)) {
                ++refused;
                while (!w.isReadyForMoreMediaData(MovieWriter::Input::Video))
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            w.append(MovieWriter::Input::Video, SampleBuffer::video(pixels, pts, MediaTime(1, fps)));
            const int64_t until = int64_t(i + 1) * 48000 / fps;
            while (audioDone < until) {
                const size_t n = size_t(std::min<int64_t>(480, until - audioDone));
                SampleBuffer a = SampleBuffer::audio(AudioFormat::floatFormat(48000, 2), n, start + MediaTime(audioDone, 48000));
                float* d = a.floatData(0);
                for (size_t k = 0; k < n; ++k)
                    d[2 * k] = d[2 * k + 1] = 0.2f * float(std::sin(2 * M_PI * 440 * double(audioDone + int64_t(k)) / 48000));
                w.append(MovieWriter::Input::Audio, a);
                audioDone += int64_t(n);
            }
        }
        w.markAsFinished(MovieWriter::Input::Video);
        w.markAsFinished(MovieWriter::Input::Audio);
        w.endSession(start + MediaTime(frames, fps));
        const auto f0 = Clock::now();
        std::promise<void> done;
        w.finishWriting([&done] { done.set_value(); });
        done.get_future().wait();
        const auto f1 = Clock::now();
        const double wall = std::chrono::duration<double>(f1 - t0).count();
        const double cpu = cpuSeconds(RUSAGE_SELF) - cpuSeconds(RUSAGE_THREAD) - cpu0;
        (void)feederCpu;
        const double mbps = double(QFileInfo(s.path).size()) * 8 / seconds / 1e6;
        std::printf("%-10s %10.3f %9.0f%% %9d %10.2f %10.0f\n", qPrintable(preset), cpu / seconds, 100 * cpu / wall, refused,
                    mbps, std::chrono::duration<double, std::milli>(f1 - f0).count());
        if (w.status() != MovieWriter::Status::Completed)
            std::printf("  status %s\n", qPrintable(MovieWriter::statusName(w.status())));
    }
    return 0;
}
