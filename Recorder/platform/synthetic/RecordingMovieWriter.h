#pragma once

#include "platform/MovieWriter.h"

#include <chrono>
#include <memory>
#include <mutex>
#include <vector>

namespace corvessa {

// A movie writer that writes no movie: it records every call, answers like a
// real writer (status, readiness, refusals) and can be told to fail, refuse,
// throw or hold its finish, so that the engine can be tested without encoding.
class RecordingMovieWriter final : public MovieWriter, public std::enable_shared_from_this<RecordingMovieWriter> {
public:
    enum class CallKind {
        StartWriting,
        StartSession,
        Append,
        MarkAsFinished,
        EndSession,
        FlushFragment,
        FinishWriting,
        CancelWriting
    };

    struct Call {
        Call() = default;
        explicit Call(CallKind k, std::optional<Input> i = std::nullopt, MediaTime t = {}, MediaTime d = {})
            : kind(k), input(i), time(t), duration(d) {}

        CallKind kind = CallKind::StartWriting;
        std::optional<Input> input;
        MediaTime time;          // session start or end, a flush's time, or the sample's presentation time
        MediaTime duration;      // of an appended sample
        size_t audioFrames = 0;  // of an appended audio sample
        size_t silentFrames = 0; // of those, the frames of interleaved float audio that are all zero
        int width = 0;           // of an appended picture
        int height = 0;
        bool accepted = false;   // what startWriting or append answered
    };

    explicit RecordingMovieWriter(Settings settings);

    // A factory that makes recording writers, configures each one and keeps them
    // in `made` (in order) for the test to look at.
    static MovieWriterFactory factory(std::shared_ptr<std::vector<std::shared_ptr<RecordingMovieWriter>>> made,
                                      std::function<void(RecordingMovieWriter&)> configure = {});

    const Settings& settings() const override { return m_settings; }
    bool startWriting() override;
    void startSession(MediaTime sourceTime) override;
    bool isReadyForMoreMediaData(Input input) const override;
    bool append(Input input, const SampleBuffer& sample) override;
    void markAsFinished(Input input) override;
    void endSession(MediaTime sourceTime) override;
    void flushFragment(MediaTime sourceTime) override;
    void finishWriting(std::function<void()> completion) override;
    void cancelWriting() override;
    Status status() const override;
    std::optional<RecorderError> error() const override;
    // The file it made at the start, if it made one.
    std::optional<WrittenFile> writtenFile() const override;

    std::vector<Call> calls() const;
    // The accepted appends of one input, in order.
    std::vector<Call> appended(Input input) const;
    size_t appendedAudioFrames() const;
    std::optional<MediaTime> sessionStart() const;
    std::optional<MediaTime> sessionEnd() const;

    // Behaviour. By default startWriting creates an empty file at the path, every
    // input is ready, appends in time order are accepted and the finish completes
    // on a thread of its own.
    void setCreatesFile(bool creates);
    void setStartError(std::optional<RecorderError> error);
    void setReady(Input input, bool ready);
    // A slow writer: audio is ready only while the frames it accepted stay
    // within `framesPerSecond` for every second since the session started
    // (wall clock). 0: no limit.
    void setAudioRate(double framesPerSecond);
    void setRefuseAppends(Input input, bool refuse);
    // The next append fails the whole writer with this error.
    void failOnNextAppend(RecorderError error);
    // Fails the writer now, as a write on its own thread does (a full disk).
    void failNow(RecorderError error);
    // Every append to the input throws std::runtime_error with this message.
    void throwOnAppend(Input input, QString message);
    void setFinishError(std::optional<RecorderError> error);
    // A held finish completes only through releaseFinish(), on its caller's thread.
    void setHoldFinish(bool hold);
    bool releaseFinish();

private:
    struct InputState {
        bool ready = true;
        bool refuse = false;
        bool finished = false;
        std::optional<QString> throwMessage;
        MediaTime lastPts;
    };

    InputState& state(Input input) { return input == Input::Video ? m_video : m_audio; }
    const InputState& state(Input input) const { return input == Input::Video ? m_video : m_audio; }
    void complete();

    const Settings m_settings;
    mutable std::mutex m_mutex;
    std::vector<Call> m_calls;
    Status m_status = Status::Unknown;
    std::optional<RecorderError> m_error;
    bool m_createsFile = true;
    std::optional<WrittenFile> m_written;
    std::optional<RecorderError> m_startError;
    std::optional<RecorderError> m_failNext;
    std::optional<RecorderError> m_finishError;
    bool m_holdFinish = false;
    std::function<void()> m_heldCompletion;
    bool m_finishHeld = false;
    InputState m_video;
    InputState m_audio;
    std::optional<MediaTime> m_sessionStart;
    double m_audioRate = 0;
    std::chrono::steady_clock::time_point m_sessionStartedAt;
    size_t m_acceptedAudioFrames = 0;
    std::optional<MediaTime> m_sessionEnd;
};

} // namespace corvessa
