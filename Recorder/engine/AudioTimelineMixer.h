#pragma once

#include "engine/RecordingTimeline.h"
#include "platform/core/MediaTime.h"
#include "platform/core/SampleBuffer.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <map>
#include <optional>

namespace corvessa {

// Places normalised audio (48 kHz float stereo interleaved) of up to two sources
// at sample-exact positions on the movie's audio timeline, counted in 48 kHz
// frames from the first video frame, and hands the mix out in 10 ms blocks.
//
// Both sources are live captures, whose samples follow each other without
// overlap whatever their stamps say: a run stamped within driftFrames of where
// the source's previous run ended is glued right after it, and the difference
// is worked off slowly by stretching or shrinking runs a little (slewDivisor),
// so jitter and latency estimates that wander never cut or double the sound.
// A run further off is a real break and placed at its own time: a hole stays
// silent, and a run that lands on the source's own audio loses the frames
// already taken (counted in overlap()). The output
// waits for a source that is late but still delivering (due()), so sound that
// reaches the engine late under load is still placed at its own time; audio
// that arrives behind the output all the same, or more than a second ahead of
// the drain's target, is dropped and counted. A source that has stopped
// delivering (told by stop(), or left stallFrames behind what another source
// delivered) is not waited for: the others go on, its stretch stays silent,
// and what it delivers once it is back is placed from its own time on. Used
// from the engine queue only.
class AudioTimelineMixer {
public:
    enum class Source { system = 0, microphone = 1 };

    static constexpr int64_t blockFrames = 480;   // 10 ms
    static constexpr int64_t glueFrames = 240;    // jitter left as it is, either way (5 ms)
    // How far a live source's stamps may stray from its sample count before the
    // run counts as a break (0.1 s). Under load the sound server's latency
    // reports and the reading thread's wake-ups move stamps by tens of ms, and
    // the samples are contiguous all the same.
    static constexpr int64_t driftFrames = 4800;
    // Beyond glueFrames, a run is stretched or shrunk by at most one frame in
    // this many (0.5 %, under a tenth of a semitone) to bring the source back
    // to its stamps: 5 ms per second, heard as neither a skip nor a pitch change.
    static constexpr int64_t slewDivisor = 200;
    static constexpr int64_t windowFrames = 48000; // how far ahead of the drain's target audio is kept (1 s)
    // How far the output may stay behind the drain's target waiting for a late
    // source (30 s). Under heavy load a source's buffers can reach the engine
    // seconds after they were captured; a source further behind than this counts
    // as gone, and the output moves on without it.
    static constexpr int64_t waitFrames = 30 * 48000;
    // A source whose last buffer ends this far behind the end of another
    // source's has stopped delivering (its device went away, its stream ended):
    // the other sources do not wait for it (0.5 s, well inside the writers'
    // backlog bound, so the sound they delivered is all written in time).
    static constexpr int64_t stallFrames = 24000;

    // Output frame of a movie time: max(0, round(48000 * (time - origin))), exactly.
    static int64_t outputFrame(MediaTime time, MediaTime origin);

    // Writes the buffer's frames into the source's blocks at the positions the
    // timeline gives them. False (and nothing placed) when the buffer is not
    // 48 kHz float stereo interleaved, has no samples or has no time.
    bool place(const SampleBuffer& buffer, Source source, const RecordingTimeline& timeline);

    // Where the drain may mix up to when it aims at output frame `target`: the
    // target, but no further than the end of what a source has delivered while
    // the mix waits for it (waitsFor()); never behind the cursor. Remembers the
    // target, from which the window ahead is counted.
    int64_t due(int64_t target);

    // The source has stopped delivering (its stream failed, nothing came for
    // long): it is not waited for until it delivers again.
    void stop(Source source);
    // Whether the mix waits for the source's next buffers: it has delivered,
    // is not stopped, is less than waitFrames behind the drain's last target,
    // and no other source has delivered stallFrames past its end.
    bool waitsFor(Source source) const;

    // The next chunk of the mix, up to output frame `until`, stamped
    // origin + cursor/48000: 480 frames when at least that many are due; with
    // `final`, whatever is due. Does not advance the cursor.
    std::optional<SampleBuffer> sample(int64_t until, MediaTime origin, bool final) const;
    // Advances the cursor past a chunk that was written and forgets what lies behind it.
    void commit(int64_t frames);

    void reset();
    // A copy with the same cursor, audio and run ends, and zero counters.
    AudioTimelineMixer snapshot() const;

    int64_t cursor() const { return m_cursor; }
    int64_t discarded() const { return m_discarded; }
    int64_t overlap() const { return m_overlap; }
    // Input frames that did not make it into the mix, for whatever reason.
    int64_t dropped() const { return m_discarded + m_overlap; }
    int64_t resyncs() const { return m_resyncs; }
    // Output frame just after the last run placed for the source.
    std::optional<int64_t> lastEnd(Source source) const { return state(source).lastEnd; }

private:
    struct Block {
        std::array<float, 2 * blockFrames> samples{}; // left, right
        std::array<bool, blockFrames> occupied{};
    };
    struct SourceState {
        std::map<int64_t, Block> blocks; // by block index: frames 480 b ... 480 b + 479
        std::optional<int64_t> lastEnd;
        int64_t slewCredit = 0; // input frames towards the next frame of correction
        bool stopped = false;   // told to have stopped, and not delivered since
    };

    SourceState& state(Source s) { return m_sources[size_t(s)]; }
    const SourceState& state(Source s) const { return m_sources[size_t(s)]; }
    // Frames to add (positive) or remove from a run of `count` frames stamped
    // `off` frames away from where it is glued.
    static int64_t slew(SourceState& s, int64_t off, int64_t count);
    void write(SourceState& s, const float* frames, int64_t count, int64_t at);
    // The first output frame beyond the window of audio kept ahead.
    int64_t horizon() const { return std::max(m_cursor, m_target) + windowFrames; }

    std::array<SourceState, 2> m_sources;
    int64_t m_cursor = 0;
    int64_t m_target = 0; // the drain's last target
    int64_t m_discarded = 0;
    int64_t m_overlap = 0;
    int64_t m_resyncs = 0;
};

} // namespace corvessa
