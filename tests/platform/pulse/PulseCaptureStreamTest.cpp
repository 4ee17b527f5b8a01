#include "platform/pulse/PulseCaptureStream.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace corvessa;

namespace {

std::vector<std::byte> bytes(std::initializer_list<int> values)
{
    std::vector<std::byte> out;
    for (int v : values)
        out.push_back(std::byte(v));
    return out;
}

} // namespace

TEST(PulseCaptureStreamTest, AReadBecomesABufferOfWholeFrames)
{
    const auto format = AudioFormat::integerFormat(48000, 2, 16); // 4 bytes a frame
    std::vector<std::byte> partial;
    const auto data = bytes({1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
    const auto buffer = PulseCaptureStream::assemble(format, partial, data.data(), data.size(), MediaTime(7, 1000));
    ASSERT_TRUE(buffer);
    EXPECT_EQ(buffer->frameCount(), 2u);
    EXPECT_EQ(buffer->presentationTime(), MediaTime(7, 1000));
    EXPECT_EQ(buffer->duration(), MediaTime(2, 48000));
    EXPECT_EQ(buffer->audioBuffers()->buffers[0], bytes({1, 2, 3, 4, 5, 6, 7, 8}));
    // The incomplete frame waits for the next read.
    EXPECT_EQ(partial, bytes({9, 10}));
    const auto more = bytes({11, 12, 13});
    EXPECT_FALSE(PulseCaptureStream::assemble(format, partial, more.data(), 1, MediaTime(8, 1000)));
    EXPECT_EQ(partial, bytes({9, 10, 11}));
    const auto next = PulseCaptureStream::assemble(format, partial, more.data() + 1, 2, MediaTime(9, 1000));
    ASSERT_TRUE(next);
    EXPECT_EQ(next->audioBuffers()->buffers[0], bytes({9, 10, 11, 12}));
    EXPECT_EQ(partial, bytes({13}));
}

TEST(PulseCaptureStreamTest, AHoleBecomesSilenceOfItsLength)
{
    const auto format = AudioFormat::floatFormat(48000, 2); // 8 bytes a frame
    std::vector<std::byte> partial = bytes({1, 1, 1, 1});
    const auto buffer = PulseCaptureStream::assemble(format, partial, nullptr, 4 + 8 * 480, MediaTime(1, 1));
    ASSERT_TRUE(buffer);
    EXPECT_EQ(buffer->frameCount(), 481u);
    const auto& out = buffer->audioBuffers()->buffers[0];
    EXPECT_EQ(std::vector<std::byte>(out.begin(), out.begin() + 4), bytes({1, 1, 1, 1}));
    for (size_t i = 4; i < out.size(); ++i)
        ASSERT_EQ(out[i], std::byte{0}) << i;
    EXPECT_TRUE(partial.empty());
}

TEST(PulseCaptureStreamTest, UnusableFormatsGiveNothing)
{
    std::vector<std::byte> partial;
    const auto data = bytes({1, 2, 3, 4});
    AudioFormat none;
    EXPECT_FALSE(PulseCaptureStream::assemble(none, partial, data.data(), data.size(), MediaTime(1, 1)));
    EXPECT_FALSE(PulseCaptureStream::assemble(AudioFormat::floatFormat(48000, 2, false), partial, data.data(),
                                              data.size(), MediaTime(1, 1)));
}
