#pragma once

#include "platform/core/MediaTime.h"
#include "platform/core/RecorderError.h"
#include "platform/core/WrittenFile.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace corvessa {

class SampleBuffer;

// Writes one QuickTime movie with an HEVC video input and an AAC audio input.
// Backends: FFmpegMovieWriter (libavformat + libx265 + AAC) and
// RecordingMovieWriter (records the calls, for tests).
//
// The life of a writer: startWriting() opens the file; startSession() fixes the
// source time that becomes movie time zero; append() hands over samples whose
// times are source times (the writer subtracts the session start); endSession()
// fixes where the movie ends; markAsFinished() closes an input; finishWriting()
// completes the file in the background. cancelWriting() gives up at any point.
//
// Every call may come from any thread. Nothing throws.
class MovieWriter {
public:
    enum class Status { Unknown, Writing, Completed, Failed, Cancelled };
    enum class Input { Video, Audio };

    // The extension of every movie file the program writes.
    static inline const QString fileExtension = QStringLiteral(".mov");

    struct VideoSettings {
        int width = 0;
        int height = 0;
        // Bits per second as the caller computed it; a backend raises it to the
        // least its encoder accepts.
        int64_t averageBitRate = 0;
        // Frames per second the source is expected to deliver; 0 = not known.
        int expectedFrameRate = 0;
        // Key frames at most this many seconds apart: with frames at the expected
        // rate exactly, else at the first frame this long after the last key frame.
        double maxKeyFrameInterval = 2.0;
        bool allowFrameReordering = false;
        // BT.709 primaries and matrix with the sRGB transfer function.
        bool colorTags = false;
        // Encoder speed preset; empty = the backend's default.
        QString speedPreset;
    };

    struct AudioSettings {
        int sampleRate = 48000;
        int channels = 2;
        int bitRate = 128000;
    };

    struct Settings {
        QString path;
        std::optional<VideoSettings> video;
        std::optional<AudioSettings> audio;
        // The movie is written in fragments of this length, so that it stays
        // readable up to the last complete fragment if the program dies.
        double fragmentInterval = 2.0;
    };

    virtual ~MovieWriter() = default;

    virtual const Settings& settings() const = 0;
    bool hasInput(Input input) const;

    // Opens the file and writes the movie header. On false the status is
    // failed and error() tells why.
    virtual bool startWriting() = 0;
    // The source time of movie time zero. Samples before it are dropped. Only
    // the first call after startWriting() counts.
    virtual void startSession(MediaTime sourceTime) = 0;
    // The input can take another sample now. False while its queue is full,
    // after markAsFinished(), and whenever the status is not writing.
    virtual bool isReadyForMoreMediaData(Input input) const = 0;
    // Hands over one sample. Video: a sample with a pixel buffer (BGRA or NV12)
    // whose presentation time is later than the last one. Audio: interleaved
    // float32 samples in the input's rate and channel count. False when the
    // sample is refused (not ready, not in order, wrong format, not writing);
    // a refusal never changes the status by itself. The writer keeps the
    // picture (not a copy) until it is encoded: its pixels must not change after
    // it was appended (pooled buffers are safe: they return to their pool only
    // when the writer lets go).
    virtual bool append(Input input, const SampleBuffer& sample) = 0;
    virtual void markAsFinished(Input input) = 0;
    // The source time where the movie ends: the last frame lasts until then and
    // later samples are dropped.
    virtual void endSession(MediaTime sourceTime) = 0;
    // No samples come for a while (a pause) and the movie goes on at
    // `sourceTime`: everything handed over is written out, the last picture
    // lasting until then, so that a crash meanwhile loses none of it but the
    // few milliseconds of sound an audio encoder still holds. Later samples go
    // on as before.
    virtual void flushFragment(MediaTime sourceTime) = 0;
    // Completes the file in the background; `completion` runs once, on a thread
    // of the writer's, when the status has become completed or failed (or
    // cancelled, by a cancel in the meantime). Called when not writing, it only
    // runs the completion. The completion may hop elsewhere, but must not wait
    // for the writer. A file that was removed, or replaced on its path by
    // another, meanwhile makes the finish fail; one renamed, or moved with its
    // folder, is completed where it went (writtenFile() tells where).
    virtual void finishWriting(std::function<void()> completion) = 0;
    // Stops writing and closes the file as it is; returns when that is done.
    // The file is left where it is.
    virtual void cancelWriting() = 0;

    virtual Status status() const = 0;
    // The file this writer created: its path, where the finish found it when it
    // had moved meanwhile. None when the writer created no file.
    virtual std::optional<WrittenFile> writtenFile() const = 0;
    // Why the status is failed; absent otherwise.
    virtual std::optional<RecorderError> error() const = 0;

    // The real backend. Writers are shared: a file being finished may outlive
    // the owner's interest in it.
    static std::shared_ptr<MovieWriter> create(Settings settings);

    static QString statusName(Status status);

    // Error domain of the writers' errors.
    static inline const QString errorDomain = QStringLiteral("MovieWriter");
};

// Makes the writer for a file; the engine takes one so tests can hand it recording writers.
using MovieWriterFactory = std::function<std::shared_ptr<MovieWriter>(const MovieWriter::Settings&)>;

} // namespace corvessa
