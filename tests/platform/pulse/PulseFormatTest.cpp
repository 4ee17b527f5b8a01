#include "platform/pulse/PulseFormat.h"

#include <gtest/gtest.h>

using namespace corvessa;

TEST(PulseFormatTest, LinearLittleEndianFormatsConvertBothWays)
{
    const struct {
        pa_sample_format_t pulse;
        AudioFormat format;
    } cases[] = {
        {PA_SAMPLE_FLOAT32LE, AudioFormat::floatFormat(48000, 2)},
        {PA_SAMPLE_S16LE, AudioFormat::integerFormat(44100, 1, 16)},
        {PA_SAMPLE_S24LE, AudioFormat::integerFormat(96000, 2, 24)},
        {PA_SAMPLE_S32LE, AudioFormat::integerFormat(48000, 6, 32)},
    };
    for (const auto& c : cases) {
        const pa_sample_spec spec{c.pulse, uint32_t(c.format.sampleRate), uint8_t(c.format.channelsPerFrame)};
        EXPECT_EQ(audioFormatFromPulse(spec), c.format);
        const auto back = pulseSampleSpec(c.format);
        ASSERT_TRUE(back);
        EXPECT_EQ(back->format, c.pulse);
        EXPECT_EQ(back->rate, spec.rate);
        EXPECT_EQ(back->channels, spec.channels);
    }
}

TEST(PulseFormatTest, OtherFormatsDoNotConvert)
{
    EXPECT_FALSE(audioFormatFromPulse({PA_SAMPLE_U8, 8000, 1}));
    EXPECT_FALSE(audioFormatFromPulse({PA_SAMPLE_FLOAT32BE, 48000, 2}));
    EXPECT_FALSE(audioFormatFromPulse({PA_SAMPLE_S16LE, 0, 2}));
    EXPECT_FALSE(pulseSampleSpec(AudioFormat::floatFormat(48000, 2, false)));    // planar
    EXPECT_FALSE(pulseSampleSpec(AudioFormat::floatFormat(48000, 2, true, 64))); // double
    EXPECT_FALSE(pulseSampleSpec(AudioFormat::integerFormat(48000, 2, 8)));
    EXPECT_FALSE(pulseSampleSpec(AudioFormat::floatFormat(0, 2)));
    AudioFormat lying = AudioFormat::floatFormat(48000, 2);
    lying.bytesPerFrame = 6;
    EXPECT_FALSE(pulseSampleSpec(lying));
}
