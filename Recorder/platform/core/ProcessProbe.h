#pragma once

#include <QString>
#include <QStringList>

namespace corvessa {

// What this machine says about running processes, read from /proc. Where /proc
// cannot tell, the answers lean towards "still running", so a caller that acts
// on a dead process leaves a live one alone. Any thread.
class ProcessProbe {
public:
    ProcessProbe() = delete;

    // The id of the current boot (/proc/sys/kernel/random/boot_id); empty when
    // it cannot be read. A process id means something only within one boot.
    static QString bootId();
    // Some process has this id now (it may not be the one that had it before).
    static bool isRunning(qint64 pid);
    // A process of this user other than this one has one of the files open.
    static bool anyOtherHasOpen(const QStringList& paths);
};

} // namespace corvessa
