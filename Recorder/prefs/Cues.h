#pragma once

#include "platform/CuePlayer.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <array>
#include <optional>
#include <vector>

namespace corvessa {

// The program's short interface sounds: countdown ticks, the start, pause and end
// of a recording, and the launch chime. Each is a WAV file among the bundled
// resources ("sounds/<name>.wav"), played on the default output by the
// platform's CuePlayer.
//
// Fire and forget: play() only hands the cue to a worker and returns at once, from
// any thread. Best effort: a missing sound file is skipped silently, and without a
// sound server (or with one that fails) cues are skipped with one log line per
// streak of failures. Cues never consult the preferences; callers check the
// matching switch in Prefs first (the resume bell is the start cue, gated by the
// pause switch, so no switch belongs to a kind).
//
// Our streams carry the property "corvessa.role" = "cue", so the system-audio tap
// can leave them on the real speakers when it mutes everything else.
class Cues {
public:
    Cues() = delete;

    // In this order; each name is also its sound file's name.
    enum class Kind { tick, tick_last, start, end, launch, pause };
    static constexpr std::array<Kind, 6> allKinds{Kind::tick, Kind::tick_last, Kind::start,
                                                  Kind::end, Kind::launch, Kind::pause};

    static QString name(Kind kind);
    // The resource path, e.g. "sounds/tick.wav".
    static QString resource(Kind kind);
    // Linear gain applied to the samples: the launch chime is quieter.
    static double volume(Kind kind);

    // Plays one cue without waiting for anything.
    static void play(Kind kind);
    // The countdown as the settings preview plays it: tick now, tick at +0.5 s,
    // tick_last at +1.0 s and start at +1.5 s, timed on the main queue.
    static void previewCountdown();

    // Cues asked for and not yet finished or skipped.
    static int playingCount();
    struct Counts {
        quint64 requested = 0;
        quint64 finished = 0; // played to the end
        quint64 skipped = 0;  // missing, unreadable, stale or refused by the server
    };
    static Counts counts();

    // A decoded cue: interleaved signed 16-bit samples.
    using Sound = CuePlayer::Sound;
    // Reads a RIFF/WAVE file of 16-bit PCM (plain or extensible format), one or two
    // channels. Anything else gives none and, when asked for, the reason.
    static std::optional<Sound> parseWave(const QByteArray& bytes, QString* error = nullptr);
    // Multiplies every sample by the gain, rounding to nearest and clipping.
    static void scale(std::vector<qint16>& samples, double gain);
    // The bundled cue decoded and scaled to its volume; none when it is missing
    // (silently) or unreadable (with a log line; the player asks once per kind).
    static std::optional<Sound> load(Kind kind);
};

} // namespace corvessa
