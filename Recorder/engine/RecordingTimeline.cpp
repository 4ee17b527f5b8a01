#include "engine/RecordingTimeline.h"

#include <algorithm>

namespace corvessa {

namespace {

using i128 = __int128;

// Rounds a / b up (b > 0).
i128 ceilDiv(i128 a, i128 b)
{
    return a >= 0 ? (a + b - 1) / b : -((-a) / b);
}

// Index of the first frame of a buffer (first frame at `start`, `rate` frames per
// second) at or after time t, clamped to 0...frames. A time less than 1/100000 of
// a frame after a frame's time counts as that frame, so that a boundary rounded
// to the clock's grid does not push a frame out. Exact: ceil(rate * (t - start) - 1e-5).
int64_t frameIndex(MediaTime t, MediaTime start, int64_t frames, int32_t rate)
{
    // t - start = num / den, split into whole seconds and a remainder so that
    // nothing overflows 128 bits whatever the timescales.
    const i128 num = i128(t.value()) * start.timescale() - i128(start.value()) * t.timescale();
    const i128 den = i128(t.timescale()) * start.timescale();
    const i128 whole = num / den;
    const i128 rest = num % den;
    constexpr i128 tolerance = 100000; // 1 / 1e-5
    const i128 idx = i128(rate) * whole + ceilDiv(i128(rate) * rest * tolerance - den, den * tolerance);
    return int64_t(std::clamp<i128>(idx, 0, frames));
}

} // namespace

void RecordingTimeline::pause(MediaTime at)
{
    if (!at.isValid() || (!cuts.empty() && !cuts.back().end))
        return;
    // Cuts stay in order and apart even if a clock were to step back.
    if (!cuts.empty())
        at = MediaTime::max(at, *cuts.back().end);
    cuts.push_back({at, std::nullopt});
}

void RecordingTimeline::resume(MediaTime at)
{
    if (!at.isValid() || cuts.empty() || cuts.back().end)
        return;
    cuts.back().end = MediaTime::max(cuts.back().start, at);
}

MediaTime RecordingTimeline::boundary(MediaTime t) const
{
    if (!t.isValid())
        return t;
    MediaTime removed = MediaTime::zero();
    for (const Cut& cut : cuts) {
        if (cut.start > t)
            continue;
        const MediaTime from = origin.isNumeric() && origin >= cut.start ? origin : cut.start;
        const MediaTime to = cut.end ? MediaTime::min(*cut.end, t) : t;
        if (to > from)
            removed += to - from;
    }
    return t - removed;
}

std::optional<MediaTime> RecordingTimeline::mapped(MediaTime t) const
{
    if (!origin.isNumeric() || !t.isValid() || t < origin)
        return std::nullopt;
    MediaTime removed = MediaTime::zero();
    for (const Cut& cut : cuts) {
        if (!cut.end) {
            if (t < cut.start)
                break;
            return std::nullopt; // inside the open pause
        }
        if (*cut.end <= origin)
            continue;
        if (t < cut.start)
            break;
        if (t < *cut.end)
            return std::nullopt; // a pause is [start, end)
        removed += *cut.end - MediaTime::max(origin, cut.start);
    }
    return t - removed;
}

std::vector<RecordingTimeline::Span> RecordingTimeline::spans(MediaTime start, int64_t frames, int32_t rate) const
{
    std::vector<Span> result;
    if (!origin.isNumeric() || !start.isValid() || frames < 1 || rate < 1)
        return result;

    struct Run {
        int64_t begin, end;
        MediaTime notBefore; // the origin or resume time the run starts from
    };
    std::vector<Run> runs;
    int64_t k = frameIndex(origin, start, frames, rate);
    MediaTime notBefore = origin;
    for (const Cut& cut : cuts) {
        if (k >= frames)
            break;
        const int64_t m = frameIndex(cut.start, start, frames, rate);
        if (k < m)
            runs.push_back({k, m, notBefore});
        if (!cut.end) {
            k = frames;
            break;
        }
        k = std::max(k, frameIndex(*cut.end, start, frames, rate));
        notBefore = MediaTime::max(notBefore, *cut.end);
    }
    if (k < frames)
        runs.push_back({k, frames, notBefore});

    for (const Run& run : runs) {
        // The tolerance in frameIndex may put a run's first frame a hair before the
        // resume (or origin) it starts from; it still belongs to the movie.
        const MediaTime first = MediaTime::max(start + MediaTime(run.begin, rate), run.notBefore);
        const auto movie = mapped(first);
        if (!movie)
            continue;
        result.push_back({{run.begin, run.end}, (*movie - origin).convertScale(rate).value()});
    }
    return result;
}

} // namespace corvessa
