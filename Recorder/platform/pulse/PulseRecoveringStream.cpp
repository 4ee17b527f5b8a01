#include "platform/pulse/PulseRecoveringStream.h"

#include "platform/AudioInputError.h"
#include "platform/core/RecorderLog.h"
#include "platform/pulse/PulseCaptureStream.h"

#include <chrono>

namespace corvessa {

PulseRecoveringStream::PulseRecoveringStream(Connect connect) : m_connect(std::move(connect))
{
    m_stream = m_connect(std::nullopt);
    m_format = m_stream->format();
    arm(*m_stream);
}

PulseRecoveringStream::~PulseRecoveringStream()
{
    stop();
}

void PulseRecoveringStream::arm(PulseCaptureStream& stream)
{
    uint64_t generation = 0;
    {
        std::lock_guard wake(m_wakeMutex);
        generation = ++m_generation;
    }
    stream.setOnEnded([this, generation] {
        std::lock_guard wake(m_wakeMutex);
        if (generation != m_generation)
            return;
        m_endedGeneration = generation;
        m_wake.notify_one();
    });
}

void PulseRecoveringStream::start(Handler handler)
{
    std::lock_guard lock(m_mutex);
    if (m_stopped)
        throw AudioInputError(AudioInputError::Stage::Start, QStringLiteral("stopped"));
    m_handler = std::move(handler);
    m_started = true;
    m_paused = false;
    if (m_stream) {
        m_stream->start(m_handler);
        m_streamStarted = true;
    }
    if (!m_thread.joinable())
        m_thread = std::thread([this] { watch(); });
}

void PulseRecoveringStream::pause()
{
    std::lock_guard lock(m_mutex);
    m_paused = true;
    if (m_stream && m_streamStarted)
        m_stream->pause();
}

void PulseRecoveringStream::resume()
{
    std::lock_guard lock(m_mutex);
    if (!m_started || m_stopped)
        return;
    m_paused = false;
    if (!m_stream)
        return;
    if (m_streamStarted) {
        m_stream->resume();
        return;
    }
    try {
        m_stream->start(m_handler);
        m_streamStarted = true;
    } catch (const AudioInputError&) {
        // It ended meanwhile; the watch connects again.
    }
}

void PulseRecoveringStream::prioritizeDelivery()
{
    std::lock_guard lock(m_mutex);
    m_prioritized = true;
    if (m_stream)
        m_stream->prioritizeDelivery();
}

void PulseRecoveringStream::stop()
{
    {
        std::lock_guard wake(m_wakeMutex);
        m_quit = true;
        m_wake.notify_one();
    }
    if (m_thread.joinable()) {
        if (m_thread.get_id() == std::this_thread::get_id())
            m_thread.detach();
        else
            m_thread.join();
    }
    std::unique_ptr<PulseCaptureStream> stream;
    {
        std::lock_guard lock(m_mutex);
        m_stopped = true;
        m_handler = nullptr;
        stream = std::move(m_stream);
    }
    if (stream)
        stream->stop();
}

int PulseRecoveringStream::reconnections() const
{
    std::lock_guard lock(m_mutex);
    return m_reconnections;
}

bool PulseRecoveringStream::install(std::unique_ptr<PulseCaptureStream>& stream)
{
    if (m_stopped)
        return false;
    if (m_prioritized)
        stream->prioritizeDelivery();
    if (m_started && !m_paused) {
        try {
            stream->start(m_handler);
        } catch (const AudioInputError&) {
            return false;
        }
    }
    m_streamStarted = m_started && !m_paused;
    m_stream = std::move(stream);
    ++m_reconnections;
    return true;
}

void PulseRecoveringStream::watch()
{
    std::unique_lock wake(m_wakeMutex);
    for (;;) {
        m_wake.wait(wake, [this] { return m_quit || m_endedGeneration == m_generation; });
        if (m_quit)
            return;
        m_endedGeneration = 0;
        wake.unlock();

        // Let the ended stream go (its route moves the other programs' playback
        // back where the server still can), then connect anew until it works.
        std::unique_ptr<PulseCaptureStream> ended;
        {
            std::lock_guard lock(m_mutex);
            ended = std::move(m_stream);
        }
        if (ended)
            ended->stop();
        ended.reset();
        const auto since = std::chrono::steady_clock::now();
        int attempts = 0;
        for (;;) {
            wake.lock();
            if (m_quit)
                return;
            wake.unlock();
            std::unique_ptr<PulseCaptureStream> fresh;
            QString failure;
            try {
                fresh = m_connect(m_format);
            } catch (const AudioInputError& e) {
                failure = e.detail();
            }
            ++attempts;
            if (fresh) {
                arm(*fresh);
                std::lock_guard lock(m_mutex);
                if (install(fresh))
                    break;
            }
            if (fresh) {
                fresh->stop();
                fresh.reset();
            }
            wake.lock();
            if (m_wake.wait_for(wake, std::chrono::milliseconds(retryMs), [this] { return m_quit; }))
                return;
            wake.unlock();
        }
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
        RecorderLog::write(QStringLiteral("[audio] recording again after %1 s (%2 attempts)")
                               .arg(QString::number(seconds, 'f', 1))
                               .arg(attempts));
        wake.lock();
    }
}

} // namespace corvessa
