// RecorderEngine: the capture stream's pictures and end: a stream lost and made anew, the
// recorded window closed.

#include "engine/RecorderEngine.h"

#include "engine/EngineDurations.h"
#include "platform/AudioInput.h"
#include "platform/AudioInputError.h"
#include "platform/core/RecorderLog.h"

namespace corvessa {

namespace {

QString attachmentText(const PixelBuffer& pixels, const QString& key)
{
    const QVariant v = pixels.attachment(key);
    return v.typeId() == QMetaType::QString ? v.toString() : QStringLiteral("nil");
}

} // namespace

void RecorderEngine::onScreenSample(uint64_t token, const SampleBuffer& sample)
{
    if (!m_stream.stream || token != m_stream.token)
        return;
    const PixelBufferRef& pixels = sample.imageBuffer();
    if (pixels) {
        if (!m_loggedColorTags) {
            m_loggedColorTags = true;
            RecorderLog::write(QStringLiteral("[color] capture frame: primaries=")
                               + attachmentText(*pixels, PixelAttachmentKey::ColorPrimaries)
                               + QStringLiteral(" transfer=")
                               + attachmentText(*pixels, PixelAttachmentKey::TransferFunction)
                               + QStringLiteral(" matrix=") + attachmentText(*pixels, PixelAttachmentKey::YCbCrMatrix));
        }
        if (pixels->format() != PixelFormat::BGRA) {
            // The movie is tagged the same way.
            pixels->setAttachment(PixelAttachmentKey::ColorPrimaries, ColorTag::PrimariesBT709, true);
            pixels->setAttachment(PixelAttachmentKey::TransferFunction, ColorTag::TransferSRGB, true);
            pixels->setAttachment(PixelAttachmentKey::YCbCrMatrix, ColorTag::MatrixBT709, true);
        }
    }
    handleVideo(sample, false);
}

void RecorderEngine::onStreamStopped(uint64_t token, const RecorderError& error)
{
    if (!m_stream.stream || token != m_stream.token)
        return;
    if (m_state == State::paused) {
        // Resume rebuilds it.
        auto stream = std::exchange(m_stream, {}).stream;
        m_control->async([stream] { stream->stop(); });
        return;
    }
    if (m_state != State::recording)
        return;
    if (isWindowGone(error))
        windowClosed();
    else
        enterLoss();
}

void RecorderEngine::onAreaMoved(uint64_t token)
{
    if (m_stream.stream && token == m_stream.token && (m_state == State::recording || m_state == State::paused))
        emitLine(Line::areaMoved());
}

bool RecorderEngine::isWindowGone(const RecorderError& error) const
{
    return m_config && m_config->target.kind == Target::Kind::window && error.domain == ScreenCaptureErrorDomain
        && error.code == int(ScreenCaptureErrorCode::WindowUnavailable);
}

void RecorderEngine::windowClosed()
{
    // Nothing to retry: a closed window does not come back. The last picture
    // goes on until the owner stops.
    if (m_retryWork) {
        m_retryWork->cancel();
        m_retryWork.reset();
    }
    if (m_stream.stream) {
        auto stream = std::exchange(m_stream, {}).stream;
        m_control->async([stream] { stream->stop(); });
    }
    m_restartingStream = false;
    if (!std::exchange(m_windowClosedSent, true))
        emitLine(Line::windowClosed());
}

void RecorderEngine::enterLoss()
{
    if (m_restartingStream)
        return;
    if (m_stream.stream) {
        auto stream = std::exchange(m_stream, {}).stream;
        m_control->async([stream] { stream->stop(); });
    }
    m_restartingStream = true;
    emitLine(Line::screenLost());
    retryStream();
}

void RecorderEngine::retryStream()
{
    // Belongs to this recording: a later one never sees it run.
    if (m_retryWork)
        m_retryWork->cancel();
    const uint64_t recording = m_recording;
    std::weak_ptr<RecorderEngine> weak = weak_from_this();
    m_retryWork = m_q->asyncAfter(queueSeconds(streamRetryDelay), [weak, recording] {
        if (auto self = weak.lock())
            self->retryAttempt(recording);
    });
}

void RecorderEngine::retryAttempt(uint64_t recording)
{
    if (recording != m_recording)
        return;
    m_retryWork.reset();
    if (m_state != State::recording) {
        m_restartingStream = false;
        return;
    }
    const bool checkMic = m_config && m_config->microphoneID && m_scConfig.captureMicrophone;
    const QString micID = checkMic ? *m_config->microphoneID : QString();
    std::shared_ptr<AudioInput> input = m_services.audioInput;
    Rebuild rebuild = rebuildRequest();
    std::weak_ptr<RecorderEngine> weak = weak_from_this();
    m_control->async([weak, recording, checkMic, micID, input, rebuild]() mutable {
        auto self = weak.lock();
        if (!self)
            return;
        bool micGone = false;
        if (checkMic) {
            try {
                auto audio = input ? input : AudioInput::current();
                const auto sources = audio ? audio->sources() : std::vector<AudioDevice>{};
                if (micID.isEmpty())
                    micGone = sources.empty();
                else
                    micGone = std::none_of(sources.begin(), sources.end(),
                                           [&](const AudioDevice& d) { return d.name == micID; });
            } catch (const AudioInputError&) {
                micGone = true;
            }
            if (micGone)
                rebuild.sc.captureMicrophone = false;
        }
        std::optional<RecorderError> error = self->rebuildFilter(rebuild);
        // The target is not there yet, or the screen cannot be listed: no fault
        // of the microphone's.
        const bool targetAway = error.has_value();
        if (!error)
            error = self->startStream(recording, rebuild.source, rebuild.filter, rebuild.sc);
        self->m_q->async([weak, recording, micGone, error, targetAway] {
            auto self = weak.lock();
            if (!self || recording != self->m_recording || !self->m_streamAllowed)
                return;
            if (micGone && self->m_scConfig.captureMicrophone) {
                self->m_scConfig.captureMicrophone = false;
                self->emitLine(Line::micGone());
            }
            if (!error) {
                self->m_restartingStream = false;
                self->m_streamRetries = 0;
                self->emitLine(Line::screenRestored());
                return;
            }
            if (self->m_state == State::recording && self->isWindowGone(*error)) {
                self->windowClosed();
                return;
            }
            if (targetAway) {
                self->retryStream();
                return;
            }
            self->m_streamRetries += 1;
            if (self->m_streamRetries > 2 && self->m_scConfig.captureMicrophone) {
                self->m_scConfig.captureMicrophone = false;
                self->m_streamRetries = 0;
                self->emitLine(Line::micCouldNotConnect());
            }
            self->retryStream();
        });
    });
}

} // namespace corvessa
