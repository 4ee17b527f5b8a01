#include "capture/SystemAudioMonitor.h"

#include "capture/AudioCapturePermission.h"
#include "capture/AudioLevel.h"
#include "capture/LocalizedText.h"
#include "capture/SystemAudioTap.h"
#include "platform/core/UserDefaults.h"

namespace corvessa {

SystemAudioMonitor::SystemAudioMonitor(TextLookup text, std::shared_ptr<AudioInput> input)
    : m_text(std::move(text)), m_input(std::move(input))
{
}

SystemAudioMonitor::~SystemAudioMonitor()
{
    stop();
}

void SystemAudioMonitor::setOnLevel(LevelHandler handler)
{
    std::lock_guard lock(m_shared->mutex);
    m_shared->onLevel = std::move(handler);
}

void SystemAudioMonitor::report(std::optional<QString> problem)
{
    if (m_onProblem)
        m_onProblem(std::move(problem));
}

void SystemAudioMonitor::start()
{
    stop();
    std::unique_lock lock(AudioCapturePermission::verificationLock());
    const bool screen = !m_screenAccess || m_screenAccess();
    const qint64 stored =
        UserDefaults::standard().integer(QString::fromLatin1(AudioCapturePermission::defaultsKey)).value_or(0);
    if (!screen || (stored == 2 && !AudioCapturePermission::verifiedThisSessionLocked())) {
        lock.unlock();
        report(localizedText(m_text, QString::fromUtf8(notAuthorizedText)));
        return;
    }
    lock.unlock();

    auto tap = std::make_unique<SystemAudioTap>(m_muteSpeakers, m_text, m_input);
    try {
        tap->prepare();
        tap->start([shared = m_shared](SampleBuffer buffer) {
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
    } catch (const SystemAudioTap::TapError& e) {
        tap->stop();
        {
            std::lock_guard l(AudioCapturePermission::verificationLock());
            AudioCapturePermission::recordVerdictLocked(false);
        }
        report(localizedText(m_text, QString::fromUtf8(unableText), {e.errorDescription}));
        return;
    }
    m_tap = std::move(tap);
    report(std::nullopt);
    std::lock_guard l(AudioCapturePermission::verificationLock());
    AudioCapturePermission::recordVerdictLocked(true);
}

void SystemAudioMonitor::stop()
{
    if (!m_tap)
        return;
    m_tap->stop();
    m_tap.reset();
}

} // namespace corvessa
