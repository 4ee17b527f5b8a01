#include "engine/AudioTimelineMixer.h"

#include "capture/AudioNormalizer.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <utility>
#include <vector>

namespace corvessa {

namespace {

constexpr int32_t rate = AudioNormalizer::outputRate;

// Everything up to 0.95 passes untouched; above it a tanh knee keeps the sum of
// two loud sources inside full scale instead of clipping it.
float softKnee(float s)
{
    constexpr float knee = 0.95f;
    const float a = std::fabs(s);
    if (a <= knee)
        return s;
    if (std::isnan(s))
        return 0.0f;
    const float shaped = knee + 0.05f * std::tanh((a - knee) / 0.05f);
    return s < 0 ? -shaped : shaped;
}

bool isMixerFormat(const AudioFormat& f)
{
    return f == AudioNormalizer::outputFormat();
}

// `count` stereo frames read out at a slightly different speed as `length`
// frames, first frame on first frame, by straight lines between neighbours.
std::vector<float> resampled(const float* frames, int64_t count, int64_t length)
{
    std::vector<float> out(size_t(2 * length));
    const double step = double(count) / double(length);
    for (int64_t k = 0; k < length; ++k) {
        const double x = double(k) * step;
        const int64_t i = std::min(int64_t(x), count - 1);
        const int64_t j = std::min(i + 1, count - 1);
        const float t = float(x - double(i));
        for (int ch = 0; ch < 2; ++ch)
            out[size_t(2 * k + ch)] = frames[2 * i + ch] + (frames[2 * j + ch] - frames[2 * i + ch]) * t;
    }
    return out;
}

} // namespace

int64_t AudioTimelineMixer::outputFrame(MediaTime time, MediaTime origin)
{
    const MediaTime since = time - origin;
    if (!since.isValid())
        return 0;
    return std::max<int64_t>(0, since.convertScale(rate).value());
}

bool AudioTimelineMixer::place(const SampleBuffer& buffer, Source source, const RecordingTimeline& timeline)
{
    const int64_t n = int64_t(buffer.frameCount());
    const auto& format = buffer.audioFormat();
    const float* data = buffer.floatData();
    if (n < 1 || !format || !isMixerFormat(*format) || !data || !buffer.presentationTime().isValid()
        || buffer.audioBuffers()->buffers.front().size() < size_t(n) * 2 * sizeof(float))
        return false;

    SourceState& s = state(source);
    if (std::exchange(s.stopped, false) && s.lastEnd) {
        // Back after it stopped: from its own time on, never glued to where it left.
        s.lastEnd.reset();
        ++m_resyncs;
    }
    std::vector<float> stretched;
    for (const auto& span : timeline.spans(buffer.presentationTime(), n, rate)) {
        const float* frames = data + 2 * span.input.begin;
        int64_t count = span.input.end - span.input.begin;
        const int64_t b = span.outputFrame;
        int64_t e = b;
        if (s.lastEnd && std::llabs(b - *s.lastEnd) <= driftFrames) {
            // The same stream going on: continue where the previous run ended. But
            // a run that is in time by its own stamp is not pushed behind the
            // output by the glue (after a resume the output has already moved on
            // to the cut).
            const int64_t e0 = *s.lastEnd;
            e = e0 < m_cursor && b >= m_cursor ? m_cursor : e0;
            if (const int64_t c = slew(s, b - e, count)) {
                stretched = resampled(frames, count, count + c);
                frames = stretched.data();
                count += c;
            }
        } else if (s.lastEnd) {
            ++m_resyncs;
        }
        s.lastEnd = e + count;
        write(s, frames, count, e);
    }
    return true;
}

void AudioTimelineMixer::write(SourceState& s, const float* frames, int64_t count, int64_t at)
{
    int64_t i = 0;
    if (at < m_cursor) {
        const int64_t late = std::min(count, m_cursor - at);
        m_discarded += late;
        i += late;
    }
    const int64_t limit = horizon();
    while (i < count && at + i < limit) {
        const int64_t pos = at + i;
        const int64_t offset = pos % blockFrames;
        const int64_t run = std::min({count - i, blockFrames - offset, limit - pos});
        Block& block = s.blocks[pos / blockFrames];
        for (int64_t j = 0; j < run; ++j) {
            const int64_t slot = offset + j;
            if (block.occupied[slot]) {
                ++m_overlap; // the first writer of a frame wins
                continue;
            }
            const float left = frames[2 * (i + j)];
            const float right = frames[2 * (i + j) + 1];
            // A non-finite sample would make the AAC encoder refuse the whole chunk.
            block.samples[2 * slot] = std::isfinite(left) ? left : 0.0f;
            block.samples[2 * slot + 1] = std::isfinite(right) ? right : 0.0f;
            block.occupied[slot] = true;
        }
        i += run;
    }
    m_discarded += count - i; // more than a second ahead of the target
}

int64_t AudioTimelineMixer::slew(SourceState& s, int64_t off, int64_t count)
{
    s.slewCredit += count;
    const int64_t allowed = s.slewCredit / slewDivisor;
    s.slewCredit %= slewDivisor;
    const int64_t excess = off > glueFrames ? off - glueFrames : off < -glueFrames ? off + glueFrames : 0;
    return std::max(std::clamp(excess, -allowed, allowed), 1 - count);
}

int64_t AudioTimelineMixer::due(int64_t target)
{
    m_target = std::max(m_target, target);
    int64_t until = target;
    for (const Source source : {Source::system, Source::microphone}) {
        // Behind the target but still delivering: its next buffers are on their way.
        if (waitsFor(source))
            until = std::min(until, *state(source).lastEnd);
    }
    return std::max(until, m_cursor);
}

void AudioTimelineMixer::stop(Source source)
{
    state(source).stopped = true;
}

bool AudioTimelineMixer::waitsFor(Source source) const
{
    const SourceState& s = state(source);
    if (!s.lastEnd || s.stopped || m_target - *s.lastEnd > waitFrames)
        return false;
    for (const SourceState& other : m_sources) {
        if (&other != &s && other.lastEnd && *other.lastEnd - *s.lastEnd > stallFrames)
            return false;
    }
    return true;
}

std::optional<SampleBuffer> AudioTimelineMixer::sample(int64_t until, MediaTime origin, bool final) const
{
    const int64_t due = until - m_cursor;
    if (due < blockFrames && !(final && due > 0))
        return std::nullopt;
    if (!origin.isValid())
        return std::nullopt;
    const int64_t m = std::min(due, blockFrames);
    SampleBuffer chunk = SampleBuffer::audio(AudioNormalizer::outputFormat(), size_t(m), origin + MediaTime(m_cursor, rate));
    float* out = chunk.floatData();
    for (const SourceState& s : m_sources) {
        int64_t j = 0;
        while (j < m) {
            const int64_t pos = m_cursor + j;
            const int64_t offset = pos % blockFrames;
            const int64_t run = std::min(m - j, blockFrames - offset);
            const auto found = s.blocks.find(pos / blockFrames);
            if (found != s.blocks.end()) {
                const float* src = found->second.samples.data() + 2 * offset;
                float* dst = out + 2 * j;
                for (int64_t k = 0; k < 2 * run; ++k)
                    dst[k] += src[k]; // frames nobody wrote are zero
            }
            j += run;
        }
    }
    for (int64_t k = 0; k < 2 * m; ++k)
        out[k] = softKnee(out[k]);
    return chunk;
}

void AudioTimelineMixer::commit(int64_t frames)
{
    if (frames <= 0)
        return;
    m_cursor += frames;
    const int64_t keep = m_cursor / blockFrames;
    for (SourceState& s : m_sources)
        s.blocks.erase(s.blocks.begin(), s.blocks.lower_bound(keep));
}

void AudioTimelineMixer::reset()
{
    *this = AudioTimelineMixer();
}

AudioTimelineMixer AudioTimelineMixer::snapshot() const
{
    AudioTimelineMixer copy;
    copy.m_sources = m_sources;
    copy.m_cursor = m_cursor;
    copy.m_target = m_target;
    return copy;
}

} // namespace corvessa
