#pragma once

#include "platform/CuePlayer.h"

#include <memory>
#include <set>

namespace corvessa {

class PulseContext;

// Plays cues on one PulseAudio connection, made on first use and made again
// after the server went away. Each cue is a playback stream that lives on the
// connection's loop thread until it has drained; its streams carry the tap
// route's role property, so a muting route leaves them on the real speakers.
// play() and stop() from one thread at a time; the streams belong to the loop
// thread, under the loop lock.
class PulseCuePlayer : public CuePlayer {
public:
    // How long play() waits for a server that accepts the connection but does
    // not answer.
    static constexpr int connectTimeoutMs = 2000;

    PulseCuePlayer();
    ~PulseCuePlayer() override;
    PulseCuePlayer(const PulseCuePlayer&) = delete;
    PulseCuePlayer& operator=(const PulseCuePlayer&) = delete;

    void play(const QString& name, std::shared_ptr<const Sound> sound, Completion completion) override;
    void stop() override;

private:
    struct Playback;

    bool connect(QString& reason);
    void dropAll();
    void start(const QString& name, std::shared_ptr<const Sound> sound, Completion completion);
    void finish(Playback* p, Outcome outcome, const QString& reason);

    std::unique_ptr<PulseContext> m_context;
    std::set<Playback*> m_playbacks; // under the loop lock
};

} // namespace corvessa
