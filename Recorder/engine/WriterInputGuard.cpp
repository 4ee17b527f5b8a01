#include "engine/WriterInputGuard.h"

#include "capture/AudioNormalizer.h"
#include "engine/AudioTimelineMixer.h"
#include "engine/EngineLines.h"
#include "platform/core/RecorderTryObjC.h"
#include "prefs/Loc.h"

namespace corvessa {

namespace {

// The format of an audio sample, to notice a device switch mid-way.
QString audioFormatKey(const AudioFormat& f)
{
    return QStringLiteral("%1/%2/%3/%4/%5")
        .arg(int64_t(f.sampleRate))
        .arg(f.channelsPerFrame)
        .arg(f.bytesPerFrame)
        .arg(f.formatFlags)
        .arg(f.bitsPerChannel);
}

} // namespace

WriterInputGuard::WriterInputGuard(std::function<void(const QString& line)> emitLine)
    : m_emitLine(std::move(emitLine))
{
}

bool WriterInputGuard::safeAppend(MovieWriter& writer, MovieWriter::Input input, const SampleBuffer& sample,
                              const QString& label)
{
    const InputKey key{&writer, input};
    if (m_brokenInputs.count(key))
        return false;
    if (const auto& format = sample.audioFormat()) {
        const QString formatKey = audioFormatKey(*format);
        auto it = m_inputFormats.find(key);
        if (it != m_inputFormats.end() && it->second != formatKey) {
            m_emitLine(EngineLines::formatChanged({label}));
            return false;
        }
        if (it == m_inputFormats.end())
            m_inputFormats.emplace(key, formatKey);
    }
    const MediaTime pts = sample.presentationTime();
    if (auto it = m_lastInputPTS.find(key); it != m_lastInputPTS.end() && pts <= it->second)
        return false;

    bool accepted = false;
    RecorderError error;
    const bool ran = recorderTry([&] { accepted = writer.append(input, sample); }, &error);
    if (!ran) {
        m_brokenInputs.insert(key);
        m_emitLine(EngineLines::writeError(
            {label, error.message.isEmpty() ? Loc::text(QStringLiteral("Unknown")) : error.message}));
        return false;
    }
    if (!accepted)
        return false;
    m_lastInputPTS[key] = pts;
    return true;
}

int64_t WriterInputGuard::appendSound(MovieWriter& writer, AudioTimelineMixer& mixer, int64_t frames, MediaTime origin,
                                      bool final, const QString& label)
{
    while (writer.isReadyForMoreMediaData(MovieWriter::Input::Audio)) {
        std::optional<SampleBuffer> chunk = mixer.sample(frames, origin, final);
        if (!chunk)
            break;
        if (!safeAppend(writer, MovieWriter::Input::Audio, *chunk, label))
            break;
        mixer.commit(int64_t(chunk->frameCount()));
    }
    const int64_t rate = AudioNormalizer::outputRate;
    const int64_t skipped = frames - mixer.cursor() - int64_t(maxSoundBacklogSeconds * rate);
    if (final || skipped < 0) {
        m_behindSince.erase(&writer);
        return 0;
    }
    // Counted in sound come due, so a machine too busy to drain on time does
    // not make a burst look like a stalled writer.
    const int64_t since = m_behindSince.try_emplace(&writer, frames).first->second;
    if (skipped == 0 || frames - since < int64_t(overloadSeconds * rate))
        return 0;
    mixer.commit(skipped);
    return skipped;
}

bool WriterInputGuard::isBroken(const MovieWriter& writer, MovieWriter::Input input) const
{
    return m_brokenInputs.count({&writer, input}) != 0;
}

void WriterInputGuard::forget(const MovieWriter& writer)
{
    for (const MovieWriter::Input input : {MovieWriter::Input::Video, MovieWriter::Input::Audio}) {
        const InputKey key{&writer, input};
        m_inputFormats.erase(key);
        m_lastInputPTS.erase(key);
        m_brokenInputs.erase(key);
    }
    m_behindSince.erase(&writer);
}

void WriterInputGuard::reset()
{
    m_inputFormats.clear();
    m_brokenInputs.clear();
    m_lastInputPTS.clear();
    m_behindSince.clear();
}

} // namespace corvessa
