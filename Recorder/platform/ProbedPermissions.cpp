#include "platform/ProbedPermissions.h"

#include "platform/core/RecorderLog.h"

namespace corvessa {

ProbedPermissions::ProbedPermissions(Probes probes, SettingsOpener opener)
    : m_probes(std::move(probes)), m_opener(std::move(opener))
{
}

Permissions::Access ProbedPermissions::access(Kind kind)
{
    const Probe& probe = kind == Kind::screen       ? m_probes.screen
                         : kind == Kind::microphone ? m_probes.microphone
                                                    : m_probes.camera;
    return probe ? probe() : Access::granted;
}

void ProbedPermissions::request(Kind kind, std::function<void(Access)> done)
{
    const Access answer = access(kind);
    if (done)
        done(answer);
}

void ProbedPermissions::openSettings(const QString& pane)
{
    RecorderLog::write(QStringLiteral("[perm] privacy settings requested: ") + pane);
    SettingsOpener opener;
    {
        std::lock_guard lock(m_mutex);
        opener = m_opener;
    }
    if (opener)
        opener(pane);
}

void ProbedPermissions::setSettingsOpener(SettingsOpener opener)
{
    std::lock_guard lock(m_mutex);
    m_opener = std::move(opener);
}

} // namespace corvessa
