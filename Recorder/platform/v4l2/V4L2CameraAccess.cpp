#include "platform/v4l2/V4L2CameraAccess.h"

#include "platform/core/RecorderLog.h"

#include <QStringList>

#include <algorithm>
#include <cerrno>

namespace corvessa {

namespace {

bool refused(int error)
{
    return error == EACCES || error == EPERM;
}

} // namespace

V4L2CameraAccess::V4L2CameraAccess(std::shared_ptr<V4L2Io> io, QString directory)
    : m_io(std::move(io)), m_directory(std::move(directory))
{
}

Permissions::Access V4L2CameraAccess::probe()
{
    std::lock_guard lock(m_mutex);
    std::vector<Attempt> attempts;
    for (const QString& node : m_io->listNodes(m_directory)) {
        const int error = m_io->access(node) < 0 ? errno : 0;
        attempts.push_back({node, error});
    }
    const Permissions::Access access = decide(attempts);
    const bool denied = access == Permissions::Access::denied;
    if (denied && !m_told)
        RecorderLog::write(refusalLine(attempts));
    m_told = denied;
    return access;
}

Permissions::Access V4L2CameraAccess::decide(const std::vector<Attempt>& attempts)
{
    // A node that vanished or is busy says nothing about our rights.
    const bool allRefused = !attempts.empty()
        && std::all_of(attempts.begin(), attempts.end(), [](const Attempt& a) { return refused(a.error); });
    return allRefused ? Permissions::Access::denied : Permissions::Access::granted;
}

QString V4L2CameraAccess::refusalLine(const std::vector<Attempt>& attempts)
{
    QStringList nodes;
    for (const Attempt& a : attempts) {
        if (refused(a.error))
            nodes << a.node;
    }
    return QStringLiteral("[perm] camera: %1 refused (permission denied); add the user to the \"video\" group")
        .arg(nodes.join(QStringLiteral(", ")));
}

} // namespace corvessa
