#include "model/Perm.h"

#include "platform/core/Scheduler.h"
#include "platform/core/UserDefaults.h"

#include <utility>

namespace corvessa {

namespace {
const QString kScreenPrompted = QStringLiteral("screenPrompted");
}

Perm::Perm(std::shared_ptr<Permissions> permissions, UserDefaults& defaults, Scheduler& scheduler,
           SystemAudioProbe probe)
    : m_permissions(std::move(permissions))
    , m_defaults(defaults)
    , m_scheduler(scheduler)
    , m_probe(std::move(probe))
{
}

void Perm::requestScreen()
{
    const bool prompted = m_defaults.boolValue(kScreenPrompted).value_or(false);
    m_defaults.setBool(kScreenPrompted, true);
    m_permissions->request(Permissions::Kind::screen, [](Permissions::Access) {});
    if (!prompted)
        return;
    m_screenCheck = std::shared_ptr<Scheduler::Timer>(m_scheduler.after(screenSettingsDelay, [this] {
        if (!granted(Permissions::Kind::screen))
            openSettings(QStringLiteral("Privacy_ScreenCapture"));
    }));
}

void Perm::requestCamera(Done done)
{
    request(Permissions::Kind::camera, std::move(done));
}

void Perm::requestMic(Done done)
{
    request(Permissions::Kind::microphone, std::move(done));
}

void Perm::request(Permissions::Kind kind, Done done)
{
    // The answer may come on any thread; `done` runs on the main one whatever it was.
    m_permissions->request(kind, [scheduler = &m_scheduler, done = std::move(done)](Permissions::Access) {
        if (done)
            scheduler->post(done);
    });
}

void Perm::requestSystemAudio(Done done)
{
    if (!granted(Permissions::Kind::screen)) {
        requestScreen();
        if (done)
            done();
        return;
    }
    m_probe(systemAudioRequestWait, [self = std::weak_ptr<Perm*>(m_self), done = std::move(done)](bool ok) {
        const auto perm = self.lock();
        if (!perm)
            return;
        if (!ok)
            (*perm)->openSettings(QStringLiteral("Privacy_AudioCapture"));
        if (done)
            done();
    });
}

void Perm::openSettings(const QString& pane)
{
    m_permissions->openSettings(pane);
}

} // namespace corvessa
