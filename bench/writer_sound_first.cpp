// Whether the movie writer keeps the sound when its encoder falls behind: 1080p
// NV12 pictures at 30 fps and 48 kHz stereo sound are fed in real time as the
// engine feeds them (a picture the writer is not ready for is dropped; sound it
// is not ready for waits, as in the engine's mixer, 0.35 s behind real time).
// Meant for a busy machine, where the encoder cannot keep up.
//
//   bench_writer_sound_first [--seconds N]    (default 30)
//
// Prints one figure a line: the pictures dropped, how often the sound found
// the writer not ready, the most sound left waiting for the writer and what
// still waited at the end, and how long the finish took.

#include "platform/core/PixelBuffer.h"
#include "platform/core/SampleBuffer.h"
#include "platform/ffmpeg/FFmpegMovieWriter.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <future>
#include <thread>
#include <vector>

using namespace corvessa;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kFps = 30;
constexpr int64_t kRate = 48000;
constexpr int64_t kChunk = 480;          // the mixer's 10 ms blocks
constexpr int64_t kLag = kRate * 35 / 100; // the mix runs 0.35 s behind real time
constexpr int kPictures = 8;             // distinct pictures, cycled: the feed costs little

// A busy picture, different for each index: noise that moves.
PixelBufferRef picture(int index)
{
    auto p = PixelBuffer::create(kWidth, kHeight, PixelFormat::NV12VideoRange);
    for (size_t plane = 0; plane < 2; ++plane) {
        const int rows = plane == 0 ? kHeight : kHeight / 2;
        for (int y = 0; y < rows; ++y) {
            uint8_t* row = p->baseAddress(plane) + size_t(y) * p->bytesPerRow(plane);
            for (int x = 0; x < kWidth; ++x)
                row[x] = uint8_t((x * 7 + y * 3 + index * 11 + ((x ^ y) & 31)) & 0xff);
        }
    }
    return p;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    double seconds = 30;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0)
            seconds = std::max(1.0, std::atof(argv[++i]));
    }
    QTemporaryDir dir;
    MovieWriter::Settings s;
    s.path = dir.filePath(QStringLiteral("movie.mov"));
    MovieWriter::VideoSettings v;
    v.width = kWidth;
    v.height = kHeight;
    v.expectedFrameRate = kFps;
    v.averageBitRate = 6000000;
    v.colorTags = true;
    s.video = v;
    s.audio = MovieWriter::AudioSettings{};
    FFmpegMovieWriter w(s);
    if (!w.startWriting()) {
        std::printf("the writer did not start: %s\n", qPrintable(w.error()->message));
        return 1;
    }
    std::vector<PixelBufferRef> pictures;
    for (int i = 0; i < kPictures; ++i)
        pictures.push_back(picture(i));

    const MediaTime start(1000, 1);
    w.startSession(start);
    const int frames = int(seconds * kFps);
    int dropped = 0;
    int refusals = 0;
    int64_t soundDone = 0;
    int64_t waitingMost = 0;
    const auto t0 = Clock::now();
    for (int i = 0; i < frames; ++i) {
        std::this_thread::sleep_until(t0 + std::chrono::microseconds(int64_t(i) * 1000000 / kFps));
        if (w.isReadyForMoreMediaData(MovieWriter::Input::Video))
            w.append(MovieWriter::Input::Video,
                     SampleBuffer::video(pictures[size_t(i % kPictures)], start + MediaTime(i, kFps), MediaTime(1, kFps)));
        else
            ++dropped;
        const int64_t due = std::max<int64_t>(0, int64_t(i + 1) * kRate / kFps - kLag);
        while (soundDone + kChunk <= due) {
            if (!w.isReadyForMoreMediaData(MovieWriter::Input::Audio)) {
                ++refusals;
                break;
            }
            SampleBuffer a = SampleBuffer::audio(AudioFormat::floatFormat(double(kRate), 2), size_t(kChunk),
                                                 start + MediaTime(soundDone, int32_t(kRate)));
            float* d = a.floatData(0);
            for (int64_t k = 0; k < kChunk; ++k)
                d[2 * k] = d[2 * k + 1] = 0.2f * float(std::sin(2 * M_PI * 440 * double(soundDone + k) / double(kRate)));
            w.append(MovieWriter::Input::Audio, a);
            soundDone += kChunk;
        }
        waitingMost = std::max(waitingMost, due - soundDone);
    }
    const int64_t due = std::max<int64_t>(0, int64_t(frames) * kRate / kFps - kLag);
    const auto f0 = Clock::now();
    w.markAsFinished(MovieWriter::Input::Video);
    w.markAsFinished(MovieWriter::Input::Audio);
    w.endSession(start + MediaTime(frames, kFps));
    std::promise<void> done;
    w.finishWriting([&done] { done.set_value(); });
    done.get_future().wait();
    const double finish = std::chrono::duration<double>(Clock::now() - f0).count();

    std::printf("writer: %dx%d NV12 @ %d fps with 48 kHz stereo, %.0f s fed in real time, %u cores\n", kWidth, kHeight,
                kFps, seconds, std::thread::hardware_concurrency());
    std::printf("  pictures dropped: %d of %d\n", dropped, frames);
    std::printf("  sound refused: %d times\n", refusals);
    std::printf("  sound waiting at most: %.2f s\n", double(waitingMost) / double(kRate));
    std::printf("  sound waiting at the end: %.2f s\n", double(due - soundDone) / double(kRate));
    std::printf("  finish: %.2f s (%s)\n", finish, qPrintable(MovieWriter::statusName(w.status())));
    return w.status() == MovieWriter::Status::Completed ? 0 : 1;
}
