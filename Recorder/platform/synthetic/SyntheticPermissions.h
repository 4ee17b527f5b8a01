#pragma once

#include "platform/Permissions.h"

#include <QStringList>

#include <array>
#include <mutex>

namespace corvessa {

// Permissions as a test sets them, including "not determined", which the real
// system never answers. A request while a kind is not determined settles it
// with the request answer (granted unless set otherwise); a request for a
// settled kind answers what it is. Requests and opened panes are recorded.
// `done` is called on the requesting thread, outside the lock. Thread-safe.
class SyntheticPermissions : public Permissions {
public:
    explicit SyntheticPermissions(Access initial = Access::granted);

    Access access(Kind kind) override;
    void request(Kind kind, std::function<void(Access)> done) override;
    void openSettings(const QString& pane) override;

    void setAccess(Kind kind, Access access);
    // What a request settles a not-determined kind to.
    void setRequestAnswer(Kind kind, Access answer);

    // Requests made for the kind so far.
    int requestCount(Kind kind) const;
    // The panes asked for, in order.
    QStringList openedPanes() const;

private:
    static size_t index(Kind kind) { return size_t(kind); }

    mutable std::mutex m_mutex;
    std::array<Access, 3> m_access;
    std::array<Access, 3> m_answer{Access::granted, Access::granted, Access::granted};
    std::array<int, 3> m_requests{};
    QStringList m_panes;
};

} // namespace corvessa
