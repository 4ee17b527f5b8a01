#pragma once

#include "capture/TextLookup.h"

#include <QString>

#include <functional>
#include <memory>
#include <mutex>

namespace corvessa {

class AudioInput;

// Learns whether system audio can be captured by trying it: a throw-away tap
// runs for a moment, and the verdict goes into the user default "sysAudioAuth"
// (1 worked, 2 failed) and into a flag kept for the rest of the run.
class AudioCapturePermission {
public:
    static constexpr const char* defaultsKey = "sysAudioAuth";
    static constexpr double backgroundWait = 0.6; // the check at launch and on refreshes
    static constexpr double explicitWait = 1.5;   // the user asked: wait for real audio a little longer

    using Completion = std::function<void(bool granted)>;

    AudioCapturePermission() = delete;

    // Runs one probe off the main thread: prepares and starts a tap, waits
    // `waitSeconds`, logs what arrived, stops it, then on the main queue records
    // the verdict and calls the completion. The verdict is whether the tap could be
    // prepared and started. `text` translates the tap's error texts for the log.
    static void probe(double waitSeconds, Completion completion, TextLookup text = {},
                      std::shared_ptr<AudioInput> input = nullptr);

    // The background check: does nothing (and never calls the completion) when
    // this run has already verified system audio, a check is under way, or screen
    // capture is not granted; otherwise probes with backgroundWait.
    static void verifyIfPossible(bool screenGranted, Completion completion, TextLookup text = {},
                                 std::shared_ptr<AudioInput> input = nullptr);

    // Guards the flags and the write of "sysAudioAuth"; the idle system-audio
    // monitor takes it too. Never held across a probe.
    static std::mutex& verificationLock();
    // With verificationLock held.
    static bool verifiedThisSessionLocked();
    static bool probingLocked();
    // With verificationLock held: keeps the verdict for this run and stores it.
    static void recordVerdictLocked(bool granted);

    // Forgets this run's verdict and any check under way (for tests).
    static void resetSession();

    // The log lines of a probe.
    static QString probeLine(int chunks, float peak);
    static QString failureLine(const QString& description);
    // A float's shortest decimal text that reads back as the same float, with
    // ".0" on whole numbers and an exponent below 1e-4: 0.0, 0.031622775, 1e-05.
    static QString shortestText(float value);
};

} // namespace corvessa
