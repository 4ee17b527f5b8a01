#include "capture/SystemAudioTap.h"

#include "capture/LocalizedText.h"
#include "platform/core/RecorderLog.h"
#include "platform/AudioInput.h"
#include "platform/AudioInputError.h"

namespace corvessa {

SystemAudioTap::SystemAudioTap(bool muteSpeakers, TextLookup text, std::shared_ptr<AudioInput> input)
    : m_muteSpeakers(muteSpeakers), m_input(input ? std::move(input) : AudioInput::current()), m_text(std::move(text))
{
}

SystemAudioTap::~SystemAudioTap()
{
    setHandler(nullptr);
    m_running = false;
    teardown();
}

void SystemAudioTap::fail(const char* english, const QString& detail)
{
    throw TapError(localizedText(m_text, QString::fromUtf8(english), {detail}));
}

void SystemAudioTap::setHandler(Handler handler)
{
    std::lock_guard lock(m_delivery->mutex);
    m_delivery->handler = std::move(handler);
}

bool SystemAudioTap::hasHandler() const
{
    std::lock_guard lock(m_delivery->mutex);
    return bool(m_delivery->handler);
}

void SystemAudioTap::prepare()
{
    teardown(); // a second prepare replaces the first
    try {
        m_stream = m_input->openSystemAudio(m_muteSpeakers, m_microphone);
    } catch (const AudioInputError& e) {
        setHandler(nullptr);
        m_running = false;
        teardown();
        switch (e.stage()) {
        case AudioInputError::Stage::Connect:
            fail(enableFailedText, e.detail());
        case AudioInputError::Stage::Route:
            fail(deviceFailedText, e.detail());
        case AudioInputError::Stage::Format:
            fail(formatUnreadableText, e.detail());
        case AudioInputError::Stage::Stream:
        case AudioInputError::Stage::Start:
            fail(readFailedText, e.detail());
        }
        fail(readFailedText, e.detail());
    }
    if (m_prioritized)
        m_stream->prioritizeDelivery();
    m_format = m_stream->format();
    if (m_format->sampleRate <= 0) {
        setHandler(nullptr);
        m_running = false;
        teardown();
        fail(formatUnreadableText, QStringLiteral("0"));
    }
}

void SystemAudioTap::start(Handler handler)
{
    setHandler(std::move(handler));
    if (!m_stream || !m_format)
        fail(readFailedText, QStringLiteral("not prepared"));
    if (m_format->sampleRate < 1 || m_format->channelsPerFrame == 0 || m_format->bytesPerFrame == 0)
        fail(formatInvalidText);

    // The stream calls from the sound server's thread; the owner gets the buffers
    // on this tap's queue, in order.
    std::weak_ptr<Delivery> weak = m_delivery;
    SerialQueue* queue = &m_queue;
    try {
        m_stream->start([weak, queue](SampleBuffer buffer) {
            queue->async([weak, buffer = std::move(buffer)]() mutable {
                const auto delivery = weak.lock();
                if (!delivery)
                    return;
                Handler handler;
                {
                    std::lock_guard lock(delivery->mutex);
                    handler = delivery->handler;
                }
                if (handler)
                    handler(std::move(buffer));
            });
        });
    } catch (const AudioInputError& e) {
        fail(e.stage() == AudioInputError::Stage::Start ? startFailedText : readFailedText, e.detail());
    }
    m_running = true;
}

void SystemAudioTap::pause()
{
    m_running = false;
    if (m_stream)
        m_stream->pause();
}

void SystemAudioTap::resume()
{
    if (m_needsRebuild) {
        m_needsRebuild = false;
        rebuild();
        return;
    }
    m_running = true;
    if (m_stream)
        m_stream->resume();
}

void SystemAudioTap::stop()
{
    setHandler(nullptr);
    m_running = false;
    teardown();
}

void SystemAudioTap::setMute(bool on)
{
    if (on == m_muteSpeakers)
        return;
    m_muteSpeakers = on;
    if (m_running)
        rebuild();
    else
        m_needsRebuild = true;
}

void SystemAudioTap::rebuild()
{
    Handler handler;
    {
        std::lock_guard lock(m_delivery->mutex);
        handler = m_delivery->handler;
    }
    teardown();
    if (!handler)
        return;
    try {
        prepare();
        start(handler);
    } catch (const TapError&) {
        m_running = false;
    }
}

void SystemAudioTap::teardown()
{
    if (m_stream) {
        m_stream->stop();
        m_stream.reset();
    }
    // Let a handler call already under way finish, so that none runs after stop().
    if (!m_queue.isCurrent())
        m_queue.sync([] {});
}

int SystemAudioTap::recoverAfterCrash(std::shared_ptr<AudioInput> input)
{
    if (!input)
        input = AudioInput::current();
    try {
        const int undone = input->recoverLeftoverTaps();
        if (undone > 0)
            RecorderLog::write(QStringLiteral("[sys-audio] restored the audio output muted by an interrupted run (%1)")
                                   .arg(undone));
        return undone;
    } catch (const AudioInputError&) {
        return 0; // no sound server: nothing can be left on it
    }
}

} // namespace corvessa
