#include "capture/MicMonitor.h"

#include "capture/AudioLevel.h"
#include "capture/LocalizedText.h"
#include "platform/AudioInput.h"
#include "platform/AudioInputError.h"
#include "platform/core/SerialQueue.h"

#include <algorithm>

namespace corvessa {

MicMonitor::MicMonitor(TextLookup text, std::shared_ptr<AudioInput> input)
    : m_text(std::move(text)), m_input(std::move(input))
{
}

MicMonitor::~MicMonitor()
{
    stop();
}

std::vector<AudioDevice> MicMonitor::devices(std::shared_ptr<AudioInput> input)
{
    if (!input)
        input = AudioInput::current();
    std::vector<AudioDevice> list;
    try {
        list = input->sources();
    } catch (const AudioInputError&) {
        return {};
    }
    std::erase_if(list, [](const AudioDevice& d) { return d.description == QLatin1String(AudioInput::tapDescription); });
    return list;
}

std::optional<AudioDevice> MicMonitor::choose(const std::vector<AudioDevice>& devices,
                                              const std::optional<QString>& deviceID)
{
    auto pick = [&](auto pred) -> std::optional<AudioDevice> {
        auto it = std::find_if(devices.begin(), devices.end(), pred);
        return it == devices.end() ? std::nullopt : std::optional(*it);
    };
    if (deviceID)
        if (auto d = pick([&](const AudioDevice& d) { return d.name == *deviceID; }))
            return d;
    if (auto d = pick([](const AudioDevice& d) { return d.isDefault; }))
        return d;
    return devices.empty() ? std::nullopt : std::optional(devices.front());
}

void MicMonitor::setOnLevel(LevelHandler handler)
{
    std::lock_guard lock(m_shared->mutex);
    m_shared->onLevel = std::move(handler);
}

void MicMonitor::report(std::optional<QString> problem)
{
    if (m_onProblem)
        m_onProblem(std::move(problem));
}

void MicMonitor::start(const std::optional<QString>& deviceID)
{
    stop();
    if (m_authorized && !m_authorized()) {
        report(localizedText(m_text, QString::fromUtf8(notAuthorizedText)));
        return;
    }
    auto input = m_input ? m_input : AudioInput::current();
    const auto device = choose(devices(input), deviceID);
    if (!device) {
        report(localizedText(m_text, QString::fromUtf8(noMicrophoneText)));
        return;
    }

    auto queue = std::make_unique<SerialQueue>("mic.monitor", SerialQueue::QoS::Utility);
    std::unique_ptr<AudioCaptureStream> session;
    try {
        AudioInput::StreamRequest request;
        request.source = device->name;
        request.streamName = QStringLiteral("Recorder microphone level");
        session = input->openSource(request);
        // The stream's thread only hands buffers over; measuring happens on the queue.
        session->start([q = queue.get(), shared = m_shared](SampleBuffer buffer) {
            q->async([shared, buffer = std::move(buffer)]() mutable {
                const auto level = AudioLevel::process(buffer, 1.0f);
                if (!level)
                    return;
                LevelHandler onLevel;
                {
                    std::lock_guard l(shared->mutex);
                    onLevel = shared->onLevel;
                }
                const float g = shared->gain;
                if (onLevel)
                    onLevel({g * level->peak, g * level->rms, level->peak});
            });
        });
    } catch (const AudioInputError&) {
        if (session)
            session->stop();
        report(localizedText(m_text, QString::fromUtf8(noMicrophoneText)));
        return;
    }
    m_queue = std::move(queue);
    m_session = std::move(session);
    m_deviceName = device->name;
    report(std::nullopt);
}

void MicMonitor::stop()
{
    if (m_session) {
        m_session->stop(); // no more buffers after this
        m_session.reset();
    }
    m_queue.reset(); // runs the measurements already queued, then ends
    m_deviceName.clear();
}

} // namespace corvessa
