#pragma once

#include "platform/pulse/PulseContext.h"
#include "platform/pulse/PulseKeepAlive.h"

#include <QMap>
#include <QString>

#include <map>
#include <memory>
#include <sys/types.h>

namespace corvessa {

// Keeps the speakers silent while system audio is captured. Muting a sink on
// PulseAudio also silences its monitor, so instead a private null sink, "Recorder
// tap", becomes the default output and the other programs' playback streams are
// moved onto it; its monitor carries the sound and nothing reaches the speakers.
// Streams that start meanwhile are moved as they appear, and streams that leave
// the tap while it stands (the server moves the streams that follow the default
// when another output becomes the default) are moved back. A new default output
// (headphones plugged in, a device chosen in the sound settings) becomes the
// output the tap stands in for: the tap is made the default again, and stop
// moves everything there. The program's own playback (same process id, or marked
// with roleProperty) stays on the real output.
//
// release() (also run by the destructor) moves every stream back, restores the
// default output and removes the sink. A sink left behind by a process that died
// is undone by recoverLeftovers(), which finds where each stream came from in the
// file the route keeps beside the log (movesFile()). Owned by the capture stream it feeds; new
// streams are placed on the context's loop thread, under its lock.
class PulseTapRoute {
public:
    static constexpr const char* sinkName = "recorder_tap";
    // Properties of the tap sink: the owning process and the output it replaced.
    static constexpr const char* ownerProperty = "corvessa.tap.pid";
    static constexpr const char* previousProperty = "corvessa.tap.previous";
    // The program's own playback streams carry this property (any value), so a
    // route never moves them; helper processes that play for us set it too.
    static constexpr const char* roleProperty = "corvessa.role";

    // Sets the route up on the connection (lock not held). Throws AudioInputError
    // (stage Route) after undoing what it did.
    // The streams playing into the sink behind `microphone` (a source; empty:
    // the default source unless that is an output's monitor) are never moved:
    // they are that microphone's sound.
    PulseTapRoute(std::shared_ptr<PulseContext> context, const QString& microphone);
    ~PulseTapRoute();
    PulseTapRoute(const PulseTapRoute&) = delete;
    PulseTapRoute& operator=(const PulseTapRoute&) = delete;

    const QString& sink() const { return m_sink; }
    const QString& monitorSource() const { return m_monitor; }
    const QString& previousSink() const { return m_previous; }
    const pa_sample_spec& sampleSpec() const { return m_spec; }

    // Moves everything back and removes the sink; idempotent. Best effort: when the
    // connection is gone, a fresh one is used.
    void release();

    // Undoes every tap sink whose owning process is gone (lock not held). Returns
    // how many.
    static int recoverLeftovers(PulseContext& context);

    // Where a route keeps the sink each stream it moved came from, for the
    // recovery after a crash: "<state>/Recorder/tap-<sink>.json".
    static QString movesFile(const QString& sinkName);
    // The output a tap sink stands in for: the default chosen last while it
    // stood (its moves file), else the one it replaced (its property).
    static QString standsInFor(const QString& sinkName, const QMap<QString, QString>& properties);
    // Whether a sink is a tap sink, by its name or its owner property.
    static bool isTapSink(const QString& name, const QMap<QString, QString>& properties);
    // Whether a playback stream belongs to the process `self`.
    static bool isOwnStream(const QMap<QString, QString>& properties, pid_t self);
    // Whether the process that made a tap sink is gone. A sink without a readable
    // owner counts as left behind.
    static bool ownerIsGone(const QMap<QString, QString>& properties);
    // The module arguments of a tap sink. The previous output is left out when its
    // name cannot be quoted safely.
    static QString moduleArguments(const QString& sinkName, pid_t owner, const QString& previous, uint32_t rate);

private:
    void setUp();
    static int recoverLocked(const PulseContext& c);
    void onEvent(pa_subscription_event_type_t type, uint32_t index);
    // On the loop thread: a playback stream that appeared or changed.
    void onStreamInfo(const PulseContext::SinkInputEntry& input);
    // On the loop thread: the server's default output is now `sink`.
    void onDefaultSink(const QString& sink);
    void adoptOutput(uint32_t index, const QString& name);
    void placeNewStream(const PulseContext::SinkInputEntry& input);
    void saveMoves() const;
    static std::map<uint32_t, uint32_t> loadMoves(const QString& sinkName);

    // Moves the streams off `sink`, restores the default output, unloads the module.
    static void undo(const PulseContext& c, const PulseContext::SinkEntry& sink, const QString& previous,
                     const std::map<uint32_t, uint32_t>& moved);

    std::shared_ptr<PulseContext> m_context;
    QString m_sink;
    QString m_monitor;
    QString m_previous;                         // loop lock once set up
    uint32_t m_previousIndex = PA_INVALID_INDEX; // loop lock
    uint32_t m_sinkIndex = PA_INVALID_INDEX;
    QString m_microphone;
    uint32_t m_microphoneSink = PA_INVALID_INDEX; // the sink behind the microphone, left alone
    pa_sample_spec m_spec{};
    bool m_active = false;                 // loop lock
    std::map<uint32_t, uint32_t> m_moved;  // stream -> its sink before the move; loop lock
    std::unique_ptr<PulseKeepAlive> m_keepAlive; // asks the tap for small blocks before anything moves in
};

} // namespace corvessa
