#pragma once

#include "engine/RecoveryJournal.h"

#include <memory>

class QMessageBox;

namespace corvessa {

// The launch alert about the previous run's unfinished recording: an
// informational alert (the recording was kept, or was too short to keep)
// with the announcement's texts and buttons. Main thread.
class RecoveryAlert {
public:
    RecoveryAlert() = delete;

    // The alert, laid out and not yet shown.
    static std::unique_ptr<QMessageBox> make(const RecoveryJournal::Announcement& announcement);
    // Shows it modally where dialogs are placed; a recovered alert's first
    // button reveals the recovered files, and when nothing could show them the
    // alert comes back saying so.
    static void run(const RecoveryJournal::Announcement& announcement);
    // The alert shown again after the files could not be shown: the same
    // texts, the folders that could not be opened, and "OK" alone.
    static RecoveryJournal::Announcement afterFailedReveal(const RecoveryJournal::Announcement& announcement);
};

} // namespace corvessa
