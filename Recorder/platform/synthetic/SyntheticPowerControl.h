#pragma once

#include "platform/PowerControl.h"

#include <map>
#include <mutex>

namespace corvessa {

// A power control that only remembers the holds, for tests and machines without
// a desktop. It can be told to refuse.
class SyntheticPowerControl : public PowerControl {
public:
    uint32_t holdDisplayAwake(const QString& reason) override;
    void release(uint32_t id) override;

    void setRefuses(bool refuses);
    // The reasons of the holds still in place.
    std::map<uint32_t, QString> holds() const;
    int holdCount() const;

private:
    mutable std::mutex m_mutex;
    std::map<uint32_t, QString> m_holds;
    uint32_t m_next = 1;
    bool m_refuses = false;
};

} // namespace corvessa
