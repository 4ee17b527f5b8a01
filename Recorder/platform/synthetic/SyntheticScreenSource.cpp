#include "platform/synthetic/SyntheticScreenSource.h"

#include "platform/synthetic/SyntheticAudioInput.h"
#include "platform/synthetic/SyntheticDisplayList.h"
#include "platform/synthetic/SyntheticScreenStream.h"

#include <algorithm>
#include <atomic>
#include <mutex>

namespace corvessa {

// Shared with the streams, which may outlive the source.
struct SyntheticScreenSource::Hub {
    mutable std::mutex mutex; // guards everything but `paused`
    std::vector<DisplayInfo> displays;
    std::vector<WindowInfo> windows;
    std::optional<RecorderError> contentError;
    std::optional<RecorderError> startError;
    std::shared_ptr<AudioInput> audio = std::make_shared<SyntheticAudioInput>();
    std::vector<SyntheticScreenStream*> streams; // alive; each removes itself when destroyed
    std::atomic<bool> paused{false};

    std::optional<RecorderError> startCheck(const ScreenFilter& filter) const
    {
        std::lock_guard lock(mutex);
        if (startError)
            return startError;
        if (filter.kind == ScreenFilter::Kind::Display) {
            const bool found = std::any_of(displays.begin(), displays.end(),
                                           [&](const DisplayInfo& d) { return d.id == filter.displayId; });
            if (!found)
                return displayMissingError();
        } else {
            const bool found = std::any_of(windows.begin(), windows.end(),
                                           [&](const WindowInfo& w) { return w.id == filter.windowId; });
            if (!found)
                return windowMissingError();
        }
        return std::nullopt;
    }
};

SyntheticScreenSource::SyntheticScreenSource()
    : SyntheticScreenSource(SyntheticDisplayList::defaultDisplays(), {})
{
}

SyntheticScreenSource::SyntheticScreenSource(std::vector<DisplayInfo> displays, std::vector<WindowInfo> windows)
    : m_hub(std::make_shared<Hub>())
{
    m_hub->displays = std::move(displays);
    m_hub->windows = std::move(windows);
}

SyntheticScreenSource::~SyntheticScreenSource() = default;

std::optional<ShareableContent> SyntheticScreenSource::content(RecorderError* error)
{
    std::lock_guard lock(m_hub->mutex);
    if (m_hub->contentError) {
        if (error)
            *error = *m_hub->contentError;
        return std::nullopt;
    }
    return ShareableContent{m_hub->displays, m_hub->windows};
}

std::unique_ptr<ScreenStream> SyntheticScreenSource::makeStream(const ScreenFilter& filter,
                                                                const ScreenStreamConfig& config, SerialQueue* queue,
                                                                ScreenStreamOutput output)
{
    std::weak_ptr<Hub> weak = m_hub;
    SyntheticScreenStream::Environment env;
    env.startCheck = [weak](const ScreenFilter& f) -> std::optional<RecorderError> {
        if (auto hub = weak.lock())
            return hub->startCheck(f);
        return screenCaptureError(ScreenCaptureErrorCode::ServerUnavailable,
                                  QStringLiteral("The screen source is gone."));
    };
    env.paused = [weak] {
        auto hub = weak.lock();
        return hub && hub->paused.load();
    };
    env.audio = audioInput();
    env.destroyed = [weak](SyntheticScreenStream* stream) {
        if (auto hub = weak.lock()) {
            std::lock_guard lock(hub->mutex);
            std::erase(hub->streams, stream);
        }
    };
    auto stream = std::make_unique<SyntheticScreenStream>(filter, config, queue, std::move(output), std::move(env));
    std::lock_guard lock(m_hub->mutex);
    m_hub->streams.push_back(stream.get());
    return stream;
}

void SyntheticScreenSource::setDisplays(std::vector<DisplayInfo> displays)
{
    std::lock_guard lock(m_hub->mutex);
    m_hub->displays = std::move(displays);
}

void SyntheticScreenSource::setWindows(std::vector<WindowInfo> windows)
{
    std::lock_guard lock(m_hub->mutex);
    m_hub->windows = std::move(windows);
}

template <typename Pick>
void SyntheticScreenSource::interruptWhere(Pick pick, const RecorderError& error)
{
    // Under the hub's lock, so that no stream is destroyed meanwhile.
    std::lock_guard lock(m_hub->mutex);
    for (SyntheticScreenStream* stream : m_hub->streams) {
        if (pick(stream->filter()))
            stream->interrupt(error);
    }
}

void SyntheticScreenSource::removeDisplay(uint32_t id)
{
    {
        std::lock_guard lock(m_hub->mutex);
        std::erase_if(m_hub->displays, [&](const DisplayInfo& d) { return d.id == id; });
    }
    interruptWhere([id](const ScreenFilter& f) { return f.kind == ScreenFilter::Kind::Display && f.displayId == id; },
                   displayLostError());
}

void SyntheticScreenSource::removeWindow(uint32_t id)
{
    {
        std::lock_guard lock(m_hub->mutex);
        std::erase_if(m_hub->windows, [&](const WindowInfo& w) { return w.id == id; });
    }
    interruptWhere([id](const ScreenFilter& f) { return f.kind == ScreenFilter::Kind::Window && f.windowId == id; },
                   windowLostError());
}

void SyntheticScreenSource::setContentError(std::optional<RecorderError> error)
{
    std::lock_guard lock(m_hub->mutex);
    m_hub->contentError = std::move(error);
}

void SyntheticScreenSource::setStartError(std::optional<RecorderError> error)
{
    std::lock_guard lock(m_hub->mutex);
    m_hub->startError = std::move(error);
}

void SyntheticScreenSource::interruptStreams(const RecorderError& error)
{
    interruptWhere([](const ScreenFilter&) { return true; }, error);
}

void SyntheticScreenSource::setDeliveryPaused(bool paused)
{
    m_hub->paused.store(paused);
}

bool SyntheticScreenSource::isDeliveryPaused() const
{
    return m_hub->paused.load();
}

std::shared_ptr<AudioInput> SyntheticScreenSource::audioInput() const
{
    std::lock_guard lock(m_hub->mutex);
    return m_hub->audio;
}

void SyntheticScreenSource::setAudioInput(std::shared_ptr<AudioInput> input)
{
    std::lock_guard lock(m_hub->mutex);
    m_hub->audio = input ? std::move(input) : std::make_shared<SyntheticAudioInput>();
}

int SyntheticScreenSource::runningStreams() const
{
    std::lock_guard lock(m_hub->mutex);
    return int(std::count_if(m_hub->streams.begin(), m_hub->streams.end(),
                             [](const SyntheticScreenStream* s) { return s->isRunning(); }));
}

std::vector<ScreenStreamConfig> SyntheticScreenSource::runningConfigurations() const
{
    std::lock_guard lock(m_hub->mutex);
    std::vector<ScreenStreamConfig> result;
    for (const SyntheticScreenStream* s : m_hub->streams) {
        if (s->isRunning())
            result.push_back(s->configuration());
    }
    return result;
}

} // namespace corvessa
