#pragma once

#include <cstdint>
#include <memory>

struct SwrContext;

namespace corvessa {

// Converts audio of one input format into interleaved 32-bit float stereo at a
// given rate, with libswresample. Mono goes to both channels at full level. It
// runs on from one call to the next, holding back a few frames of its filter,
// which a flush gives out. One owner, on one thread at a time.
class AudioResampler {
public:
    // How the input's samples are held, in the machine's byte order.
    enum class SampleType { Int16, Int32, Float32, Float64 };

    struct Input {
        SampleType type = SampleType::Float32;
        bool planar = false; // one buffer per channel, else interleaved in one
        int channels = 0;
        int rate = 0;
    };

    AudioResampler();
    ~AudioResampler();
    AudioResampler(AudioResampler&&) noexcept;
    AudioResampler& operator=(AudioResampler&&) noexcept;

    // Prepares for `input`, dropping any earlier state. False (and closed) when
    // libswresample refuses the formats.
    bool open(const Input& input, int outputRate);
    bool isOpen() const { return bool(m_context); }
    void close();
    // Forgets what it holds back and starts afresh with the same formats. False
    // when libswresample refuses; the resampler is then unusable until opened.
    bool restart();

    // Room for the output of `frames` more input frames and of what is held
    // back; negative when the resampler fails. 0 frames: room for a flush.
    int outputCapacity(int frames) const;
    // Converts `frames` input frames (one pointer per plane) into `out`, which has
    // room for `capacity` output frames. Null `planes` flushes what is held back.
    // Returns the frames written, negative when the resampler fails.
    int convert(float* out, int capacity, const uint8_t* const* planes, int frames);

private:
    struct Free {
        void operator()(SwrContext* context) const;
    };

    std::unique_ptr<SwrContext, Free> m_context;
};

} // namespace corvessa
