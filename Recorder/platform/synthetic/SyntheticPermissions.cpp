#include "platform/synthetic/SyntheticPermissions.h"

namespace corvessa {

SyntheticPermissions::SyntheticPermissions(Access initial) : m_access{initial, initial, initial}
{
}

Permissions::Access SyntheticPermissions::access(Kind kind)
{
    std::lock_guard lock(m_mutex);
    return m_access.at(index(kind));
}

void SyntheticPermissions::request(Kind kind, std::function<void(Access)> done)
{
    Access answer;
    {
        std::lock_guard lock(m_mutex);
        const size_t i = index(kind);
        ++m_requests.at(i);
        if (m_access.at(i) == Access::notDetermined)
            m_access.at(i) = m_answer.at(i);
        answer = m_access.at(i);
    }
    if (done)
        done(answer);
}

void SyntheticPermissions::openSettings(const QString& pane)
{
    std::lock_guard lock(m_mutex);
    m_panes << pane;
}

void SyntheticPermissions::setAccess(Kind kind, Access access)
{
    std::lock_guard lock(m_mutex);
    m_access.at(index(kind)) = access;
}

void SyntheticPermissions::setRequestAnswer(Kind kind, Access answer)
{
    std::lock_guard lock(m_mutex);
    m_answer.at(index(kind)) = answer;
}

int SyntheticPermissions::requestCount(Kind kind) const
{
    std::lock_guard lock(m_mutex);
    return m_requests.at(index(kind));
}

QStringList SyntheticPermissions::openedPanes() const
{
    std::lock_guard lock(m_mutex);
    return m_panes;
}

} // namespace corvessa
