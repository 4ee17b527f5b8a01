#include "capture/AudioCapturePermission.h"

#include "capture/AudioLevel.h"
#include "platform/core/RecorderLog.h"
#include "capture/SystemAudioTap.h"
#include "platform/core/MainQueue.h"
#include "platform/core/SerialQueue.h"
#include "platform/core/UserDefaults.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <thread>

namespace corvessa {

namespace {

bool verified = false;
bool probing = false;

// Probes block their thread for the wait, so they get one of their own.
SerialQueue& probeQueue()
{
    static SerialQueue queue("sys.audio.probe", SerialQueue::QoS::UserInitiated);
    return queue;
}

} // namespace

std::mutex& AudioCapturePermission::verificationLock()
{
    static std::mutex lock;
    return lock;
}

bool AudioCapturePermission::verifiedThisSessionLocked()
{
    return verified;
}

bool AudioCapturePermission::probingLocked()
{
    return probing;
}

void AudioCapturePermission::recordVerdictLocked(bool granted)
{
    verified = granted;
    UserDefaults::standard().setInteger(QString::fromLatin1(defaultsKey), granted ? 1 : 2);
}

void AudioCapturePermission::resetSession()
{
    std::lock_guard lock(verificationLock());
    verified = false;
    probing = false;
}

void AudioCapturePermission::probe(double waitSeconds, Completion completion, TextLookup text,
                                   std::shared_ptr<AudioInput> input)
{
    probeQueue().async([waitSeconds, completion = std::move(completion), text = std::move(text),
                        input = std::move(input)] {
        SystemAudioTap tap(false, text, input);
        std::mutex countLock;
        float peak = 0;
        int chunks = 0;
        bool granted = false;
        try {
            tap.prepare();
            tap.start([&](SampleBuffer buffer) {
                const auto level = AudioLevel::process(buffer, 1.0f);
                if (!level)
                    return;
                std::lock_guard lock(countLock);
                peak = std::max(peak, level->peak);
                ++chunks;
            });
            std::this_thread::sleep_for(std::chrono::duration<double>(std::max(0.0, waitSeconds)));
            int n;
            float p;
            {
                std::lock_guard lock(countLock);
                n = chunks;
                p = peak;
            }
            RecorderLog::write(probeLine(n, p));
            granted = true;
        } catch (const SystemAudioTap::TapError& e) {
            RecorderLog::write(failureLine(e.errorDescription));
        }
        tap.stop(); // no handler call after this, so the counters may go

        MainQueue::async([granted, completion] {
            {
                std::lock_guard lock(verificationLock());
                recordVerdictLocked(granted);
            }
            if (completion)
                completion(granted);
        });
    });
}

void AudioCapturePermission::verifyIfPossible(bool screenGranted, Completion completion, TextLookup text,
                                              std::shared_ptr<AudioInput> input)
{
    {
        std::lock_guard lock(verificationLock());
        if (verified || probing || !screenGranted)
            return;
        probing = true;
    }
    probe(
        backgroundWait,
        [completion = std::move(completion)](bool granted) {
            {
                std::lock_guard lock(verificationLock());
                probing = false;
            }
            if (completion)
                completion(granted);
        },
        std::move(text), std::move(input));
}

QString AudioCapturePermission::probeLine(int chunks, float peak)
{
    return QStringLiteral("[sys-audio-auth] Probe: received %1 chunks, peak %2").arg(chunks).arg(shortestText(peak));
}

QString AudioCapturePermission::failureLine(const QString& description)
{
    return QStringLiteral("[sys-audio-auth] Probe failed: ") + description;
}

QString AudioCapturePermission::shortestText(float value)
{
    if (std::isnan(value))
        return QStringLiteral("nan");
    if (std::isinf(value))
        return value > 0 ? QStringLiteral("inf") : QStringLiteral("-inf");
    char buf[64];
    const float magnitude = std::fabs(value);
    const bool exponent = magnitude != 0 && (magnitude < 1e-4f || magnitude >= 16777216.0f);
    const auto result = std::to_chars(buf, buf + sizeof buf, value,
                                      exponent ? std::chars_format::scientific : std::chars_format::fixed);
    QString text = QString::fromLatin1(buf, result.ptr - buf);
    if (!exponent && !text.contains(QLatin1Char('.')))
        text += QStringLiteral(".0");
    return text;
}

} // namespace corvessa
