#include "capture/AudioNormalizer.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <optional>

namespace corvessa {

namespace {

// Same as the mixer's jitter allowance (240 frames at 48 kHz): input times that
// move further than this from where the previous buffer ended are a hole or an
// overlap, not jitter.
const MediaTime discontinuity(240, AudioNormalizer::outputRate);

constexpr uint32_t alignedHigh = 1u << 4; // 24-bit samples in the top bytes of 32
constexpr uint32_t maxChannels = 32;
constexpr double minRate = 1000;
constexpr double maxRate = 768000;

// How one input sample is read: handed to the converter as it is, or first
// rewritten into native 32-bit integers or floats.
enum class Staging { none, int24Packed, int24Low, swap16, swap32, swap64 };

using SampleType = AudioResampler::SampleType;

struct Encoding {
    std::optional<SampleType> type; // as the converter receives it
    Staging staging = Staging::none;
    uint32_t bytes = 0; // of one input sample
};

std::string describe(const AudioFormat& f)
{
    const char* kind = f.isFloat() ? "float" : (f.formatFlags & AudioFormat::IsSignedInteger) ? "integer" : "unsigned integer";
    return std::to_string(f.bitsPerChannel) + "-bit " + kind;
}

std::optional<Encoding> encodingOf(const AudioFormat& f, std::string& error)
{
    const uint32_t channels = f.channelsPerFrame;
    const uint32_t perFrame = f.isInterleaved() ? channels : 1;
    if (f.bytesPerFrame == 0 || f.bytesPerFrame % perFrame != 0) {
        error = "Audio format has " + std::to_string(f.bytesPerFrame) + " bytes per frame for " + std::to_string(channels) + " channels";
        return std::nullopt;
    }
    Encoding e;
    e.bytes = f.bytesPerFrame / perFrame;
    const bool big = f.formatFlags & AudioFormat::IsBigEndian;
    const uint32_t bits = f.bitsPerChannel;
    if (f.isFloat()) {
        if (bits == 32 && e.bytes == 4)
            e = {SampleType::Float32, big ? Staging::swap32 : Staging::none, 4};
        else if (bits == 64 && e.bytes == 8)
            e = {SampleType::Float64, big ? Staging::swap64 : Staging::none, 8};
    } else if (f.formatFlags & AudioFormat::IsSignedInteger) {
        if (bits == 16 && e.bytes == 2)
            e = {big ? SampleType::Int32 : SampleType::Int16, big ? Staging::swap16 : Staging::none, 2};
        else if (bits == 24 && e.bytes == 3)
            e = {SampleType::Int32, Staging::int24Packed, 3};
        else if (bits == 24 && e.bytes == 4 && !(f.formatFlags & alignedHigh))
            e = {SampleType::Int32, Staging::int24Low, 4};
        else if ((bits == 32 || bits == 24) && e.bytes == 4)
            e = {SampleType::Int32, big ? Staging::swap32 : Staging::none, 4};
    }
    if (!e.type) {
        error = "Unsupported audio sample format: " + describe(f) + " in " + std::to_string(e.bytes) + " bytes";
        return std::nullopt;
    }
    // Big-endian 24-bit samples are rare enough to refuse rather than guess.
    if (big && (e.staging == Staging::int24Packed || e.staging == Staging::int24Low)) {
        error = "Unsupported audio sample format: big-endian " + describe(f);
        return std::nullopt;
    }
    return e;
}

template <typename T>
T load(const std::byte* p)
{
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Rewrites `count` samples into native 32-bit integers (or floats of the same
// width for swapped floats), so the converter can read them.
void stage(Staging how, const std::byte* src, size_t count, std::vector<std::byte>& dst)
{
    const size_t outBytes = how == Staging::swap64 ? 8 : 4;
    dst.resize(count * outBytes);
    std::byte* d = dst.data();
    for (size_t i = 0; i < count; ++i) {
        switch (how) {
        case Staging::int24Packed: {
            const auto* u = reinterpret_cast<const uint8_t*>(src + 3 * i);
            const uint32_t v = (uint32_t(u[0]) << 8) | (uint32_t(u[1]) << 16) | (uint32_t(u[2]) << 24);
            std::memcpy(d + 4 * i, &v, 4);
            break;
        }
        case Staging::int24Low: {
            const uint32_t v = load<uint32_t>(src + 4 * i) << 8;
            std::memcpy(d + 4 * i, &v, 4);
            break;
        }
        case Staging::swap16: {
            const uint32_t v = uint32_t(__builtin_bswap16(load<uint16_t>(src + 2 * i))) << 16;
            std::memcpy(d + 4 * i, &v, 4);
            break;
        }
        case Staging::swap32: {
            const uint32_t v = __builtin_bswap32(load<uint32_t>(src + 4 * i));
            std::memcpy(d + 4 * i, &v, 4);
            break;
        }
        case Staging::swap64: {
            const uint64_t v = __builtin_bswap64(load<uint64_t>(src + 8 * i));
            std::memcpy(d + 8 * i, &v, 8);
            break;
        }
        case Staging::none:
            break;
        }
    }
}

// Cuts an output buffer made with spare capacity down to the frames produced.
void trim(SampleBuffer& b, int frames)
{
    b.audioBuffers()->buffers.front().resize(size_t(frames) * 2 * sizeof(float));
    b.setFrameCount(size_t(frames));
    b.setTiming({{MediaTime(frames, AudioNormalizer::outputRate), b.presentationTime(), MediaTime()}});
}

} // namespace

AudioNormalizer::AudioNormalizer() = default;
AudioNormalizer::~AudioNormalizer() = default;
AudioNormalizer::AudioNormalizer(AudioNormalizer&&) noexcept = default;
AudioNormalizer& AudioNormalizer::operator=(AudioNormalizer&&) noexcept = default;

AudioFormat AudioNormalizer::outputFormat()
{
    return AudioFormat::floatFormat(outputRate, 2);
}

std::string AudioNormalizer::formatKey(const AudioFormat& format)
{
    char text[32];
    const auto [end, ec] = std::to_chars(text, text + sizeof text, format.sampleRate);
    std::string rate(text, ec == std::errc() ? end : text);
    if (rate.find_first_of(".ein") == std::string::npos)
        rate += ".0";
    return rate + "/" + std::to_string(format.channelsPerFrame) + "/" + std::to_string(format.formatFlags) + "/"
        + std::to_string(format.bitsPerChannel);
}

void AudioNormalizer::reset()
{
    m_converter.close();
    m_inKey.clear();
    m_lastError.clear();
    m_expectedInput = MediaTime();
    m_nextOutput = MediaTime();
    m_staging.clear();
}

bool AudioNormalizer::makeConverter(const AudioFormat& format, int32_t rate)
{
    std::string unused;
    const auto encoding = encodingOf(format, unused);
    return m_converter.open({*encoding->type, !format.isInterleaved(), int(format.channelsPerFrame), rate}, outputRate);
}

SampleBuffer AudioNormalizer::outputBuffer(size_t capacity, MediaTime pts) const
{
    return SampleBuffer::audio(outputFormat(), capacity, pts);
}

void AudioNormalizer::flushInto(std::vector<SampleBuffer>& out)
{
    const int capacity = m_converter.outputCapacity(0);
    if (capacity <= 0 || !m_nextOutput.isValid())
        return;
    SampleBuffer tail = outputBuffer(size_t(capacity), m_nextOutput);
    const int got = m_converter.convert(tail.floatData(), capacity, nullptr, 0);
    if (got <= 0)
        return;
    trim(tail, got);
    m_nextOutput = m_nextOutput + MediaTime(got, outputRate);
    out.push_back(std::move(tail));
}

std::vector<SampleBuffer> AudioNormalizer::convert(const SampleBuffer& buffer)
{
    std::vector<SampleBuffer> out;
    m_lastError.clear();

    const auto& format = buffer.audioFormat();
    const auto& list = buffer.audioBuffers();
    if (!format) {
        m_lastError = "Audio buffer has no audio format";
        return out;
    }
    if (!list) {
        m_lastError = "Audio buffer has no sample memory";
        return out;
    }
    const size_t frames = buffer.frameCount();
    if (frames < 1) {
        m_lastError = "Audio buffer has no samples";
        return out;
    }
    if (!std::isfinite(format->sampleRate) || format->sampleRate < minRate || format->sampleRate > maxRate) {
        m_lastError = "Unsupported audio sample rate: " + formatKey(*format);
        return out;
    }
    if (format->channelsPerFrame < 1 || format->channelsPerFrame > maxChannels) {
        m_lastError = "Unsupported audio channel count: " + std::to_string(format->channelsPerFrame);
        return out;
    }
    const auto encoding = encodingOf(*format, m_lastError);
    if (!encoding)
        return out;
    if (list->buffers.size() != format->bufferCount()) {
        m_lastError = "Audio buffer has " + std::to_string(list->buffers.size()) + " sample buffers, its format needs "
            + std::to_string(format->bufferCount());
        return out;
    }
    for (const auto& b : list->buffers) {
        if (b.size() / format->bytesPerFrame < frames) {
            m_lastError = "Audio buffer holds fewer bytes than its " + std::to_string(frames) + " frames need";
            return out;
        }
    }
    const MediaTime pts = buffer.presentationTime();
    if (!pts.isValid()) {
        m_lastError = "Audio buffer has no presentation time";
        return out;
    }
    if (frames > size_t(INT32_MAX / 8)) {
        m_lastError = "Audio buffer is too long: " + std::to_string(frames) + " frames";
        return out;
    }

    const auto rate = int32_t(std::lround(format->sampleRate));
    const std::string key = formatKey(*format);
    bool newRun = false;
    if (!m_converter.isOpen() || key != m_inKey) {
        // A new device or format: the old converter's held-back audio still
        // belongs behind what it already gave out.
        if (m_converter.isOpen())
            flushInto(out);
        m_converter.close();
        m_inKey = key;
        if (!makeConverter(*format, rate)) {
            m_lastError = "Cannot convert audio of format " + key + " to 48 kHz stereo";
            return out;
        }
        newRun = true;
    } else {
        const MediaTime jump = pts - m_expectedInput;
        if (jump > discontinuity || jump < -discontinuity) {
            // A hole or an overlap: finish the audio before it where it belongs and
            // start the resampler afresh, so nothing of it lands after the hole.
            flushInto(out);
            if (!m_converter.restart()) {
                m_lastError = "Cannot restart the audio converter for format " + key;
                return out;
            }
            newRun = true;
        }
    }
    if (newRun)
        m_nextOutput = pts;
    m_expectedInput = pts + MediaTime(int64_t(frames), rate);

    // The converter's input: each plane as it stands, or rewritten natively.
    const uint32_t planes = format->bufferCount();
    const size_t perPlane = frames * (format->isInterleaved() ? format->channelsPerFrame : 1);
    std::vector<const uint8_t*> in(planes);
    if (encoding->staging == Staging::none) {
        for (uint32_t p = 0; p < planes; ++p)
            in[p] = reinterpret_cast<const uint8_t*>(list->buffers[p].data());
    } else {
        m_staging.resize(planes);
        for (uint32_t p = 0; p < planes; ++p) {
            stage(encoding->staging, list->buffers[p].data(), perPlane, m_staging[p]);
            in[p] = reinterpret_cast<const uint8_t*>(m_staging[p].data());
        }
    }

    const int capacity = m_converter.outputCapacity(int(frames));
    if (capacity < 0) {
        m_lastError = "Audio converter failed for format " + key;
        return out;
    }
    SampleBuffer converted = outputBuffer(size_t(capacity), pts);
    const int got = m_converter.convert(converted.floatData(), capacity, in.data(), int(frames));
    if (got < 0) {
        m_lastError = "Audio converter failed for format " + key;
        return out;
    }
    if (got > 0) {
        trim(converted, got);
        m_nextOutput = pts + MediaTime(got, outputRate);
        out.push_back(std::move(converted));
    }
    return out;
}

} // namespace corvessa
