#pragma once

#include "platform/MovieWriter.h"

#include <memory>

namespace corvessa {

class SerialQueue;

// The movie writer over libavformat's QuickTime muxer: HEVC through libx265
// (tag 'hvc1', no B-frames, a key frame at least every maxKeyFrameInterval
// seconds), AAC through FFmpeg's own encoder, written as fragments
// (frag_keyframe + empty_moov + default_base_moof) so that the file plays up to
// its last complete fragment after the process is killed.
//
// Pixel conversion (BGRA or NV12 to BT.709 video-range 4:2:0, scaled when a
// picture's size differs from the movie's), encoding and muxing run on the
// writer's own thread, fed by a bounded queue; isReadyForMoreMediaData() is
// false while that queue is full. Sound goes ahead of the pictures queued
// before it, so a slow encoder costs pictures, not sound. A failed encode or write (a full disk) makes
// the status failed with the reason, and the file is cut back to its last whole
// fragment. Each completed fragment is pushed to the file at once, and a
// fragment is cut at least every second of movie time. At the finish the file
// that was opened must still have a name, its own path or the one it was moved
// to, or the save has failed.
//
// The work is done by FFmpegPictureEncoder, FFmpegSoundEncoder and FFmpegMuxer
// on the writer's thread; this class keeps the queue and what callers see.
class FFmpegMovieWriter final : public MovieWriter {
public:
    // Measured with bench/movie_writer_presets (synthetic desktop, 1080p30,
    // 6 Mbit/s): CPU seconds per recorded second, BGRA / NV12 input, were
    // ultrafast 1.35 / 1.12, superfast 1.77 / 1.50, veryfast 2.07 / 1.70. The
    // slower presets save a little bit rate but cost a third more CPU, which a
    // recording needs for capture and compositing.
    static inline const QString defaultSpeedPreset = QStringLiteral("ultrafast");
    // libx265 takes its rate in whole kbit/s; below 1 it has no rate to aim at.
    static constexpr int64_t minimumVideoBitRate = 1000;
    // libx265 refuses pictures smaller than this on either side.
    static constexpr int minimumVideoSide = 16;
    // Queue bounds: a second of video at the expected rate (at least 8
    // frames), so a busy moment of the machine delays frames instead of losing
    // them, never more than 128 MiB of frames (ten 4K NV12 frames), and two
    // seconds of audio.
    static constexpr int maxQueuedFrames = 8;
    static constexpr double maxQueuedVideoSeconds = 1.0;
    int queuedFrameLimit() const;
    static constexpr size_t maxQueuedVideoBytes = size_t(128) << 20;
    static constexpr double maxQueuedAudioSeconds = 2.0;
    // libx265's worker threads run this many nice steps below the thread that
    // opens the writer (the capture, mixing and writer threads' priority): two
    // steps weigh 655 against 1024, so on a machine whose every CPU is busy the
    // sound's threads are served first and the picture gives way, while the
    // encoder still gets most of a normal share (x265's own ten steps give it a
    // tenth, and it falls seconds behind).
    static constexpr int encoderNiceSteps = 2;

    explicit FFmpegMovieWriter(Settings settings);
    ~FFmpegMovieWriter() override;

    const Settings& settings() const override;
    bool startWriting() override;
    void startSession(MediaTime sourceTime) override;
    bool isReadyForMoreMediaData(Input input) const override;
    bool append(Input input, const SampleBuffer& sample) override;
    void markAsFinished(Input input) override;
    void endSession(MediaTime sourceTime) override;
    // The AAC encoder still holds less than 64 ms of what was handed over: it
    // takes only whole frames of 1024 samples and gives each out two later.
    void flushFragment(MediaTime sourceTime) override;
    void finishWriting(std::function<void()> completion) override;
    void cancelWriting() override;
    Status status() const override;
    std::optional<RecorderError> error() const override;
    std::optional<WrittenFile> writtenFile() const override;

    // The picture size written to the file for a requested size: each side made
    // even and at least minimumVideoSide.
    static int encodedSide(int side);

    // For tests: the file system refuses every byte past `bytes` of the file, as
    // a full disk does (ENOSPC).
    void simulateFullDiskAfter(int64_t bytes);

private:
    struct Core;
    std::shared_ptr<Core> m_core;
    std::unique_ptr<SerialQueue> m_queue;
};

} // namespace corvessa
