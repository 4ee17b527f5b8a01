#include "platform/MovieTestSupport.h"
#include "platform/ffmpeg/DecodedFrames.h"

#include "platform/ffmpeg/FFmpegHandles.h"
#include "platform/ffmpeg/FFmpegMuxer.h"
#include "platform/ffmpeg/FFmpegSoundEncoder.h"

#include <gtest/gtest.h>

#include <QFile>

#include <cmath>
#include <numbers>
#include <vector>

using namespace corvessa;
using namespace corvessa::test;

namespace {

constexpr int kRate = 48000;

// `frames` stereo frames of a 1 kHz tone on the left (movie sample `from` on)
// and silence on the right.
std::vector<float> leftTone(int64_t from, int64_t frames)
{
    std::vector<float> out(size_t(frames) * 2, 0.0f);
    for (int64_t i = 0; i < frames; ++i)
        out[size_t(i) * 2] = 0.5f * float(std::sin(2 * std::numbers::pi * 1000.0 * double(from + i) / kRate));
    return out;
}

// The movie's sound decoded, one vector per channel; nothing unless it
// decodes to planar floats.
std::vector<std::vector<float>> decode(const QString& path)
{
    std::vector<std::vector<float>> channels;
    bool planarFloats = true;
    eachDecodedFrame(path, AVMEDIA_TYPE_AUDIO, [&](const AVCodecContext& dec, const AVFrame& frame) {
        planarFloats = dec.sample_fmt == AV_SAMPLE_FMT_FLTP;
        if (!planarFloats)
            return false;
        channels.resize(size_t(dec.ch_layout.nb_channels));
        for (size_t c = 0; c < channels.size(); ++c) {
            const auto* in = reinterpret_cast<const float*>(frame.extended_data[c]);
            channels[c].insert(channels[c].end(), in, in + frame.nb_samples);
        }
        return true;
    });
    return planarFloats ? channels : std::vector<std::vector<float>>{};
}

double rms(const std::vector<float>& v, double fromSeconds, double toSeconds)
{
    const size_t a = size_t(fromSeconds * kRate), b = std::min(v.size(), size_t(toSeconds * kRate));
    double sum = 0;
    for (size_t i = a; i < b; ++i)
        sum += double(v[i]) * v[i];
    return b > a ? std::sqrt(sum / double(b - a)) : -1;
}

} // namespace

// Every sample keeps its movie time through the encoder's queue and priming: a
// gap is silence, an overlap is written once, the channels stay apart, and the
// finish drops what lies past the end.
TEST(FFmpegSoundEncoder, PlacesEverySampleAtItsMovieTime)
{
    MovieFolder folder(QStringLiteral("FFmpegSoundEncoder"));
    const QString path = folder.file(QStringLiteral("placed.mov"));
    const QByteArray file = QFile::encodeName(path);
    {
        FFmpegMuxer muxer;
        ASSERT_GE(muxer.create(file), 0);
        FFmpegSoundEncoder sound;
        MovieWriter::AudioSettings settings;
        settings.sampleRate = kRate;
        settings.channels = 2;
        ASSERT_FALSE(sound.open(muxer, settings));
        ASSERT_GE(muxer.openFile(file), 0);
        ASSERT_GE(muxer.writeHeader(1.0), 0);
        // 0-0.5 s in odd pieces, a gap to 1.0 s, 1.0-1.5 s, then a piece reaching
        // back to 1.4 s and on to 2.21 s; the movie ends at 2.2 s, within the
        // encoder frame still queued.
        for (int64_t at = 0; at < 24000; at += 700)
            ASSERT_FALSE(sound.encode(leftTone(at, std::min<int64_t>(700, 24000 - at)), at));
        ASSERT_FALSE(sound.encode(leftTone(48000, 24000), 48000));
        ASSERT_FALSE(sound.encode(leftTone(67200, 38880), 67200));
        ASSERT_FALSE(sound.finish(int64_t(2.2 * kRate)));
        ASSERT_GE(muxer.writeTrailer(), 0);
        ASSERT_EQ(muxer.closeFile(), 0);
    }
    const auto channels = decode(path);
    ASSERT_EQ(channels.size(), 2u);
    const std::vector<float>& left = channels[0];
    const std::vector<float>& right = channels[1];
    // Whole encoder frames: the last one may run on past the end.
    EXPECT_GE(double(left.size()) / kRate, 2.2 - 1e-6);
    EXPECT_LE(double(left.size()) / kRate, 2.2 + 1024.0 / kRate + 1e-6);
    const double tone = 0.5 / std::sqrt(2.0);
    struct Stretch {
        double from, to;
        bool sounds;
    };
    // Kept 30 ms off each edge, where the encoder smears.
    for (const Stretch& s : {Stretch{0.05, 0.47, true}, Stretch{0.53, 0.97, false}, Stretch{1.03, 2.17, true}}) {
        SCOPED_TRACE(testing::Message() << s.from << "-" << s.to << " s");
        const double l = rms(left, s.from, s.to);
        if (s.sounds)
            EXPECT_NEAR(l, tone, 0.1 * tone);
        else
            EXPECT_LT(l, 0.01 * tone);
        EXPECT_LT(rms(right, s.from, s.to), 0.01 * tone);
    }
    // The tone comes back when the gap ends, to the millisecond: the priming
    // stands in for the first samples and moves nothing.
    size_t back = size_t(0.75 * kRate);
    while (back < left.size() && std::abs(left[back]) < 0.25f)
        ++back;
    EXPECT_NEAR(double(back) / kRate, 1.0, 0.001);
    // Past the end, in the last encoder frame: silence, not the sound that was
    // handed over for it.
    EXPECT_LT(rms(left, 2.205, 2.215), 0.1 * tone);
    // The overlap is written once: the tone runs on in phase across 1.4 s, with
    // no second copy added to it.
    EXPECT_NEAR(rms(left, 1.35, 1.45), tone, 0.1 * tone);
}
