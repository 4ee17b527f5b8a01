#pragma once

#include "capture/CameraMirror.h"
#include "engine/AudioTimelineMixer.h"
#include "engine/WriterInputGuard.h"
#include "platform/core/MediaTime.h"
#include "platform/MovieWriter.h"
#include "platform/core/SampleBuffer.h"
#include "platform/core/WrittenFile.h"

#include <QSize>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace corvessa {

class RecordingTimeline;

// The camera's pictures, with the microphone as their sound, in files of their
// own beside the screen movie: "X Camera.mov", then "X Camera 2.mov" and so on,
// a new segment whenever the picture size changes, every segment on the movie's
// timeline. A file that cannot be opened is tried again after a back-off; one
// that breaks while written ends the camera's part of the recording.
//
// It reaches the engine only through its Host. Owned by the engine queue
// ("recorder.engine"): every call, and every Host call it makes, is on it.
class CameraSideFile {
public:
    // How the file talks back to the engine.
    struct Host {
        std::function<void(const QString& line)> emitLine;
        // A segment file was created: the recovery journal names it.
        std::function<void(const QString& path)> addToJournal;
        // A segment is open and has its leader: its sound is due at once.
        std::function<void()> segmentOpened;
        // Runs work later on the engine queue, at once or after `seconds`.
        std::function<void(std::function<void()> work)> post;
        std::function<void(double seconds, std::function<void()> work)> postAfter;
        // Finishes the writer; `done` runs on the engine queue afterwards.
        std::function<void(const std::shared_ptr<MovieWriter>& writer, std::function<void()> done)> finishWriting;
    };

    // Where the movie stands, as a camera segment needs it.
    struct MovieClock {
        MediaTime origin;        // the movie's first frame: every segment's time zero
        MediaTime offset;        // paused time so far, taken off camera times
        MediaTime frameInterval; // of the movie
        MediaTime lastAdjusted;  // the movie's last frame on its timeline
        bool withSound = false;  // the microphone is recorded
    };

    // A file that cannot be opened is tried again after this long, doubling per
    // failure up to the maximum: a camera delivers 30 pictures a second, and a
    // full disk or a bad folder does not heal that fast.
    static constexpr double cameraRetryFirstDelay = 0.5;
    static constexpr double cameraRetryMaxDelay = 8.0;

    // The file beside a screen movie: "X Screen.mov" gives "X Camera.mov" for
    // segment 0, "X Camera 2.mov" for segment 1, and so on.
    static QString cameraFilePath(const QString& screenPath, int segment);

    // A closing segment's sound is drained for at most `drainSeconds`, looking
    // again every `pollSeconds`.
    CameraSideFile(Host host, double drainSeconds, double pollSeconds);
    CameraSideFile(const CameraSideFile&) = delete;
    CameraSideFile& operator=(const CameraSideFile&) = delete;

    // A new recording: nothing written yet. Segments still closing from an
    // earlier one go on closing.
    void begin(const QString& screenPath, int fps, MovieWriterFactory factory);

    // One picture of the recording, on the movie's timeline (the engine has
    // checked it belongs there). False once the file is broken for good: no
    // more pictures are wanted.
    bool write(const SampleBuffer& sample, bool mirrored, const MovieClock& clock);

    // Microphone sound, placed for the segments' sound track.
    void placeSound(const SampleBuffer& buffer, const RecordingTimeline& timeline);
    // The microphone has stopped delivering: its sound is no longer waited for
    // (silence) until it delivers again.
    void microphoneStopped();
    // Writes the sound up to output frame `target` (or, before the final drain,
    // as far towards it as a late microphone allows); without an open file or
    // without the microphone the sound keeps pace silently, so that a file opened
    // later starts in step.
    void drainSound(int64_t target, MediaTime origin, bool final, bool withSound);

