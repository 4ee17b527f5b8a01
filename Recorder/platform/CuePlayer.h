#pragma once

#include <QString>
#include <QtGlobal>

#include <functional>
#include <memory>
#include <vector>

namespace corvessa {

// Plays short interface sounds, each once, on the default output. Backend:
// PulseCuePlayer. One caller thread at a time (the cue worker); completions come
// on the backend's own thread.
class CuePlayer {
public:
    // A decoded sound: interleaved signed 16-bit samples.
    struct Sound {
        int sampleRate = 0;
        int channels = 0;
        std::vector<qint16> samples;
        qsizetype frames() const { return channels > 0 ? qsizetype(samples.size()) / channels : 0; }
    };

    enum class Outcome {
        Finished, // played to the end
        Failed,   // refused by the server, or the connection failed; the reason says why
        Dropped,  // cut off by stop() or by a connection made afresh
    };
    // Called exactly once per play(): from inside play() when the sound cannot
    // start, else from the backend's thread when it ends.
    using Completion = std::function<void(Outcome outcome, const QString& reason)>;

    virtual ~CuePlayer() = default;

    // Starts `sound` under the stream name `name` and returns. May wait for the
    // server (bounded) when it has to connect first; never for the sound itself.
    virtual void play(const QString& name, std::shared_ptr<const Sound> sound, Completion completion) = 0;
    // Cuts off every sound still playing (each completes as Dropped) and lets go
    // of the server. The next play() connects again.
    virtual void stop() = 0;

    // The process-wide player: PulseAudio unless one was installed.
    static std::shared_ptr<CuePlayer> current();
    // Installs the process-wide player; null goes back to the automatic choice.
    static void setCurrent(std::shared_ptr<CuePlayer> player);
};

} // namespace corvessa
