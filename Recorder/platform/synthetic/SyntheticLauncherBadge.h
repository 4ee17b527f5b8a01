#pragma once

#include "platform/LauncherBadge.h"

namespace corvessa {

// A launcher badge that shows nowhere: it keeps the label and counts the
// writes, for tests and machines without a session bus. Main thread.
class SyntheticLauncherBadge : public LauncherBadge {
public:
    std::optional<QString> label() const override { return m_label; }
    void setLabel(const QString& label) override;
    void clear() override;

    // How many times setLabel() or clear() ran.
    int writes() const { return m_writes; }

private:
    std::optional<QString> m_label;
    int m_writes = 0;
};

} // namespace corvessa