    // Stop: whether the open segment's sound is still short of `endFrame`.
    bool soundPending(int64_t endFrame) const;
    // Stop: finishes the open segment at `end` (output frame `endFrame`); the
    // sound it still lacks up to there counts as missing from it.
    void finish(MediaTime end, int64_t endFrame, bool withSound);
    // Pause: whether the microphone has delivered the sound up to `endFrame`
    // (or is no longer waited for); then the open file writes out what it holds.
    bool soundDue(int64_t endFrame);
    void flushFragment(MediaTime pausedAt);
    // Stop with no movie: the open segment is dropped.
    void cancel();
    // Once every segment has finished, with the movie saved at `moviePath`: a
    // failed open segment loses its place as the camera file and is reported,
    // unless it was already. A segment finished earlier and moved with its
    // folder since is found beside the movie; one gone is reported.
    void checkResult(const QString& moviePath);
    // Runs `done` on the engine queue once no segment is closing or finishing.
    void notifyCameraFinishes(std::function<void()> done);

    // Some segment could not be saved: the journal stays for the next launch.
    bool cameraSaveFailed() const { return m_cameraSaveFailed; }
    // Every segment file, in order; the first one unless it (or the last) failed.
    const std::vector<QString>& cameraFileURLs() const { return m_cameraFileURLs; }
    const std::optional<QString>& cameraFileURL() const { return m_cameraFileURL; }
    // Every segment file its writer made, where it was saved (or started, while
    // it is not finished yet).
    std::vector<WrittenFile> writtenFiles() const;
    // Per segment file, in the order of cameraFileURLs(): the 48 kHz frames of
    // its sound that were skipped past a writer too far behind or never written
    // by its finish.
    const std::vector<int64_t>& missingSound() const { return m_missingSound; }

private:
    struct CamClosing;

    bool setupCamWriter(const SampleBuffer& sample, const MovieClock& clock);
    void cameraFileFailed(const QString& line);
    void closeCamWriter(const MovieClock& clock);
    void closeCamStep(const std::shared_ptr<CamClosing>& closing);
    void camSegmentFinished(const std::shared_ptr<CamClosing>& closing);
    // A segment's writer has finished: the file is saved where it is now (the
    // user may have moved it or its folder), or it is reported lost. False
    // when it is not saved.
    bool settleSegment(int recording, size_t segment, const MovieWriter& writer, bool reportFailure);
    void followMovie(size_t segment, const QString& moviePath);
    void segmentSavedAt(size_t segment, const WrittenFile& file);
    void leaveCameraFinish();
    // What a segment of recording `recording` goes without: its mixer's cursor up to `endFrame`.
    void countTail(int recording, size_t segment, const AudioTimelineMixer& mixer, int64_t endFrame);

    Host m_host;
    const double m_drainSeconds;
    const double m_pollSeconds;
    WriterInputGuard m_guard;
    CameraMirror m_camMirror;

    // Of the recording.
    int m_recording = 0; // counts begin() calls
    QString m_screenPath;
    int m_fps = 15;
    MovieWriterFactory m_factory;
    AudioTimelineMixer m_cameraMixer; // the microphone, for the segments' sound
    std::vector<QString> m_cameraFileURLs;
    std::vector<std::optional<WrittenFile>> m_cameraWritten; // beside m_cameraFileURLs
    std::vector<int64_t> m_missingSound; // beside m_cameraFileURLs
    std::optional<QString> m_cameraFileURL;
    int m_camSegment = 0;
    bool m_cameraSaveFailed = false;

    // The open segment.
    std::shared_ptr<MovieWriter> m_camWriter;
    bool m_camHasAudio = false;
    std::optional<QSize> m_camDim;
    MediaTime m_lastCamAdjusted;
    bool m_camFailureReported = false; // the open writer's failure was already sent

    // Opening after failures.
    int m_camFailures = 0;             // openings failed in a row
    bool m_camFailureLineSent = false; // of this streak
    double m_camRetryAt = 0;           // host seconds

    // Segments still finishing, like a dispatch group: notifyCameraFinishes waits for none left.
    int m_cameraFinishes = 0;
    std::vector<std::function<void()>> m_cameraFinishWaiters;
};

} // namespace corvessa
