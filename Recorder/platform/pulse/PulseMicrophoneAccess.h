#pragma once

#include "platform/Permissions.h"

#include <QString>

namespace corvessa {

// Microphone access on PulseAudio: granted when the server answers. There is
// no per-program consent to ask for; a server that is not there is what keeps
// the microphone from us. Any thread; each probe is a short connection.
class PulseMicrophoneAccess {
public:
    // Asked every few seconds, possibly from the UI's thread: a server that
    // is up answers within milliseconds, one that hangs must not hold us long.
    static constexpr int probeTimeoutMs = 1500;

    static Permissions::Access probe(const QString& clientName = QStringLiteral("Recorder"),
                                     int timeoutMs = probeTimeoutMs);
};

} // namespace corvessa
