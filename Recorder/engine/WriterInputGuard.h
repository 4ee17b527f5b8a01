#pragma once

#include "platform/core/MediaTime.h"
#include "platform/MovieWriter.h"
#include "platform/core/SampleBuffer.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <utility>

namespace corvessa {

class AudioTimelineMixer;

// Appends to movie writers so that one bad input cannot stop the others: an
// input whose writer threw is not written again, audio whose format changes
// mid-way is refused, and a time that does not move past the input's last one
// is dropped. Kept per writer input (the movie's two, and a camera file's).
// Owned by the engine queue ("recorder.engine").
class WriterInputGuard {
public:
    // Receives the event lines about refused and broken inputs.
    explicit WriterInputGuard(std::function<void(const QString& line)> emitLine);

    // Appends `sample` to `input`; whether the writer took it. `label` names the
    // track in the lines.
    bool safeAppend(MovieWriter& writer, MovieWriter::Input input, const SampleBuffer& sample, const QString& label);

    // Mixed sound a writer has not taken yet, past which the oldest is skipped
    // once the writer stays that far behind for overloadSeconds of sound: the
    // memory it holds stays bounded, and so does what a crash loses. The real
    // writer takes sound ahead of its pictures, so only a writer stalled for
    // seconds (real overload) gets this far behind; a burst that comes due at
    // once (a busy engine, a source given up) is written, not skipped.
    static constexpr double maxSoundBacklogSeconds = 1.0;
    static constexpr double overloadSeconds = 1.0;

    // Moves the mixer's sound up to `frames` into the writer's audio input, as far
    // as the writer takes it now. Unless `final`, sound that waits for a writer
    // overloaded as above beyond maxSoundBacklogSeconds is skipped: the 48 kHz
    // frames skipped.
    int64_t appendSound(MovieWriter& writer, AudioTimelineMixer& mixer, int64_t frames, MediaTime origin, bool final,
                        const QString& label);

    bool isBroken(const MovieWriter& writer, MovieWriter::Input input) const;
    // Drops what is kept about a writer that is done.
    void forget(const MovieWriter& writer);
    void reset();

private:
    using InputKey = std::pair<const MovieWriter*, MovieWriter::Input>;

    std::function<void(const QString& line)> m_emitLine;
    std::map<InputKey, QString> m_inputFormats;
    std::set<InputKey> m_brokenInputs;
    std::map<InputKey, MediaTime> m_lastInputPTS;
    // Per writer, the mix frame due when its backlog went beyond the bound.
    std::map<const MovieWriter*, int64_t> m_behindSince;
};

} // namespace corvessa
