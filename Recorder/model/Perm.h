#pragma once

#include "platform/Permissions.h"

#include <QString>

#include <functional>
#include <memory>

namespace corvessa {

class Scheduler;
class UserDefaults;

// Asks for the program's permissions and opens the privacy settings. Requests
// answer on the main thread. Main thread.
class Perm {
public:
    using Done = std::function<void()>;
    // Runs the system-audio probe, waiting the given seconds; the verdict comes
    // on the main thread.
    using SystemAudioProbe = std::function<void(double wait, std::function<void(bool granted)>)>;

    static constexpr double systemAudioRequestWait = 1.5;
    // How long after a repeated screen request the settings open if access is still missing.
    static constexpr double screenSettingsDelay = 0.8;

    Perm(std::shared_ptr<Permissions> permissions, UserDefaults& defaults, Scheduler& scheduler,
         SystemAudioProbe probe);

    Permissions::Access access(Permissions::Kind kind) const { return m_permissions->access(kind); }
    bool granted(Permissions::Kind kind) const { return m_permissions->granted(kind); }

    // Asks for screen capture; from the second request on, opens the settings when
    // access is still missing a moment later.
    void requestScreen();
    void requestCamera(Done done = {});
    void requestMic(Done done = {});
    // With screen access, probes system audio and opens its settings when that
    // fails; without, asks for screen access instead. `done` runs after either.
    void requestSystemAudio(Done done = {});
    void openSettings(const QString& pane);

private:
    void request(Permissions::Kind kind, Done done);

    std::shared_ptr<Permissions> m_permissions;
    UserDefaults& m_defaults;
    Scheduler& m_scheduler;
    SystemAudioProbe m_probe;
    // The pending settings check of a repeated screen request.
    std::shared_ptr<void> m_screenCheck;
    // Probe answers that arrive after this object is gone find it expired.
    std::shared_ptr<Perm*> m_self = std::make_shared<Perm*>(this);
};

} // namespace corvessa
