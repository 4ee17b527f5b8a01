#include "platform/synthetic/SyntheticScreenSource.h"

#include "platform/core/Guarded.h"
#include "platform/synthetic/SyntheticAudioInput.h"
#include "platform/synthetic/SyntheticDisplayList.h"
#include "platform/synthetic/SyntheticScreenStream.h"

#include <algorithm>
#include <atomic>

namespace corvessa {

// Shared with the streams, which may outlive the source. Any thread.
struct SyntheticScreenSource::Hub {
    struct State {
        std::vector<DisplayInfo> displays;
        std::vector<WindowInfo> windows;
        std::optional<RecorderError> contentError;
        std::optional<RecorderError> startError;
        std::shared_ptr<AudioInput> audio = std::make_shared<SyntheticAudioInput>();
        std::vector<SyntheticScreenStream*> streams; // alive; each removes itself when destroyed
    };
    Guarded<State> state;
    std::atomic<bool> paused{false};
    std::atomic<int64_t> firstFrameDelayNs{0};

    std::optional<RecorderError> startCheck(const ScreenFilter& filter) const
    {
        auto s = state.lock();
        if (s->startError)
            return s->startError;
        if (filter.kind == ScreenFilter::Kind::Display) {
            const bool found = std::any_of(s->displays.begin(), s->displays.end(),
                                           [&](const DisplayInfo& d) { return d.id == filter.displayId; });
            if (!found)
                return displayMissingError();
        } else {
            const bool found = std::any_of(s->windows.begin(), s->windows.end(),
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
    auto state = m_hub->state.lock();
    state->displays = std::move(displays);
    state->windows = std::move(windows);
}

SyntheticScreenSource::~SyntheticScreenSource() = default;

std::optional<ShareableContent> SyntheticScreenSource::content(RecorderError* error)
{
    auto state = m_hub->state.lock();
    if (state->contentError) {
        if (error)
            *error = *state->contentError;
        return std::nullopt;
    }
    return ShareableContent{state->displays, state->windows};
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
    env.firstFrameDelayNs = [weak]() -> int64_t {
        auto hub = weak.lock();
        return hub ? hub->firstFrameDelayNs.load() : 0;
    };
    env.audio = audioInput();
    env.destroyed = [weak](SyntheticScreenStream* stream) {
        if (auto hub = weak.lock())
            std::erase(hub->state.lock()->streams, stream);
    };
    auto stream = std::make_unique<SyntheticScreenStream>(filter, config, queue, std::move(output), std::move(env));
    m_hub->state.lock()->streams.push_back(stream.get());
    return stream;
}

void SyntheticScreenSource::setDisplays(std::vector<DisplayInfo> displays)
{
    m_hub->state.lock()->displays = std::move(displays);
}

void SyntheticScreenSource::setWindows(std::vector<WindowInfo> windows)
{
    m_hub->state.lock()->windows = std::move(windows);
}

template <typename Pick>
void SyntheticScreenSource::interruptWhere(Pick pick, const RecorderError& error)
{
    // Under the hub's lock, so that no stream is destroyed meanwhile.
    auto state = m_hub->state.lock();
    for (SyntheticScreenStream* stream : state->streams) {
        if (pick(stream->filter()))
            stream->interrupt(error);
    }
}

void SyntheticScreenSource::removeDisplay(uint32_t id)
{
    std::erase_if(m_hub->state.lock()->displays, [&](const DisplayInfo& d) { return d.id == id; });
    interruptWhere([id](const ScreenFilter& f) { return f.kind == ScreenFilter::Kind::Display && f.displayId == id; },
                   displayLostError());
}

void SyntheticScreenSource::removeWindow(uint32_t id)
{
    std::erase_if(m_hub->state.lock()->windows, [&](const WindowInfo& w) { return w.id == id; });
    interruptWhere([id](const ScreenFilter& f) { return f.kind == ScreenFilter::Kind::Window && f.windowId == id; },
                   windowLostError());
}

void SyntheticScreenSource::setContentError(std::optional<RecorderError> error)
{
    m_hub->state.lock()->contentError = std::move(error);
}

void SyntheticScreenSource::setStartError(std::optional<RecorderError> error)
{
    m_hub->state.lock()->startError = std::move(error);
}

void SyntheticScreenSource::interruptStreams(const RecorderError& error)
{
    interruptWhere([](const ScreenFilter&) { return true; }, error);
}

void SyntheticScreenSource::setDeliveryPaused(bool paused)
{
    m_hub->paused.store(paused);
}

void SyntheticScreenSource::setFirstFrameDelay(double seconds)
{
    m_hub->firstFrameDelayNs.store(int64_t(seconds * 1e9));
}

bool SyntheticScreenSource::isDeliveryPaused() const
{
    return m_hub->paused.load();
}

std::shared_ptr<AudioInput> SyntheticScreenSource::audioInput() const
{
    return m_hub->state.with([](const Hub::State& s) { return s.audio; });
}

void SyntheticScreenSource::setAudioInput(std::shared_ptr<AudioInput> input)
{
    m_hub->state.lock()->audio = input ? std::move(input) : std::make_shared<SyntheticAudioInput>();
}

int SyntheticScreenSource::runningStreams() const
{
    auto state = m_hub->state.lock();
    return int(std::count_if(state->streams.begin(), state->streams.end(),
                             [](const SyntheticScreenStream* s) { return s->isRunning(); }));
}

std::vector<ScreenStreamConfig> SyntheticScreenSource::runningConfigurations() const
{
    auto state = m_hub->state.lock();
    std::vector<ScreenStreamConfig> result;
    for (const SyntheticScreenStream* s : state->streams) {
        if (s->isRunning())
            result.push_back(s->configuration());
    }
    return result;
}

} // namespace corvessa
