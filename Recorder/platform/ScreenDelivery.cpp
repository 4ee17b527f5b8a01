#include "platform/ScreenDelivery.h"

#include "platform/AudioInput.h"
#include "platform/AudioInputError.h"

namespace corvessa {

void ScreenDelivery::stop()
{
    std::lock_guard lock(callMutex);
    stopped = true;
}

void ScreenDelivery::frame(const std::shared_ptr<ScreenDelivery>& self, PixelBufferRef buffer, MediaTime time,
                           MediaTime duration)
{
    buffer->setAttachment(PixelAttachmentKey::FrameStatus, int(FrameStatus::Complete), false);
    buffer->setAttachment(PixelAttachmentKey::ColorPrimaries, ColorTag::PrimariesBT709);
    buffer->setAttachment(PixelAttachmentKey::TransferFunction, ColorTag::TransferSRGB);
    if (buffer->format() == PixelFormat::NV12VideoRange)
        buffer->setAttachment(PixelAttachmentKey::YCbCrMatrix, ColorTag::MatrixBT709);
    SampleBuffer sample = SampleBuffer::video(std::move(buffer), time, duration);
    self->pending.fetch_add(1);
    self->delivered.fetch_add(1);
    self->queue->async([self, sample = std::move(sample)] {
        {
            std::lock_guard lock(self->callMutex);
            if (!self->stopped && self->output.onScreen)
                self->output.onScreen(sample);
        }
        self->pending.fetch_sub(1);
    });
}

void ScreenDelivery::microphone(const std::shared_ptr<ScreenDelivery>& self, SampleBuffer sample)
{
    self->queue->async([self, sample = std::move(sample)] {
        std::lock_guard lock(self->callMutex);
        if (!self->stopped && self->output.onMicrophone)
            self->output.onMicrophone(sample);
    });
}

void ScreenDelivery::ended(const std::shared_ptr<ScreenDelivery>& self, RecorderError error)
{
    self->queue->async([self, error = std::move(error)] {
        std::lock_guard lock(self->callMutex);
        if (self->stopped)
            return;
        // A stream that stopped by itself delivers nothing more.
        self->stopped = true;
        if (self->output.onStop)
            self->output.onStop(error);
    });
}

void ScreenDelivery::moved(const std::shared_ptr<ScreenDelivery>& self)
{
    self->queue->async([self] {
        std::lock_guard lock(self->callMutex);
        if (!self->stopped && self->output.onMoved)
            self->output.onMoved();
    });
}

std::variant<std::unique_ptr<AudioCaptureStream>, RecorderError>
ScreenDelivery::startMicrophone(const std::shared_ptr<ScreenDelivery>& self, AudioInput& input,
                                const ScreenStreamConfig& config)
{
    try {
        AudioInput::StreamRequest request;
        request.source = config.microphoneDeviceId;
        std::unique_ptr<AudioCaptureStream> stream = input.openSource(request);
        stream->prioritizeDelivery(); // recorded: it must keep up however busy the encoder is
        stream->start([self](SampleBuffer buffer) { microphone(self, std::move(buffer)); });
        return stream;
    } catch (const AudioInputError& e) {
        return screenCaptureError(ScreenCaptureErrorCode::MicrophoneUnavailable,
                                  QStringLiteral("The microphone could not be started: ") + e.detail());
    } catch (const std::exception& e) {
        return screenCaptureError(ScreenCaptureErrorCode::MicrophoneUnavailable,
                                  QStringLiteral("The microphone could not be started: ") +
                                      QString::fromLocal8Bit(e.what()));
    }
}

bool ScreenDelivery::microphoneChanged(const ScreenStreamConfig& before, const ScreenStreamConfig& after)
{
    return before.captureMicrophone != after.captureMicrophone ||
           (after.captureMicrophone && before.microphoneDeviceId != after.microphoneDeviceId);
}

} // namespace corvessa
