#include "platform/synthetic/SyntheticCameraService.h"

#include "platform/core/Guarded.h"
#include "platform/synthetic/SyntheticCameraStream.h"

#include <algorithm>
#include <map>

namespace corvessa {

// Shared with the streams, which may outlive the service. Any thread.
struct SyntheticCameraService::Hub {
    struct State {
        std::vector<CameraDevice> devices;
        std::optional<CameraError> openError;
        std::optional<CameraError> configureError;
        std::optional<CameraError> startError;
        std::vector<SyntheticCameraStream*> streams; // alive; each removes itself when destroyed
        std::map<QString, std::vector<CameraPictureControl>> controls; // set values, by camera

        std::vector<CameraDevice>::iterator device(const QString& id)
        {
            return std::find_if(devices.begin(), devices.end(), [&](const CameraDevice& d) { return d.id == id; });
        }
        bool hasDevice(const QString& id) { return device(id) != devices.end(); }
    };
    Guarded<State> state;
    CameraDeviceObservers observers;
};

CameraDevice SyntheticCameraService::defaultDevice()
{
    auto single = [](int rate) { return CameraFormat::Intervals{MediaTime(1, rate), MediaTime(1, rate), {}}; };
    CameraDevice device;
    device.id = QStringLiteral("synthetic-camera");
    device.name = QStringLiteral("Synthetic Camera");
    device.formats = {
        CameraFormat{640, 480, CameraPixelFormat::YUYV, {single(30), single(15)}},
        CameraFormat{1280, 720, CameraPixelFormat::YUYV, {{MediaTime(1, 30), MediaTime(1, 1), {}}}},
        CameraFormat{1920, 1080, CameraPixelFormat::MJPEG, {single(60), single(30)}},
    };
    return device;
}

SyntheticCameraService::SyntheticCameraService() : SyntheticCameraService(std::vector<CameraDevice>{defaultDevice()})
{
}

SyntheticCameraService::SyntheticCameraService(std::vector<CameraDevice> devices) : m_hub(std::make_shared<Hub>())
{
    m_hub->state.lock()->devices = std::move(devices);
}

SyntheticCameraService::~SyntheticCameraService() = default;

std::vector<CameraDevice> SyntheticCameraService::devices()
{
    return m_hub->state.with([](const Hub::State& s) { return s.devices; });
}

namespace {

std::vector<CameraPictureControl> syntheticControls()
{
    using Kind = CameraPictureControl::Kind;
    return {{Kind::brightness, 0, 255, 1, 128, 128, false},
            {Kind::contrast, 0, 100, 1, 50, 50, false},
            {Kind::saturation, 0, 100, 1, 60, 60, false},
            {Kind::backlightCompensation, 0, 1, 1, 0, 0, true}};
}

} // namespace

std::vector<CameraPictureControl> SyntheticCameraService::controls(const QString& id)
{
    return m_hub->state.with([&](Hub::State& s) -> std::vector<CameraPictureControl> {
        if (!s.hasDevice(id))
            return {};
        auto found = s.controls.find(id);
        return found == s.controls.end() ? syntheticControls() : found->second;
    });
}

bool SyntheticCameraService::setControl(const QString& id, CameraPictureControl::Kind kind, int value)
{
    return m_hub->state.with([&](Hub::State& s) {
        if (!s.hasDevice(id))
            return false;
        auto [entry, fresh] = s.controls.try_emplace(id, syntheticControls());
        for (CameraPictureControl& control : entry->second)
            if (control.kind == kind) {
                control.value = std::clamp(value, control.minimum, control.maximum);
                return true;
            }
        return false;
    });
}

std::unique_ptr<CameraStream> SyntheticCameraService::open(const QString& id, SerialQueue* queue,
                                                           CameraStreamOutput output, CameraError* error)
{
    auto fail = [&](CameraError e) -> std::unique_ptr<CameraStream> {
        if (error)
            *error = std::move(e);
        return nullptr;
    };
    if (!queue)
        return fail({CameraErrorCode::OpenFailed, QStringLiteral("The camera stream has no output queue."), 0});
    CameraDevice device;
    {
        auto state = m_hub->state.lock();
        if (state->openError)
            return fail(*state->openError);
        auto it = state->device(id);
        if (it == state->devices.end())
            return fail({CameraErrorCode::NotFound, QStringLiteral("No camera has the id ") + id, 0});
        device = *it;
    }

    std::weak_ptr<Hub> weak = m_hub;
    SyntheticCameraStream::Environment env;
    env.configureCheck = [weak]() -> std::optional<CameraError> {
        auto hub = weak.lock();
        if (!hub)
            return std::nullopt;
        return hub->state.with([](const Hub::State& s) { return s.configureError; });
    };
    env.startCheck = [weak, id]() -> std::optional<CameraError> {
        auto hub = weak.lock();
        if (!hub)
            return std::nullopt;
        auto state = hub->state.lock();
        if (!state->hasDevice(id))
            return CameraError{CameraErrorCode::Disconnected, QStringLiteral("The camera is gone."), 0};
        return state->startError;
    };
    env.destroyed = [weak](SyntheticCameraStream* stream) {
        if (auto hub = weak.lock())
            std::erase(hub->state.lock()->streams, stream);
    };
    auto stream = std::make_unique<SyntheticCameraStream>(std::move(device), queue, std::move(output), std::move(env));
    m_hub->state.lock()->streams.push_back(stream.get());
    return stream;
}

CameraService::Observation SyntheticCameraService::observeDevices(DevicesChanged handler)
{
    return m_hub->observers.add(std::move(handler));
}

void SyntheticCameraService::addDevice(CameraDevice device)
{
    CameraDeviceChange change;
    {
        auto state = m_hub->state.lock();
        if (state->hasDevice(device.id))
            return;
        state->devices.push_back(device);
        change.added.push_back(std::move(device));
    }
    m_hub->observers.notify(change);
}

template <typename F>
void SyntheticCameraService::forStreams(const QString& id, F&& f)
{
    // Under the lock, so that no stream is destroyed meanwhile; what the streams
    // do here only posts to queues.
    auto state = m_hub->state.lock();
    for (SyntheticCameraStream* stream : state->streams) {
        if (stream->device().id == id)
            f(*stream);
    }
}

void SyntheticCameraService::disconnect(const QString& id)
{
    CameraDeviceChange change;
    {
        auto state = m_hub->state.lock();
        auto it = state->device(id);
        if (it == state->devices.end())
            return;
        change.removed.push_back(*it);
        state->devices.erase(it);
    }
    forStreams(id, [](SyntheticCameraStream& s) {
        s.interrupt({CameraErrorCode::Disconnected, QStringLiteral("No such device"), 19});
    });
    m_hub->observers.notify(change);
}

void SyntheticCameraService::changeFrameSize(const QString& id, QSize size)
{
    forStreams(id, [size](SyntheticCameraStream& s) { s.setFrameSize(size); });
}

void SyntheticCameraService::interrupt(const QString& id, const CameraError& error)
{
    forStreams(id, [&error](SyntheticCameraStream& s) { s.interrupt(error); });
}

void SyntheticCameraService::reportDrops(const QString& id, int count)
{
    forStreams(id, [count](SyntheticCameraStream& s) { s.reportDrops(count); });
}

void SyntheticCameraService::setOpenError(std::optional<CameraError> error)
{
    m_hub->state.lock()->openError = std::move(error);
}

void SyntheticCameraService::setConfigureError(std::optional<CameraError> error)
{
    m_hub->state.lock()->configureError = std::move(error);
}

void SyntheticCameraService::setStartError(std::optional<CameraError> error)
{
    m_hub->state.lock()->startError = std::move(error);
}

int SyntheticCameraService::runningStreams() const
{
    auto state = m_hub->state.lock();
    return int(std::count_if(state->streams.begin(), state->streams.end(),
                             [](SyntheticCameraStream* s) { return s->isRunning(); }));
}

std::vector<CameraStream::ActiveFormat> SyntheticCameraService::runningFormats() const
{
    auto state = m_hub->state.lock();
    std::vector<CameraStream::ActiveFormat> formats;
    for (SyntheticCameraStream* s : state->streams) {
        if (s->isRunning()) {
            if (auto f = s->activeFormat())
                formats.push_back(*f);
        }
    }
    return formats;
}

int SyntheticCameraService::openStreams() const
{
    return m_hub->state.with([](const Hub::State& s) { return int(s.streams.size()); });
}

} // namespace corvessa
