#pragma once

#include "capture/AudioNormalizer.h"
#include "capture/Gains.h"
#include "capture/LevelStats.h"
#include "engine/AudioTimelineMixer.h"
#include "engine/CameraSideFile.h"
#include "engine/EarlySound.h"
#include "engine/compositor/CursorTheme.h"
#include "engine/EngineLines.h"
#include "engine/FrameDemand.h"
#include "engine/RecorderEngineConfig.h"
#include "engine/RecordingTarget.h"
#include "engine/RecordingTimeline.h"
#include "engine/SourceGap.h"
#include "engine/VideoSyncQueue.h"
#include "engine/WriterInputGuard.h"
#include "platform/core/Guarded.h"
#include "platform/core/MediaTime.h"
#include "platform/MovieWriter.h"
#include "platform/core/WrittenFile.h"
#include "platform/core/PixelBuffer.h"
#include "platform/core/RecorderError.h"
#include "platform/core/SampleBuffer.h"
#include "platform/ScreenSource.h"
#include "platform/ScreenStreamConfig.h"
#include "platform/core/SerialQueue.h"

#include <QRectF>
#include <QSize>
#include <QSizeF>
#include <QString>

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace corvessa {

class AudioInput;
class CameraFeed;
class CameraOverlayState;
class CursorCompositor;
class FocusState;
class MouseTrack;
class PointerService;
class PowerControl;
class SystemAudioTap;

// Turns one recording request into a fragmented QuickTime movie: screen frames
// through the compositor into an HEVC track, microphone and system audio mixed
// into one AAC track, with pause tiers, stream loss recovery, watchdogs and the
// recovery journal.
//
// Threads. Every state change happens on the engine queue "recorder.engine",
// which also receives the capture stream's frames and microphone buffers, the
// system-audio tap's buffers (hopped there), the heartbeat and the pause tiers.
// Slow platform calls (starting, reconfiguring and stopping capture streams,
// reading the window list) run on a second queue or on the caller's thread and
// come back to the engine queue for their outcome. Nothing blocks the engine
// queue on another queue, so no call can deadlock against a callback.
//
// Operations. startInner, cleanUpAfterFailedStart and stop do slow work and wait
// for it: call them from a worker thread (never from the engine queue; from the
// main thread only if blocking it is acceptable). pause, resume and
// setMuteSpeakers return at once and do their work on the engine queue.
//
// Reporting. The engine never calls its owner except through the callbacks
// below, which are set once before the first start and may be called from the
// engine queue or from the thread running an operation; a receiver hops to the
// main thread itself and must not wait there. Event lines are plain English
// (see EngineLines); the owner classifies them by their wording.
//
// Code. The member functions live in RecorderEngine*.cpp, one file per concern:
// start, stream, frames, sound, writers, watchdogs, pause, stop, notices.
//
// Owned by the engine queue ("recorder.engine"), except where a field says otherwise.
class RecorderEngine : public std::enable_shared_from_this<RecorderEngine> {
    struct Passkey {};

public:
    enum class State { idle, recording, paused, finishing };
    using PauseTier = corvessa::PauseTier;

    // What is recorded.
    using Target = RecordingTarget;

    // One recording request, filled by the recorder model.
    using Config = RecorderEngineConfig;

    // Counters of the recording in progress or just stopped.
    struct Stats {
        int64_t writtenVideo = 0;  // frames appended to the movie
        int64_t droppedVideo = 0;  // frames that could not be written
        int64_t repeatedVideo = 0; // of the written frames, the re-sent last picture
        int64_t audioFrames = 0;   // 48 kHz frames handed to the audio track
        int64_t audioDiscarded = 0;
        int64_t audioOverlap = 0;
        int64_t audioResyncs = 0;
        // 48 kHz frames of the movie's sound that are missing from it: arrived
        // too late, skipped past a writer that fell too far behind, or not
        // written by the finish.
        int64_t audioMissing = 0;
    };

    // The event lines, exact.
    using Line = EngineLines;

    // Free bytes for the user on the file system holding `folder`; nothing when unknown.
    using FreeSpaceProbe = std::function<std::optional<uint64_t>(const QString& folder)>;
    // Whether the microphone may be recorded (asked once per start).
    using MicrophoneAccess = std::function<bool()>;

    // Limits and intervals.
    static constexpr int minFps = 1;
    static constexpr int maxFps = 120;
    static constexpr double heartbeatMinInterval = 1.0 / 60; // never faster than 60 Hz, whatever the frame rate
    static constexpr double audioLagSeconds = 0.350;         // audio is mixed this far behind real time
    // Sound lost beyond this (0.1 s, in 48 kHz frames) is told to the user; less
    // is the odd buffer cut at a pause or a resync, not heard as a gap.
    static constexpr int64_t droppedSoundNotice = 4800;
    // Sound that reaches the engine before the first frame is kept this long (in
    // 48 kHz frames, 2 s over both sources): the sources start before the picture
    // does, and what they caught is placed from the first frame on.
    static constexpr int64_t earlySoundFrames = 96000;
    static constexpr double micSilenceSeconds = 4.0;
    static constexpr double diskCheckEvery = 10.0;
    static constexpr uint64_t lowDiskBytes = 1073741824; // below 1 GiB the owner stops the recording
    static constexpr double streamRetryDelay = 2.0;
    static constexpr double resumeFillDelay = 1.0;
    // The stop waits for the movie's sound as long as the writer takes some
    // within this time; a writer that takes none for that long is given up. A
    // closing camera segment's sound gets this long at most.
    static constexpr double stopDrainSeconds = 3.0;
    static constexpr double drainPollSeconds = 0.01;
    static constexpr double syncGraceSeconds = 0.2;
    // While a source is still late at a pause, what it delivered is written out
    // this often until it has caught up with the pause.
    static constexpr double pauseWriteOutRetry = 1.0;

    static std::shared_ptr<RecorderEngine> create();
    explicit RecorderEngine(Passkey);
    ~RecorderEngine();
    RecorderEngine(const RecorderEngine&) = delete;
    RecorderEngine& operator=(const RecorderEngine&) = delete;

    // Callbacks; set them before the first start.
    std::function<void(const QString& line)> onEvent;
    std::function<void(std::optional<PauseTier>)> onPauseTierChange; // nothing when the pause ends
    std::function<void(const LevelStats&)> onMicLevel;
    std::function<void(const LevelStats&)> onSysLevel;
    // Live gains, written by the owner at any time (the object has its own lock).
    Gains gains;

    // Services, replaceable before a start (tests, benchmarks). By default: the
    // process-wide screen source, the real movie writer, the process-wide audio
    // input and pointer, statvfs, the session bus's screen saver, access granted.
    void setScreenSource(std::shared_ptr<ScreenSource> source);
    void setWriterFactory(MovieWriterFactory factory);
    void setAudioInput(std::shared_ptr<AudioInput> input);
    void setPointerService(std::shared_ptr<PointerService> pointer);
    void setFreeSpaceProbe(FreeSpaceProbe probe);
    void setPowerControl(std::shared_ptr<PowerControl> power);
    void setMicrophoneAccess(MicrophoneAccess access);
    // Seconds of pause before the eco and deep tiers (10 and 180).
    void setTierDelays(double ecoAfter, double deepAfter);

    // Starts a recording and returns once the stream runs and the state is
    // recording; an error (domain "Recorder", code 1, translated text, or the
    // platform's own) means nothing runs and cleanUpAfterFailedStart() is due.
    // Blocking; not on the engine queue.
    std::optional<RecorderError> startInner(const Config& config);
    // After a failed start: timers, tap, camera hand-off, stream and writer are
    // gone, the partial file is deleted and the journal ended. Blocking.
    void cleanUpAfterFailedStart();
    // Pauses a running recording; `then` runs on the main thread once the pause
    // is in place (not at all when nothing was recording).
    void pause(std::function<void()> then = {});
    void resume();
    void setMuteSpeakers(bool mute);
    // Ends the recording: capture stops, the sound drains for as long as the
    // writer keeps taking it, the movie is finished. The movie's path, or
    // nothing when no movie was completed (or nothing was recording). A call
    // while another caller's stop is under way waits for it and answers
    // nothing. Blocking; not on the engine queue.
    std::optional<QString> stop();

    // Recorded (not paused) seconds so far; any thread.
    double effectiveSeconds() const;
    // Read through the engine queue: any thread, also from inside a callback.
    State state() const;
    PauseTier tier() const;
    Stats stats() const;
    QSize outputSize() const;
    std::shared_ptr<MouseTrack> mouseTrack() const;
    // Every camera file of the recording, in order; the first one, unless it
    // (or the last one) failed.
    std::vector<QString> cameraFileURLs() const;
    std::optional<QString> cameraFileURL() const;
    // The files of the last recording as their writers made them, where they
    // are: the movie first, then every camera file; none before a first start.
    std::vector<WrittenFile> writtenFiles() const;

    // The name of a tier in the lines ("instant", "eco", "deep").
    static const char* tierName(PauseTier tier);

private:
    // The stream of the recording, shared with the control queue that starts
    // and stops it. `token` tells its callbacks from those of earlier streams.
    struct StreamHandle {
        std::shared_ptr<ScreenStream> stream;
        uint64_t token = 0;
    };

    // The services recordings use; a start reads them all at once.
    struct Services {
        std::shared_ptr<ScreenSource> source;
        MovieWriterFactory writerFactory;
        std::shared_ptr<AudioInput> audioInput;
        std::shared_ptr<PointerService> pointer;
        FreeSpaceProbe freeSpace;
        MicrophoneAccess micAccess;
    };

    // What making the stream anew needs, read on the engine queue.
    struct Rebuild {
        std::shared_ptr<ScreenSource> source;
        Target target;
        std::function<std::vector<uint32_t>()> excludedWindows;
        ScreenFilter filter; // the stream's so far
        ScreenStreamConfig sc;
    };

    // Start steps.
    void resetRecordingState();
    // Cancels the pause tiers, the resume fill and the stream retry still to come.
    void cancelScheduledWork();
    // Opens the movie and installs the writer as soon as it exists, so a failed
    // start can cancel it. Not on the engine queue.
    std::optional<RecorderError> setupWriter(const Config& config, const MovieWriterFactory& factory, QSize size);
    // Makes and starts a stream for `filter` and `scConfig` and installs it unless
    // the recording it was made for is over. Not on the engine queue.
    std::optional<RecorderError> startStream(uint64_t recording, const std::shared_ptr<ScreenSource>& source,
                                             const ScreenFilter& filter, const ScreenStreamConfig& scConfig);
    // The stream is made anew after a loss or a deep pause: rebuildRequest reads
    // what that needs on the engine queue; rebuildFilter (not on it) finds the
    // target again in the current content and replaces `rebuild.filter`.
    Rebuild rebuildRequest() const;
    static std::optional<RecorderError> rebuildFilter(Rebuild& rebuild);
    // A start error: domain "Recorder", code 1, the text translated.
    static RecorderError err(const char* english);
    // A target lookup that failed, as the error to report.
    static std::optional<RecorderError> targetError(const RecordingTarget::Found& found);
    void emitLine(const QString& line);
    void setTier(std::optional<PauseTier> tier);

    // Stream output (engine queue).
    void onScreenSample(uint64_t token, const SampleBuffer& sample);
    void onMicrophoneSample(uint64_t token, const SampleBuffer& sample);
    void onStreamStopped(uint64_t token, const RecorderError& error);
    void onAreaMoved(uint64_t token);
    void onSystemAudio(SampleBuffer buffer);
    // Tells the seconds a source was missing when its sound comes back.
    void noteGap(SourceGap& gap, const SampleBuffer& buffer, const EngineLine& line);
    void retryStream();
    void retryAttempt(uint64_t recording);
    // Moves the recording into the loss path: frozen picture, retries every 2 s.
    void enterLoss();
    // The recorded window was closed: no retry, one line for the owner to stop on.
    void windowClosed();
    // Whether a stream's end or a failed rebuild says the recorded window is gone.
    bool isWindowGone(const RecorderError& error) const;

    // Frame path (engine queue).
    void handleVideo(const SampleBuffer& sample, bool force);
    void appendVideo(const PixelBufferRef& image, MediaTime adjusted, bool repeated);
    SampleBuffer makeSampleBuffer(const PixelBufferRef& image, MediaTime pts) const;

    // Heartbeat and watchdogs (engine queue).
    void onHeartbeat();
    // Whether the movie's and the camera file's sound tracks are filled: always
    // while a recording runs, with silence where no source delivered.
    bool recordsAudio() const;
    bool recordsCameraSound() const;
    void drainAudio(bool final);
    void drainVideoSync(bool flush, MediaTime now);
    void heartbeat(double minGap);
    void checkMicAlive();
    void checkDiskSpace();
    // A writer that failed on its own thread (a full disk) ends the recording:
    // said once, then stopped as by stop().
    void checkWriter();
    void holdAwake();
    void releaseAwake();
    // Cuts off what feeds a recording: heartbeat, cursor tracking, the lens
    // outline, keep-awake and the camera. On the engine queue; returns the tap,
    // which is stopped outside it.
    std::unique_ptr<SystemAudioTap> detachFeeds();

    // Camera hooks (engine queue): pictures for a separate camera file, and the
    // microphone for its sound. Until the recording has its first frame and
    // runs, pictures are dropped; the camera file's sound keeps pace with the
    // movie so a file opened later starts in step.
    void handleCamera(const SampleBuffer& sample, bool mirrored);
    void handleCameraAudio(const SampleBuffer& buffer);
    // Places converted sound in the movie's mix, or keeps it until the first frame.
    void placeSound(AudioTimelineMixer::Source source, const SampleBuffer& buffer);
    bool takesEarlySound() const;
    CameraSideFile::Host cameraHost();
    CameraSideFile::MovieClock movieClock() const;
    // Finishes a writer; `done` runs on the engine queue afterwards, and what it
    // holds is let go there. The engine stays until then.
    void finishOnQueue(MovieWriter& writer, std::function<void()> done);

    // Pause tiers (engine queue).
    void schedulePauseWork(double seconds, std::function<void()> work);
    void enterEco();
    void enterDeep();
    void resumeFill();
    // Once the sound before the open pause is mixed, the writers write out all
    // they hold, so a crash during the pause loses nothing recorded before it.
    void writeOutPause();
    void finishResumeReconfiguration(uint64_t recording, PauseTier previous, std::optional<RecorderError> error);

    // Stop (engine queue after the first phase).
    struct StopRun;
    // The first phase of a stop, on the engine queue: false when there is no
    // recording to stop. The tap and the stream are stopped outside it.
    bool beginStop(const std::shared_ptr<StopRun>& run, StreamHandle& stream, std::unique_ptr<SystemAudioTap>& tap);
    // A stop the engine begins itself, from its queue; a later stop() waits for it.
    void stopFromQueue();
    void stopPhase2(const std::shared_ptr<StopRun>& run);
    void stopPhase3(const std::shared_ptr<StopRun>& run);
    void finishingStep(const std::shared_ptr<StopRun>& run);
    void resultStep(const std::shared_ptr<StopRun>& run);
    // The stop's lines about sound the files lack: what the movie and each
    // camera file could not write, and a source still gone at the end.
    void tellMissingSound(const StopRun& run);

    Services m_services;
    std::shared_ptr<PowerControl> m_power; // on the control queue only
    double m_ecoAfter = 10;
    double m_deepAfter = 180;

    State m_state = State::idle;
    PauseTier m_tier = PauseTier::instant;
    std::optional<Config> m_config;
    uint64_t m_recording = 0; // grows at every start: stale work compares it
    bool m_starting = false;     // a start is under way
    bool m_startPending = false; // a start began and has not succeeded
    StreamHandle m_stream;
    bool m_streamAllowed = false; // a rebuilt stream may be installed
    ScreenFilter m_filter;
    ScreenStreamConfig m_scConfig;
    std::unique_ptr<SystemAudioTap> m_tap;
    std::shared_ptr<CameraFeed> m_camera;
    std::shared_ptr<MovieWriter> m_writer;
    bool m_hasVideoIn = false;
    bool m_hasAudioIn = false;
    WriterInputGuard m_guard; // the movie's inputs
    std::shared_ptr<CursorCompositor> m_cursor;
    std::shared_ptr<MouseTrack> m_mouseTrack;
    QSize m_outputSize;

    bool m_loggedColorTags = false;
    bool m_loggedMicFormat = false;
    AudioNormalizer m_micNormalizer;
    AudioNormalizer m_systemNormalizer;
    RecordingTimeline m_timeline;
    AudioTimelineMixer m_audioMixer;
    EarlySound m_earlySound{earlySoundFrames}; // before the first frame
    bool m_receivedMicrophone = false;
    int64_t m_soundSkipped = 0; // frames mixed and never written: the writer fell too far behind (WriterInputGuard)
    int64_t m_soundTail = 0;    // frames up to the movie's end the finish went without
    int m_microphoneConfigurationsInFlight = 0;
    bool m_micOutputAttached = false;
    int m_streamRetries = 0;
    double m_lastMicBufferAt = 0; // host seconds
    double m_micWatchSince = 0;
    bool m_micDeadNotified = false;
    // The "no data" line was sent since the microphone's last buffer: the user
    // knows it is left out, and the stop does not tell its gap again.
    bool m_micDeadSinceBuffer = false;
    // Where the microphone's and the system audio's sound broke off and came back.
    SourceGap m_micGap;
    SourceGap m_systemGap;
    bool m_restartingStream = false;
    bool m_windowClosedSent = false;
    WorkItemRef m_retryWork;

    VideoSyncQueue m_videoSync;
    double m_lastSyncReport = 0;
    int64_t m_matchedCameraFrames = 0;
    int64_t m_missingCameraFrames = 0;
    CameraSideFile m_cameraFile;
    std::shared_ptr<CameraFeed> m_suspendedCamera; // put to sleep by the deep tier
    FrameDemand m_frameDemand;

    bool m_sessionStarted = false;
    MediaTime m_firstPTS;
    MediaTime m_offset = MediaTime::zero();
    MediaTime m_lastVideoPTS;
    MediaTime m_lastAdjusted = MediaTime::zero();
    bool m_resumeWaiting = false;
    MediaTime m_resumePTS;
    PixelBufferRef m_lastPixelBuffer;
    MediaTime m_frameInterval = MediaTime(1, 30);
    bool m_lastFrameSynthetic = false;
    std::vector<WorkItemRef> m_pauseWork;
    std::optional<MediaTime> m_pauseWriteOut; // the open pause's movie time, until written out
    double m_pauseWriteOutAt = 0;             // host seconds: the next write-out while a source is late
    WorkItemRef m_resumeTimeout;
    WorkItemRef m_heartbeatTimer;
    bool m_awakeHeld = false;
    uint32_t m_awakeID = 0; // on the control queue only

    int64_t m_droppedVideo = 0;
    int64_t m_writtenVideo = 0;
    int64_t m_repeatedVideo = 0;
    double m_lastDiskCheck = -1e9;
    bool m_diskStopSent = false;
    bool m_writerFailSent = false;        // "Save failed" was said while recording
    std::shared_ptr<StopRun> m_stopRun; // the stop under way, or the last one

    std::atomic<uint64_t> m_tokenCounter{0}; // any thread
    uint64_t m_startingToken = 0; // the stream being started, whose microphone may already deliver

    Guarded<double> m_effective; // recorded seconds; read from any thread

    // Queues last: they are destroyed first, while everything their blocks may
    // touch is still there.
    std::unique_ptr<SerialQueue> m_control; // stream start, update and stop
    std::unique_ptr<SerialQueue> m_q;       // "recorder.engine"
};

} // namespace corvessa
